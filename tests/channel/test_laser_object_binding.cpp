#include "panel_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<QObject*, const char*>> widget_fields(laser_object& o)
{
    return {
        {o.cw_widget, "cw_widget"}, {o.ps_ns_widget, "ps_ns_widget"},
        {o.laser_tab_button, "laser_tab_button"}, {o.laser_group, "laser_group_box"},
        {o.cw_curr_widget, "cw_curr_widget"}, {o.cw_temp_widget, "cw_temp_widget"},
        {o.pulse_temp_widget, "pulse_temp_widget"}, {o.volt_widget, "volt_widget"},
        {o.freq_widget, "freq_widget"}, {o.dura_widget, "dura_widget"},
        {o.alt_but_widget, "alt_but_widget"}, {o.laser_name_label, "laser_name_label"},
        {o.curr_label, "curr_label"}, {o.curr_min_label, "curr_min_label"},
        {o.curr_max_label, "curr_max_label"}, {o.temp_label, "temp_label"},
        {o.pulse_temp_label, "pulse_temp_label"}, {o.temp_min_label, "temp_min_label"},
        {o.temp_max_label, "temp_max_label"}, {o.temp_pulse_min_label, "temp_pulse_min_label"},
        {o.temp_pulse_max_label, "temp_pulse_max_label"}, {o.pulse_volt_label, "pulse_volt_label"},
        {o.volt_max_label, "volt_max_label"}, {o.volt_min_label, "volt_min_label"},
        {o.freq_label, "freq_label"}, {o.rr_max_label, "rr_max_label"},
        {o.rr_min_label, "rr_min_label"}, {o.dura_label, "dura_label"},
        {o.dura_text, "dura_text"}, {o.pd_max_label, "pd_max_label"},
        {o.pd_min_label, "pd_min_label"}, {o.N_label, "N_label"}, {o.M_label, "M_label"},
        {o.power_label, "power_label"}, {o.power_state_label, "power_state_label"},
        {o.pulse_power_state_label, "pulse_power_state_label"}, {o.fail_title, "fail_title"},
        {o.power_title, "power_title"}, {o.input_volt_title, "input_volt_title"},
        {o.input_volt_label, "input_volt_label"}, {o.mode_label, "mode_label"},
        {o.ps_ns_on_off_butt, "ps_ns_on_off_butt"}, {o.cw_on_off_button, "cw_on_off_button"},
        {o.start_stop_button_alt, "start_stop_button_alt"}, {o.config_button, "config_button"},
        {o.err_clr_butt, "err_clr_butt"}, {o.fail_butt, "fail_butt"},
        {o.curr_spin, "curr_spin"}, {o.temp_spin, "temp_spin"},
        {o.pulse_temp_spin, "pulse_temp_spin"}, {o.volt_spin, "volt_spin"},
        {o.dura_spin, "dura_spin"}, {o.pulse_gated_spin, "pulse_gated_spin"},
        {o.pulse_cutted_spin, "pulse_cutted_spin"}, {o.freq_combo, "freq_combo"},
        {o.mode_combo, "mode_combo"}, {o.step_size_combo, "step_size_combo"},
        {o.curr_indicator, "curr_indicator"}, {o.volt_indicator, "volt_indicator"},
        {o.temp_indicator, "temp_indicator"}, {o.pulse_temp_indicator, "pulse_temp_indicator"},
        {o.dura_indicator, "dura_indicator"}, {o.freq_indicator, "freq_indicator"},
    };
}

} // namespace

class test_laser_object_binding : public QObject
{
    Q_OBJECT

private slots:
    void binds_every_widget_of_a_channel_3_panel()
    {
        panel_fixture p(3, 5);
        QVERIFY(p->bound());
        QCOMPARE(p->panel_widget, &p.container);
        const auto fields = widget_fields(*p);
        QCOMPARE(static_cast<int>(fields.size()), 63);
        for (const auto& f : fields) {
            QVERIFY2(f.first, f.second);
            QCOMPARE(f.first->objectName(), QString::fromLatin1(f.second) + QStringLiteral("_3"));
        }
        // Names that begin like another prefix still reach their own field.
        QVERIFY(p->power_state_label != p->power_label);
        QVERIFY(p->pulse_temp_label != p->temp_label);
        QVERIFY(p->temp_pulse_max_label != p->temp_max_label);

        // Both views hidden, the CAN ID in all four records.
        QVERIFY(p->cw_widget->isHidden());
        QVERIFY(p->ps_ns_widget->isHidden());
        QCOMPARE(p->can_id, 5);
        QCOMPARE(p->worker->cw_model.can_id.load(), 5);
        QCOMPARE(p->worker->ps_model.can_id.load(), 5);
        QCOMPARE(p->worker->ns_model.can_id.load(), 5);
        QCOMPARE(p->worker->dcdc_model.can_id.load(), 5);
        QVERIFY(!p->worker->isRunning());
        QVERIFY(p->tx_buf.isEmpty());
        for (int32_t slot : p->setpoint_sync)
            QCOMPARE(slot, 0);
    }

