#include "KalvorApp.h"

#include <QDialog>

CKalvorApp::CKalvorApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kalvor"));
    setApplicationVersion(QStringLiteral("6.4"));
}

bool CKalvorApp::InitInstance() {
    QDialog placeholder;
    placeholder.setWindowTitle(QStringLiteral("Kalvor - Version 6"));
    placeholder.resize(780, 400);
    placeholder.exec();
    return false;
}
