// Renders the operator window to a PNG file:
//   kalvor_screenshot [out.png] [--mode serial|udp|tcp] [--run-layout] [--about about.png]
//                     [--icons icons.png]
// The window is shown as it opens; the options switch the Mode list, show the run layout, or
// also render the About box, or the icons side by side at 16, 32 and 128 pixels.
#include "AboutDlg.h"
#include "DialogBuilder.h"
#include "DialogTemplate.h"
#include "KalvorApp.h"
#include "KalvorDlg.h"

#include <QComboBox>
#include <QPainter>
#include <QPixmap>

#include <cstdio>
#include <cstring>

namespace {

void Settle() {
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
}

bool Save(QWidget& widget, const QString& path) {
    Settle();
    const QPixmap shot = widget.grab();
    if (!shot.save(path)) {
        std::fprintf(stderr, "kalvor_screenshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CKalvorApp app(argc, argv);
    QString out = QStringLiteral("kalvor-window.png");
    QString aboutOut;
    QString iconsOut;
    int mode = -1;
    bool runLayout = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mode") && i + 1 < argc) {
            const QString name = QString::fromLocal8Bit(argv[++i]).toUpper();
            mode = name == QLatin1String("UDP") ? 1 : name == QLatin1String("TCP") ? 2 : 0;
        } else if (!std::strcmp(argv[i], "--run-layout")) {
            runLayout = true;
        } else if (!std::strcmp(argv[i], "--icons") && i + 1 < argc) {
            iconsOut = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--about") && i + 1 < argc) {
            aboutOut = QString::fromLocal8Bit(argv[++i]);
        } else {
            out = QString::fromLocal8Bit(argv[i]);
        }
    }

    kalvor::CKalvorDlg dlg;
    dlg.show();
    if (mode >= 0) {
        auto* combo = dlg.findChild<QComboBox*>(QStringLiteral("ctl1023"));
        combo->setCurrentIndex(mode);
        dlg.OnModeChange();
    }
    if (runLayout)
        dlg.SetRunLayout(true);
    if (!Save(dlg, out))
        return 1;
    if (!aboutOut.isEmpty()) {
        kalvor::CAboutDlg about(&dlg);
        about.show();
        if (!Save(about, aboutOut))
            return 1;
    }
    if (!iconsOut.isEmpty()) {
        constexpr int kSizes[] = {16, 32, 128};
        QPixmap sheet(int(std::size(kalvor::res::kIconIds)) * 140, 190);
        sheet.fill(Qt::white);
        QPainter painter(&sheet);
        int x = 4;
        for (int id : kalvor::res::kIconIds) {
            int y = 4;
            for (int size : kSizes) {
                painter.drawPixmap(x, y, kalvor::LoadIcon(id).pixmap(size, size));
                y += size + 4;
            }
            painter.drawText(x + 40, 20, QString::number(id));
            x += 140;
        }
        painter.end();
        if (!sheet.save(iconsOut))
            return 1;
        std::printf("%s\n", qPrintable(iconsOut));
    }
    return 0;
}
