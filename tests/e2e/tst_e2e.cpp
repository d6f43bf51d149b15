// The whole program against the simulated bus: one operator's session from the
// port list to a restart, and the real executable ended by signals.
#include "poll_sequences.h"
#include "sim_fixture.h"
#include "driver_type.h"
#include "channel_reading.h"
#include "event_log.h"
#include "laser_object.h"
#include "laser_params.h"
#include "recorder.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

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

// One board of each type on CAN IDs 1 to 6.
const int every_type[] = {driver_type::cw, driver_type::precision_cw, driver_type::ps,
                          driver_type::ns, driver_type::soa_ns, driver_type::power_dcdc};

bool pulsed(int type)
{
    return type == driver_type::ps || driver_type::is_ns_family(type);
}

// Registers of a board that was switched on by someone else: set code, raw value.
QVector<QPair<int, int32_t>> on_registers(int type)
{
    if (pulsed(type))
        return {{0x18, 500}, {0x20, 1}, {0x22, 1}};
    return {{0x11, type == driver_type::power_dcdc ? 300 : 1000}, {0x10, 1}};
}

bool board_is_off(const bus_simulator& sim, int can_id, int type)
{
    int32_t out = -1, other = -1;
    if (pulsed(type))
        return sim.board_register(can_id, 0x22, out) && sim.board_register(can_id, 0x20, other) && out == 0 && other == 0;
    return sim.board_register(can_id, 0x10, out) && out == 0;
}

// The set commands to can_id as "code:value" per three copies (rate values left out), "*n" otherwise.
QString set_commands(const QList<QByteArray>& lines, int can_id)
{
    QStringList out;
    QByteArray last;
    int copies = 0;
    auto flush = [&] {
        if (copies == 0)
            return;
        const QVector<int> f = e2e::frame_to(last, can_id);
        const int value = f[4] << 24 | f[5] << 16 | f[6] << 8 | f[7];
        out << QString::number(f[0], 16) + (f[0] == 0x19 ? QString() : ':' + QString::number(value))
                   + (copies % 3 ? QString("*%1").arg(copies) : QString());
        copies = 0;
    };
    for (const QByteArray& line : lines) {
        const QVector<int> f = e2e::frame_to(line, can_id);
        if (f.isEmpty() || f[0] >= 0x80 || f[0] == 0x21)
            continue;
        if (line != last || copies == 3)
            flush();
        last = line;
        ++copies;
    }
    flush();
    return out.join(' ');
}

// The whole off sequence of a type, as its panel switch sends it.
QString off_sequence(int type)
{
    if (pulsed(type))
        return "19 20:0 22:0";
    return type == driver_type::power_dcdc ? "11:0 10:0" : "10:0";
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
    void outputs_off_on_every_path();
    void stale_readings_and_lost_outputs();
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

    // The parameters window, opened from the panels again and again, reads its board's
    // parameters while the others keep being monitored, and writes one SET once
    // (three copies), not once per opening.
    for (int round = 1; round <= 4; ++round) {
        laser_object* open = w->channel(round % 2);
        open->config_button->click();
        QVERIFY(params.isVisible() && params.laser == open);
        QVERIFY(open->worker->param_reading && w->channel(1 - round % 2)->worker->poll_enabled);
        if (round < 4)
            params.close();
        QCOMPARE(open->worker->param_reading.load(), round == 4); // closed: monitored again
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
    // off before the port closes.
    w->channel(0)->cw_on_off_button->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui->emitting_label->text(), QString("Emission: ON"), 5000);
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        if (!w->connected)
            ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
        sim->clear_received_lines();
        QStringList question;
        const auto answering = e2e::answer_next_question(answer, &question);
        QTest::ignoreMessage(QtDebugMsg, answer == QMessageBox::Yes ? "Yes was clicked" : "Yes was *not* clicked");
        ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->connected, 5000);
        QCOMPARE(question, QStringList({"Confirmation", "Do you want to turn off outputs before disconnect?"}));
        QTRY_VERIFY_WITH_TIMEOUT(sim->received_lines().contains("C\r"), 5000);
        const QList<QByteArray> sent = sim->received_lines();
        const int off_before = off_frames(sent.mid(0, sent.indexOf("C\r")), 1);
        QVERIFY(off_frames(sent, 1) == off_before);
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
    const auto answering = e2e::answer_next_question(QMessageBox::No, &asked);
    again.form()->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(!again.connected, 5000);
    QTest::qWait(700);
    QVERIFY(!again.connected && !again.form()->connection_mode->isChecked() && asked.isEmpty());
}

