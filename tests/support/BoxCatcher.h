#pragma once

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <chrono>

// Dismisses the modal boxes a window test provokes and records what they showed. While alive it
// polls for the active modal widget: a QMessageBox is recorded (text, caption, icon) and closed
// with its OK button; any other modal dialog that stands over a parent window (an About box, a
// settings box) is recorded (caption, class name) and accepted. A dialog without a parent is the
// window under test itself, run with exec(), and is left alone.
//
//   BoxCatcher boxes;
//   dlg.OnSendButton();                  // shows "COM Port ERROR" and waits for OK
//   QCOMPARE(boxes.Count(), 1);
//   QCOMPARE(boxes.Last().text, "COM Port ERROR");
class BoxCatcher : public QObject {
public:
    struct Box {
        QString text;
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool isMessageBox = false;
        QString className;
    };

    explicit BoxCatcher(std::chrono::milliseconds interval = std::chrono::milliseconds(10)) {
        connect(&m_timer, &QTimer::timeout, this, &BoxCatcher::Poll);
        m_timer.start(interval);
    }

    const QList<Box>& Boxes() const { return m_boxes; }
    int Count() const { return int(m_boxes.size()); }
    const Box& Last() const { return m_boxes.constLast(); }
    // Texts of the message boxes, in order.
    QStringList Texts() const {
        QStringList texts;
        for (const Box& box : m_boxes)
            if (box.isMessageBox)
                texts << box.text;
        return texts;
    }
    void Clear() { m_boxes.clear(); }
    // Stops closing boxes (e.g. to look at one), and starts again.
    void SetActive(bool active) { active ? m_timer.start() : m_timer.stop(); }

private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_last)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_last = box;
            m_boxes.append({box->text(), box->windowTitle(), box->icon(), true,
                            QString::fromLatin1(box->metaObject()->className())});
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->accept();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->parentWidget()) {
            m_last = dialog;
            m_boxes.append({QString(), dialog->windowTitle(), QMessageBox::NoIcon, false,
                            QString::fromLatin1(dialog->metaObject()->className())});
            dialog->accept();
        }
    }

    QTimer m_timer;
    QList<Box> m_boxes;
    QPointer<QWidget> m_last;
};
