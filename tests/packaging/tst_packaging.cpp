// The desktop integration as installed: desktop entry, AppStream metainfo and themed icons,
// installed by `cmake --install` into a temporary root, then checked as a desktop would read them.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

constexpr int kProcessWaitMs = 30000;

struct ProcessResult {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

ProcessResult Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    ProcessResult result;
    result.finished = process.waitForStarted(kProcessWaitMs) &&
                      process.waitForFinished(kProcessWaitMs) &&
                      process.exitStatus() == QProcess::NormalExit;
    if (!result.finished)
        process.kill();
    result.exitCode = process.exitCode();
    result.output = QString::fromUtf8(process.readAll());
    return result;
}

// Key=value lines of the [Desktop Entry] group.
QMap<QString, QString> ReadDesktopEntry(const QString& path) {
    QMap<QString, QString> entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inGroup && !line.startsWith(u'#') && line.contains(u'='))
            entry.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    return entry;
}

// Text of the first element with this name.
QString XmlElementText(const QString& path, const QString& name) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == name)
            return xml.readElementText().trimmed();
        if (xml.hasError())
            return {};
        xml.readNext();
    }
    return {};
}

} // namespace

class TestPackaging : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void idsAgree();
    void desktopEntry();
    void iconSizes_data();
    void iconSizes();
    void desktopFileValidate();
    void appstreamValidate_data();
    void appstreamValidate();
    void renderIconRejects_data();
    void renderIconRejects();

private:
    QString Share(const QString& relative) const {
        return m_root.filePath("usr/share/" + relative);
    }

    QTemporaryDir m_root;
    QString m_id;
};

void TestPackaging::initTestCase() {
    QVERIFY(m_root.isValid());
    const ProcessResult install =
        Run(QStringLiteral(KALVOR_CMAKE_COMMAND),
            {QStringLiteral("--install"), QStringLiteral(KALVOR_PACKAGING_BUILD_DIR),
             QStringLiteral("--prefix"), m_root.filePath(QStringLiteral("usr"))});
    QVERIFY2(install.finished && install.exitCode == 0, qPrintable(install.output));

    const QStringList metainfo = QDir(Share(QStringLiteral("metainfo")))
                                     .entryList({QStringLiteral("*.metainfo.xml")}, QDir::Files);
    QCOMPARE(metainfo.size(), 1);
    m_id = metainfo.first().chopped(int(qstrlen(".metainfo.xml")));
    QVERIFY(!m_id.isEmpty());
}

// The metainfo id, its launchable, the desktop file name and the icon name are one id.
void TestPackaging::idsAgree() {
    const QString metainfo = Share("metainfo/" + m_id + ".metainfo.xml");
    QCOMPARE(XmlElementText(metainfo, QStringLiteral("id")), m_id);
    QCOMPARE(XmlElementText(metainfo, QStringLiteral("launchable")), m_id + ".desktop");
    QVERIFY(QFileInfo::exists(Share("applications/" + m_id + ".desktop")));
    QCOMPARE(ReadDesktopEntry(Share("applications/" + m_id + ".desktop")).value("Icon"), m_id);
    QVERIFY(QFileInfo::exists(Share("icons/hicolor/scalable/apps/" + m_id + ".svg")));
}

void TestPackaging::desktopEntry() {
    const auto entry = ReadDesktopEntry(Share("applications/" + m_id + ".desktop"));
    QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
    QCOMPARE(entry.value("Name"), QStringLiteral("Kalvor"));
    QCOMPARE(entry.value("Exec"), QStringLiteral("kalvor"));
    QCOMPARE(entry.value("Terminal"), QStringLiteral("false"));
    const QStringList categories = entry.value("Categories").split(u';', Qt::SkipEmptyParts);
    QVERIFY2(categories.contains("Development") && categories.contains("Electronics"),
             qPrintable(entry.value("Categories")));
}