// Six boards, one of each type, found emitting; every way to switch outputs
// off sends each board its type's whole off sequence, and every board ends off.
void tst_e2e::outputs_off_on_every_path()
{
    e2e::working_dir wd;
    QList<QPair<int, int>> boards;
    for (int i = 0; i < 6; ++i)
        boards << qMakePair(every_type[i], i + 1);
    auto sim = e2e::start_bus(wd.path(), boards);
    auto w = std::make_unique<MainWindow>(nullptr, QStringList{sim->link_path()});
    Ui::MainWindow* ui = w->form();
    ui->serial_combo_box->setCurrentIndex(ui->serial_combo_box->count() - 1);
    e2e::configure_channels(*w, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}});
    QVERIFY(!ui->all_outputs_off_button->isEnabled()); // nothing to send it to while disconnected
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    w->start_remote_for_this_run(port);
    QTcpSocket script;
    script.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(script.waitForConnected(3000));
    auto remote = [&script](const QByteArray& line) {
        script.write(line + "\nSYST:ERR?\n");
        QSignalSpy more(&script, &QTcpSocket::readyRead);
        while (!script.canReadLine() && more.wait(3000)) {}
        return script.canReadLine() ? script.readLine().trimmed() : QByteArray("(none)");
    };

    const char* const paths[] = {"panel switch", "All outputs off button", "OUTP:ALL OFF",
                                 "CHANn:OUTP OFF as found", "Yes at disconnect", "Yes at quit"};
    for (const QString path : paths) {
        if (!w->connected)
            ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->connected, 10000);
        QVERIFY(ui->all_outputs_off_button->isEnabled() && !ui->mini_usb_mode_checkbox->isEnabled());
        for (int i = 0; i < 6; ++i) {
            for (const auto& r : on_registers(every_type[i]))
                QVERIFY(sim->set_board_register(i + 1, r.first, r.second));
        }
        for (int i = 0; i < 6; ++i) // found emitting
            QTRY_VERIFY2_WITH_TIMEOUT(w->channel(i)->output_on(), qPrintable(path), 10000);
        QTRY_COMPARE(ui->emitting_label->text(), QString("Emission: ON"));
        sim->clear_received_lines();
        if (path == "panel switch") {
            for (int i = 0; i < 6; ++i) {
                laser_object& l = *w->channel(i);
                QAbstractButton* button = pulsed(every_type[i]) ? l.ps_ns_on_off_butt : l.cw_on_off_button;
                QTRY_VERIFY(button->isChecked());
                button->click();
            }
        } else if (path == "All outputs off button") {
            ui->all_outputs_off_button->click();
        } else if (path == "OUTP:ALL OFF") {
            QCOMPARE(remote("OUTP:ALL OFF"), QByteArray("0,\"No error\""));
        } else if (path == "CHANn:OUTP OFF as found") {
            QCOMPARE(remote("CHAN1:OUTP OFF;CHAN2:OUTP 0;CHAN3:OUTP OFF;CHAN4:OUTP OFF;CHAN5:OUTP OFF;CHAN6:OUTP OFF"),
                     QByteArray("0,\"No error\""));
        } else {
            QStringList asked;
            const auto answering = e2e::answer_next_question(QMessageBox::Yes, &asked);
            QTest::ignoreMessage(QtDebugMsg, "Yes was clicked");
            if (path == "Yes at quit")
                w->close();
            else
                ui->connect_button_2->click();
            QCOMPARE(asked.value(1), "Do you want to turn off outputs before " + QString(path == "Yes at quit" ? "quit?" : "disconnect?"));
            QTRY_VERIFY(!w->connected || path == "Yes at quit");
        }
        for (int i = 0; i < 6; ++i) {
            QTRY_VERIFY2(board_is_off(*sim, i + 1, every_type[i]), qPrintable(path + ": board " + QString::number(i + 1)));
            const QString sent = set_commands(sim->received_lines(), i + 1);
            QVERIFY2(sent.contains(off_sequence(every_type[i])), qPrintable(path + ": board " + QString::number(i + 1) + ": " + sent));
        }
        if (!path.startsWith("Yes")) // still connected: the boards' next replies say so
            QTRY_COMPARE(ui->emitting_label->text(), QString("Emission: OFF"));
    }
}

