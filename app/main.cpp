#include "MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // The device parameters window (laser_params, hidden, no parent) is created here,
    // before the main window, and outlives it.

    MainWindow window;
    // window.params_window = &<the parameters window>;

    window.show();
    return app.exec();
}
