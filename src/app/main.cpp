#include <QApplication>

#include "vantrix.h"

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    int exitCode = 0;
    {
        Vantrix dialog;
        dialog.setWindowFlags(dialog.windowFlags() | Qt::WindowMinimizeButtonHint);
        dialog.show();
        exitCode = app.exec();
    }
    return exitCode;
}
