#include "DisplayFrame.h"

#include <QtTest>

#include <set>

using namespace kalvor;

Q_DECLARE_METATYPE(kalvor::DisplayFrame)

namespace {

DisplayFrame Hex(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return DisplayFrame(raw.begin(), raw.end());
}

QByteArray ToHex(const DisplayFrame& frame) {
    return QByteArray(reinterpret_cast<const char*>(frame.data()), qsizetype(frame.size()))
        .toHex(' ');
}

std::string Chars(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

} // namespace

class TstDisplayFrame : public QObject {
    Q_OBJECT
private slots:
    void buildDisplayFrame_data();
    void buildDisplayFrame();
    void escape_data();
    void escape();
    void longestFrame();
    void innerEtxFrameIsBuiltAndRenderedWhole();
    void xorOfWholeFrameIsZero();
    void computeXorWithoutEtxFails();
    void xorTestFrame_data();
    void xorTestFrame();
    void xorTestChecksumsCoverAllValuesForEveryAddress();
    void wireBytes_data();
    void wireBytes();
    void render_data();
    void render();
};

void TstDisplayFrame::buildDisplayFrame_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("attribute");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("defaults") << 48 << int('0') << QByteArray("TEST")
                              << QByteArray("02 30 30 54 45 53 54 0d 03 1a");
    QTest::newRow("empty message")
        << 48 << int('0') << QByteArray() << QByteArray("02 30 30 0d 03 0c");
    QTest::newRow("address 127, attribute z")
        << 127 << int('z') << QByteArray("A") << QByteArray("02 7f 7a 41 0d 03 48");
    QTest::newRow("address takes its low eight bits")
        << 0x130 << int('0') << QByteArray() << QByteArray("02 30 30 0d 03 0c");
}

void TstDisplayFrame::buildDisplayFrame() {
    QFETCH(int, address);
    QFETCH(int, attribute);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, expected);
    const DisplayFrame frame = BuildDisplayFrame(address, static_cast<Byte>(attribute),
                                                 std::string_view(message.data(), message.size()));
    QCOMPARE(ToHex(frame), expected);
}

void TstDisplayFrame::escape_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("euro 0x80 -> $") << QByteArray("\x80", 1) << QByteArray("24");
    QTest::newRow("| -> ETB") << QByteArray("a|b") << QByteArray("61 17 62");
    QTest::newRow("e acute 0xE9") << QByteArray("\xE9", 1) << QByteArray("0e 69");
    QTest::newRow("0xFC stays a |") << QByteArray("\xFC", 1) << QByteArray("0e 7c");
    QTest::newRow("0xFF") << QByteArray("\xFF", 1) << QByteArray("0e 7f");
    QTest::newRow("0x82 -> SO STX") << QByteArray("\x82", 1) << QByteArray("0e 02");
    QTest::newRow("0x83 -> SO ETX") << QByteArray("\x83", 1) << QByteArray("0e 03");
    QTest::newRow("0x81 lowest split") << QByteArray("\x81", 1) << QByteArray("0e 01");
    QTest::newRow("ASCII and controls untouched")
        << QByteArray("A\t~\x7F", 4) << QByteArray("41 09 7e 7f");
}

void TstDisplayFrame::escape() {
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, body);
    const std::string escaped = EscapeMessageText(std::string_view(message.data(), message.size()));
    QCOMPARE(QByteArray(escaped.data(), qsizetype(escaped.size())).toHex(' '), body);
}

void TstDisplayFrame::longestFrame() {
    std::string message;
    for (int i = 0; i < kMessageMaxChars; ++i)
        message.push_back(static_cast<char>(0x84 + i % 0x7B)); // 0x84..0xFE, never an inner ETX
    const DisplayFrame frame = BuildDisplayFrame(48, '0', message);
    QCOMPARE(frame.size(), kMaxFrameBytes);
    QCOMPARE(frame[244], ETX);
    QCOMPARE(FindFirstEtx(frame).value(), std::size_t(244));
    QCOMPARE(ComputeXor(frame).value(), frame[245]);
}

