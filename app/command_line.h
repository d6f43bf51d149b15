#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The program's command line. Parsed before the application object exists, so
// that --help and --version work without a display; Qt's own options
// (-platform, -style, -session from session restore, ...) are accepted and
// left in the arguments for the application object to take.
class command_line
{
public:
    enum action { run, show_help, show_version, fail };

    command_line();

    // args[0] is the program. On `fail`, error() says why.
    action parse(const QStringList& args);
    // Needs an application object (the usage line names the program).
    QString help_text() const { return parser.helpText(); }
    QString error() const { return error_text; }

    // --port names; a relative path is made absolute against the working
    // directory (the serial library would look for it under /dev).
    QStringList ports;
    bool report_frames = false;
    // --remote [PORT]: the SCPI server's port for this run, 0 when not asked for.
    int remote_port = 0;
    // --record FILE, as an absolute path (ending in '/' when given so: a folder); empty without the option.
    QString record_file;
    bool open_trends = false;
    // --headless: no window; see MainWindow::set_headless.
    bool headless = false;
    // --tango and its companions (any of them serves TANGO for this run);
    // settings.ini keeps what the Settings page has.
    bool tango = false;
    QString tango_instance;          // empty: as the Settings page says
    int tango_port = 0;              // 0: as the Settings page says
    QString tango_endpoint;          // empty: as the Settings page says
    bool tango_readonly = false;

private:
    bool parse_tango();
    QCommandLineParser parser;
    QString error_text;
};
