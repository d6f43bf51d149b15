#pragma once

#include <QCoreApplication>
#include <QString>

// Every form text (main window and the channel templates set up inside it) is
// translated under one context, so one translation file covers the whole window.
inline QString main_window_tr(const char* text, const char* disambiguation = nullptr)
{
    return QCoreApplication::translate("MainWindow", text, disambiguation);
}
