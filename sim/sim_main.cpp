// corvane-sim: the simulated CAN adapter and driver boards as a process.

#include "bus_simulator.h"
#include "sim_board.h"
#include "sim_can_bridge.h"
#include "virtual_bus_relay.h"
#include "can_port_name.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int sig)
{
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &c, 1);
}

const char* const help_text =
    "Simulates a USB-to-CAN adapter speaking SLCAN with driver boards behind it,\n"
    "on a pseudo-terminal published at --link; with --bus PLUGIN:INTERFACE the same\n"
    "boards sit on a CAN bus of Qt SerialBus instead (virtualcan:can0, or a private\n"
    "virtual bus virtualcan:tcp://127.0.0.1:PORT/can0). On the virtual bus the first\n"
    "process to open it hosts it: start the simulator first.\n"
    "\n"
    "Board types for --board TYPE:CANID[:out=V,in=V,faults=N,rHH=RAW]:\n"
    "  cw            CW driver (type code 8)\n"
    "  precision-cw  Precision CW driver (10), also pcw\n"
    "  ps            PS pulsed driver (7)\n"
    "  ns            NS pulsed driver (6)\n"
    "  soa-ns        SOA NS pulsed driver (13), also soans\n"
    "  dcdc          Power DCDC converter (11), also power-dcdc; out/in set its\n"
    "                output/input voltage in V, faults its fault flag byte\n"
    "rHH=RAW (any type) starts the register of set code 0xHH at RAW, as a board\n"
    "remembers its set-points, with its readings settled on them:\n"
    "cw:11:r10=1,r11=1234 is a CW board running at 123.4 mA.\n"
    "Every board answers frames sent to its CAN ID and to CAN ID 250.\n"
    "\n"
    "Signals: SIGINT/SIGTERM stop and remove the link; SIGUSR1 unplugs the port\n"
    "for 2 s; SIGUSR2 sends a burst of garbage and malformed lines. On a --bus,\n"
    "unplugging takes the boards off the bus until the port is back.\n"
    "\n"
    "Commands on the --control FIFO, one per line:\n"
    "  unplug MS            unplug, come back after MS ms (-1: stay away)\n"
    "  replug               come back now\n"
    "  silent CANID 0|1     board falls silent (1) or answers again (0)\n"
    "  garbage N            N random bytes, then malformed lines\n"
    "  burst CANID N        N valid replies of the board in one write\n"
    "  dcdc CANID OUT IN FLAGS   set a Power DCDC board's readings\n"
    "  quit                 stop\n";

