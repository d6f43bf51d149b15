#include "command_line.h"

#include "can_port_name.h"
#include "stored_settings.h"

#include <QDir>

namespace {

const QCommandLineOption help_opt({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
const QCommandLineOption version_opt({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
const QCommandLineOption port_opt(
    QStringLiteral("port"),
    QStringLiteral("Offer NAME in the port list after the system's ports, shown as \"Virtual port\" NAME "
                   "(a pseudo-terminal, a link, any port the system does not list); a relative path "
                   "is taken from the working directory. PLUGIN:INTERFACE names a CAN interface "
                   "(socketcan:can0, peakcan:usb0, virtualcan:can0, "
                   "virtualcan:tcp://127.0.0.1:PORT/can0). Repeatable."),
    QStringLiteral("NAME"));
const QCommandLineOption frames_opt(
    QStringLiteral("report-frames"),
    QStringLiteral("At exit, print the number of received frames to standard error (diagnostics)."));
const QCommandLineOption remote_opt(
    QStringLiteral("remote"),
    QStringLiteral("Start the SCPI remote-control server for this run, on 127.0.0.1 and ::1 only, "
                   "port PORT (--remote [PORT], default 5025)."));

const QCommandLineOption record_opt(
    QStringLiteral("record"),
    QStringLiteral("Start recording the enabled channels' readings at start-up into the CSV file FILE "
                   "(an existing file is kept: the recording gets a new name with a number), or, when "
                   "FILE is an existing folder or ends in '/', into a new file named after the start "
                   "time in that folder."),
    QStringLiteral("FILE"));

const QCommandLineOption tango_opt(
    QStringLiteral("tango"),
    QStringLiteral("Serve every channel as a TANGO device for this run: corvane/INSTANCE/ch1..ch10 and "
                   "corvane/INSTANCE/studio, registered in the database TANGO_HOST names, or without a "
                   "database with --tango-port. Implied by the other --tango options."));
const QCommandLineOption tango_instance_opt(QStringLiteral("tango-instance"),
                                            QStringLiteral("The TANGO instance name (default: the host name in lower case)."),
                                            QStringLiteral("NAME"));
const QCommandLineOption tango_port_opt(
    QStringLiteral("tango-port"),
    QStringLiteral("Serve TANGO without a database on PORT (clients: tango://HOST:PORT/corvane/INSTANCE/ch1#dbase=no)."),
    QStringLiteral("PORT"));
const QCommandLineOption tango_endpoint_opt(
    QStringLiteral("tango-endpoint"),
    QStringLiteral("The address the TANGO server binds (default 127.0.0.1; 0.0.0.0 for every interface)."),
    QStringLiteral("ADDRESS"));
const QCommandLineOption tango_readonly_opt(
    QStringLiteral("tango-readonly"),
    QStringLiteral("TANGO clients may read; every write and command but AllOutputsOff is refused."));

const QCommandLineOption trends_opt(QStringLiteral("trends"), QStringLiteral("Open on the Trends page."));

const QCommandLineOption headless_opt(
    QStringLiteral("headless"),
    QStringLiteral("Run without a window (rack PCs, services): polling, recording, the event log, alarms and "
                   "the remote servers work as usual; no question is asked. SIGTERM or Ctrl+C switches every "
                   "output off and quits. settings.ini is read, never written. Needs no display."));

// Options QGuiApplication and QApplication take themselves.
const char* const qt_value_options[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                        "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                        "display", "geometry", "style", "stylesheet", "qmljsdebugger"};
const char* const qt_flag_options[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

command_line::command_line()
{
    parser.setApplicationDescription(QStringLiteral(
        "Corvane Studio: control program for laser-diode driver boards on a CAN bus,\n"
        "reached through a USB-to-CAN serial adapter (SLCAN), a CAN interface of the system\n"
        "(SocketCAN, PEAK, ... through Qt SerialBus) or one board's mini-USB cable.\n"
        "Settings are kept in settings.ini in the working directory.\n"
        "Ctrl+C or SIGTERM closes the window as its close button does. When outputs are\n"
        "still on, the window first asks whether to turn them off; a second Ctrl+C or\n"
        "SIGTERM answers Yes: the outputs are switched off, then settings are saved.\n"
        "Exit code 1: settings.ini could not be written (the reason goes to standard error).\n"
        "Qt's own options (-platform, -style, -session, ...) are accepted."));
    // Qt's options come with one dash and a word: -platform offscreen.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({help_opt, version_opt, port_opt, frames_opt, remote_opt, record_opt, trends_opt, headless_opt});
    parser.addOptions({tango_opt, tango_instance_opt, tango_port_opt, tango_endpoint_opt, tango_readonly_opt});
    for (const char* name : qt_value_options) {
        QCommandLineOption opt(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        opt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(opt);
    }
    for (const char* name : qt_flag_options) {
        QCommandLineOption opt(QString::fromLatin1(name));
        opt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(opt);
    }
}

command_line::action command_line::parse(const QStringList& given)
{
    // --remote takes an optional port, which the option parser cannot: a
    // number right after it (or after '=') is taken here.
    QStringList args;
    remote_port = 0;
    for (int i = 0; i < given.size(); ++i) {
        const QString& a = given[i];
        const bool is_remote = i > 0 && (a == QLatin1String("--remote") || a == QLatin1String("-remote"));
        const bool with_value = i > 0 && a.startsWith(QLatin1String("--remote="));
        if (!is_remote && !with_value) {
            args << a;
            continue;
        }
        QString value = with_value ? a.section(QLatin1Char('='), 1) : QString();
        if (is_remote && i + 1 < given.size() && !given[i + 1].isEmpty() && given[i + 1][0].isDigit())
            value = given[++i];
        bool ok = value.isEmpty();
        remote_port = ok ? stored_settings::default_remote_port : value.toInt(&ok, 10);
        if (!ok || remote_port < 1 || remote_port > 65535) {
            error_text = QStringLiteral("--remote takes a port number 1 to 65535, not ") + value;
            return fail;
        }
    }
    if (!parser.parse(args)) {
        error_text = parser.errorText();
        return fail;
    }
    if (parser.isSet(help_opt))
        return show_help;
    if (parser.isSet(version_opt))
        return show_version;
    if (!parser.positionalArguments().isEmpty()) {
        error_text = QStringLiteral("unexpected argument ") + parser.positionalArguments().first();
        return fail;
    }
    ports.clear();
    for (const QString& name : parser.values(port_opt)) {
        can_port_name can;
        const bool relative_path = name.contains(QLatin1Char('/')) && QDir::isRelativePath(name)
                                   && !can_port_name::parse(name, can);
        ports << (relative_path ? QDir::cleanPath(QDir::current().absoluteFilePath(name)) : name);
    }
    report_frames = parser.isSet(frames_opt);
    open_trends = parser.isSet(trends_opt);
    headless = parser.isSet(headless_opt);
    if (!parse_tango())
        return fail;
    record_file.clear();
    if (parser.isSet(record_opt)) {
        record_file = parser.value(record_opt);
        if (record_file.isEmpty()) {
            error_text = QStringLiteral("--record needs a file name");
            return fail;
        }
        // A trailing '/' says "a folder", also of one that does not exist yet.
        const bool folder = record_file.endsWith(QLatin1Char('/'));
        record_file = QDir::cleanPath(QDir::current().absoluteFilePath(record_file));
        if (folder && !record_file.endsWith(QLatin1Char('/')))
            record_file += QLatin1Char('/');
    }
    return run;
}

bool command_line::parse_tango()
{
    tango_instance = parser.value(tango_instance_opt).trimmed().toLower();
    tango_endpoint = parser.value(tango_endpoint_opt).trimmed();
    tango_readonly = parser.isSet(tango_readonly_opt);
    tango_port = 0;
    if (parser.isSet(tango_port_opt)) {
        bool ok = false;
        tango_port = parser.value(tango_port_opt).toInt(&ok, 10);
        if (!ok || tango_port < 1 || tango_port > 65535) {
            error_text = QStringLiteral("--tango-port takes a port number 1 to 65535, not ") + parser.value(tango_port_opt);
            return false;
        }
    }
    // A device name part: no slash, no space, not empty when given.
    if (parser.isSet(tango_instance_opt)
        && (tango_instance.isEmpty() || tango_instance.contains(QLatin1Char('/')) || tango_instance.contains(QLatin1Char(' ')))) {
        error_text = QStringLiteral("--tango-instance takes a name without '/' or spaces, not ") + parser.value(tango_instance_opt);
        return false;
    }
    tango = parser.isSet(tango_opt) || parser.isSet(tango_instance_opt) || parser.isSet(tango_port_opt)
            || parser.isSet(tango_endpoint_opt) || tango_readonly;
    return true;
}
