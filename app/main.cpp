#include "MainWindow.h"
#include "laser_params.h"
#include "termination_signals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

struct command_line
{
    QStringList ports;
    bool report_frames = false;
};

// Parsed before the application object exists, so that --help and --version
// work without a display.
int parse_command_line(int argc, char* argv[], command_line& options)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Corvane Studio: control program for laser-diode driver boards on a CAN bus,\n"
        "reached through a USB-to-CAN serial adapter (SLCAN) or one board's mini-USB cable.\n"
        "Settings are kept in settings.ini in the working directory."));
    const QCommandLineOption help_opt({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Show this help and exit."));
    const QCommandLineOption version_opt({QStringLiteral("v"), QStringLiteral("version")},
                                         QStringLiteral("Show the version and exit."));
    const QCommandLineOption port_opt(
        QStringLiteral("port"),
        QStringLiteral("Offer NAME in the port list after the system's ports, shown as \"Virtual port\" NAME "
                       "(a pseudo-terminal, a link, any port the system does not list). Repeatable."),
        QStringLiteral("NAME"));
    const QCommandLineOption frames_opt(
        QStringLiteral("report-frames"),
        QStringLiteral("At exit, print the number of received frames to standard error (diagnostics)."));
    parser.addOptions({help_opt, version_opt, port_opt, frames_opt});

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.parse(args)) {
        err << "corvane-studio: " << parser.errorText() << "\n"
            << "Try 'corvane-studio --help'.\n";
        return 2;
    }
    if (parser.isSet(help_opt)) {
        // The help text names the program from the application object; a core
        // one is enough and needs no display.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("corvane-studio"));
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version_opt)) {
        out << "corvane-studio " << CORVANE_VERSION << "\n";
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "corvane-studio: unexpected argument " << parser.positionalArguments().first() << "\n";
        return 2;
    }
    options.ports = parser.values(port_opt);
    options.report_frames = parser.isSet(frames_opt);
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    command_line options;
    const int early_exit = parse_command_line(argc, argv, options);
    if (early_exit >= 0)
        return early_exit;

    // Qt's own event dispatcher: the GLib one costs about 40 % more CPU at
    // the hundreds of queued frames per second that ten polled boards bring.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("corvane-studio"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    auto params = std::make_unique<laser_params>();
    auto window = std::make_unique<MainWindow>(nullptr, options.ports);
    window->params_window = params.get();

    // Ctrl+C or a termination request closes the window as its close button does.
    termination_signals signals_watch;
    QObject::connect(&signals_watch, &termination_signals::sig_termination_requested, window.get(),
                     &MainWindow::close);

    window->show();
    const int rc = app.exec();
    const qint64 frames = window->received_frames();
    window.reset();
    params.reset();
    if (options.report_frames)
        std::fprintf(stderr, "received frames: %lld\n", static_cast<long long>(frames));
    return rc;
}
