#pragma once

// The generated form class of the main window (Ui::MainWindow), for code in other
// targets that reaches widgets through MainWindow::form(). Including this header
// instead of ui_MainWindow.h keeps those targets' own uic step out of it.
#include "ui_MainWindow.h"
