#include "panel_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace {

// A panel of the given type, set up, emission on, nothing sent yet.
std::unique_ptr<panel_fixture> ready(int type)
{
    auto p = std::make_unique<panel_fixture>();
    p->become(type);
    p->feed({{0x90, 1}, {0xA2, 1}, {0xB3, 2}});
    p->tick(8);
    p->frames->clear();
    return p;
}

int index_of(QComboBox* combo, const char* text)
{
    return combo->findText(QString::fromLatin1(text));
}

// Every widget field with the object-name prefix it binds to.
std::vector<std::pair<QObject*, const char*>> widget_fields(laser_object& o)
{
#define W(field) {o.field, #field}
    return {
        W(cw_widget), W(ps_ns_widget), W(laser_tab_button), {o.laser_group, "laser_group_box"},
        W(cw_curr_widget), W(cw_temp_widget), W(pulse_temp_widget), W(volt_widget), W(freq_widget),
        W(dura_widget), W(alt_but_widget), W(laser_name_label), W(curr_label), W(curr_min_label),
        W(curr_max_label), W(temp_label), W(pulse_temp_label), W(temp_min_label), W(temp_max_label),
        W(temp_pulse_min_label), W(temp_pulse_max_label), W(pulse_volt_label), W(volt_max_label),
        W(volt_min_label), W(freq_label), W(rr_max_label), W(rr_min_label), W(dura_label), W(dura_text),
        W(pd_max_label), W(pd_min_label), W(N_label), W(M_label), W(power_label), W(power_state_label),
        W(pulse_power_state_label), W(fail_title), W(power_title), W(input_volt_title),
        W(input_volt_label), W(mode_label), W(ps_ns_on_off_butt), W(cw_on_off_button),
        W(start_stop_button_alt), W(config_button), W(err_clr_butt), W(fail_butt), W(curr_spin),
        W(temp_spin), W(pulse_temp_spin), W(volt_spin), W(dura_spin), W(pulse_gated_spin),
        W(pulse_cutted_spin), W(freq_combo), W(mode_combo), W(step_size_combo), W(curr_indicator),
        W(volt_indicator), W(temp_indicator), W(pulse_temp_indicator), W(dura_indicator), W(freq_indicator),
    };
#undef W
}

} // namespace

