// Prints the device pixel ratio that a window of klremote gets in the environment this
// process was started with: the start-up rule first, then the application object.
#include "WholeScaleFactors.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

int main(int argc, char **argv)
{
    KeepWholeScaleFactors();
    QApplication app(argc, argv);
    QWidget window;
    window.resize(64, 64);
    window.show();
    std::printf("%g\n", window.devicePixelRatioF());
    return 0;
}