// Every way a watched output can be lost: the channel turns stale within 2 s
// (greyed, PRES? 0, no reading served, no set-point taken) and a latched
// alarm names it until it is acknowledged.
void tst_e2e::stale_readings_and_lost_outputs()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}, {driver_type::power_dcdc, 6}});
    laser_params params; // outlives the window, which keeps a pointer to it
    for (int id : {1, 6}) {
        for (const auto& r : on_registers(id == 1 ? driver_type::cw : driver_type::power_dcdc))
            QVERIFY(sim->set_board_register(id, r.first, r.second));
    }
    MainWindow w(nullptr, {sim->link_path()});
    Ui::MainWindow* ui = w.form();
    ui->serial_combo_box->setCurrentIndex(ui->serial_combo_box->count() - 1);
    e2e::configure_channels(w, {{0, 1}, {5, 6}});
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    w.start_remote_for_this_run(port);
    QTcpSocket script;
    script.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(script.waitForConnected(3000));
    auto remote = [&script](const QByteArray& line) { // the answer lines, then the error code ("0": none)
        script.write(line + "\nSYST:ERR?\n");
        QSignalSpy more(&script, &QTcpSocket::readyRead);
        QStringList out;
        for (;;) {
            while (!script.canReadLine() && more.wait(3000)) {}
            if (!script.canReadLine())
                return out.join(' ') + " (none)";
            const QString a = QString::fromUtf8(script.readLine().trimmed());
            if (QRegularExpression("^(-\\d+|0),\"").match(a).hasMatch()) {
                out << a.section(',', 0, 0);
                return out.join(' ');
            }
            out << a;
        }
    };
    const struct { const char* what; int slot; const char* why; } rows[] = {
        {"board silenced", 0, "no reply for"},
        {"adapter unplugged", 0, "adapter lost"},
        {"channel disabled", 0, "channel disabled"},
        {"CAN ID changed", 5, "CAN ID changed"},
    };
    for (const auto& r : rows) {
        const QString what = r.what;
        if (!w.connected)
            ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
        laser_object& l = *w.channel(r.slot);
        QTRY_VERIFY2_WITH_TIMEOUT(l.fresh() && l.output_on(), r.what, 10000);
        const QByteArray ch = "CHAN" + QByteArray::number(r.slot + 1);
        QTRY_COMPARE(remote(ch + ":PRES?"), QString("1 0"));
        // Each row from no alarm: on a slow machine (sanitizers) a reply may come late enough to raise one.
        w.acknowledge_alarms();
        QElapsedTimer lost;
        lost.start();
        const auto answering = e2e::answer_next_question(QMessageBox::Yes);
        if (what == "board silenced") {
            QVERIFY(sim->set_board_silent(1, true));
        } else if (what == "adapter unplugged") {
            sim->unplug(500);
        } else {
            w.findChild<QCheckBox*>(e2e::slot_name("dev_en", r.slot))->setChecked(what != "channel disabled");
            w.findChild<QLineEdit*>(e2e::slot_name("addr", r.slot))->setText(what == "CAN ID changed" ? "7" : "1");
            ui->pushButton->click();
        }
        QTRY_VERIFY2_WITH_TIMEOUT(!l.fresh(), r.what, 2500);
        QVERIFY2(lost.elapsed() <= 2500, r.what);
        QTRY_VERIFY2(l.alarm.contains(r.why), qPrintable(what + ": " + l.alarm));
        QTRY_VERIFY2(ui->alarm_label->isVisible() || !w.isVisible(), r.what);
        QVERIFY2(ui->alarm_label->text().contains(QString("ch%1").arg(r.slot + 1)), r.what);
        QVERIFY2(remote(ch + ":ALAR?").contains(r.why), r.what);
        QVERIFY2(remote(ch + ":PRES?") == "0 0", r.what);
        const QString refused = what == "board silenced" ? "-230" : "-221";
        QVERIFY2(remote(ch + ":MEAS:CURR?").endsWith(refused), r.what);
        QVERIFY2(l.reading().fresh == false, r.what);
        const auto logged = w.log().recent(50);
        QVERIFY2(std::any_of(logged.begin(), logged.end(), [&](const log_event& e) {
                     return e.kind == log_kind::alarm && e.channel == r.slot + 1 && e.text.contains(r.why);
                 }), r.what);
        if (what == "board silenced") {
            QVERIFY(!l.curr_label->isEnabled() && l.laser_name_label->text().contains("no reply for"));
            const QString set_answer = remote("CHAN1:CURR 5");
            QVERIFY2(set_answer.endsWith("-221"), qPrintable(set_answer));
            QVERIFY(sim->set_board_silent(1, false));
            QTRY_VERIFY(l.fresh() && l.curr_label->isEnabled());
            QVERIFY(!l.alarm.isEmpty()); // latched until acknowledged
        }
        if (what == "adapter unplugged")
            QTRY_VERIFY_WITH_TIMEOUT(sim->plugged(), 5000);
        const QString alarms = remote("SYST:ALAR?");
        QVERIFY2(alarms.contains("\"channel " + QString::number(r.slot + 1) + ": "), qPrintable(alarms));
        QCOMPARE(remote("SYST:ALAR:ACK;SYST:ALAR?"), QString("0 0"));
        QVERIFY(!ui->alarm_label->isVisible());
    }

    // The parameters window open: another channel's converter fault shows within 2 s, its switch works.
    w.findChild<QLineEdit*>(e2e::slot_name("addr", 5))->setText("6");
    w.findChild<QCheckBox*>(e2e::slot_name("dev_en", 0))->setChecked(true);
    ui->pushButton->click();
    w.params_window = &params;
    QTRY_VERIFY_WITH_TIMEOUT(w.channel(0)->fresh() && w.channel(5)->fresh(), 10000);
    w.channel(0)->config_button->click();
    QTest::qWait(4500); // beyond the heartbeat that used to forget the other boards
    QVERIFY(w.channel(5)->answering());
    QVERIFY(sim->set_dcdc_values(6, 12.0, 24.0, 4));
    QTRY_VERIFY_WITH_TIMEOUT(ui->fault_label->text().contains("FAULT: ch6"), 2000);
    QVERIFY(w.channel(5)->laser_tab_button->text().contains("FAULT 0x0004"));
    w.channel(5)->cw_on_off_button->click();
    QTRY_VERIFY(board_is_off(*sim, 6, driver_type::power_dcdc));
    params.findChild<QAbstractButton*>("res_set_but")->click();
    params.close();

    // The log has the rest of the session: refused remote commands, the parameter write, the recording.
    w.start_recording();
    QTRY_VERIFY(!w.recording().file().isEmpty());
    w.recording().stop();
    const auto logged = [&w](log_kind kind, const char* text) {
        const auto events = w.log().recent(200);
        return std::any_of(events.begin(), events.end(), [&](const log_event& e) { return e.kind == kind && e.text.contains(text); });
    };
    QTRY_VERIFY(logged(log_kind::recording, "recording stopped"));
    QVERIFY(logged(log_kind::recording, "recording started"));
    QTRY_VERIFY(logged(log_kind::parameter, "written: ")); // the SET goes on after the close
    QVERIFY(logged(log_kind::remote, "refused: -221"));
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
    QTest::newRow("two SIGTERMs while a script sends 250 set commands a line")
        << "remote" << QStringList{"-platform", "offscreen", "--port", "@port", "--remote", "@remote"} << 0
        << "Yes was clicked";
    QTest::newRow("headless without a display: one SIGTERM, the board off, settings.ini untouched")
        << "headless" << QStringList{"--headless", "--port", "@port", "--remote", "@remote"} << 0
        << "headless: switching every output off";
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
    const bool headless = setup == "headless";
    QByteArray settings;
    if (setup == "remote" || headless) {
        // A CW board on the bus, on; the program polls it and serves a script.
        sim = e2e::start_bus(dir.path(), {{driver_type::cw, 3}});
        for (const auto& r : on_registers(driver_type::cw))
            QVERIFY(sim->set_board_register(3, r.first, r.second));
        QFile ini(dir.filePath("settings.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        settings = "[settings]\navailable=1\n[serial]\nconnection_mode=true\nportname=" + sim->link_path().toUtf8()
                   + "\n[device_conf]\nchannel_enabled=true\naddr=3\n";
        ini.write(settings);
        args.replaceInStrings("@port", dir.relativeFilePath(sim->link_path()));
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        args.replaceInStrings("@remote", QString::number(probe.serverPort()));
    }
    if (setup == "unwritable")
        QVERIFY(dir.mkdir("settings.ini"));

    QTcpSocket script;
    QTimer flood;
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
    const int signal_number = setup == "emitting" ? SIGINT : SIGTERM;
    if (!setup.isEmpty()) {
        // The first signal closes the window, which asks or reports; a second one answers.
        QTRY_VERIFY2_WITH_TIMEOUT(seen("start serial thread"), out.constData(), 10000);
        if (sim) // until the board has told the program that it is on
            QTRY_VERIFY_WITH_TIMEOUT(e2e::codes_to(sim->received_lines(), 3).contains(0x90), 10000);
        QTest::qWait(700);
        if (setup == "remote") {
            script.connectToHost(QHostAddress::LocalHost, quint16(args.last().toInt()));
            QVERIFY(script.waitForConnected(3000));
            QByteArray line;
            for (int k = 0; k < 250; ++k)
                line += "CHAN1:CURR " + QByteArray::number(10 + k % 100) + (k < 249 ? ";" : "\n");
            QObject::connect(&flood, &QTimer::timeout, &script, [&script, line] { script.write(line); });
            flood.start(5);
            QTRY_VERIFY_WITH_TIMEOUT(e2e::codes_to(sim->received_lines(), 3).count(0x11) > 750, 10000);
        }
        QVERIFY(::kill(pid_t(studio.processId()), signal_number) == 0);
    }
    if (!setup.isEmpty() && !headless) {
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
        QFile kept(dir.filePath("settings.ini"));
        if (headless) {
            QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == settings);
            return;
        }
        QSettings ini(dir.filePath("settings.ini"), QSettings::IniFormat);
        QVERIFY(ini.value("serial/portname").toString() == sim->link_path());
        QCOMPARE(ini.value("device_conf/mini_usb").toBool(), setup == "emitting");
    }
}

QTEST_MAIN(tst_e2e)
#include "tst_e2e.moc"
