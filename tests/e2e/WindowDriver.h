#pragma once

#include "ActivityLog.h"
#include "KalvorDlg.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

// Drives the real operator window the way an operator does, and reads back what it shows.
class WindowDriver {
public:
    // Aims the window at loopback at once: its default address is a real sign's on a LAN, and
    // tests never send anywhere but to this machine.
    explicit WindowDriver(kalvor::CKalvorDlg& dlg) : m_dlg(dlg) {
        SetIp(QStringLiteral("127.0.0.1"));
    }

    template <typename T = QWidget> T* Ctl(int id) const {
        return m_dlg.findChild<T*>(QStringLiteral("ctl%1").arg(id));
    }

    void ChooseMode(int mode) { Choose(kalvor::ctl::Mode, mode); }
    // UDP or TCP to a sign on 127.0.0.1 at the given port.
    void AimAt(int mode, quint16 port) {
        ChooseMode(mode);
        SetIp(QStringLiteral("127.0.0.1"));
        SetText(kalvor::ctl::TargetPort, QString::number(port));
    }
    void Choose(int comboId, int index) {
        auto* combo = Ctl<QComboBox>(comboId);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void SetText(int editId, const QString& text) { Ctl<QLineEdit>(editId)->setText(text); }
    // Sets the IP address control; a blank text blanks it. Stops the test at once if the control
    // does not then show that address, so no frame can leave for another one.
    void SetIp(const QString& dotted) {
        Ctl(kalvor::ctl::IpAddress)->setProperty("address", dotted);
        const QString expected = dotted.isEmpty() ? QStringLiteral("0.0.0.0") : dotted;
        if (QString::fromStdString(m_dlg.IpAddressText()) != expected)
            qFatal("IP address control shows %s, not %s", m_dlg.IpAddressText().c_str(),
                   qPrintable(expected));
    }
    void SetChecked(int id, bool on) {
        auto* box = Ctl<QAbstractButton>(id);
        if (box->isChecked() != on)
            box->click();
    }
    void Click(int buttonId) { QTest::mouseClick(Ctl<QPushButton>(buttonId), Qt::LeftButton); }
    // A message box's text as shown: its line breaks are plain new lines.
    static QString Shown(QString text) {
        return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    int IconId() const { return Ctl(kalvor::ctl::AckPicture)->property("iconId").toInt(); }
    QString Label(int id) const { return Ctl<QLabel>(id)->text(); }

    // Log entries without their time stamps; every entry must carry a well-formed one.
    QStringList Entries() const {
        static const QRegularExpression stamp(
            QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} - "));
        QStringList out;
        QStringList lines = m_dlg.Log()->LogText().split(QStringLiteral("\r\n"));
        lines.removeLast();
        for (const QString& line : lines) {
            const auto match = stamp.match(line);
            if (match.hasMatch())
                out << line.mid(match.capturedLength());
            else if (!out.isEmpty())
                out.last() += QStringLiteral("\r\n") + line; // continuation of a multi-line entry
        }
        return out;
    }
    // Entries written after the first `skip` ones.
    QStringList EntriesAfter(int skip) const { return Entries().mid(skip); }

    static int OpenDescriptors() { return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; }

private:
    kalvor::CKalvorDlg& m_dlg;
};
