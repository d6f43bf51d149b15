// The whole program against the simulated bus: connecting through the port
// list, what goes on the wire, readings in the panels, the outputs-off
// question on Disconnect, and auto connection across an unplugged adapter.
#include "sim_fixture.h"
#include "driver_type.h"
#include "laser_object.h"

#include <QAbstractButton>
#include <algorithm>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

using e2e::codes_to;
using e2e::complete_passes;
using e2e::hex_codes;

namespace {

const QList<QByteArray> adapter_start_up = {"S6\r", "S6\r", "S6\r", "O\r", "O\r", "O\r"};

const QVector<int> cw_monitoring = {0xD0, 0xD1, 0x90, 0x21, 0x91, 0x92, 0x94, 0xA5, 0xA6, 0xB7, 0xB6, 0xB3};
const QVector<int> ps_monitoring = {0xD0, 0xD1, 0xA4, 0x21, 0xA2, 0x98, 0x92, 0xB4, 0x99, 0xB5, 0xA5, 0xA6, 0xB7, 0xB6};
const QVector<int> ns_monitoring = {0xD0, 0xD1, 0xA4, 0x21, 0xA2, 0x98, 0x92, 0xB4, 0x99, 0xB5, 0xA3, 0xA5, 0xA6, 0xB7, 0xB6};
const QVector<int> dcdc_monitoring = {0xD0, 0xD1, 0x90, 0x91, 0x92, 0xB0, 0xA6, 0x94};
const QVector<int> identification = {0xD0, 0xD1};

// Output-off command (set_laser_on / set_pulsed_laser_on with 0) to can_id.
bool is_output_off(const QByteArray& line, int can_id)
{
    const auto f = e2e::parse_frame(line);
    return f && f->id == can_id && (f->code() == 0x10 || f->code() == 0x20) && f->data[7] == 0;
}

} // namespace

class test_e2e_connection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { e2e::log_capture::install(); }
    void connects_through_the_port_list_and_polls_enabled_channels();
    void disconnect_while_emitting_asks_first();
    void auto_connection_comes_back_after_unplug();
};

