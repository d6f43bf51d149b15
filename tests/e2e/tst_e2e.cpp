// The whole program against the simulated bus: one operator's session from the
// port list to a restart, and the real executable ended by signals.
#include "poll_sequences.h"
#include "sim_fixture.h"
#include "driver_type.h"
#include "laser_object.h"
#include "laser_params.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QProcess>

#include <algorithm>
#include <numeric>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace poll_sequences;

// Output-off commands (set_laser_on / set_pulsed_laser_on with 0) to can_id.
int off_frames(const QList<QByteArray>& lines, int can_id)
{
    return int(std::count_if(lines.begin(), lines.end(), [can_id](const QByteArray& line) {
        const QVector<int> f = e2e::frame_to(line, can_id);
        return !f.isEmpty() && (f[0] == 0x10 || f[0] == 0x20) && f[7] == 0;
    }));
}

QByteArray hex(const QVector<int>& codes)
{
    return std::accumulate(codes.begin(), codes.end(), QByteArray(), [](QByteArray s, int c) { return s + QByteArray::number(c, 16) + ' '; });
}

} // namespace

class tst_e2e : public QObject
{
    Q_OBJECT

private slots:
    void operator_session();
    void real_program_data();
    void real_program();
};

void tst_e2e::operator_session()
{
    e2e::working_dir wd;
    // One board of each type on 1..6, and a seventh that no enabled channel names.
    const int types[] = {driver_type::cw, driver_type::precision_cw, driver_type::ps,
                         driver_type::ns, driver_type::soa_ns, driver_type::power_dcdc};
    auto sim = e2e::start_bus(wd.path(), {{types[0], 1}, {types[1], 2}, {types[2], 3}, {types[3], 4},
                                          {types[4], 5}, {types[5], 6}, {driver_type::cw, 7}});
    QVERIFY(sim->is_running());
    laser_params params;
    auto w = std::make_unique<MainWindow>(nullptr, QStringList{sim->link_path()});
    w->params_window = &params;
    Ui::MainWindow* ui = w->form();
    QComboBox* ports = ui->serial_combo_box;
    QCOMPARE(ports->itemText(ports->count() - 1), "\"Virtual port\" " + sim->link_path());
    ports->setCurrentIndex(ports->count() - 1);

    const QStringList names = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"};
    for (int slot = 6; slot < MainWindow::channel_count; ++slot) // typed, never enabled
        w->findChild<QLineEdit*>(e2e::slot_name("addr", slot))->setText(QString::number(slot + 1));
    e2e::configure_channels(*w, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}, names);
    ui->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: CONNECTED"));
    QVERIFY(!ports->isEnabled() && ui->scrollArea->isEnabled());
    QCOMPARE(sim->received_lines().mid(0, 6), QList<QByteArray>({"S6\r", "S6\r", "S6\r", "O\r", "O\r", "O\r"}));
    for (int i = 0; i < 6; ++i) // every enabled panel shows its board
        QTRY_COMPARE_WITH_TIMEOUT(w->channel(i)->laser_name_label->text(), driver_type::name(types[i]) + " Driver", 15000);

    // Board 6 falls silent now; the 4 s heartbeat forgets it after two ticks.
    QVERIFY(sim->set_board_silent(6, true));
    // Two more passes of the slowest board: identification, then the sequence of the reported type.
    QTest::qWait(1500);
    QVERIFY(w->channel(5)->worker->device_type.load() != driver_type::lost); // not before two ticks
    const QList<QByteArray> lines = sim->received_lines();
    const QVector<int> expected[] = {cw_poll, cw_poll, ps_poll, ns_poll, ns_poll, dcdc_poll};
    for (int i = 0; i < 6; ++i) {
        // Set-points adopted from a board go back to it between the polls; only polls make up a pass.
        auto polled = e2e::codes_to(lines, i + 1);
        polled.erase(std::remove_if(polled.begin(), polled.end(), [](int c) { return c < 0x80 && c != 0x21; }),
                     polled.end());
        int full = 0;
        for (const auto& pass : e2e::complete_passes(polled)) {
            QVERIFY2(pass == expected[i] || pass == identification, hex(pass).constData());
            full += pass == expected[i];
        }
        QVERIFY2(full >= 2, qPrintable(QString("board %1: %2 full passes").arg(i + 1).arg(full)));
        const QString tab = w->channel(i)->laser_tab_button->text();
        QVERIFY2(tab.startsWith(names[i] + " (" + driver_type::name(types[i]) + " "), qPrintable(tab));
    }
    QVERIFY(e2e::codes_to(lines, 7).isEmpty());
    // What the boards report is what the panels show.
    double current = 0, cw_temperature = 0, ps_temperature = 0, voltage = 0;
    QVERIFY(sim->board_readings(1, current, cw_temperature, voltage) && sim->board_readings(3, current, ps_temperature, voltage));
    QCOMPARE(w->channel(0)->temp_label->text().section(' ', 0, 0), QString::number(cw_temperature, 'f', 1));
    QCOMPARE(w->channel(2)->pulse_temp_label->text().section(' ', 0, 0), QString::number(ps_temperature, 'f', 1));

    // The parameters window, opened from the panels again and again, polls only its
    // board while open and writes one SET once (three copies), not once per opening.
    for (int round = 1; round <= 4; ++round) {
        laser_object* open = w->channel(round % 2);
        open->config_button->click();
        QVERIFY(params.isVisible() && params.laser == open);
        QVERIFY(open->worker->param_reading && !w->channel(1 - round % 2)->worker->poll_enabled);
        if (round < 4)
            params.close();
        QCOMPARE(w->channel(0)->worker->poll_enabled.load(), round < 4);
    }
    sim->clear_received_lines();
    params.findChild<QDoubleSpinBox*>("res_set_spin")->setValue(10000);
    params.findChild<QPushButton*>("res_set_but")->click();
    QTest::qWait(300);
    QCOMPARE(e2e::codes_to(sim->received_lines(), 1).count(0x16), 3);
    int32_t value = 0;
    QVERIFY(sim->board_register(1, 0x16, value) && value == 10000);
    params.close();

    // The CW board switched on: Disconnect asks first. No leaves it on; Yes switches it
    // off before the port closes, and nothing goes to the PS board that never emitted.
    w->channel(0)->cw_on_off_button->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->emitting_label->text(), QString("Emission: ON"), 5000);
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        if (!w->connected)
            ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
        sim->clear_received_lines();
        QStringList question;
        e2e::answer_next_question(answer, &question);
        QTest::ignoreMessage(QtDebugMsg, answer == QMessageBox::Yes ? "Yes was clicked" : "Yes was *not* clicked");
        ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->connected, 5000);
        QCOMPARE(question, QStringList({"Confirmation", "Do you want to turn off outputs before disconnect?"}));
        QTRY_VERIFY_WITH_TIMEOUT(sim->received_lines().contains("C\r"), 5000);
        const QList<QByteArray> sent = sim->received_lines();
        const int off_before = off_frames(sent.mid(0, sent.indexOf("C\r")), 1);
        QVERIFY(off_frames(sent, 1) == off_before && off_frames(sent, 3) == 0);
        QVERIFY2(answer == QMessageBox::Yes ? off_before >= 3 && off_before % 3 == 0 : off_before == 0,
                 qPrintable(QString::number(off_before)));
    }
    QVERIFY(sim->board_register(1, 0x10, value) && value == 0);

    // Auto connection: ticking the box remembers the port and connects; an unplugged
    // adapter is found again and polled.
    ui->connection_mode->click();
    QCOMPARE(w->saved_port_name, sim->link_path());
    QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
    sim->unplug(1500);
    QTRY_VERIFY_WITH_TIMEOUT(!w->connected, 5000);
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: DISCONNECTED"));
    QVERIFY(ports->isEnabled());
    // The wait looks at the port's node; the port list is read once, when it is back.
    QSignalSpy list_reads(ports->model(), &QAbstractItemModel::modelReset);
    QSignalSpy list_clears(ports->model(), &QAbstractItemModel::rowsRemoved);
    QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
    QVERIFY2(list_reads.count() + list_clears.count() <= 1, qPrintable(QString::number(list_clears.count())));
    sim->clear_received_lines();
    QTRY_VERIFY_WITH_TIMEOUT(e2e::codes_to(sim->received_lines(), 1).contains(0x91), 10000);

    // The silent board: forgotten after 4 to 8 s, back with its next answer.
    QTRY_COMPARE_WITH_TIMEOUT(w->channel(5)->laser_name_label->text(), QString("No device"), 10000);
    QCOMPARE(w->channel(5)->laser_tab_button->text(), names[5]);
    // A forgotten board is asked only who it is.
    sim->clear_received_lines();
    QTRY_VERIFY_WITH_TIMEOUT(e2e::complete_passes(e2e::codes_to(sim->received_lines(), 6)).size() >= 2, 5000);
    for (const QVector<int>& pass : e2e::complete_passes(e2e::codes_to(sim->received_lines(), 6)))
        QCOMPARE(pass, identification);
    QVERIFY(sim->set_board_silent(6, false));
    QTRY_COMPARE_WITH_TIMEOUT(w->channel(5)->laser_name_label->text(), QString("Power DCDC Type Driver"), 3000);
    QTRY_COMPARE(ui->emitting_label->text(), QString("Emission: OFF"));

    // Quit and start again: configuration, port and auto connection come back; it connects by itself.
    w->close();
    w.reset();
    MainWindow again(nullptr, {sim->link_path()});
    QCOMPARE(again.channel(5)->laser_tab_button->text(), names[5]);
    QTRY_VERIFY_WITH_TIMEOUT(again.connected, 10000);
    // A manual disconnection ends auto connection for good; with nothing emitting, it asks nothing.
    QStringList asked;
    e2e::answer_next_question(QMessageBox::No, &asked);
    again.form()->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(!again.connected, 5000);
    QTest::qWait(700);
    QVERIFY(!again.connected && !again.form()->connection_mode->isChecked() && asked.isEmpty());
}

