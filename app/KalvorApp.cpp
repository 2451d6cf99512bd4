#include "KalvorApp.h"

#include "KalvorDlg.h"

CKalvorApp::CKalvorApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kalvor"));
    setApplicationVersion(QStringLiteral("6.4"));
    // Lets the desktop tie the window to its menu entry and icon.
    setDesktopFileName(QStringLiteral("io.github.kalvor.Kalvor"));
}

bool CKalvorApp::InitInstance() {
    kalvor::CKalvorDlg dlg;
    dlg.exec();
    return false;
}