void TstDisplayFrame::innerEtxFrameIsBuiltAndRenderedWhole() {
    // 0x83 escapes to SO ETX: that inner ETX is the frame's first ETX.
    const DisplayFrame frame = BuildDisplayFrame(48, '0', Chars({'A', 0x83, 'B'}));
    QCOMPARE(ToHex(frame), QByteArray("02 30 30 41 0e 03 42 0d 03 4e"));
    QCOMPARE(FindFirstEtx(frame).value(), std::size_t(5));
    // The checksum covers the bytes up to the inner ETX only.
    QCOMPARE(frame.back(), Byte(0x02 ^ 0x30 ^ 0x30 ^ 0x41 ^ 0x0E ^ 0x03));
    // The byte after the inner ETX is read as the checksum; the final ETX shows untagged and
    // the frame's last byte gives way to the tag.
    QCOMPARE(QString::fromStdString(RenderFrameText(frame)),
             QStringLiteral("<STX>00A<SO><ETX>[x42]B<CR><ETX>"));
}

void TstDisplayFrame::xorOfWholeFrameIsZero() {
    const std::string messages[] = {"", "TEST", "Hello|world", Chars({0x80, 0xE9, 0xFF, 0x7C})};
    for (int address = 48; address <= 127; ++address) {
        for (const auto& m : messages) {
            Byte x = 0;
            for (Byte b : BuildDisplayFrame(address, 'A', m))
                x ^= b;
            QCOMPARE(x, Byte(0));
        }
    }
}

void TstDisplayFrame::computeXorWithoutEtxFails() {
    QVERIFY(!ComputeXor(DisplayFrame{}).has_value());
    QVERIFY(!ComputeXor(Hex("02 30 30 54 0d")).has_value());
    QCOMPARE(ComputeXor(Hex("03")).value(), Byte(0x03));
    // Nothing after the first ETX counts.
    QCOMPARE(ComputeXor(Hex("02 03 ff ff")).value(), Byte(0x01));
}

void TstDisplayFrame::xorTestFrame_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("step 0") << 0 << QByteArray("02 30 30 58 4f 52 0d 00 0d 03 44");
    QTest::newRow("step 1") << 1 << QByteArray("02 30 30 58 4f 52 0d 01 0d 03 45");
    QTest::newRow("step 2 as 20") << 2 << QByteArray("02 30 30 58 4f 52 0d 32 30 0d 03 46");
    QTest::newRow("step 3 as 21") << 3 << QByteArray("02 30 30 58 4f 52 0d 32 31 0d 03 47");
    QTest::newRow("step 13 extra CR") << 13 << QByteArray("02 30 30 58 4f 52 0d 0d 0d 03 49");
    QTest::newRow("step 127") << 127 << QByteArray("02 30 30 58 4f 52 0d 7f 0d 03 3b");
}

void TstDisplayFrame::xorTestFrame() {
    QFETCH(int, step);
    QFETCH(QByteArray, expected);
    QCOMPARE(ToHex(BuildXorTestFrame(48, step)), expected);
}

void TstDisplayFrame::xorTestChecksumsCoverAllValuesForEveryAddress() {
    for (int address = 48; address <= 127; ++address) {
        std::set<int> seen;
        for (int step = 0; step < 128; ++step) {
            const DisplayFrame frame = BuildXorTestFrame(address, step);
            QCOMPARE(frame.back(), Byte(0x74 ^ address ^ step));
            QCOMPARE(FindFirstEtx(frame).value(), frame.size() - 2);
            seen.insert(frame.back());
        }
        QCOMPARE(seen.size(), std::size_t(128));
        QCOMPARE(*seen.begin(), 0x00);
        QCOMPARE(*seen.rbegin(), 0x7F);
    }
}

