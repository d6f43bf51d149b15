// The real executables as processes: corvane-studio connected to corvane-sim,
// closed by a termination signal as by its close button. It must write its
// settings, stop its threads and exit with code 0 without thread warnings.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QStringList thread_warnings = {"QThread: Destroyed", "QObject::", "QSocketNotifier", "QBasicTimer",
                                     "QTimer", "Cannot send events"};

bool wait_for_text(QProcess& p, QByteArray& seen, const QByteArray& text, int timeout_ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeout_ms) {
        seen += p.readAllStandardError() + p.readAllStandardOutput();
        if (seen.contains(text))
            return true;
        if (p.state() == QProcess::NotRunning)
            return false;
        p.waitForReadyRead(100);
    }
    return false;
}

QProcessEnvironment offscreen()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

} // namespace

class test_e2e_exit : public QObject
{
    Q_OBJECT

private slots:
    void signal_closes_cleanly_data();
    void signal_closes_cleanly();
    void command_line_help_and_version();
};

void test_e2e_exit::signal_closes_cleanly_data()
{
    QTest::addColumn<int>("signal_number");
    QTest::addColumn<bool>("with_bus");
    QTest::newRow("SIGTERM, connected") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, connected") << int(SIGINT) << true;
    QTest::newRow("SIGTERM, no port") << int(SIGTERM) << false;
}

void test_e2e_exit::signal_closes_cleanly()
{
    QFETCH(int, signal_number);
    QFETCH(bool, with_bus);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QString("dev/ttyX%1_%2").arg(QCoreApplication::applicationPid()).arg(signal_number));

    QProcess sim;
    QByteArray sim_out;
    if (with_bus) {
        sim.start(CORVANE_SIM_PATH, {"--link", link, "--board", "cw:3", "--board", "ps:4", "--settle-ms", "0"});
        QVERIFY2(wait_for_text(sim, sim_out, "serving", 5000), sim_out.constData());
        QSettings ini(dir.filePath("settings.ini"), QSettings::IniFormat);
        ini.setValue("settings/available", 1);
        ini.setValue("serial/portname", link);
        ini.setValue("serial/portspeed", "115200");
        ini.setValue("serial/connection_mode", true);
        ini.setValue("device_conf/channel_enabled", true);
        ini.setValue("device_conf/addr", "3");
        ini.setValue("device_conf/channel_2_enabled", true);
        ini.setValue("device_conf/addr_2", "4");
    }

    QProcess studio;
    studio.setWorkingDirectory(dir.path());
    studio.setProcessEnvironment(offscreen());
    studio.start(CORVANE_STUDIO_PATH, {"--port", link, "--report-frames"});
    QVERIFY(studio.waitForStarted(5000));
    QByteArray out;
    if (with_bus) {
        QVERIFY2(wait_for_text(studio, out, "serial port is opened SUCCESSFULLY", 15000), out.constData());
        // Let the workers start polling (they sleep 2 s first) and replies come in.
        QTest::qWait(3500);
    } else {
        QVERIFY2(wait_for_text(studio, out, "start serial thread", 10000), out.constData());
        QTest::qWait(500);
    }

    QVERIFY(::kill(static_cast<pid_t>(studio.processId()), signal_number) == 0);
    QVERIFY(studio.waitForFinished(15000));
    out += studio.readAllStandardError() + studio.readAllStandardOutput();
    QCOMPARE(studio.exitStatus(), QProcess::NormalExit);
    QCOMPARE(studio.exitCode(), 0);
    for (const QString& warning : thread_warnings)
        QVERIFY2(!out.contains(warning.toUtf8()), out.constData());
    QVERIFY2(out.contains("serial thread finishing"), out.constData());

    const QRegularExpressionMatch frames = QRegularExpression("received frames: (\\d+)").match(QString::fromUtf8(out));
    QVERIFY2(frames.hasMatch(), out.constData());
    if (with_bus)
        QVERIFY2(frames.captured(1).toInt() > 0, out.constData());
    else
        QCOMPARE(frames.captured(1).toInt(), 0);

    // The close wrote the settings, as the close button does.
    QSettings ini(dir.filePath("settings.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value("settings/available").toInt(), 1);
    QCOMPARE(ini.value("serial/connection_mode").toBool(), with_bus);
    QCOMPARE(ini.value("device_conf/addr_2").toString(), QString(with_bus ? "4" : "1"));

    if (with_bus) {
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }
}

void test_e2e_exit::command_line_help_and_version()
{
    struct run
    {
        QStringList args;
        int exit_code;
        const char* text;
    };
    for (const run& r : {run{{"--help"}, 0, "--port <NAME>"}, run{{"--version"}, 0, "corvane-studio 2.007"},
                         run{{"--no-such-option"}, 2, "Unknown option"}}) {
        QProcess p;
        // No display needed for these.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        p.setProcessEnvironment(env);
        p.start(CORVANE_STUDIO_PATH, r.args);
        QVERIFY(p.waitForFinished(10000));
        const QByteArray out = p.readAllStandardOutput() + p.readAllStandardError();
        QCOMPARE(p.exitCode(), r.exit_code);
        QVERIFY2(out.contains(r.text), out.constData());
    }
}

QTEST_MAIN(test_e2e_exit)
#include "test_e2e_exit.moc"
