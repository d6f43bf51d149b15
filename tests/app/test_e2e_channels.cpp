// The main window as the hub of its channels: which channels decode a frame,
// the emission indicator, the tab buttons, the heartbeat that forgets a silent
// board, and the device parameters window bound and unbound many times.
#include "sim_fixture.h"
#include "driver_type.h"
#include "laser_object.h"
#include "laser_params.h"
#include "main_window_form.h"

#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

// A device type reply of a board: code 0xD0, the board's CAN ID in byte 1, the type in byte 7.
serial_message_struct type_reply(uint32_t board_can_id, uint32_t type)
{
    serial_message_struct sm;
    sm.id = 0x7FF; // the frame's own identifier is never looked at
    sm.data[0] = 0xD0;
    sm.data[1] = board_can_id;
    sm.data[7] = type;
    return sm;
}

QVector<int> decoded_by(const MainWindow& w, int type)
{
    QVector<int> channels;
    for (int i = 0; i < MainWindow::channel_count; ++i) {
        if (w.channel(i)->worker->device_type.load() == type)
            channels << i + 1;
    }
    return channels;
}

void forget_types(MainWindow& w)
{
    for (int i = 0; i < MainWindow::channel_count; ++i)
        w.channel(i)->worker->device_type.store(0);
}

} // namespace

class test_e2e_channels : public QObject
{
    Q_OBJECT

private slots:
    void routing_by_reply_can_id();
    void emission_indicator_and_tab_buttons();
    void silent_board_is_forgotten_and_comes_back();
    void parameters_window_reopened_sends_one_frame_set();
};

void test_e2e_channels::routing_by_reply_can_id()
{
    e2e::working_dir wd;
    MainWindow w;
    const QVector<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

    struct step
    {
        const char* what;
        uint32_t board_can_id;
        QVector<int> expected;
    };
    // Every CAN ID field at its default "1": all ten channels decode, enabled or not.
    for (const step& s : {step{"own id", 1, all}, step{"other id", 2, {}}}) {
        forget_types(w);
        w.handle_rx_can_message(type_reply(s.board_can_id, driver_type::ps));
        QCOMPARE(decoded_by(w, driver_type::ps), s.expected);
    }
    QCOMPARE(w.form()->label->text(), QString("2"));
    QVERIFY(w.form()->label->isHidden());

    // A channel on 250 decodes everything; new IDs count as soon as they are applied.
    w.findChild<QLineEdit*>("addr_3")->setText("250");
    w.findChild<QLineEdit*>("addr_4")->setText("7");
    w.findChild<QLineEdit*>("addr_5")->setText(""); // applies as 0
    w.form()->pushButton->click();
    QCOMPARE(w.channel(2)->can_id, 250);
    QCOMPARE(w.channel(3)->worker->cw_model.can_id, 7);
    QCOMPARE(w.channel(4)->can_id, 0);
    for (const step& s : {step{"id 1", 1, {1, 2, 3, 6, 7, 8, 9, 10}}, step{"id 7", 7, {3, 4}},
                          step{"id 0", 0, {3, 5}}, step{"id 9", 9, {3}}}) {
        forget_types(w);
        w.handle_rx_can_message(type_reply(s.board_can_id, driver_type::ns));
        QVERIFY2(decoded_by(w, driver_type::ns) == s.expected, s.what);
    }

    // Mini USB mode: channel 1 takes what no channel claims, and still what it claims.
    w.form()->mini_usb_mode_checkbox->click();
    QVERIFY(w.channel(0)->worker->mini_usb_mode.load());
    for (const step& s : {step{"usb id 9", 9, {1, 3}}, step{"usb id 1", 1, {1, 2, 3, 6, 7, 8, 9, 10}}}) {
        forget_types(w);
        w.handle_rx_can_message(type_reply(s.board_can_id, driver_type::cw));
        QVERIFY2(decoded_by(w, driver_type::cw) == s.expected, s.what);
    }
    // Leaving it: channel 1 is an ordinary channel again.
    w.form()->mini_usb_mode_checkbox->click();
    forget_types(w);
    w.handle_rx_can_message(type_reply(9, driver_type::cw));
    QCOMPARE(decoded_by(w, driver_type::cw), QVector<int>({3}));
}