void TstDisplayFrame::wireBytes_data() {
    QTest::addColumn<DisplayFrame>("frame");
    QTest::addColumn<bool>("withChecksum");
    QTest::addColumn<QByteArray>("expected");
    const DisplayFrame defaults = Hex("02 30 30 54 45 53 54 0d 03 1a");
    QTest::newRow("defaults with XOR")
        << defaults << true << QByteArray("02 30 30 54 45 53 54 0d 03 1a");
    QTest::newRow("defaults without XOR")
        << defaults << false << QByteArray("02 30 30 54 45 53 54 0d 03");
    const DisplayFrame inner = Hex("02 30 30 41 0e 03 42 0d 03 4e");
    QTest::newRow("inner ETX cuts, next byte follows")
        << inner << true << QByteArray("02 30 30 41 0e 03 42");
    QTest::newRow("inner ETX cuts") << inner << false << QByteArray("02 30 30 41 0e 03");
    QTest::newRow("ETX last: NUL follows")
        << Hex("02 30 0d 03") << true << QByteArray("02 30 0d 03 00");
    QTest::newRow("no ETX: nothing") << Hex("02 30 0d") << true << QByteArray();
    QTest::newRow("XOR step 0 goes whole")
        << BuildXorTestFrame(48, 0) << true << QByteArray("02 30 30 58 4f 52 0d 00 0d 03 44");
}

void TstDisplayFrame::wireBytes() {
    QFETCH(DisplayFrame, frame);
    QFETCH(bool, withChecksum);
    QFETCH(QByteArray, expected);
    QCOMPARE(ToHex(WireBytes(frame, withChecksum)), expected);
}

void TstDisplayFrame::render_data() {
    QTest::addColumn<DisplayFrame>("frame");
    QTest::addColumn<QString>("text");
    QTest::newRow("defaults") << Hex("02 30 30 54 45 53 54 0d 03 1a")
                              << QStringLiteral("<STX>00TEST<CR><ETX>[x1A]");
    QTest::newRow("attribute A") << Hex("02 30 41 54 45 53 54 0d 03 5a")
                                 << QStringLiteral("<STX>0ATEST<CR><ETX>[x5A]");
    QTest::newRow("control checksum shows only as its tag")
        << Hex("02 30 0d 03 03") << QStringLiteral("<STX>0<CR><ETX>[x03]");
    QTest::newRow("STX checksum") << Hex("02 30 0d 03 02")
                                  << QStringLiteral("<STX>0<CR><ETX>[x02]");
    QTest::newRow("high checksum")
        << Hex("02 30 0d 03 9a") << QStringLiteral("<STX>0<CR><ETX>[x9A]");
    QTest::newRow("no ETX: no tag")
        << Hex("02 30 0e 17 0d") << QStringLiteral("<STX>0<SO><ETB><CR>");
    QTest::newRow("empty") << DisplayFrame{} << QString();
    QTest::newRow("SO and ETB in the body") << BuildDisplayFrame(48, '0', Chars({0xE9, '|'}))
                                            << QStringLiteral("<STX>00<SO>i<ETB><CR><ETX>[x7C]");
    QTest::newRow("XOR step 0 shows whole, NUL tagged")
        << BuildXorTestFrame(48, 0) << QStringLiteral("<STX>00XOR<CR><NUL><CR><ETX>[x44]");
    QTest::newRow("NUL before the ETX keeps the tag")
        << Hex("02 00 03 7c") << QStringLiteral("<STX><NUL><ETX>[x7C]");
}

void TstDisplayFrame::render() {
    QFETCH(DisplayFrame, frame);
    QFETCH(QString, text);
    QCOMPARE(QString::fromLatin1(RenderFrameText(frame)), text);
}

QTEST_APPLESS_MAIN(TstDisplayFrame)
#include "tst_displayframe.moc"
