// kalvor_render_icon: draws the application icon (an SVG file) into the PNG sizes of the hicolor
// icon theme, at build time:
//   kalvor_render_icon <icon.svg> <output dir> <icon name> <size>...
// writes <output dir>/<size>x<size>/apps/<icon name>.png for every size.

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <utility>

namespace {

constexpr int kMinSize = 8;
constexpr int kMaxSize = 1024;

int Fail(const QString& message) {
    std::fprintf(stderr, "kalvor_render_icon: %s\n", message.toLocal8Bit().constData());
    return 1;
}

// A size argument: a plain decimal number within the bounds, or 0 for anything else.
int ParseSize(const char* text) {
    bool ok = false;
    const int size = QByteArray(text).toInt(&ok);
    return ok && size >= kMinSize && size <= kMaxSize ? size : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 5)
        return Fail(QStringLiteral("usage: kalvor_render_icon <icon.svg> <output dir> "
                                   "<icon name> <size>..."));
    const QString svgPath = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString iconName = QString::fromLocal8Bit(argv[3]);
    if (iconName.isEmpty() || iconName.contains(u'/'))
        return Fail(QStringLiteral("bad icon name \"%1\"").arg(iconName));

    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid())
        return Fail(QStringLiteral("%1 is not a readable SVG file").arg(svgPath));
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);

    // All sizes are checked before anything is written.
    QList<int> sizes;
    for (int i = 4; i < argc; ++i) {
        const int size = ParseSize(argv[i]);
        if (size == 0)
            return Fail(QStringLiteral("bad icon size \"%1\" (%2 to %3)")
                            .arg(QString::fromLocal8Bit(argv[i]))
                            .arg(kMinSize)
                            .arg(kMaxSize));
        sizes.append(size);
    }

    for (const int size : std::as_const(sizes)) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }

        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (!QDir().mkpath(dir))
            return Fail(QStringLiteral("cannot create %1").arg(dir));
        const QString file = QStringLiteral("%1/%2.png").arg(dir, iconName);
        if (!image.save(file, "PNG"))
            return Fail(QStringLiteral("cannot write %1").arg(file));
    }
    return 0;
}