void test_e2e_channels::emission_indicator_and_tab_buttons()
{
    e2e::working_dir wd;
    MainWindow w;
    w.show();
    Ui::MainWindow* ui = w.form();
    QCOMPARE(ui->emitting_label->text(), QString("Emission: OFF"));
    QVERIFY(!ui->emit_on->isVisible() && ui->emit_off->isVisible());

    // Any channel's record counts, enabled or not, whatever its family.
    for (int family = 0; family < 3; ++family) {
        laser_worker* worker = w.channel(7)->worker;
        bool& on = family == 0 ? worker->cw_model.laser_on
                               : family == 1 ? worker->ps_model.laser_on : worker->ns_model.laser_on;
        on = true;
        QTRY_COMPARE_WITH_TIMEOUT(ui->emitting_label->text(), QString("Emission: ON"), 1500);
        QVERIFY(ui->emit_on->isVisible() && !ui->emit_off->isVisible());
        on = false;
        QTRY_COMPARE_WITH_TIMEOUT(ui->emitting_label->text(), QString("Emission: OFF"), 1500);
        QVERIFY(!ui->emit_on->isVisible() && ui->emit_off->isVisible());
    }
    // A Power DCDC output is no laser emission.
    w.channel(0)->worker->dcdc_model.output_on = true;
    QTest::qWait(700);
    QCOMPARE(ui->emitting_label->text(), QString("Emission: OFF"));

    // Panels start collapsed; a tab button opens and closes only its own panel
    // (the list takes clicks while connected).
    ui->scrollArea->setEnabled(true);
    QVERIFY(w.channel(1)->laser_group->isHidden());
    w.channel(1)->laser_tab_button->click();
    QVERIFY(!w.channel(1)->laser_group->isHidden());
    QVERIFY(w.channel(2)->laser_group->isHidden());
    w.channel(1)->laser_tab_button->click();
    QVERIFY(w.channel(1)->laser_group->isHidden());
    // Not a tab button: nothing happens.
    w.laser_tab_button_click();
    QVERIFY(w.channel(0)->laser_group->isHidden());
}

void test_e2e_channels::silent_board_is_forgotten_and_comes_back()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}, {driver_type::ps, 2}});
    QVERIFY(sim->is_running());
    MainWindow w(nullptr, {sim->link_path()});
    e2e::configure_channels(w, {{0, 1}, {1, 2}}, {"one", "two"});
    QVERIFY(e2e::select_port(w, sim->link_path()));
    w.form()->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);

    // Two heartbeats of 4 s at most, plus one view refresh.
    QVERIFY(sim->set_board_silent(1, true));
    QElapsedTimer silent;
    silent.start();
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("No device"), 9000);
    QVERIFY(silent.elapsed() >= 3500);
    QCOMPARE(w.channel(0)->laser_tab_button->text(), QString("one"));
    QCOMPARE(w.channel(0)->worker->device_type.load(), driver_type::lost);
    // The other board answered all along.
    QCOMPARE(w.channel(1)->laser_name_label->text(), QString("PS Type Driver"));

    // Only identification goes to the silent board until it answers again.
    // (A pass begun before the board was forgotten may still be a full one.)
    sim->clear_received_lines();
    QTest::qWait(1500);
    auto passes = e2e::complete_passes(e2e::codes_to(sim->received_lines(), 1));
    QVERIFY(passes.size() >= 2);
    passes.removeFirst();
    for (const auto& pass : passes)
        QCOMPARE(pass, QVector<int>({0xD0, 0xD1}));

    QVERIFY(sim->set_board_silent(1, false));
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 3000);
}

void test_e2e_channels::parameters_window_reopened_sends_one_frame_set()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}, {driver_type::ps, 2}});
    QVERIFY(sim->is_running());
    laser_params params;
    MainWindow w(nullptr, {sim->link_path()});
    w.params_window = &params;
    e2e::configure_channels(w, {{0, 1}, {1, 2}});
    QVERIFY(e2e::select_port(w, sim->link_path()));
    w.form()->connect_button_2->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);

    QSignalSpy hidden(&params, &laser_params::sig_laser_conf_dialog_is_hided);
    for (int round = 0; round < 3; ++round) {
        // Through the panel's own button, as the operator opens it.
        w.channel(round % 2)->config_button_clicked();
        QVERIFY(params.isVisible());
        QCOMPARE(params.laser, w.channel(round % 2));
        QVERIFY(params.active);
        QVERIFY(w.channel(round % 2)->worker->param_reading.load());
        QVERIFY(!w.channel(round % 2)->worker->poll_enabled.load());
        QVERIFY(!w.channel(1 - round % 2)->worker->poll_enabled.load());
        QVERIFY(!w.channel(1 - round % 2)->worker->param_reading.load());
        params.close();
        QCOMPARE(hidden.count(), round + 1);
        // Hiding restores the regular polling of the enabled channels.
        QVERIFY(w.channel(0)->worker->poll_enabled.load() && w.channel(1)->worker->poll_enabled.load());
        QVERIFY(!w.channel(0)->worker->param_reading.load() && !w.channel(1)->worker->param_reading.load());
    }

    // Opened a fourth time for the CW board: one SET writes its frame three times, not twelve.
    w.show_laser_conf_dialog_slot(0);
    sim->clear_received_lines();
    params.findChild<QDoubleSpinBox*>("res_set_spin")->setValue(10000);
    params.findChild<QPushButton*>("res_set_but")->click();
    QTest::qWait(300);
    int r25_frames = 0;
    for (const QByteArray& line : sim->received_lines()) {
        const auto f = e2e::parse_frame(line);
        if (f && f->id == 1 && f->code() == 0x16) {
            ++r25_frames;
            QCOMPARE(int(f->data[6]) << 8 | f->data[7], 10000);
        }
    }
    QCOMPARE(r25_frames, 3);
    int32_t stored = 0;
    QVERIFY(sim->board_register(1, 0x16, stored));
    QCOMPARE(stored, 10000);
    params.close();
    QCOMPARE(hidden.count(), 4);
}

QTEST_MAIN(test_e2e_channels)
#include "test_e2e_channels.moc"
