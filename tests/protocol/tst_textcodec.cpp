#include "TextCodec.h"

#include <QtTest>

#include <climits>

using namespace kalvor;

class TstTextCodec : public QObject {
    Q_OBJECT
private slots:
    void toCp1252_data();
    void toCp1252();
    void roundTripAllBytes();
    void atoi_data();
    void atoi();
};

void TstTextCodec::toCp1252_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QStringLiteral("TEST") << QByteArray("TEST");
    QTest::newRow("euro") << QStringLiteral("\u20AC") << QByteArray("\x80");
    QTest::newRow("e acute") << QStringLiteral("\u00E9") << QByteArray("\xE9");
    QTest::newRow("oe ligature") << QStringLiteral("\u0153") << QByteArray("\x9C");
    QTest::newRow("CJK") << QStringLiteral("a\u4E2Db") << QByteArray("a?b");
    QTest::newRow("emoji is one character")
        << QString::fromUtf8("x\xF0\x9F\x98\x80y") << QByteArray("x?y");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("?");
}

void TstTextCodec::toCp1252() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const std::string out = Utf16ToCp1252(text.toStdU16String());
    QCOMPARE(QByteArray(out.data(), qsizetype(out.size())), bytes);
}

void TstTextCodec::roundTripAllBytes() {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    QCOMPARE(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
    QCOMPARE(QString::fromUtf8(Cp1252ToUtf8(all)).toStdU16String(), Cp1252ToUtf16(all));
}

void TstTextCodec::atoi_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("digits then letters") << "12abc" << 12;
    QTest::newRow("negative") << "-5" << -5;
    QTest::newRow("blanks and plus") << "  +13" << 13;
    QTest::newRow("sign alone") << "-" << 0;
    QTest::newRow("overflow saturates") << "99999999999" << INT_MAX;
    QTest::newRow("underflow saturates") << "-99999999999" << INT_MIN;
    QTest::newRow("INT_MIN exact") << "-2147483648" << INT_MIN;
}

void TstTextCodec::atoi() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(AtoI(text.toStdString()), value);
}

QTEST_APPLESS_MAIN(TstTextCodec)
#include "tst_textcodec.moc"
