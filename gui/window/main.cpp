// Pelloran: the window.

#include <QtWidgets/QApplication>

#include "gui/window/ConverterApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    pelloran::ConverterApp converter;
    converter.InitInstance();
    return converter.ExitInstance();
}
