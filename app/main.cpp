#include "KalvorApp.h"

int main(int argc, char** argv) {
    CKalvorApp app(argc, argv);
    app.InitInstance();
    return 0;
}
