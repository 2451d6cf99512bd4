#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <string>

class QLineEdit;

namespace kalvor {

// IP address control: four fields of 0 to 255 separated by dots. Typing a third digit or a dot
// moves on to the next field, Backspace in an empty field goes back to the previous one, and a
// value above 255 is brought down to 255. A blank field reads 0. The control is one tab stop.
class CIpAddressCtrl : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString address READ address WRITE setAddress NOTIFY addressChanged)
public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    // Dotted form "a.b.c.d"; blank fields read 0.
    QString address() const;
    // Takes "a.b.c.d" with four numbers of 0 to 255. Anything else is refused: returns false
    // and leaves the fields as they were.
    bool setAddress(const QString& dotted);
    // Empties the four fields.
    void clear();

    int field(int index) const;
    QLineEdit* fieldEdit(int index) const { return m_fields.at(std::size_t(index)); }

signals:
    void addressChanged(const QString& address);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnFieldEdited(int index);
    void FocusField(int index, bool selectAll);
    int IndexOf(const QObject* edit) const;

    std::array<QLineEdit*, 4> m_fields{};
};

// Dotted quad of the control's four fields, as the socket channels take it.
std::string IpAddressText(const CIpAddressCtrl& control);

} // namespace kalvor
