#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace kalvor {

// Up-down control: two arrow buttons that step a value within a range, without wrap-around,
// and write it into their buddy edit as a decimal integer. The arrow keys in the buddy step it
// too. The current value is taken from the buddy's text before each step, so a value the
// program wrote into the edit is where the next step starts.
class CSpinButtonCtrl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
public:
    explicit CSpinButtonCtrl(QWidget* parent = nullptr);

    // Lower and upper bound; the value is brought into the range.
    void SetRange(int lower, int upper);
    int Lower() const { return m_lower; }
    int Upper() const { return m_upper; }
    // The buddy edit: its text shows the value and its arrow keys step it.
    void SetBuddy(QLineEdit* buddy);
    QLineEdit* Buddy() const { return m_buddy; }

    int value() const;
    // Sets the value (brought into the range) and writes it into the buddy.
    void setValue(int value);
    // One step up (+1) or down (-1), stopping at the ends of the range.
    void Step(int delta);

    QToolButton* UpButton() const { return m_up; }
    QToolButton* DownButton() const { return m_down; }

signals:
    void valueChanged(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int Clamp(int value) const;

    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    QPointer<QLineEdit> m_buddy;
    int m_lower = 0;
    int m_upper = 100;
    int m_value = 0;
};

} // namespace kalvor