void tst_e2e::real_program_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("args"); // "@port": the simulator's port, relative to the working directory
    QTest::addColumn<int>("exit_code");
    QTest::addColumn<QString>("output");
    QTest::newRow("a second Ctrl+C answers the outputs question with Yes")
        << "emitting"
        << QStringList{"-platform", "offscreen", "-style", "Fusion", "-session", "1f_2", "--port", "@port"} << 0
        << "Yes was clicked";
    QTest::newRow("settings.ini cannot be written, SIGTERM")
        << "unwritable" << QStringList{"-platform", "offscreen"} << 1
        << "settings.ini: Filename refers to a directory";
    QTest::newRow("--help without a display") << "" << QStringList{"--help"} << 0 << "a second Ctrl+C";
}

void tst_e2e::real_program()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(int, exit_code);
    QFETCH(QString, output);
    e2e::working_dir wd;
    const QDir dir(QFileInfo(wd.path()).canonicalFilePath());
    std::unique_ptr<bus_simulator> sim;
    if (setup == "emitting") {
        // One board on its mini-USB cable, switched on before the program starts.
        sim = e2e::start_bus(dir.path(), {{driver_type::cw, 3}}, true);
        const int link = ::open(QFile::encodeName(sim->link_path()).constData(), O_WRONLY | O_NOCTTY);
        QVERIFY(link >= 0 && ::write(link, "t0038" "1000000000000001" "\r", 22) == 22);
        ::close(link);
        int32_t on = 0;
        QTRY_VERIFY(sim->board_register(3, 0x10, on) && on == 1);
        QFile ini(dir.filePath("settings.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[settings]\navailable=1\n[serial]\nconnection_mode=true\nportname=" + sim->link_path().toUtf8()
                  + "\n[device_conf]\nmini_usb=true\naddr=3\n");
        args.replaceInStrings("@port", dir.relativeFilePath(sim->link_path()));
    }
    if (setup == "unwritable")
        QVERIFY(dir.mkdir("settings.ini"));

    QProcess studio;
    studio.setWorkingDirectory(dir.path());
    studio.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    studio.setProcessEnvironment(env);
    studio.start(CORVANE_STUDIO_PATH, args);
    QByteArray out;
    auto seen = [&](const char* text) { return (out += studio.readAll()).contains(text); };
    if (!setup.isEmpty()) {
        // The first signal closes the window, which asks or reports; a second one answers.
        const int signal_number = sim ? SIGINT : SIGTERM;
        QTRY_VERIFY2_WITH_TIMEOUT(seen("start serial thread"), out.constData(), 10000);
        if (sim) // until the board has told the program that it is on
            QTRY_VERIFY_WITH_TIMEOUT(e2e::codes_to(sim->received_lines(), 3).contains(0x90), 10000);
        QTest::qWait(700);
        QVERIFY(::kill(pid_t(studio.processId()), signal_number) == 0);
        QTRY_VERIFY2_WITH_TIMEOUT(sim || seen("Settings could not be saved"), out.constData(), 10000);
        QTest::qWait(1000);
        QVERIFY2(studio.state() == QProcess::Running, "the first signal did not wait for the question");
        QVERIFY(::kill(pid_t(studio.processId()), signal_number) == 0);
    }
    QVERIFY(studio.waitForFinished(15000));
    out += studio.readAll();
    QCOMPARE(studio.exitStatus(), QProcess::NormalExit);
    QCOMPARE(studio.exitCode(), exit_code);
    QVERIFY2(out.contains(output.toUtf8()), out.constData());
    for (const char* warning : {"QThread: Destroyed", "QObject::", "QSocketNotifier", "QBasicTimer", "Cannot send events"})
        QVERIFY2(!out.contains(warning), out.constData());
    if (sim) {
        // The off frames left before the port closed, and the settings were saved.
        int32_t on = -1;
        QVERIFY(sim->board_register(3, 0x10, on) && on == 0 && off_frames(sim->received_lines(), 3) >= 3);
        QSettings ini(dir.filePath("settings.ini"), QSettings::IniFormat);
        QVERIFY(ini.value("serial/portname").toString() == sim->link_path() && ini.value("device_conf/mini_usb").toBool());
    }
}

QTEST_MAIN(tst_e2e)
#include "tst_e2e.moc"
