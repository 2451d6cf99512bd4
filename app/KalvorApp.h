#pragma once

#include <QApplication>

// The application object: runs the operator window modally; the process ends when it closes.
class CKalvorApp : public QApplication {
public:
    CKalvorApp(int& argc, char** argv);
    bool InitInstance();
};
