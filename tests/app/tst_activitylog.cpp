// The activity log: entry format, error entries, continuation lines, scrolling, the data
// exchange after every entry, and the bound on its length.
#include "ActivityLog.h"
#include "BoxCatcher.h"
#include "KalvorDlg.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include <ctime>

using namespace kalvor;

namespace {

const QString kStamp = QStringLiteral("\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}");

QStringList Lines(const CActivityLog& log) {
    QStringList lines;
    for (QTextBlock b = log.document()->firstBlock(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

} // namespace

class TstActivityLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void timeStamp();
    void entryFormat_data();
    void entryFormat();
    void continuationLines();
    void windows1252Text();
    void logTextKeepsCrLf();
    void readOnlyAndSelectable();
    void scrolledToLastEntry();
    void dataExchangeAfterEveryEntry();
    void boundDropsOldestInChunks();
    void boundCountsEntriesNotLines();
    void lowerBoundLater();
};

void TstActivityLog::initTestCase() {
    qputenv("KALVOR_COM1", "/nonexistent/kalvor-test-com1");
}

void TstActivityLog::timeStamp() {
    const std::time_t before = std::time(nullptr);
    const std::string stamp = LogTimeStamp();
    const std::time_t after = std::time(nullptr);
    QCOMPARE(stamp.size(), std::size_t(19));
    QVERIFY(QRegularExpression(QStringLiteral("^%1$").arg(kStamp))
                .match(QString::fromStdString(stamp))
                .hasMatch());
    // The local time of this moment, to the second.
    bool matched = false;
    for (std::time_t t = before; t <= after; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y/%m/%d %H:%M:%S", &local);
        matched = matched || stamp == expected;
    }
    QVERIFY(matched);
}

void TstActivityLog::entryFormat_data() {
    QTest::addColumn<bool>("error");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << false << QByteArray("Start loop test - Delay 500 ms")
                           << "Start loop test - Delay 500 ms";
    QTest::newRow("empty") << false << QByteArray() << "";
    QTest::newRow("error one letter") << true << QByteArray("x") << "!Error : x";
    QTest::newRow("error empty") << true << QByteArray() << "!Error : ";
    QTest::newRow("trailing blank kept") << false << QByteArray("a ") << "a ";
}

void TstActivityLog::entryFormat() {
    QFETCH(bool, error);
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    CKalvorDlg dlg;
    if (error)
        dlg.AppendErrorLine(text.toStdString());
    else
        dlg.AppendLogLine(text.toStdString());
    const QStringList lines = Lines(*dlg.Log());
    QCOMPARE(lines.size(), 2); // the version line, then this entry
    const QRegularExpression format(QStringLiteral("^(%1) - (.*)$").arg(kStamp));
    const QRegularExpressionMatch match = format.match(lines.at(1));
    QVERIFY2(match.hasMatch(), qPrintable(lines.at(1)));
    QCOMPARE(match.captured(2), shown);
}

void TstActivityLog::continuationLines() {
    CKalvorDlg dlg;
    dlg.AppendLogLine("XOR test fail : 44\r\n45\r\n");
    dlg.AppendLogLine("next");
    const QStringList lines = Lines(*dlg.Log());
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.at(1).endsWith(QStringLiteral(" - XOR test fail : 44")));
    QCOMPARE(lines.at(2), QStringLiteral("45"));
    QCOMPARE(lines.at(3), QString()); // the text's own final line break
    QVERIFY(QRegularExpression(QStringLiteral("^%1 - next$").arg(kStamp))
                .match(lines.at(4))
                .hasMatch());
    QCOMPARE(dlg.Log()->EntryCount(), std::size_t(3));
}

void TstActivityLog::windows1252Text() {
    CKalvorDlg dlg;
    dlg.AppendLogLine("caf\xE9 \x80 \x9C");
    QVERIFY(Lines(*dlg.Log()).at(1).endsWith(QStringLiteral(" - caf\u00E9 \u20AC \u0153")));
}

void TstActivityLog::logTextKeepsCrLf() {
    CKalvorDlg dlg;
    dlg.AppendLogLine("a\r\nb");
    const QString text = dlg.Log()->LogText();
    QVERIFY(text.endsWith(QStringLiteral(" - a\r\nb\r\n")));
    QVERIFY(text.startsWith(QStringLiteral("20")) || text.startsWith(QStringLiteral("19")));
    QCOMPARE(text.count(QStringLiteral("\r\n")), 3);
}

void TstActivityLog::readOnlyAndSelectable() {
    CKalvorDlg dlg;
    CActivityLog* log = dlg.Log();
    QVERIFY(log->isReadOnly());
    QVERIFY(log->textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(log->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
    const QString before = log->toPlainText();
    log->setFocus();
    QTest::keyClicks(log, QStringLiteral("typed"));
    QCOMPARE(log->toPlainText(), before);
    // A selection survives further entries.
    QTextCursor cursor = log->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    log->setTextCursor(cursor);
    dlg.AppendLogLine("more");
    QCOMPARE(log->textCursor().selectedText().size(), 4);
}

void TstActivityLog::scrolledToLastEntry() {
    CKalvorDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QScrollBar* bar = dlg.Log()->verticalScrollBar();
    for (int i = 0; i < 60; ++i) {
        dlg.AppendLogLine("entry " + std::to_string(i));
        if (i == 30)
            bar->setValue(0); // the operator scrolled back up
    }
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    // A long entry of several lines is in view down to its last line.
    dlg.AppendLogLine("a\r\nb\r\nc\r\nd\r\ne\r\nf");
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(dlg.Log()->document()->lastBlock().isVisible());
}

void TstActivityLog::dataExchangeAfterEveryEntry() {
    CKalvorDlg dlg;
    BoxCatcher boxes;
    auto* address = dlg.findChild<QLineEdit*>(QStringLiteral("ctl1000"));
    auto* message = dlg.findChild<QLineEdit*>(QStringLiteral("ctl1003"));
    message->setText(QStringLiteral("NEW"));
    dlg.AppendLogLine("one");
    QCOMPARE(dlg.MessageText(), std::string("NEW")); // read back by the entry
    QCOMPARE(boxes.Count(), 0);

    // A bad value written by a program: the entry is there, the message is shown, and the
    // load direction puts the held value back.
    address->setText(QStringLiteral("200"));
    dlg.AppendLogLine("two");
    QCOMPARE(boxes.Count(), 1);
    QCOMPARE(boxes.Last().text, QStringLiteral("Tapez un nombre entier compris entre 48 et 127."));
    QVERIFY(Lines(*dlg.Log()).last().endsWith(QStringLiteral(" - two")));
    QCOMPARE(address->text(), QStringLiteral("48"));
    QCOMPARE(dlg.AddressValue(), 48);
}

void TstActivityLog::boundDropsOldestInChunks() {
    CActivityLog log;
    log.SetEntryBound(5, 3);
    for (int i = 0; i < 7; ++i)
        log.AppendEntry(QStringLiteral("e%1").arg(i));
    QCOMPARE(log.EntryCount(), std::size_t(7)); // below bound + chunk: nothing dropped
    log.AppendEntry(QStringLiteral("e7"));      // 8 = 5 + 3: the oldest 3 go at once
    QCOMPARE(log.EntryCount(), std::size_t(5));
    QCOMPARE(log.DroppedCount(), std::size_t(3));
    QCOMPARE(Lines(log),
             (QStringList{QStringLiteral("e3"), QStringLiteral("e4"), QStringLiteral("e5"),
                          QStringLiteral("e6"), QStringLiteral("e7")}));
    for (int i = 8; i < 100; ++i) {
        log.AppendEntry(QStringLiteral("e%1").arg(i));
        QVERIFY(log.EntryCount() >= 5 && log.EntryCount() < 8);
    }
    QCOMPARE(Lines(log).last(), QStringLiteral("e99"));
    QCOMPARE(log.LogText().count(QStringLiteral("\r\n")), int(log.EntryCount()));
}

void TstActivityLog::boundCountsEntriesNotLines() {
    CActivityLog log;
    log.SetEntryBound(2, 1);
    log.AppendEntry(QStringLiteral("a1\r\na2\r\na3"));
    log.AppendEntry(QStringLiteral("b1\nb2"));
    log.AppendEntry(QStringLiteral("c1")); // 3 entries: "a" goes, all three of its lines
    QCOMPARE(Lines(log),
             (QStringList{QStringLiteral("b1"), QStringLiteral("b2"), QStringLiteral("c1")}));
    log.AppendEntry(QStringLiteral("d1\r\nd2"));
    QCOMPARE(Lines(log),
             (QStringList{QStringLiteral("c1"), QStringLiteral("d1"), QStringLiteral("d2")}));
}

void TstActivityLog::lowerBoundLater() {
    CActivityLog log;
    for (int i = 0; i < 20; ++i)
        log.AppendEntry(QStringLiteral("e%1").arg(i));
    log.SetEntryBound(4, 2);
    QCOMPARE(log.EntryCount(), std::size_t(4));
    QCOMPARE(Lines(log).first(), QStringLiteral("e16"));
}

QTEST_MAIN(TstActivityLog)
#include "tst_activitylog.moc"