void TestPackaging::iconSizes_data() {
    QTest::addColumn<int>("size");
    for (const int size : {16, 32, 48, 64, 128, 256})
        QTest::addRow("%dx%d", size, size) << size;
}

// Each size is drawn from the whole SVG: transparent corner, yellow gear up left, cyan gear down
// right (an icon drawn at the wrong scale or offset misses them).
void TestPackaging::iconSizes() {
    QFETCH(int, size);
    const QString path =
        Share(QStringLiteral("icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(m_id));
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(size, size));

    const auto at = [&](double x, double y) {
        return image.pixelColor(int(x * size / 32.0), int(y * size / 32.0));
    };
    QCOMPARE(at(0, 0).alpha(), 0);
    QCOMPARE(at(31.5, 0).alpha(), 0);

    const QColor yellow = at(12.5, 7.5); // on the yellow gear's ring
    QVERIFY2(yellow.alpha() > 200 && yellow.red() > 200 && yellow.green() > 150 &&
                 yellow.blue() < 100,
             qPrintable(yellow.name(QColor::HexArgb)));
    const QColor cyan = at(23, 19.6); // on the cyan gear's ring
    QVERIFY2(cyan.alpha() > 200 && cyan.red() < 100 && cyan.blue() > 180,
             qPrintable(cyan.name(QColor::HexArgb)));
}

void TestPackaging::desktopFileValidate() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    // It prints errors, warnings and hints alike; a clean entry prints nothing.
    const ProcessResult result = Run(tool, {Share("applications/" + m_id + ".desktop")});
    QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.output));
    QVERIFY2(result.output.trimmed().isEmpty(), qPrintable(result.output));
}

void TestPackaging::appstreamValidate_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("metainfo") << QStringList{"validate", "--no-net", "metainfo/ID.metainfo.xml"};
    // The tree check also finds the desktop entry and the icons the metainfo names.
    QTest::newRow("install tree") << QStringList{"validate-tree", "--no-net", "ROOT"};
}

void TestPackaging::appstreamValidate() {
    QFETCH(QStringList, args);
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (tool.isEmpty())
        QSKIP("appstreamcli is not installed (package appstream)");
    QString& target = args.last();
    target = target == "ROOT" ? m_root.path() : Share(QString(target).replace("ID", m_id));
    // Errors and warnings fail; infos and pedantic notes do not.
    const ProcessResult result = Run(tool, args);
    QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.output));
    QVERIFY2(!result.output.contains(QStringLiteral("W: ")), qPrintable(result.output));
}

void TestPackaging::renderIconRejects_data() {
    QTest::addColumn<QStringList>("args");
    const QString svg = QStringLiteral(KALVOR_ICON_SVG);
    QTest::newRow("too few arguments") << QStringList{svg, "OUT", "name"};
    QTest::newRow("missing svg") << QStringList{svg + ".missing", "OUT", "name", "16"};
    QTest::newRow("not an svg") << QStringList{QStringLiteral(KALVOR_RENDER_ICON), "OUT", "name",
                                               "16"};
    QTest::newRow("size zero") << QStringList{svg, "OUT", "name", "0"};
    QTest::newRow("size not a number") << QStringList{svg, "OUT", "name", "16px"};
    QTest::newRow("size too large") << QStringList{svg, "OUT", "name", "100000"};
    QTest::newRow("second size bad") << QStringList{svg, "OUT", "name", "16", "abc"};
    QTest::newRow("name with slash") << QStringList{svg, "OUT", "../name", "16"};
}

// Bad arguments end with a message and exit status 1, and nothing half-written.
void TestPackaging::renderIconRejects() {
    QFETCH(QStringList, args);
    QTemporaryDir out;
    QVERIFY(out.isValid());
    args.replaceInStrings(QStringLiteral("OUT"), out.path());
    const ProcessResult result = Run(QStringLiteral(KALVOR_RENDER_ICON), args);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.output.contains(QStringLiteral("kalvor_render_icon: ")),
             qPrintable(result.output));
    QVERIFY(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

QTEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
