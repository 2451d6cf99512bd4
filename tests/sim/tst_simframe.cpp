// The simulator's framing, frame analysis, line formats and command line, without links.

#include "DisplayFrame.h"
#include "DisplaySim.h"
#include "SimCommandLine.h"
#include "SimFrame.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace kalvor;
using namespace kalvor::sim;

Q_DECLARE_METATYPE(kalvor::sim::ChecksumMode)

namespace {

QByteArray Q(const DisplayFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()));
}

QByteArray Wire(const DisplayFrame& frame, bool withChecksum) {
    return Q(WireBytes(frame, withChecksum));
}

// Feeds a stream and describes what the framer did: "frame:<hex>", "wait", "discard:N:reason".
// A wait for the checksum that nothing ends is closed at the end as the timer would.
QStringList Frame(const QByteArray& stream, ChecksumMode mode) {
    CStreamFramer framer;
    QStringList events;
    for (const char c : stream) {
        const auto r = framer.Feed(c, mode);
        switch (r.outcome) {
        case CStreamFramer::Outcome::FrameDone:
            events << QStringLiteral("frame:") + QString::fromLatin1(r.bytes.toHex());
            break;
        case CStreamFramer::Outcome::AwaitingChecksum:
            events << QStringLiteral("wait");
            break;
        case CStreamFramer::Outcome::Discarded:
            events << QStringLiteral("discard:%1:%2").arg(r.discarded).arg(r.reason);
            break;
        case CStreamFramer::Outcome::Nothing:
            break;
        }
    }
    const QByteArray rest = framer.TakeWithoutChecksum();
    if (!rest.isEmpty())
        events << QStringLiteral("timeout:") + QString::fromLatin1(rest.toHex());
    return events;
}

} // namespace

class TstSimFrame : public QObject {
    Q_OBJECT
private slots:
    void framer_data();
    void framer();
    void framerFloodStaysBounded();
    void analyse_data();
    void analyse();
    void lineFormats();
    void jsonLinesAreJson();
    void commandLine_data();
    void commandLine();
    void commandLineErrors_data();
    void commandLineErrors();
};

void TstSimFrame::framer_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<ChecksumMode>("mode");
    QTest::addColumn<QStringList>("events");

    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"), true);
    const QByteArray testNoX = Wire(BuildDisplayFrame(48, '0', "TEST"), false);
    QTest::newRow("auto: checksum follows")
        << test << ChecksumMode::Auto << QStringList{"wait", "frame:02303054455354 0d031a"};
    QTest::newRow("auto: nothing follows")
        << testNoX << ChecksumMode::Auto << QStringList{"wait", "timeout:023030544553540d03"};
    QTest::newRow("off: ends at ETX, next byte is noise")
        << test + test << ChecksumMode::Off
        << QStringList{"frame:023030544553540d03", "frame:023030544553540d03"};
    QTest::newRow("checksum STX is taken as checksum")
        << Wire(BuildXorTestFrame(48, 0x44 ^ STX), true) << ChecksumMode::Auto
        << QStringList{"wait", "frame:023030584f520d460d0302"};
    QTest::newRow("noise before STX is skipped")
        << QByteArray("\x03\x0d\xffjunk", 8) + test << ChecksumMode::Auto
        << QStringList{"wait", "frame:023030544553540d031a"};
    QTest::newRow("STX restarts a half frame")
        << QByteArray("\x02\x30\x30TE") + test << ChecksumMode::Auto
        << QStringList{"discard:5:restart", "wait", "frame:023030544553540d031a"};
    // 0x82 escapes to SO STX: the STX belongs to the text.
    QTest::newRow("SO STX is text")
        << Wire(BuildDisplayFrame(48, '0', "a\x82"), true) << ChecksumMode::Auto
        << QStringList{"wait", "frame:023030610e020d0361"};
    // 0x8E escapes to SO SO: the second SO is text and escapes nothing, so STX restarts.
    QTest::newRow("SO SO STX restarts")
        << QByteArray("\x02\x30\x30\x0e\x0e") + test << ChecksumMode::Auto
        << QStringList{"discard:5:restart", "wait", "frame:023030544553540d031a"};
    // 0x83 escapes to SO ETX: that ETX ends the frame, as the senders cut the line there.
    QTest::newRow("inner ETX ends the frame")
        << Wire(BuildDisplayFrame(48, '0', "A\x83Z"), true) << ChecksumMode::Auto
        << QStringList{"wait", "frame:023030410e035a"};
    QTest::newRow("overflow drops and resyncs")
        << QByteArray(1, STX) + QByteArray(400, 'A') + test << ChecksumMode::On
        << QStringList{"discard:300:overflow", "wait", "frame:023030544553540d031a"};
}

