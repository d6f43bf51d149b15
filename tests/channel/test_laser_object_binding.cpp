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
#include <utility>
#include <vector>

namespace {

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

QTEST_MAIN(test_laser_object_binding)
#include "test_laser_object_binding.moc"