QString handle_command(bus_simulator& sim, const QString& line)
{
    const QStringList w = line.simplified().split(' ', Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QString();
    const QString cmd = w[0];
    if (cmd == "unplug" && w.size() == 2) {
        sim.unplug(w[1].toInt());
        return "unplugged";
    }
    if (cmd == "replug" && w.size() == 1)
        return sim.replug() ? "plugged" : "replug failed";
    if (cmd == "silent" && w.size() == 3)
        return sim.set_board_silent(w[1].toInt(nullptr, 0), w[2].toInt() != 0) ? "ok" : "no such board";
    if (cmd == "garbage" && w.size() == 2)
        return QString("sent %1 bytes").arg(sim.send_garbage(w[1].toInt()));
    if (cmd == "burst" && w.size() == 3)
        return QString("sent %1 replies").arg(sim.send_reply_burst(w[1].toInt(nullptr, 0), w[2].toInt()));
    if (cmd == "dcdc" && w.size() == 5)
        return sim.set_dcdc_values(w[1].toInt(nullptr, 0), w[2].toDouble(), w[3].toDouble(),
                                   w[4].toInt(nullptr, 0))
                   ? "ok"
                   : "no such board";
    if (cmd == "quit") {
        QCoreApplication::quit();
        return "quitting";
    }
    return "unknown command: " + line;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("corvane-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(help_text);
    parser.addHelpOption();
    const QCommandLineOption link_opt("link", "Path of the published port; it must contain \"/dev/\" "
                                              "(default " + sim_config::default_link_path() + ").",
                                      "path", sim_config::default_link_path());
    const QCommandLineOption board_opt("board", "Add a board (repeatable), see above.", "TYPE:CANID");
    const QCommandLineOption direct_opt("direct", "One board on its mini-USB cable: no adapter "
                                                  "commands, every frame reaches the board.");
    const QCommandLineOption settle_opt("settle-ms", "Time readings take to reach set-points (default 2000).",
                                        "ms", "2000");
    const QCommandLineOption stamp_opt("timestamps", "Append a 4-digit adapter timestamp to each frame line.");
    const QCommandLineOption control_opt("control", "Create a FIFO at path and read commands from it.", "path");
    const QCommandLineOption quiet_opt("quiet", "Print nothing but errors.");
    const QCommandLineOption bus_opt("bus", "Put the boards on this CAN bus (PLUGIN:INTERFACE) instead of a "
                                            "serial port; the adapter's port is then private.", "bus");
    const QCommandLineOption frames_opt("frames", "Append every line received from the program to FILE "
                                                  "(frames on the wire, for tests).", "FILE");
    parser.addOptions({link_opt, board_opt, direct_opt, settle_opt, stamp_opt, control_opt, quiet_opt, bus_opt});
    parser.addOption(frames_opt);
    parser.process(app);

    QTextStream err(stderr);
    QTextStream out(stdout);
    bus_simulator sim;
    const QString bus = parser.value(bus_opt);
    sim.config.link_path = parser.value(link_opt);
    // On a bus the adapter's port is only the bridge's way to the boards.
    if (!bus.isEmpty() && !parser.isSet(link_opt))
        sim.config.link_path = QDir::temp().filePath(QString("corvane-sim-bus-%1/dev/ttyBUS").arg(app.applicationPid()));
    sim.config.direct_mode = parser.isSet(direct_opt);
    sim.config.settle_ms = parser.value(settle_opt).toInt();
    sim.config.timestamps = parser.isSet(stamp_opt);
    sim.config.record_lines = parser.isSet(frames_opt);
    QFile frames_file(parser.value(frames_opt));
    if (parser.isSet(frames_opt)) {
        if (!frames_file.open(QIODevice::Append | QIODevice::Unbuffered)) {
            err << "corvane-sim: cannot write " << frames_file.fileName() << "\n";
            return 2;
        }
        QObject::connect(&sim, &bus_simulator::line_received, &app,
                         [&frames_file](const QByteArray& line) { frames_file.write(line.trimmed() + '\n'); });
    }
    for (const QString& text : parser.values(board_opt)) {
        sim_board_setup setup;
        QString error;
        if (!sim_config::parse_board(text, setup, error)) {
            err << "corvane-sim: " << error << "\n";
            return 2;
        }
        sim.config.boards.append(setup);
    }
    if (sim.config.boards.isEmpty()) {
        err << "corvane-sim: no --board given (try --board cw:1)\n";
        return 2;
    }
    if (!bus.isEmpty() && sim.config.direct_mode) {
        err << "corvane-sim: --direct and --bus exclude each other\n";
        return 2;
    }
    if (sim.config.direct_mode && sim.config.boards.size() > 1) {
        err << "corvane-sim: --direct takes exactly one board\n";
        return 2;
    }
    if (!sim.config.link_path.contains("/dev/")) {
        err << "corvane-sim: the link path must contain \"/dev/\"\n";
        return 2;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0) {
        err << "corvane-sim: socketpair failed\n";
        return 1;
    }
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
        ::sigaction(sig, &sa, nullptr);
    QSocketNotifier signal_notifier(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&signal_notifier, &QSocketNotifier::activated, &app, [&] {
        char c = 0;
        if (::read(signal_pipe[0], &c, 1) != 1)
            return;
        if (c == SIGUSR1)
            sim.unplug(2000);
        else if (c == SIGUSR2)
            sim.send_garbage(200);
        else
            QCoreApplication::quit();
    });

    if (!sim.start()) {
        err << "corvane-sim: " << sim.last_error() << "\n";
        return 1;
    }
    std::unique_ptr<sim_can_bridge> bridge;
    // On the virtual bus the simulator hosts it with its own relay (when no
    // other process does yet), so that a faulty client cannot bring it down.
    std::unique_ptr<virtual_bus_relay> relay;
    can_port_name bus_port;
    if (can_port_name::parse(bus, bus_port) && bus_port.plugin == QLatin1String("virtualcan")) {
        const quint16 port = virtual_bus_relay::port_of(bus_port.interface_name);
        relay = std::make_unique<virtual_bus_relay>();
        if (port == 0 || !relay->listen(port))
            relay.reset();
        else
            QObject::connect(relay.get(), &virtual_bus_relay::sig_malformed, &app, [&err](quint64 total) {
                if (total <= 10 || total % 1000 == 0) {
                    err << "corvane-sim: malformed frame from a bus client ignored (" << total << " so far)\n";
                    err.flush();
                }
            });
    }
    if (!bus.isEmpty()) {
        bridge = std::make_unique<sim_can_bridge>(sim.link_path(), bus);
        if (!bridge->start())
            return 1;
    }

    // The FIFO stays open for writing here too, so that a writer closing it
    // does not leave a permanent end-of-file.
    int control_fd = -1;
    int control_keep = -1;
    QByteArray control_buffer;
    std::unique_ptr<QSocketNotifier> control_notifier;
    const QString control_path = parser.value(control_opt);
    if (!control_path.isEmpty()) {
        const QByteArray p = QFile::encodeName(control_path);
        ::unlink(p.constData());
        if (::mkfifo(p.constData(), 0600) != 0
            || (control_fd = ::open(p.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0
            || (control_keep = ::open(p.constData(), O_WRONLY | O_CLOEXEC)) < 0) {
            err << "corvane-sim: cannot create control FIFO " << control_path << "\n";
            return 1;
        }
        control_notifier = std::make_unique<QSocketNotifier>(control_fd, QSocketNotifier::Read);
        QObject::connect(control_notifier.get(), &QSocketNotifier::activated, &app, [&] {
            char chunk[512];
            ssize_t n;
            while ((n = ::read(control_fd, chunk, sizeof chunk)) > 0)
                control_buffer.append(chunk, int(n));
            for (int nl = control_buffer.indexOf('\n'); nl >= 0; nl = control_buffer.indexOf('\n')) {
                const QString line = QString::fromUtf8(control_buffer.left(nl));
                control_buffer.remove(0, nl + 1);
                const QString answer = handle_command(sim, line);
                if (!answer.isEmpty() && !parser.isSet(quiet_opt)) {
                    out << "corvane-sim: " << answer << "\n";
                    out.flush();
                }
            }
        });
    }

    if (!parser.isSet(quiet_opt)) {
        if (bridge)
            out << "corvane-sim: serving CAN bus " << bus << ", boards:";
        else
            out << "corvane-sim: serving " << sim.link_path() << " (" << sim.slave_name() << "), "
                << (sim.config.direct_mode ? "direct" : "adapter") << " mode, boards:";
        for (const sim_board_setup& b : sim.config.boards)
            out << " " << sim_board::type_name(b.type_code) << ":" << b.can_id;
        out << "\n";
        out.flush();
    }

    QObject::connect(&sim, &bus_simulator::plug_changed, &app, [&](bool plugged) {
        if (bridge && plugged)
            bridge->start();
        else if (bridge)
            bridge->stop();
        if (!parser.isSet(quiet_opt)) {
            out << "corvane-sim: " << (plugged ? "plugged in" : "unplugged") << "\n";
            out.flush();
        }
    });

    const int rc = app.exec();
    bridge.reset();
    if (relay && relay->malformed.load() > 0)
        err << "corvane-sim: malformed frames from bus clients ignored: " << relay->malformed.load() << "\n";
    relay.reset();
    sim.stop();
    control_notifier.reset();
    if (control_fd >= 0) {
        ::close(control_fd);
        ::close(control_keep);
        ::unlink(QFile::encodeName(control_path).constData());
    }
    return rc;
}