void TstSimFrame::framer() {
    QFETCH(QByteArray, stream);
    QFETCH(ChecksumMode, mode);
    QFETCH(QStringList, events);
    for (QString& e : events)
        e.remove(u' ');
    QCOMPARE(Frame(stream, mode), events);
}

void TstSimFrame::framerFloodStaysBounded() {
    // A megabyte that keeps opening frames and never closes one: every frame is dropped at the
    // bound, and the framer never holds more than the bound.
    CStreamFramer framer;
    QByteArray chunk(kFrameBufferLimit - 1, 'x');
    chunk.prepend(char(STX));
    int discards = 0;
    for (int i = 0; i < (1 << 20) / chunk.size(); ++i) {
        for (const char c : chunk) {
            const auto r = framer.Feed(c, ChecksumMode::Auto);
            QVERIFY(r.outcome != CStreamFramer::Outcome::FrameDone);
            if (r.outcome == CStreamFramer::Outcome::Discarded) {
                QCOMPARE(r.discarded, kFrameBufferLimit);
                ++discards;
            }
        }
    }
    QVERIFY(discards > 3000);
    QCOMPARE(framer.CurrentState(), CStreamFramer::State::Idle);
}

void TstSimFrame::analyse_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ChecksumMode>("mode");
    QTest::addColumn<bool>("datagram");
    QTest::addColumn<QString>("line"); // with link "x" and reply "-"

    const QByteArray test = Wire(BuildDisplayFrame(48, '0', "TEST"), true);
    const auto row = [](const char* name, const QByteArray& bytes, ChecksumMode mode, bool datagram,
                        const char* line) {
        QTest::newRow(name) << bytes << mode << datagram << QString::fromUtf8(line);
    };
    row("default frame", test, ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=1A valid=yes reply=- text="TEST")");
    row("no checksum byte", test.chopped(1), ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=none valid=yes reply=- text="TEST")");
    row("no checksum byte, on", test.chopped(1), ChecksumMode::On, true,
        R"(addr=48 attr=0 xor=none valid=no reply=- text="TEST")");
    row("stray byte, off", test, ChecksumMode::Off, true,
        R"(addr=48 attr=0 xor=none valid=no reply=- text="TEST")");
    row("wrong checksum", test.chopped(1) + '\x1b', ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=1B valid=no reply=- text="TEST")");
    row("bytes after checksum", test + 'x', ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=1A valid=no reply=- text="TEST")");
    row("no CR before ETX", QByteArray("\x02\x30\x30TEST\x03", 8), ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=none valid=no reply=- text="TEST")");
    row("no ETX", QByteArray("\x02\x30\x30TE", 5), ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=none valid=no reply=- text="TE")");
    row("too short", QByteArray("\x02\x30\x0d\x03", 4), ChecksumMode::Auto, true,
        R"(addr=48 attr=\x0D xor=none valid=no reply=- text="")");
    row("STX ETX", QByteArray("\x02\x03", 2), ChecksumMode::Auto, true,
        R"(addr=none attr=none xor=none valid=no reply=- text="")");
    row("no STX", QByteArray("hello"), ChecksumMode::Auto, true,
        R"(addr=none attr=none xor=none valid=no reply=- text="hello")");
    row("empty datagram", QByteArray(), ChecksumMode::Auto, true,
        R"(addr=none attr=none xor=none valid=no reply=- text="")");
    row("empty message", Wire(BuildDisplayFrame(127, 'z', ""), true), ChecksumMode::Auto, false,
        R"(addr=127 attr=z xor=09 valid=yes reply=- text="")");
    row("escapes decoded", Wire(BuildDisplayFrame(48, 'A', "\xE9|\x80\x82\"\\"), true),
        ChecksumMode::Auto, false,
        "addr=48 attr=A xor=5B valid=yes reply=- text=\"\xC3\xA9|$\xE2\x80\x9A\\\"\\\\\"");
    row("inner ETX", Wire(BuildDisplayFrame(48, '0', "A\x83Z"), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=5A valid=no reply=- text="A\u000e")");
    row("XOR step 0", Wire(BuildXorTestFrame(48, 0), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=44 valid=yes reply=- text="XOR\u000d\u0000")");
    row("XOR step 2", Wire(BuildXorTestFrame(48, 2), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=46 valid=yes reply=- text="XOR\u000d20")");
    row("XOR step 13", Wire(BuildXorTestFrame(48, 13), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=49 valid=yes reply=- text="XOR\u000d\u000d")");
    row("XOR step 14", Wire(BuildXorTestFrame(48, 14), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=4A valid=yes reply=- text="XOR\u000d\u000e")");
    row("XOR step 23", Wire(BuildXorTestFrame(48, 23), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=53 valid=yes reply=- text="XOR\u000d\u0017")");
    row("XOR step 127", Wire(BuildXorTestFrame(48, 127), true), ChecksumMode::Auto, false,
        R"(addr=48 attr=0 xor=3B valid=yes reply=- text="XOR\u000d\u007f")");
    QByteArray flood(64 * 1024, 'A');
    flood.prepend(test);
    row("oversized datagram", flood, ChecksumMode::Auto, true,
        R"(addr=48 attr=0 xor=1A valid=no reply=- text="TEST")");
}

void TstSimFrame::analyse() {
    QFETCH(QByteArray, bytes);
    QFETCH(ChecksumMode, mode);
    QFETCH(bool, datagram);
    QFETCH(QString, line);
    FrameRecord record = AnalyseFrame(bytes, mode, datagram);
    record.link = QStringLiteral("x");
    record.reply = QStringLiteral("-");
    QCOMPARE(CDisplaySim::FormatLine(record, false), QStringLiteral("frame link=x ") + line);
    QVERIFY(record.raw.size() <= kFrameBufferLimit);
}

void TstSimFrame::lineFormats() {
    const QByteArray longest = Wire(BuildDisplayFrame(48, '0', std::string(120, '\xFF')), true);
    QCOMPARE(longest.size(), 246);
    FrameRecord record = AnalyseFrame(longest, ChecksumMode::Auto, false);
    QVERIFY(record.valid);
    QCOMPARE(record.text, QString(120, QChar(0xFF)));
    QCOMPARE(record.expectedXor, record.xorByte);

    CDisplaySim sim;
    QCOMPARE(sim.ListeningLine(), QStringLiteral("listening"));
    QCOMPARE(sim.SummaryLine(), QStringLiteral("summary frames=0 valid=0 replied=0"));
    QCOMPARE(sim.SummaryLine(true), QStringLiteral(R"({"event":"summary","frames":0,)"
                                                   R"("valid":0,"replied":0})"));
}

void TstSimFrame::jsonLinesAreJson() {
    FrameRecord record = AnalyseFrame(
        Wire(BuildDisplayFrame(48, '"', "\"\\\x01\xE9\x81\x9D"), false), ChecksumMode::Auto, false);
    record.link = QStringLiteral("tcp");
    record.reply = QStringLiteral("ack");
    const QString line = CDisplaySim::FormatLine(record, true);
    QJsonParseError error{};
    const QJsonObject o = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.value("event").toString(), QStringLiteral("frame"));
    QCOMPARE(o.value("link").toString(), QStringLiteral("tcp"));
    QCOMPARE(o.value("addr").toInt(), 48);
    QCOMPARE(o.value("attr").toString(), QStringLiteral("\""));
    QVERIFY(o.value("xor").isNull());
    QCOMPARE(o.value("valid").toBool(), true);
    QCOMPARE(o.value("reply").toString(), QStringLiteral("ack"));
    QCOMPARE(o.value("text").toString(), QStringLiteral("\"\\\x01\u00E9\u0081\u009D"));
    QCOMPARE(o.value("raw").toString(), QString::fromLatin1(record.raw.toHex(' ')));
    // Control characters never appear raw in a line.
    for (const QChar c : line)
        QVERIFY(c.unicode() >= 0x20 && !(c.unicode() >= 0x7F && c.unicode() < 0xA0));
    // The key=value line shows the text the same way.
    QVERIFY(CDisplaySim::FormatLine(record, false)
                .endsWith(QString::fromUtf8("text=\"\\\"\\\\\\u0001\xC3\xA9\\u0081\\u009d\"")));
}

void TstSimFrame::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // a digest of the result

    QTest::newRow("defaults") << QStringList{"--udp", "0"}
                              << "udp=0 tcp=- pty=0 link= bind=127.0.0.1 checksum=0 reply=0 "
                                 "ackinv=0 delay=0 fail= drop=0 only=- close=0 over=0 json=0 "
                                 "count=0";
    QTest::newRow("everything")
        << QStringList{"--udp",
                       "4000",
                       "--tcp",
                       "4001",
                       "--link",
                       "/tmp/com1",
                       "--bind",
                       "::1",
                       "--checksum",
                       "off",
                       "--reply",
                       "nak",
                       "--ack-invalid",
                       "--delay-ms",
                       "250",
                       "--fail-xor",
                       "10,44,0x7f",
                       "--drop-every",
                       "3",
                       "--only-address",
                       "49",
                       "--tcp-close",
                       "--udp-oversize",
                       "--json",
                       "--count",
                       "5"}
        << "udp=4000 tcp=4001 pty=1 link=/tmp/com1 bind=::1 checksum=2 reply=1 ackinv=1 "
           "delay=250 fail=10,44,7f drop=3 only=49 close=1 over=1 json=1 count=5";
    QTest::newRow("pty, checksum on, reply none")
        << QStringList{"--pty", "--checksum=on", "--reply=none"}
        << "udp=- tcp=- pty=1 link= bind=127.0.0.1 checksum=1 reply=2 ackinv=0 delay=0 fail= "
           "drop=0 only=- close=0 over=0 json=0 count=0";
}

void TstSimFrame::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    args.prepend(QStringLiteral("kalvor-display-sim"));
    QString error;
    const auto cl = ParseSimCommandLine(args, error);
    QVERIFY2(cl, qPrintable(error));
    const SimOptions& o = cl->options;
    QStringList fail;
    for (int x : o.failXor)
        fail << QString::number(x, 16);
    const auto opt = [](const auto& v) {
        return v ? QString::number(*v) : QStringLiteral("-");
    };
    const QString digest =
        QStringLiteral("udp=%1 tcp=%2 pty=%3 link=%4 bind=%5 checksum=%6 reply=%7 ackinv=%8 "
                       "delay=%9 ")
            .arg(opt(cl->udpPort), opt(cl->tcpPort), QString::number(cl->pty), cl->link,
                 cl->bind.toString(), QString::number(int(o.checksum)),
                 QString::number(int(o.reply)), QString::number(o.ackInvalid),
                 QString::number(o.delayMs)) +
        QStringLiteral("fail=%1 drop=%2 only=%3 close=%4 over=%5 json=%6 count=%7")
            .arg(fail.join(u','), QString::number(o.dropEvery), opt(o.onlyAddress),
                 QString::number(o.tcpClose), QString::number(o.udpOversize),
                 QString::number(o.json), QString::number(o.count));
    QCOMPARE(digest, expected);
}

void TstSimFrame::commandLineErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing to listen on") << QStringList{"--count", "1"};
    QTest::newRow("port not a number") << QStringList{"--udp", "abc"};
    QTest::newRow("port too large") << QStringList{"--tcp", "65536"};
    QTest::newRow("negative port") << QStringList{"--udp", "-1"};
    QTest::newRow("bad checksum mode") << QStringList{"--udp", "0", "--checksum", "maybe"};
    QTest::newRow("bad reply") << QStringList{"--udp", "0", "--reply", "yes"};
    QTest::newRow("bad fail-xor") << QStringList{"--udp", "0", "--fail-xor", "10,G1"};
    QTest::newRow("fail-xor too large") << QStringList{"--udp", "0", "--fail-xor", "100"};
    QTest::newRow("bad address") << QStringList{"--udp", "0", "--only-address", "256"};
    QTest::newRow("bad bind") << QStringList{"--udp", "0", "--bind", "localhost:1"};
    QTest::newRow("negative delay") << QStringList{"--udp", "0", "--delay-ms", "-5"};
    QTest::newRow("unknown option") << QStringList{"--udp", "0", "--frobnicate"};
    QTest::newRow("stray argument") << QStringList{"--udp", "0", "extra"};
}

void TstSimFrame::commandLineErrors() {
    QFETCH(QStringList, args);
    args.prepend(QStringLiteral("kalvor-display-sim"));
    QString error;
    QVERIFY(!ParseSimCommandLine(args, error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TstSimFrame)
#include "tst_simframe.moc"
