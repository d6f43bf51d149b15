// corvane-bench-bus: the simulated bus for the end-to-end benchmark. Serves N
// CW boards (CAN IDs 1..N) for a given time, then silences them, lets the
// last replies drain and prints how many replies it sent. It keeps the port
// open until SIGINT/SIGTERM, so the program under test sees no hang-up.
#include "bus_simulator.h"
#include "sim_board.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int sig)
{
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &c, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption link_opt("link", "Published port path (must contain /dev/).", "path");
    const QCommandLineOption boards_opt("boards", "Number of CW boards, CAN IDs 1..N (default 10).", "n", "10");
    const QCommandLineOption serve_opt("serve-ms", "Answer for this long, then go silent (default 60000).",
                                       "ms", "60000");
    const QCommandLineOption delay_opt("reply-delay-ms",
                                       "Each reply in a write of its own, this long after its request, "
                                       "as a USB adapter answers (default 0: at once).", "ms", "0");
    parser.addOptions({link_opt, boards_opt, serve_opt, delay_opt});
    parser.process(app);

    bus_simulator sim;
    sim.config.link_path = parser.value(link_opt);
    sim.config.record_lines = false;
    sim.config.reply_delay_ms = parser.value(delay_opt).toInt();
    const int boards = parser.value(boards_opt).toInt();
    for (int id = 1; id <= boards; ++id)
        sim.add_board(sim_board::type_cw, id);
    if (sim.config.link_path.isEmpty() || !sim.start()) {
        std::fprintf(stderr, "corvane-bench-bus: %s\n", qPrintable(sim.last_error()));
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_pipe) != 0)
        return 1;
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    QSocketNotifier stop(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    std::printf("ready %s\n", qPrintable(sim.link_path()));
    std::fflush(stdout);

    QTimer::singleShot(parser.value(serve_opt).toInt(), &app, [&] {
        for (int id = 1; id <= boards; ++id)
            sim.set_board_silent(id, true);
        // Replies already on their way still reach the program.
        QTimer::singleShot(1000, &app, [&] {
            std::printf("replies sent: %llu\nlines received: %llu\n",
                        static_cast<unsigned long long>(sim.replies_sent()),
                        static_cast<unsigned long long>(sim.lines_received()));
            std::fflush(stdout);
        });
    });

    const int rc = app.exec();
    sim.stop();
    return rc;
}
