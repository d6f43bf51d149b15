#include "MainWindow.h"
#include "command_line.h"
#include "laser_params.h"
#include "termination_signals.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    command_line options;
    switch (options.parse(args)) {
    case command_line::fail:
        QTextStream(stderr) << "corvane-studio: " << options.error() << "\n"
                            << "Try 'corvane-studio --help'.\n";
        return 2;
    case command_line::show_help: {
        // The usage line names the program from the application object; a
        // core one is enough and needs no display.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("corvane-studio"));
        QTextStream(stdout) << options.help_text();
        return 0;
    }
    case command_line::show_version:
        QTextStream(stdout) << "corvane-studio " << CORVANE_VERSION << "\n";
        return 0;
    case command_line::run:
        break;
    }

    // Qt's own event dispatcher: the GLib one costs about 40 % more CPU at
    // the hundreds of queued frames per second that ten polled boards bring.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Headless needs no display; -platform on the command line still wins.
    if (options.headless && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane-studio"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    auto params = std::make_unique<laser_params>();
    auto window = std::make_unique<MainWindow>(nullptr, options.ports);
    window->params_window = params.get();
    window->set_headless(options.headless);
    if (options.remote_port)
        window->start_remote_for_this_run(options.remote_port);
    if (options.tango)
        window->start_tango_for_this_run(options.tango_instance, options.tango_port, options.tango_endpoint,
                                         options.tango_readonly);
    if (!options.record_file.isEmpty())
        window->start_recording(options.record_file);
    if (options.open_trends)
        window->show_trends();

    termination_signals signals_watch;
    QObject::connect(&signals_watch, &termination_signals::sig_termination_requested, window.get(),
                     &MainWindow::sl_termination_requested);
    // TANGO resets SIGINT and watches the termination signals itself once it
    // started: the program's own handling comes back after it.
    window->after_tango_started = [] { termination_signals::take_back(); };

    if (!options.headless)
        window->show();
    int rc = app.exec();
    if (rc == 0 && window->settings_save_failed())
        rc = 1;
    const qint64 frames = window->received_frames();
    window.reset();
    params.reset();
    if (options.report_frames)
        std::fprintf(stderr, "received frames: %lld\n", static_cast<long long>(frames));
    return rc;
}
