// Every seed of the fuzz targets and every input that once made one of them fail, run
// through the target's checks (which abort on a broken property).
#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstdint>

extern "C" int FuzzFrameOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int FuzzSimFrameOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Target = int (*)(const std::uint8_t*, std::size_t);

struct FuzzTarget {
    const char* name;
    Target entry;
};

constexpr FuzzTarget kTargets[] = {{"frame", &FuzzFrameOneInput},
                                   {"simframe", &FuzzSimFrameOneInput}};

Target EntryOf(const QString& name) {
    for (const FuzzTarget& t : kTargets)
        if (name == QLatin1String(t.name))
            return t.entry;
    return nullptr;
}

} // namespace

class TstFuzzCorpus : public QObject {
    Q_OBJECT
private slots:
    void replay_data();
    void replay();
    void seedsPresent();
};

void TstFuzzCorpus::replay_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    for (const FuzzTarget& t : kTargets) {
        for (const char* kind : {"corpus", "regressions"}) {
            const QDir dir(QStringLiteral(KALVOR_FUZZ_DIR "/%1/%2").arg(kind, t.name));
            for (const QFileInfo& file : dir.entryInfoList(QDir::Files, QDir::Name)) {
                if (file.fileName().startsWith(u'.') || file.suffix() == QLatin1String("md"))
                    continue;
                const QByteArray row =
                    QStringLiteral("%1/%2/%3").arg(kind, t.name, file.fileName()).toUtf8();
                QTest::newRow(row.constData())
                    << QString::fromLatin1(t.name) << file.absoluteFilePath();
            }
        }
    }
}

void TstFuzzCorpus::replay() {
    QFETCH(QString, target);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const Target entry = EntryOf(target);
    QVERIFY(entry);
    QCOMPARE(
        entry(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())),
        0);
}

void TstFuzzCorpus::seedsPresent() {
    for (const FuzzTarget& t : kTargets) {
        const QDir dir(QStringLiteral(KALVOR_FUZZ_DIR "/corpus/%1").arg(t.name));
        QVERIFY2(dir.entryList(QDir::Files).size() >= 3, t.name);
    }
}

QTEST_GUILESS_MAIN(TstFuzzCorpus)
#include "tst_fuzzcorpus.moc"
