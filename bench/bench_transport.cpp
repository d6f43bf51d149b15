// Throughput of the receive path: the line cutter alone, and frames carried
// from the serial thread to a slot in the GUI thread over a real
// pseudo-terminal. Prints one line per figure.

#include "build_can_frame.h"
#include "pty_port.h"
#include "rx_line_cutter.h"
#include "serial_object.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray make_lines(int count)
{
    QByteArray out;
    out.reserve(count * 22);
    char buf[22];
    uint32_t len = 0;
    for (int k = 0; k < count; ++k) {
        build_can_frame(k & 0x7FF, int8_t(0x91), int8_t(k), 0, 0, int8_t(k >> 24), int8_t(k >> 16),
                        int8_t(k >> 8), int8_t(k), buf, &len);
        out.append(buf, int(len));
    }
    return out;
}

// Lines per second through cut_rx_lines, fed in 4 KB reads as a port delivers them.
double bench_cutter()
{
    const QByteArray stream = make_lines(100000);
    constexpr int read_size = 4096;
    quint64 lines = 0;
    quint64 checksum = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1500) {
        QByteArray buffer;
        for (int pos = 0; pos < stream.size(); pos += read_size) {
            buffer.append(stream.constData() + pos, qMin(read_size, stream.size() - pos));
            cut_rx_lines(buffer, [&](const serial_message_struct& sm) {
                ++lines;
                checksum += sm.data[7];
            });
        }
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (checksum == 0)
        std::fprintf(stderr, "no frames cut\n");
    return lines / seconds;
}

// Frames per second from the far end of a pseudo-terminal, through
// serial_object in its thread, to a slot in this thread.
double bench_serial_to_gui(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr quint64 total = 1000000;
    pty_port pty;
    const QString link = QDir::tempPath() + QString("/corvane-bench-%1/dev/ttyBench").arg(QCoreApplication::applicationPid());
    if (!pty.open(link)) {
        std::fprintf(stderr, "pty: %s\n", qPrintable(pty.error()));
        return 0;
    }

    QThread serial_thread;
    serial_object serial;
    serial.mini_usb_mode = true;
    QObject::connect(&serial_thread, &QThread::started, &serial, &serial_object::sl_start_port_process);
    serial.moveToThread(&serial_thread);
    serial.port.moveToThread(&serial_thread);

    quint64 received = 0;
    QElapsedTimer timer;
    QObject gui;
    QObject::connect(&serial, &serial_object::sig_serial_rx_can_batch, &gui,
                     [&](const serial_message_batch& frames) {
                         for (const serial_message_struct& sm : frames)
                             received += sm.data[0] == 0x91;
                         if (received == total)
                             app.quit();
                     });
    std::atomic<bool> go{false};
    std::thread writer([&] {
        while (!go.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const QByteArray block = make_lines(1000);
        for (quint64 sent = 0; sent < total; sent += 1000) {
            int done = 0;
            while (done < block.size()) {
                const ssize_t n = ::write(pty.master_fd(), block.constData() + done, size_t(block.size() - done));
                if (n > 0) {
                    done += int(n);
                } else if (n < 0 && errno == EAGAIN) {
                    pollfd p{pty.master_fd(), POLLOUT, 0};
                    ::poll(&p, 1, 100);
                } else if (n < 0 && errno != EINTR) {
                    return;
                }
            }
        }
    });
    QObject::connect(&serial, &serial_object::sig_connected, &gui, [&] {
        timer.start();
        go = true;
    });
    serial_thread.start();
    serial_conf_struct conf;
    conf.port_name = pty.link();
    conf.baud_rate = 115200;
    QMetaObject::invokeMethod(&serial, [&serial, conf] {
        serial.sl_serial_conf(conf);
        serial.sl_connect_serial();
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    app.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    go = true;
    QMetaObject::invokeMethod(&serial, &serial_object::sl_shutdown, Qt::BlockingQueuedConnection);
    serial_thread.quit();
    serial_thread.wait();
    pty.close();
    writer.join();
    QDir(QDir::tempPath() + QString("/corvane-bench-%1").arg(QCoreApplication::applicationPid())).removeRecursively();
    if (received < total)
        std::fprintf(stderr, "only %llu of %llu frames arrived\n", received, total);
    return received / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    // The serial worker's connection texts are not part of the figures.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const double lines = bench_cutter();
    std::printf("cutter: %.1f million lines/s\n", lines / 1e6);
    std::fflush(stdout);
    const double frames = bench_serial_to_gui(argc, argv);
    std::printf("serial thread to GUI slot: %.0f frames/s\n", frames);
    return 0;
}
