#include "termination_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipe_fds[2] = {-1, -1};

void on_signal(int sig)
{
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(pipe_fds[1], &c, 1);
}

} // namespace

termination_signals::termination_signals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipe_fds) != 0)
        return;
    // A burst of signals must never block the handler.
    ::fcntl(pipe_fds[1], F_SETFL, ::fcntl(pipe_fds[1], F_GETFL) | O_NONBLOCK);
    take_back();
    notifier = std::make_unique<QSocketNotifier>(pipe_fds[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &termination_signals::on_readable);
}

void termination_signals::take_back()
{
    if (pipe_fds[1] < 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

termination_signals::~termination_signals()
{
    if (!notifier)
        return;
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    notifier.reset();
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    pipe_fds[0] = pipe_fds[1] = -1;
}

void termination_signals::on_readable()
{
    char c = 0;
    if (::read(pipe_fds[0], &c, 1) == 1)
        emit sig_termination_requested(static_cast<unsigned char>(c));
}