    void a_later_child_with_the_same_prefix_replaces_an_earlier_one()
    {
        QWidget container;
        build_laser_panel(&container, 2);
        auto* cw = container.findChild<QWidget*>(QStringLiteral("cw_widget_2"));
        QVERIFY(cw);
        auto* later = new QLabel(cw);
        later->setObjectName(QStringLiteral("curr_label_spare"));
        laser_object o(nullptr, 1, &container);
        QVERIFY(o.bound());
        QCOMPARE(o.curr_label, later);
    }

    void signal_and_slots_in_meta_object_order()
    {
        panel_fixture p;
        const QMetaObject* mo = p->metaObject();
        QCOMPARE(QByteArray(mo->className()), QByteArray("laser_object"));
        const QList<QByteArray> expected{
            "show_conf_dialog_signal(int)", "laser_current_butt_clicked()",
            "laser_temperature_butt_clicked()", "laser_frequency_butt_clicked()",
            "laser_tec_on_off_butt_clicked()", "laser_las_on_off_butt_clicked()", "laser_off()",
            "laser_pulse_width_butt_clicked()", "laser_voltage_butt_clicked()",
            "laser_volt_on_off_butt_clicked()", "mode_butt_clicked()",
            "laser_pulse_gated_butt_clicked()", "laser_pulse_cutted_butt_clicked()",
            "config_button_clicked()", "fail_detail_butt_clicked()", "err_clr_butt_clicked()",
            "current_target_update(double)", "temp_target_update(double)",
            "volt_target_update(double)", "freq_target_update(int)",
            "pulse_width_target_update(double)", "mode_update(int)",
            "pulse_gated_target_update(double)", "pulse_cutted_target_update(double)",
            "sl_single_step_change(int)"};
        QCOMPARE(mo->methodCount() - mo->methodOffset(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(mo->method(mo->methodOffset() + i).methodSignature(), expected[i]);
        QCOMPARE(mo->method(mo->methodOffset()).methodType(), QMetaMethod::Signal);
    }

    void config_button_asks_for_the_dialog_of_its_slot()
    {
        panel_fixture p;
        p->index = 4;
        QSignalSpy asked(p.object.get(), &laser_object::show_conf_dialog_signal);
        p->config_button->click();
        QCOMPARE(asked.count(), 1);
        QCOMPARE(asked.at(0).at(0).toInt(), 4);
    }

    // Enter sends the set-point; arrows and typing only store it. (The key goes
    // to the spin box, which has the focus and passes Enter on as the line
    // edit's returnPressed.)
    void enter_sends_arrows_only_store()
    {
        panel_fixture p;
        p.become(8);
        p.feed(0x90, 1);
        p.feed(0xB3, 2); // a TEC: the temperature field is shown
        p.tick();
        QVERIFY(p->curr_spin->isEnabled());
        p.frames->clear();

        p->curr_spin->setValue(123.4);
        p->curr_spin->stepUp();
        QCOMPARE(p.frames->count(), 0);
        QCOMPARE(p->worker->cw_model.current_target, 123.5f);
        p->curr_spin->stepDown();
        QTest::keyClick(p->curr_spin, Qt::Key_Return);
        QCOMPARE(p->worker->cw_model.current_set, 123.4f);
        const auto sent = take_commands(*p.frames);
        QVERIFY2(sent == thrice({{0x11, 1234}}), qPrintable(describe(sent)));
        QCOMPARE(sent.front().id, 5);
        QCOMPARE(p->tx_buf.size(), 22);
        QCOMPARE(line_byte(p->tx_buf, 0), 0x11);

        // The other Enter connections.
        p->temp_spin->setValue(25.3);
        QCOMPARE(p.frames->count(), 0);
        QTest::keyClick(p->temp_spin, Qt::Key_Enter);
        QVERIFY(take_commands(*p.frames) == thrice({{0x12, 252}}));
    }

    void a_panel_without_a_widget_is_refused_not_crashed()
    {
        QWidget container;
        build_laser_panel(&container, 2);
        delete container.findChild<QDoubleSpinBox*>(QStringLiteral("curr_spin_2"));
        delete container.findChild<QLabel*>(QStringLiteral("mode_label_2"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("laser_widget_2.*mode_label, curr_spin")));
        laser_object o(nullptr, 7, &container);
        QVERIFY(!o.bound());
        for (const auto& f : widget_fields(o))
            QVERIFY2(f.first, f.second);
        QCOMPARE(o.worker->cw_model.can_id.load(), 7);

        // Inert: refreshing a known type changes nothing on the panel.
        const QString before = o.laser_name_label->text();
        serial_message_struct sm;
        sm.data[0] = 0xD0;
        sm.data[7] = 8;
        o.handle_driver_message(sm);
        o.view_update();
        QCOMPARE(o.laser_name_label->text(), before);
        o.curr_spin->setValue(3.0); // a stand-in, connected to nothing
    }
};

QTEST_MAIN(test_laser_object_binding)
#include "test_laser_object_binding.moc"
