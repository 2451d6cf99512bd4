#pragma once

#include <QApplication>

// The application object: runs the operator window modally; the process ends when it closes.
class CKalvorApp : public QApplication {
    Q_OBJECT
public:
    CKalvorApp(int& argc, char** argv);
    // Runs the operator window modally and returns false: there is nothing to do after it.
    bool InitInstance();
};
