// The simulator as the program meets it: a serial line at a path.

#include "bus_simulator.h"
#include "sim_board.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A raw terminal opened by path, as a serial port library would.
class line_end
{
public:
    explicit line_end(const QString& path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~line_end()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool ok() const { return fd >= 0; }
    void write(const QByteArray& bytes) { QCOMPARE(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }
    // Reads until want bytes have come or the line stays quiet for quiet_ms.
    QByteArray read(int want, int quiet_ms = 2000)
    {
        QByteArray got;
        while (got.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, quiet_ms) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, int(n));
        }
        return got;
    }
    // True once the other side has gone (hang-up or error on read).
    bool hung_up()
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return false;
        char c;
        return (p.revents & (POLLHUP | POLLERR)) || ::read(fd, &c, 1) <= 0;
    }

private:
    int fd = -1;
};

} // namespace

class tst_sim_port : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void adapter_answers_and_forwards_only_while_open();
    void direct_mode_has_no_adapter();
    void unplug_comes_back_at_the_same_path();
    void runs_as_a_process();

private:
    QString link(const char* name) const { return dir.filePath(QString("dev/") + name); }
    QTemporaryDir dir;
};

void tst_sim_port::adapter_answers_and_forwards_only_while_open()
{
    bus_simulator sim;
    sim.config.link_path = link("ttyA");
    sim.config.settle_ms = 0;
    sim.add_board(sim_board::type_cw, 1);
    sim.add_board(sim_board::type_power_dcdc, 2);
    QVERIFY2(sim.start(), qPrintable(sim.last_error()));
    QCOMPARE(sim.link_path(), link("ttyA"));
    QVERIFY(QFileInfo(sim.link_path()).isSymLink());
    QVERIFY(sim.slave_name().startsWith("/dev/pts/"));

    line_end port(sim.link_path());
    QVERIFY(port.ok());
    const QByteArray get_type_1 = "t0018D000000000000000\r";
    port.write(get_type_1); // closed: refused, not forwarded
    QCOMPARE(port.read(1), QByteArray("\a"));
    port.write("S6\rO\r");
    QCOMPARE(port.read(2), QByteArray("\r\r"));
    QVERIFY(sim.adapter_open());
    port.write(get_type_1 + "t0028D000000000000000\r");
    QCOMPARE(port.read(2 + 22 + 2 + 22),
             QByteArray("z\rt0018D001000000000008\rz\rt0028D00200000000000B\r"));
    // Broadcast ID 250 reaches every board.
    port.write("t0FA8D100000000000000\r");
    QCOMPARE(port.read(2 + 44), QByteArray("z\rt0018D101000000000001\rt0028D102000000000002\r"));
    port.write("C\r");
    QCOMPARE(port.read(1), QByteArray("\r"));
    QVERIFY(!sim.adapter_open());

    QCOMPARE(sim.received_lines(),
             (QList<QByteArray>{get_type_1, "S6\r", "O\r", get_type_1, "t0028D000000000000000\r",
                                "t0FA8D100000000000000\r", "C\r"}));
    QCOMPARE(sim.frames_forwarded(), 3u);
    QCOMPARE(sim.replies_sent(), 4u);
    sim.stop();
    QVERIFY(!QFileInfo::exists(link("ttyA")) && !QFileInfo(link("ttyA")).isSymLink());
}

void tst_sim_port::direct_mode_has_no_adapter()
{
    bus_simulator sim;
    sim.config.link_path = link("ttyD");
    sim.config.direct_mode = true;
    sim.config.timestamps = true;
    sim.add_board(sim_board::type_soa_ns, 9);
    QVERIFY(sim.start());
    line_end port(sim.link_path());
    QVERIFY(port.ok());
    // Whatever the frame's identifier, the board on the cable answers it.
    port.write("S6\rt0378D000000000000000\r");
    const QByteArray reply = port.read(26);
    QCOMPARE(reply.size(), 26);
    QVERIFY(reply.startsWith("t0098D00900000000000D"));
    QVERIFY(reply.endsWith('\r')); // four timestamp digits before it
    QCOMPARE(port.read(1, 200), QByteArray());
}

void tst_sim_port::unplug_comes_back_at_the_same_path()
{
    bus_simulator sim;
    sim.config.link_path = link("ttyU");
    sim.add_board(sim_board::type_ps, 3);
    QSignalSpy plug(&sim, &bus_simulator::plug_changed);
    QVERIFY(sim.start());
    QTRY_COMPARE(plug.count(), 1);
    plug.clear();
    {
        line_end port(sim.link_path());
        QVERIFY(port.ok());
        sim.unplug(300);
        QVERIFY(!QFileInfo(link("ttyU")).isSymLink());
        QVERIFY(port.hung_up());
    }
    QTRY_VERIFY(sim.plugged());
    QTRY_COMPARE(plug.count(), 2);
    QCOMPARE(plug.at(0).at(0).toBool(), false);
    QCOMPARE(plug.at(1).at(0).toBool(), true);
    line_end again(link("ttyU"));
    QVERIFY(again.ok());
    again.write("O\r");
    QCOMPARE(again.read(1), QByteArray("\r"));

    // Garbage and a burst reach the line in full.
    const int garbage = sim.send_garbage(100);
    QCOMPARE(again.read(garbage).size(), garbage);
    QCOMPARE(sim.send_reply_burst(3, 400), 400);
    const QByteArray burst = again.read(400 * 22);
    QCOMPARE(burst.size(), 400 * 22);
    QCOMPARE(burst.count('\r'), 400);
}

void tst_sim_port::runs_as_a_process()
{
    const QString exe = CORVANE_SIM_EXE;
    QVERIFY(QFileInfo::exists(exe));
    const QString path = link("ttyP");
    const QString fifo = dir.filePath("control");
    QProcess proc;
    proc.start(exe, {"--link", path, "--board", "cw:1", "--board", "dcdc:2:out=12.5,in=30",
                     "--settle-ms", "0", "--control", fifo});
    QVERIFY(proc.waitForStarted());
    QByteArray said;
    QTRY_VERIFY2((said += proc.readAllStandardOutput()).contains("serving " + path.toUtf8()),
                 said.constData());
    line_end port(path);
    QVERIFY(port.ok());
    port.write("O\rt0028A600000000000000\r");
    QCOMPARE(port.read(1 + 2 + 22), QByteArray("\rz\rt0028A60200000000007D\r"));

    // Control commands through the FIFO.
    QFile control(fifo);
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.write("dcdc 2 48 50 4\n");
    control.flush();
    said.clear();
    QTRY_VERIFY((said += proc.readAllStandardOutput()).contains("corvane-sim: ok"));
    port.write("t00289400000000000000\rt0028B000000000000000\r");
    const QByteArray replies = port.read(2 + 22 + 2 + 22);
    QVERIFY(replies.contains("t002894020000000001F4\r"));
    QVERIFY(replies.contains("t0028B002000000000004\r"));

    proc.terminate(); // SIGTERM
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
    QVERIFY(!QFileInfo(path).isSymLink());
    QVERIFY(!QFileInfo::exists(fifo));
}

QTEST_MAIN(tst_sim_port)
#include "tst_sim_port.moc"