class test_laser_object_controls : public QObject
{
    Q_OBJECT

private slots:
    // The frames each control sends per family, in order, three times each.
    void frames_per_control_and_family()
    {
        struct control_case
        {
            const char* what;
            int type;
            std::function<void(laser_object&)> act;
            std::vector<sent_command> expected;
        };
        auto enter = [](QDoubleSpinBox* laser_object::*spin, double v) {
            return [spin, v](laser_object& o) {
                (o.*spin)->setValue(v);
                QTest::keyClick(o.*spin, Qt::Key_Return);
            };
        };
        auto call = [](void (laser_object::*slot)()) {
            return [slot](laser_object& o) { (o.*slot)(); };
        };
        const std::vector<control_case> cases{
            {"CW current", 8, enter(&laser_object::curr_spin, 123.4), thrice({{0x11, 1234}})},
            {"CW temperature truncates", 8, enter(&laser_object::temp_spin, 25.3), thrice({{0x12, 252}})},
            {"CW TEC", 8, call(&laser_object::laser_tec_on_off_butt_clicked), thrice({{0x21, 1}})},
            {"CW off", 8, call(&laser_object::laser_off), thrice({{0x10, 0}})},
            {"CW emission toggle", 8, [](laser_object& o) { o.cw_on_off_button->click(); },
             thrice({{0x10, 0}})},
            {"CW voltage: nothing", 8, call(&laser_object::laser_voltage_butt_clicked), {}},
            {"Precision CW current", 10, enter(&laser_object::curr_spin, 123.45), thrice({{0x11, 12345}})},
            {"Precision CW temperature", 10, enter(&laser_object::temp_spin, 25.3),
             thrice({{0x12, 253000}})},
            {"DCDC current", 11, enter(&laser_object::curr_spin, 12.3), thrice({{0x11, 1230}})},
            {"DCDC clear errors", 11, [](laser_object& o) { o.err_clr_butt->click(); },
             thrice({{0x29, 0}})},
            {"DCDC off: nothing", 11, call(&laser_object::laser_off), {}},
            {"DCDC TEC: nothing", 11, call(&laser_object::laser_tec_on_off_butt_clicked), {}},
            {"CW clear errors: nothing", 8, call(&laser_object::err_clr_butt_clicked), {}},
            {"PS voltage", 7, enter(&laser_object::volt_spin, 50.0), thrice({{0x18, 500}})},
            {"PS temperature truncates", 7, enter(&laser_object::pulse_temp_spin, 25.3),
             thrice({{0x12, 252}})},
            {"PS TEC", 7, call(&laser_object::laser_tec_on_off_butt_clicked), thrice({{0x21, 1}})},
            {"PS voltage toggle", 7, call(&laser_object::laser_volt_on_off_butt_clicked),
             thrice({{0x20, 1}})},
            {"PS off", 7, call(&laser_object::laser_off), thrice({{0x22, 0}})},
            {"PS rate", 7, [](laser_object& o) { o.freq_target_update(index_of(o.freq_combo, "2000")); },
             thrice({{0x19, 2000}})},
            {"PS gated count", 7, [](laser_object& o) { o.pulse_gated_spin->setValue(17); },
             thrice({{0x34, 17}})},
            {"PS cut count", 7, [](laser_object& o) { o.pulse_cutted_spin->setValue(9); },
             thrice({{0x35, 9}})},
            {"PS pulse width: nothing", 7, [](laser_object& o) { o.pulse_width_target_update(50); }, {}},
            {"NS temperature rounds", 6, enter(&laser_object::pulse_temp_spin, 25.3),
             thrice({{0x12, 253}})},
            {"NS pulse width", 6, [](laser_object& o) { o.dura_spin->setValue(150); },
             thrice({{0x23, 1500}})},
            {"SOA NS rate", 13, [](laser_object& o) { o.freq_target_update(index_of(o.freq_combo, "100")); },
             thrice({{0x19, 100}})},
            {"NS mode", 13, [](laser_object& o) { o.mode_butt_clicked(); }, thrice({{0x24, 0}})},
            // Mended: no set-point loses its high bits on the wire, even one that bypassed its field.
            {"CW current 7000 saturates", 8, [](laser_object& o) {
                 o.worker->cw_model.current_target = 7000.0f;
                 o.laser_current_butt_clicked();
             }, thrice({{0x11, 65535}})},
            {"CW current NaN sends 0", 8, [](laser_object& o) {
                 o.worker->cw_model.current_target = std::numeric_limits<float>::quiet_NaN();
                 o.laser_current_butt_clicked();
             }, thrice({{0x11, 0}})},
            {"DCDC current 700 saturates", 11, [](laser_object& o) {
                 o.worker->dcdc_model.current_target = 700.0f;
                 o.laser_current_butt_clicked();
             }, thrice({{0x11, 65535}})},
            {"PS voltage 1e6 (default limit) saturates", 7, enter(&laser_object::volt_spin, 1e6),
             thrice({{0x18, 65535}})},
            {"PS gated 70000 saturates", 7, [](laser_object& o) { o.pulse_gated_target_update(70000); },
             thrice({{0x34, 65535}})},
            {"PS cut -3 sends 0", 7, [](laser_object& o) { o.pulse_cutted_target_update(-3); }, thrice({{0x35, 0}})},
            {"NS width 9000 saturates", 6, [](laser_object& o) {
                 o.worker->ns_model.pulse_width_set = 9000.0f;
                 o.laser_pulse_width_butt_clicked();
             }, thrice({{0x23, 65535}})},
        };
        for (const control_case& c : cases) {
            auto p = ready(c.type);
            if (c.type == 6 || c.type == 13) {
                // 100 kHz: pulse widths up to 200 ns; 1 ns: every rate passes
                p->feed({{0x99, 100}, {0xA3, 10}});
            }
            c.act(**p);
            const auto sent = take_commands(*p->frames);
            QVERIFY2(sent == c.expected, qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.what), describe(sent))));
            for (const sent_command& s : sent)
                QCOMPARE(s.id, 5);
        }
    }

    void dcdc_emission_toggle()
    {
        auto p = ready(11);
        (*p)->curr_spin->setValue(5.0);
        QVERIFY((*p)->worker->dcdc_model.output_on);
        (*p)->cw_on_off_button->click();
        QCOMPARE((*p)->curr_spin->value(), 0.0);
        EXPECT_SENT(*p->frames, {{0x11, 0}, {0x10, 0}});
        QVERIFY(!(*p)->worker->dcdc_model.output_on);
        QCOMPARE((*p)->worker->dcdc_model.current_set, 0.0f);

        (*p)->start_stop_button_alt->click();
        EXPECT_SENT(*p->frames, {{0x10, 1}});
        QVERIFY((*p)->worker->dcdc_model.output_on);
    }

    void pulsed_emission_toggle()
    {
        for (int type : {7, 6}) {
            auto p = ready(type);
            p->feed(0xA2, 0);
            p->tick();
            (*p)->freq_combo->setCurrentIndex(index_of((*p)->freq_combo, "100"));
            (*p)->freq_target_update((*p)->freq_combo->currentIndex());
            (*p)->volt_spin->setValue(50.0);
            p->frames->clear();

            (*p)->ps_ns_on_off_butt->click();
            EXPECT_SENT(*p->frames, {{0x19, 100}, {0x20, 1}, {0x18, 500}, {0x22, 1}});
            QVERIFY(type == 7 ? (*p)->worker->ps_model.laser_on : (*p)->worker->ns_model.laser_on);

            (*p)->start_stop_button_alt->click();
            EXPECT_SENT(*p->frames, {{0x19, 100}, {0x20, 0}, {0x22, 0}});
        }
    }

    // 2 % duty at a 100 ns pulse: 500 kHz is cut to 200, 100 kHz passes.
    void ns_rate_is_clamped_by_the_duty_cycle()
    {
        auto p = ready(6);
        p->feed(0xA3, 1000); // 100.0 ns
        (*p)->freq_target_update(index_of((*p)->freq_combo, "500"));
        QCOMPARE((*p)->freq_combo->currentText(), QStringLiteral("200"));
        QCOMPARE((*p)->worker->ns_model.frequency_set, 200);
        EXPECT_SENT(*p->frames, {{0x19, 200}});

        (*p)->freq_target_update(index_of((*p)->freq_combo, "100"));
        EXPECT_SENT(*p->frames, {{0x19, 100}});

        // Mended: no pulse width reported puts no limit on the rate.
        p->feed(0xA3, 0);
        (*p)->freq_target_update(index_of((*p)->freq_combo, "50000"));
        EXPECT_SENT(*p->frames, {{0x19, 50000}});

        // Nothing while a type change waits for its setup.
        (*p)->worker->type_changed = true;
        (*p)->freq_target_update(1);
        (*p)->mode_update(0);
        QCOMPARE(p->frames->count(), 0);
    }

    void ns_pulse_width_is_clamped_by_the_rate()
    {
        auto p = ready(6);
        p->feed({{0x99, 100}, {0xA4, 0}});
        (*p)->dura_spin->setValue(250);
        QCOMPARE((*p)->dura_spin->value(), 200.0);
        QCOMPARE((*p)->worker->ns_model.pulse_width_set, 200.0f);
        auto sent = take_commands(*p->frames);
        // Once by the nested run for the clamped spin box, once by the first.
        QVERIFY2(sent.size() == 1 && sent[0].code == 0x23 && sent[0].value == 2000 && sent[0].copies == 6,
                 qPrintable(describe(sent)));

        (*p)->dura_spin->setValue(120);
        EXPECT_SENT(*p->frames, {{0x23, 1200}});

        // External trigger: 6500 ns whatever the rate.
        p->feed(0xA4, 2);
        (*p)->pulse_width_target_update(3000);
        QCOMPARE((*p)->worker->ns_model.pulse_width_set, 3000.0f);
        // Mended: a rate of 0 gives the 6500 ns limit instead of a division by zero.
        p->feed({{0xA4, 0}, {0x99, 0}});
        p->frames->clear();
        (*p)->pulse_width_target_update(6400);
        EXPECT_SENT(*p->frames, {{0x23, 64000}});
    }

    void mode_table()
    {
        struct mode_case
        {
            int type;
            int index;
            int code;
            int burst;
        };
        const mode_case cases[] = {
            {7, 0, 3, 0}, {7, 1, 3, 1}, {7, 2, 2, 0}, {7, 3, 2, 1}, {7, 4, 1, 0},
            {6, 0, 0, 0}, {6, 1, 0, 1}, {13, 2, 2, 0}, {13, 3, 2, 1}, {6, 4, 1, 0},
        };
        for (const mode_case& c : cases) {
            auto p = ready(c.type);
            (*p)->pulse_gated_spin->setValue(5);
            (*p)->pulse_cutted_spin->setValue(7);
            p->frames->clear();
            (*p)->mode_update(c.index);
            const pulse_model_struct& m = c.type == 7 ? static_cast<const pulse_model_struct&>((*p)->worker->ps_model)
                                                      : (*p)->worker->ns_model;
            QCOMPARE(m.mode_set, c.code);
            QCOMPARE(m.burst_enabled, c.burst);
            const auto sent = take_commands(*p->frames);
            // Without burst: gated 1, cut 0, then cut 0 again (six copies in a
            // row) and gated 1.
            const auto expected = c.burst
                ? thrice({{0x24, c.code}, {0x35, 7}, {0x34, 5}, {0x35, 7}, {0x34, 5}})
                : std::vector<sent_command>{{0x24, c.code, 3, 0}, {0x34, 1, 3, 0},
                                            {0x35, 0, 6, 0}, {0x34, 1, 3, 0}};
            QVERIFY2(sent == expected, qPrintable(QStringLiteral("type %1 index %2: %3")
                                                      .arg(c.type).arg(c.index).arg(describe(sent))));
            QCOMPARE((*p)->pulse_gated_spin->value(), 5.0); // the fields keep their values
        }
        // Outside the table, or not a pulsed driver: nothing.
        auto p = ready(7);
        (*p)->mode_update(5);
        (*p)->mode_update(-1);
        auto cw = ready(8);
        (*cw)->mode_update(1);
        QCOMPARE(p->frames->count() + cw->frames->count(), 0);
    }

    void step_size_follows_the_selector()
    {
        auto p = ready(10);
        (*p)->step_size_combo->setCurrentIndex(3);
        QCOMPARE((*p)->curr_spin->singleStep(), 10.0);
        QCOMPARE((*p)->temp_spin->singleStep(), 10.0);
        (*p)->sl_single_step_change(-1);
        QCOMPARE((*p)->curr_spin->singleStep(), 0.0);
    }

    // Mended: limits wider than the field can carry do not let a value wrap.
    void wide_driver_limits_do_not_wrap()
    {
        auto cw = ready(8);
        cw->feed({{0xB7, 40000}, {0xB6, -40000}, {0xA5, 100000}});
        cw->tick();
        cw->frames->clear();
        (*cw)->curr_spin->setValue(1e9);
        QTest::keyClick((*cw)->curr_spin, Qt::Key_Return);
        EXPECT_SENT(*cw->frames, {{0x11, 65535}});
        (*cw)->temp_spin->setValue(-1e9);
        QTest::keyClick((*cw)->temp_spin, Qt::Key_Return);
        auto sent = take_commands(*cw->frames);
        QVERIFY2(sent.size() == 1 && sent[0].value16() <= -32760 && sent[0].value16() < 0, qPrintable(describe(sent)));
    }

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
        QVERIFY(p->power_state_label != p->power_label && p->pulse_temp_label != p->temp_label
                && p->temp_pulse_max_label != p->temp_max_label);
        // Both views hidden, the CAN ID in all four records.
        QVERIFY(all_hidden({p->cw_widget, p->ps_ns_widget}));
        QCOMPARE(p->can_id, 5);
        for (int id : {p->worker->cw_model.can_id.load(), p->worker->ps_model.can_id.load(),
                       p->worker->ns_model.can_id.load(), p->worker->dcdc_model.can_id.load()})
            QCOMPARE(id, 5);
        QVERIFY(!p->worker->isRunning());
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
        // a TEC: the temperature field is shown
        p.feed({{0x90, 1}, {0xB3, 2}});
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
        EXPECT_SENT(*p.frames, {{0x11, 1234}});
        QCOMPARE(p->tx_buf, QByteArray("t005811000000000004D2\r")); // the last line stays in tx_buf

        // The other Enter connections.
        p->temp_spin->setValue(25.3);
        QCOMPARE(p.frames->count(), 0);
        QTest::keyClick(p->temp_spin, Qt::Key_Enter);
        EXPECT_SENT(*p.frames, {{0x12, 252}});
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

QTEST_MAIN(test_laser_object_controls)
#include "test_laser_object_controls.moc"