void test_e2e_connection::connects_through_the_port_list_and_polls_enabled_channels()
{
    e2e::working_dir wd;
    // One board of each type on 1..6, and a seventh board that no enabled channel names.
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}, {driver_type::precision_cw, 2}, {driver_type::ps, 3},
                                          {driver_type::ns, 4}, {driver_type::soa_ns, 5},
                                          {driver_type::power_dcdc, 6}, {driver_type::cw, 7}});
    QVERIFY(sim->is_running());
    MainWindow w(nullptr, {sim->link_path()});
    Ui::MainWindow* ui = w.form();

    // The extra port comes after the system's, shown as a virtual port.
    QComboBox* ports = ui->serial_combo_box;
    QCOMPARE(ports->findData(sim->link_path()), ports->count() - 1);
    QCOMPARE(ports->itemText(ports->count() - 1), "\"Virtual port\" " + sim->link_path());

    const QStringList names = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"};
    e2e::configure_channels(w, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}, names);
    w.findChild<QLineEdit*>("addr_7")->setText("7"); // typed, never enabled
    ui->pushButton->click();

    QVERIFY(e2e::select_port(w, sim->link_path()));
    ui->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: CONNECTED"));
    QCOMPARE(ui->connect_button_2->text(), QString("Disconnect"));
    QVERIFY(ui->connect_button_2->isChecked());
    QVERIFY(!ports->isEnabled());
    QVERIFY(ui->scrollArea->isEnabled());
    QCOMPARE(w.saved_port_name, sim->link_path());
    QCOMPARE(sim->received_lines().mid(0, 6), adapter_start_up);

    // Every enabled panel shows its board, by name, in the panel and on its tab.
    const int types[] = {driver_type::cw, driver_type::precision_cw, driver_type::ps,
                         driver_type::ns, driver_type::soa_ns, driver_type::power_dcdc};
    auto all_known = [&] {
        for (int i = 0; i < 6; ++i) {
            if (w.channel(i)->laser_name_label->text() != driver_type::name(types[i]) + " Driver")
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(all_known(), 15000);
    // Two more monitoring passes of the slowest board.
    QTest::qWait(1500);
    for (int i = 0; i < 6; ++i) {
        const QString tab = w.channel(i)->laser_tab_button->text();
        QVERIFY2(tab.startsWith(names[i] + " (" + driver_type::name(types[i]) + " "), qPrintable(tab));
        QVERIFY(w.channel(i)->panel_widget->isVisibleTo(ui->scrollAreaWidgetContents));
    }
    QVERIFY(!w.channel(6)->panel_widget->isVisibleTo(ui->scrollAreaWidgetContents));

    // Readings: what the boards report is what the panels show.
    double current = 0, temperature = 0, voltage = 0;
    QVERIFY(sim->board_readings(1, current, temperature, voltage));
    QCOMPARE(w.channel(0)->temp_label->text().section(' ', 0, 0), QString::number(temperature, 'f', 1));
    QVERIFY(w.channel(0)->laser_tab_button->text().contains(w.channel(0)->temp_label->text()));
    QVERIFY(sim->board_readings(3, current, temperature, voltage));
    QCOMPARE(w.channel(2)->pulse_temp_label->text().section(' ', 0, 0), QString::number(temperature, 'f', 1));
    QCOMPARE(w.channel(2)->freq_label->isVisible(), w.channel(2)->ps_ns_widget->isVisible());
    QCOMPARE(ui->label->text().toLongLong(), w.received_frames());
    QVERIFY(w.received_frames() > 0);

    // Polling: identification, then the sequence of the reported type; nothing to the
    // board whose channel is not enabled.
    const QList<QByteArray> lines = sim->received_lines();
    const QVector<int> expected[] = {cw_monitoring, cw_monitoring, ps_monitoring,
                                     ns_monitoring, ns_monitoring, dcdc_monitoring};
    for (int i = 0; i < 6; ++i) {
        // Set-points adopted from a board (pulse width, pulse counts) go back to it
        // between the polls; only the poll's own frames make up a pass.
        auto polled = codes_to(lines, i + 1);
        polled.erase(std::remove_if(polled.begin(), polled.end(),
                                    [](int code) { return code < 0x80 && code != 0x21; }),
                     polled.end());
        const auto passes = complete_passes(polled);
        int full = 0;
        for (const auto& pass : passes) {
            QVERIFY2(pass == expected[i] || pass == identification,
                     qPrintable(QString("board %1: %2").arg(i + 1).arg(hex_codes(pass))));
            full += pass == expected[i];
        }
        QVERIFY2(full >= 2, qPrintable(QString("board %1: %2 full passes").arg(i + 1).arg(full)));
    }
    QVERIFY(codes_to(lines, 7).isEmpty());
}

void test_e2e_connection::disconnect_while_emitting_asks_first()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}, {driver_type::ps, 3}});
    QVERIFY(sim->is_running());
    MainWindow w(nullptr, {sim->link_path()});
    Ui::MainWindow* ui = w.form();
    e2e::configure_channels(w, {{0, 1}, {1, 3}});
    QVERIFY(e2e::select_port(w, sim->link_path()));

    for (const auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        const QString round = answer == QMessageBox::Yes ? "Yes" : "No";
        ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);

        // Switch the CW board on and wait until its replies say so.
        w.channel(0)->laser_las_on_off_butt_clicked();
        QTRY_COMPARE_WITH_TIMEOUT(ui->emitting_label->text(), QString("Emission: ON"), 5000);
        QVERIFY(ui->emit_on->isVisibleTo(&w) && !ui->emit_off->isVisibleTo(&w));

        sim->clear_received_lines();
        e2e::log_capture::lines().clear();
        QStringList question;
        e2e::answer_next_question(answer, &question);
        ui->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.connected, 5000);
        QCOMPARE(question, QStringList({"Confirmation", "Do you want to turn off outputs before disconnect?"}));
        QCOMPARE(ui->connect_button_2->text(), QString("Connect"));
        QVERIFY(!ui->connect_button_2->isCheckable());

        QTRY_VERIFY_WITH_TIMEOUT(sim->received_lines().contains("C\r"), 5000);
        const QList<QByteArray> lines = sim->received_lines();
        const int close_at = lines.indexOf("C\r");
        int off_before = 0, off_after = 0;
        for (int k = 0; k < lines.size(); ++k)
            (k < close_at ? off_before : off_after) += is_output_off(lines[k], 1);
        QCOMPARE(off_after, 0);
        // The PS board never emitted: it gets no off command.
        for (const QByteArray& line : lines)
            QVERIFY2(!is_output_off(line, 3), line.constData());
        QTRY_VERIFY(e2e::log_capture::lines().contains(answer == QMessageBox::Yes ? "Yes was clicked"
                                                                                 : "Yes was *not* clicked"));
        if (answer == QMessageBox::Yes) {
            // Each pass sends three frames; passes go on until a reply says "off".
            QVERIFY2(off_before >= 3 && off_before % 3 == 0, qPrintable(round + QString::number(off_before)));
        } else {
            QCOMPARE(off_before, 0);
        }
    }

    // Nothing emits: Disconnect asks nothing.
    ui->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);
    // Channels 3 to 10 keep the default CAN ID 1 and decode the CW board too; their
    // records may still hold the last "on" reply from before the reconnection.
    for (int i = 0; i < 10; ++i) {
        laser_worker& worker = *w.channel(i)->worker;
        worker.cw_model.laser_on = worker.ps_model.laser_on = worker.ns_model.laser_on = false;
    }
    ui->connect_button_2->click();
    QVERIFY(!QApplication::activeModalWidget());
    QTRY_VERIFY_WITH_TIMEOUT(!w.connected, 5000);
}

void test_e2e_connection::auto_connection_comes_back_after_unplug()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}});
    QVERIFY(sim->is_running());
    MainWindow w(nullptr, {sim->link_path()});
    Ui::MainWindow* ui = w.form();
    e2e::configure_channels(w, {{0, 1}});
    QVERIFY(e2e::select_port(w, sim->link_path()));

    // Ticking the box remembers the port and connects without a button press.
    ui->connection_mode->click();
    QVERIFY(w.auto_connection);
    QCOMPARE(w.saved_port_name, sim->link_path());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);

    sim->unplug(1500);
    QTRY_VERIFY_WITH_TIMEOUT(!w.connected, 5000);
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: DISCONNECTED"));
    QVERIFY(ui->serial_combo_box->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: CONNECTED"));
    QCOMPARE(ui->serial_combo_box->currentData().toString(), sim->link_path());
    // Polling resumes on the new connection.
    sim->clear_received_lines();
    QTRY_VERIFY_WITH_TIMEOUT(codes_to(sim->received_lines(), 1).contains(0x91), 10000);

    // A manual disconnection ends auto connection for good.
    ui->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.connected, 5000);
    QVERIFY(!w.auto_connection);
    QVERIFY(!ui->connection_mode->isChecked());
    QTest::qWait(1000);
    QVERIFY(!w.connected);
}

QTEST_MAIN(test_e2e_connection)
#include "test_e2e_connection.moc"
