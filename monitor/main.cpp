#include "AppController.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    AppController controller;
    zentrova::device::FindCurrentRunningOS();
    zentrova::device::SMARTDeviceDetection();
    return 0;
}
