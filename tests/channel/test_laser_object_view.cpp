#include "panel_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <limits>

namespace {

const QString degrees = QString::fromUtf8(" \u00B0C");

QStringList items(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

// Counts the events that a widget gets when the refresh re-applies state.
class change_counter : public QObject
{
public:
    explicit change_counter(QWidget* root)
    {
        root->installEventFilter(this);
        for (QWidget* w : root->findChildren<QWidget*>())
            w->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::StyleChange:
        case QEvent::Polish:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
        case QEvent::EnabledChange:
        case QEvent::FontChange:
            ++count;
            break;
        default:
            break;
        }
        return false;
    }
};

const QString near_input_text = QStringLiteral(
    "Output voltage is higher than 80% of input voltage, \nSOLUTION: increase the input voltage\n");

// A Power DCDC panel with its readings: output on/off, volts out and in, fault byte.
void dcdc_reading(panel_fixture& p, bool on, int out_dv, int in_dv, int faults)
{
    p.feed({{0x90, on ? 1 : 0}, {0xA6, out_dv}, {0x94, in_dv}, {0xB0, faults}});
}

} // namespace

class test_laser_object_view : public QObject
{
    Q_OBJECT

private slots:
    void no_device()
    {
        for (int type : {0, -1, 9}) {
            panel_fixture p;
            p->cw_widget->show();
            p.become(type);
            QCOMPARE(texts({p->laser_name_label, p->laser_tab_button}), (QStringList{"No device", "Seed"}));
            QVERIFY(all_hidden({p->cw_widget, p->ps_ns_widget, p->config_button, p->alt_but_widget}));
        }
    }

    void cw_view_texts_limits_and_setup()
    {
        panel_fixture p;
        // 123.4 mA; 25.3 °C; 5.7 mW; 150.0 mA after the temperature limits; 0.2 A TEC limit
        p.feed({{0xD0, 8}, {0x90, 1}, {0x91, 1234}, {0x92, 253}, {0x94, 57}, {0xB7, 350}, {0xB6, 150},
                {0xA5, 1500}, {0xA6, 0}, {0xB3, 2}});
        const QString old_curr = p->curr_label->text();
        const QString old_temp = p->temp_label->text();
        p.tick();

        QCOMPARE(p->laser_name_label->text(), QStringLiteral("CW Type Driver"));
        QCOMPARE(p->laser_tab_button->text(),
                 QStringLiteral("Seed (CW Type 123.4/") + old_curr + QStringLiteral("  25.3/") + old_temp
                     + QStringLiteral(" )"));
        QVERIFY(none_hidden({p->cw_widget, p->alt_but_widget, p->config_button, p->temp_spin}));
        QVERIFY(all_hidden({p->ps_ns_widget, p->input_volt_title, p->input_volt_label, p->fail_title,
                            p->fail_butt, p->err_clr_butt}));
        QCOMPARE(items(p->step_size_combo), (QStringList{"0.1", "1", "10"}));
        QCOMPARE(p->curr_spin->singleStep(), 0.1);
        QCOMPARE(p->curr_spin->decimals(), 1);
        QVERIFY(!p->worker->type_changed);
        // Adopted on this tick: the current; the temperature waits.
        QCOMPARE(p->curr_spin->value(), 123.4);
        QCOMPARE(p->setpoint_sync[sync_slot::current], 0);
        QCOMPARE(p->setpoint_sync[sync_slot::temperature], 2);
        QVERIFY(p->cw_on_off_button->isChecked() && p->start_stop_button_alt->isChecked());
        QVERIFY(p->cw_curr_widget->isEnabled() && p->cw_temp_widget->isEnabled());
        QCOMPARE(texts({p->power_state_label, p->power_title, p->power_label, p->curr_label, p->curr_min_label,
                        p->curr_max_label, p->temp_label, p->temp_min_label, p->temp_max_label}),
                 (QStringList{"ON", "Power:", "5.7 mW", "123.4 mA", "0.0 mA", "150.0 mA", "25.3" + degrees,
                              "15.0" + degrees, "35.0" + degrees}));
        QCOMPARE(p->curr_spin->maximum(), 150.0);
        QCOMPARE(p->temp_spin->minimum(), 15.0);
        QCOMPARE(p->temp_spin->maximum(), 35.0);
        QCOMPARE(p->curr_indicator->value(), 82);  // 123.4 of 150
        QCOMPARE(p->temp_indicator->value(), 51);  // 10.3 of 20

        // Next tick: the temperature is adopted; the tab shows last tick's labels.
        p.tick();
        QCOMPARE(p->temp_spin->value(), 25.3);
        QCOMPARE(p->setpoint_sync[sync_slot::temperature], 0);
        QCOMPARE(p->laser_tab_button->text(),
                 QStringLiteral("Seed (CW Type 123.4/123.4 mA  25.3/25.3") + degrees + QStringLiteral(" )"));

        // No TEC: no temperature set-point. Emission off: set-points locked.
        p.feed({{0xB3, 1}, {0x90, 0}});
        p.tick();
        QVERIFY(p->temp_spin->isHidden());
        QCOMPARE(p->power_state_label->text(), QStringLiteral("OFF"));
        QVERIFY(!p->cw_on_off_button->isChecked());
        QVERIFY(!p->cw_curr_widget->isEnabled() && !p->cw_temp_widget->isEnabled());

        // Current below its set-point by more than 0.5 mA is shown red.
        cw_model_struct& m = p->worker->cw_model;
        m.current_set = 100.0f;
        m.current = 99.6f;
        p.tick();
        QCOMPARE(p->curr_label->styleSheet(), QStringLiteral("QLabel { color : black; }"));
        m.current = 99.4f;
        p.tick();
        QCOMPARE(p->curr_label->styleSheet(), QStringLiteral("QLabel { color : red; }"));
    }

    void precision_cw_after_cw()
    {
        panel_fixture p;
        p.become(8);
        // 123.4567 mA
        p.feed({{0xD0, 10}, {0x91, 1234567}});
        p.tick();
        QCOMPARE(p->laser_name_label->text(), QStringLiteral("Precision CW Type Driver"));
        QCOMPARE(items(p->step_size_combo), (QStringList{"0.01", "0.1", "1", "10"}));
        for (QDoubleSpinBox* spin : {p->curr_spin, p->temp_spin}) {
            QCOMPARE(spin->decimals(), 2);
            QCOMPARE(spin->singleStep(), 0.01);
        }
        QCOMPARE(texts({p->curr_label, p->temp_label}), (QStringList{"123.46 mA", "0.00" + degrees}));
        p.tick();
        QVERIFY(p->laser_tab_button->text().startsWith(QStringLiteral("Seed (Precision CW Type 123.46/123.46 mA  0.00/0.00")));
    }

    void dcdc_view()
    {
        panel_fixture p;
        // 2.50 A; 41.5 °C; 12.0 V out; 24.0 V in
        p.feed({{0xD0, 11}, {0x90, 1}, {0x91, 250}, {0x92, 415}, {0xA6, 120}, {0x94, 240}, {0xB0, 0}});
        const QString old_curr = p->curr_label->text();
        const QString old_temp = p->temp_label->text();
        p.tick();
        QCOMPARE(p->laser_name_label->text(), QStringLiteral("Power DCDC Type Driver"));
        QCOMPARE(p->laser_tab_button->text(), QStringLiteral("Seed (Power DCDC Type 2.50/") + old_curr
                                                  + QStringLiteral("  ") + old_temp + QStringLiteral(" )"));
        QVERIFY(!p->cw_widget->isHidden() && p->ps_ns_widget->isHidden());
        QVERIFY(p->temp_spin->isHidden());
        QCOMPARE(items(p->step_size_combo), (QStringList{"0.1", "1"}));
        QCOMPARE(p->curr_spin->value(), 2.5);
        QCOMPARE(p->curr_spin->maximum(), 14.0);
        QCOMPARE(p->temp_indicator->value(), 59);
        QCOMPARE(texts({p->curr_label, p->curr_max_label, p->temp_label, p->temp_max_label, p->power_title,
                        p->power_label, p->input_volt_label, p->power_state_label}),
                 (QStringList{"2.5 A", "14.0 A", "41.5" + degrees, "70.0" + degrees, "Output voltage:", "12.0 V",
                              "24.0 V", "ON"}));
        QVERIFY(none_hidden({p->input_volt_title, p->input_volt_label}));
        QVERIFY(all_hidden({p->fail_title, p->fail_butt, p->err_clr_butt}));
        p.tick();
        QCOMPARE(p->laser_tab_button->text(),
                 QStringLiteral("Seed (Power DCDC Type 2.50/2.5 A  41.5") + degrees + QStringLiteral(" )"));
    }

    void ps_view_and_adoption_order()
    {
        panel_fixture p;
        // emission on; 123.4 V; internal trigger with gated and cut set: Int: Burst; 200.0 V
        p.feed({{0xD0, 7}, {0xA2, 1}, {0x98, 1234}, {0x92, 253}, {0x99, 100}, {0xB4, 3}, {0xB5, 2}, {0xA4, 3},
                {0xA5, 2000}, {0xA6, 0}});
        p.frames->clear();

        // One adopted set-point per tick, in table order.
        p.tick();
        QCOMPARE(p->volt_spin->value(), 123.4);
        QCOMPARE(p->setpoint_sync[sync_slot::temperature], 2);
        p.tick();
        QCOMPARE(p->pulse_temp_spin->value(), 25.3);
        QCOMPARE(p->freq_combo->currentText(), QStringLiteral("100")); // selected by the setup
        p->freq_combo->setCurrentIndex(0);
        p.tick();
        QCOMPARE(p->freq_combo->currentText(), QStringLiteral("100"));
        QCOMPARE(p->setpoint_sync[sync_slot::mode], 2);
        p.tick();
        QCOMPARE(p->mode_combo->currentText(), QStringLiteral("Int: Burst"));
        QCOMPARE(p->setpoint_sync[sync_slot::gated], 2);
        p.tick();
        QCOMPARE(p->pulse_gated_spin->value(), 3.0);
        QCOMPARE(p->setpoint_sync[sync_slot::cutted], 2);
        p.tick();
        QCOMPARE(p->pulse_cutted_spin->value(), 2.0);
        for (int32_t slot : p->setpoint_sync)
            QCOMPARE(slot, 0);
        // Loading the counts sends them back, the combo boxes send nothing.
        EXPECT_SENT(*p.frames, {{0x34, 3}, {0x35, 2}});

        QCOMPARE(p->laser_name_label->text(), QStringLiteral("PS Type Driver"));
        QCOMPARE(p->laser_tab_button->text(),
                 QStringLiteral("Seed (PS Type 123.4/123.4 V  25.3/25.3") + degrees
                     + QStringLiteral("  100/100 kHz  Int: Burst)"));
        QVERIFY(all_hidden({p->cw_widget, p->dura_label, p->dura_text, p->dura_widget}) && !p->ps_ns_widget->isHidden());
        QVERIFY(p->ps_ns_on_off_butt->isChecked() && p->start_stop_button_alt->isChecked());
        QVERIFY(!p->mode_combo->isEnabled());
        QVERIFY(p->volt_widget->isEnabled() && p->pulse_temp_widget->isEnabled());
        QCOMPARE(p->volt_indicator->value(), 61);
        QCOMPARE(p->volt_spin->maximum(), 200.0);
        QCOMPARE(texts({p->dura_label, p->pulse_power_state_label, p->pulse_volt_label, p->volt_min_label,
                        p->volt_max_label, p->temp_pulse_max_label, p->N_label, p->M_label, p->mode_label}),
                 (QStringList{"N/A ", "ON", "123.4 V", "0 V", "200 V", "35.0" + degrees, "3", "2", "Int: Burst"}));
        QCOMPARE(items(p->mode_combo), (QStringList{"Int: Normal", "Int: Burst", "Ext: Normal",
                                                    "Ext: Burst", "Pulse on Demand"}));
        QCOMPARE(p->freq_label->text(), QStringLiteral("100 kHz"));
        QVERIFY(p->pulse_gated_spin->isEnabled() && p->pulse_cutted_spin->isEnabled());

        // Burst: the 50000 kHz rate leaves the list; back in a normal mode it returns.
        QCOMPARE(p->freq_combo->count(), 42);
        QCOMPARE(texts({p->rr_max_label, p->rr_min_label}), (QStringList{"25000", "1"}));
        QCOMPARE(p->freq_indicator->value(), 0); // 99 of 24999
        // read while off: shown as 0
        p.feed({{0xB5, 0}, {0xA4, 3}, {0xA2, 0}, {0x98, 1234}});
        p.tick();
        QCOMPARE(p->freq_combo->count(), 43);
        QCOMPARE(p->freq_combo->itemText(42), QStringLiteral("50000"));
        QCOMPARE(texts({p->rr_max_label, p->mode_label}), (QStringList{"50000", "Int: Normal"}));
        QVERIFY(!p->pulse_gated_spin->isEnabled() && !p->pulse_cutted_spin->isEnabled());
        QVERIFY(p->mode_combo->isEnabled() && !p->volt_widget->isEnabled());
        QCOMPARE(p->pulse_volt_label->text(), QStringLiteral("0.0 V")); // off: no voltage
        p.feed(0xA4, 1);
        p.tick();
        QCOMPARE(p->mode_label->text(), QStringLiteral("Pulse on Demand"));
        QVERIFY(!p->freq_combo->isEnabled());
    }

    void ns_view_ranges()
    {
        panel_fixture p;
        // rate 100 kHz, width 100.0 ns, internal trigger
        p.feed({{0xD0, 13}, {0x99, 100}, {0xA3, 1000}, {0xA4, 0}});
        p.tick(8); // through the adoption ticks
        QCOMPARE(p->laser_name_label->text(), QStringLiteral("SOA NS Type Driver"));
        QVERIFY(none_hidden({p->dura_label, p->dura_text, p->dura_widget}));
        QCOMPARE(p->dura_spin->value(), 100.0);
        QCOMPARE(p->worker->ns_model.pulse_width_max, 200.0f);
        QCOMPARE(p->dura_indicator->value(), 49); // 99 of 199
        // Duty-limited rates: 2 % at 100 ns allows 200 kHz.
        QCOMPARE(texts({p->dura_label, p->pd_max_label, p->pd_min_label, p->rr_max_label, p->rr_min_label}),
                 (QStringList{"100.0 ns", "200", "1", "200", "1"}));
        QCOMPARE(p->freq_indicator->value(), 49);
        const QString tab = p->laser_tab_button->text();
        QVERIFY2(tab.startsWith(QStringLiteral("Seed (SOA NS Type 0.0/0.0 V  0.0/0.0")), qPrintable(tab));
        QVERIFY2(tab.endsWith(QStringLiteral("  100/100 kHz  ") + p->dura_spin->text()
                              + QStringLiteral("/100.0 ns  Int: Normal)")),
                 qPrintable(tab));

        p.feed(0xA4, 1); // pulse on demand: no rate limit on the width
        p.tick();
        QCOMPARE(p->pd_max_label->text(), QStringLiteral("6500"));
        p.feed({{0xA4, 0}, {0x99, 25000}});
        p.tick();
        QCOMPARE(p->pd_max_label->text(), QStringLiteral("1"));

        // Mended: no rate reported gives the free limit; no width, no rate limit.
        p.feed({{0x99, 0}, {0xA3, 0}});
        p.tick();
        QCOMPARE(texts({p->pd_max_label, p->rr_max_label}), (QStringList{"6500", "50000"}));
        QCOMPARE(p->freq_indicator->value(), 0);
        // A width so long that no rate qualifies keeps the previous range.
        p.feed(0xA3, 65000); // 6500 ns: 3 kHz at most
        p.tick();
        QCOMPARE(p->rr_max_label->text(), QStringLiteral("3"));
        p->worker->ns_model.pulse_width = 1e9f;
        p.tick();
        QCOMPARE(p->rr_max_label->text(), QStringLiteral("3"));
    }

    // Bars without a range, or with the value outside it, stay within 0..100.
    void percent_bars_are_held()
    {
        panel_fixture p;
        p.become(8);
        cw_model_struct& m = p->worker->cw_model;
        m.current_min = m.current_max = 50.0f;
        m.current = 50.0f;
        p.tick();
        QCOMPARE(p->curr_indicator->value(), 0);
        m.current_max = 100.0f;
        m.current = 500.0f;
        m.temperature = -300.0f;
        p.tick();
        QCOMPARE(p->curr_indicator->value(), 100);
        QCOMPARE(p->temp_indicator->value(), 0);
        m.current = std::numeric_limits<float>::quiet_NaN();
        m.temperature = std::numeric_limits<float>::infinity();
        p.tick();
        QCOMPARE(p->curr_indicator->value(), 0);
        QCOMPARE(p->temp_indicator->value(), 0);
        m.current_min = 80.0f; // reversed limits
        m.current_max = 20.0f;
        m.current = 50.0f;
        p.tick();
        QCOMPARE(p->curr_indicator->value(), 0);
    }

    // A driver's reported range beyond what the command carries is narrowed.
    void input_ranges_carry_without_wrapping()
    {
        panel_fixture p;
        p.become(8);
        // 4000.0 °C; 10000.0 mA
        p.feed({{0xB7, 40000}, {0xB6, -40000}, {0xA5, 100000}});
        p.tick();
        QCOMPARE(p->curr_spin->maximum(), 6553.5);
        QCOMPARE(p->temp_spin->maximum(), 3276.7);
        QVERIFY(p->temp_spin->minimum() >= -3276.8 && p->temp_spin->minimum() <= -3276.0);
        QCOMPARE(p->curr_max_label->text(), QStringLiteral("10000.0 mA")); // the driver's word

        panel_fixture d;
        d.become(11);
        d->worker->dcdc_model.current_max = 1000.0f;
        d.tick();
        QCOMPARE(d->curr_spin->maximum(), 655.3);

        panel_fixture n;
        n.become(6); // voltage limit 1000000 V until the driver reports one
        n.tick();
        QCOMPARE(n->volt_spin->maximum(), 6553.5);
        QVERIFY(n->dura_spin->maximum() <= 6553.5);
        QVERIFY(n->pulse_gated_spin->maximum() <= 65535 && n->pulse_gated_spin->minimum() >= 0);
    }

    // An unchanged tick touches no widget state.
    void an_unchanged_tick_changes_nothing()
    {
        for (int type : {8, 10, 11, 7, 6}) {
            panel_fixture p;
            p.container.show();
            // DCDC: 35 V out, a warning
            p.feed({{0xD0, type}, {0x90, 1}, {0xA2, 1}, {0xA6, 350}, {0x94, 400}});
            box_answerer answer;
            p.tick(10);
            QCoreApplication::processEvents();
            change_counter counter(&p.container);
            const QString tab = p->laser_tab_button->text();
            p.tick(3);
            QCoreApplication::processEvents();
            QVERIFY2(counter.count == 0, qPrintable(QStringLiteral("type %1: %2 changes").arg(type).arg(counter.count)));
            QCOMPARE(p->laser_tab_button->text(), tab);
            // The counter does see a real change: emission going off.
            p.feed({{0x90, 0}, {0xA2, 0}});
            p.tick();
            QCoreApplication::processEvents();
            QVERIFY(counter.count > 0);
        }
    }

    void output_close_to_input_warns_once()
    {
        box_answerer answer;
        panel_fixture p;
        p.become(11);
        dcdc_reading(p, true, 240, 280, 0); // 24.0 of 28.0 V: ratio 0.857
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(1u << 8));
        QCOMPARE(p->fail_title->text(), QStringLiteral("WARNING!"));
        QVERIFY(!p->fail_title->isHidden() && !p->fail_butt->isHidden());
        QVERIFY(p->err_clr_butt->isHidden());
        QCOMPARE(p->curr_label->styleSheet(), QStringLiteral("QLabel { color : red; }"));
        QCOMPARE(answer.boxes.size(), size_t(1));
        QCOMPARE(answer.boxes[0].title, QStringLiteral("WARNING"));
        QCOMPARE(answer.boxes[0].text, near_input_text);
        QCOMPARE(answer.boxes[0].buttons, 1);
        QVERIFY(answer.boxes[0].ok_button);

        // Closed while the flags stay: it does not open again.
        p.tick(3);
        QCOMPARE(answer.boxes.size(), size_t(1));
        // The details button opens it on demand.
        p->fail_butt->click();
        QCOMPARE(answer.boxes.size(), size_t(2));

        // Output off: no warning; flags gone, the next appearance opens it again.
        dcdc_reading(p, false, 240, 280, 0);
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(0));
        QVERIFY(p->fail_title->isHidden() && p->fail_butt->isHidden());
        QCOMPARE(p->curr_label->styleSheet(), QStringLiteral("QLabel { color : black; }"));
        dcdc_reading(p, true, 240, 280, 0);
        p.tick();
        QCOMPARE(answer.boxes.size(), size_t(3));

        // No input voltage while on: an infinite ratio warns.
        dcdc_reading(p, true, 10, 0, 0);
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(1u << 8));
        dcdc_reading(p, true, 0, 0, 0);
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(0));
    }

    // Above 30 V the current is bounded by 420 W; the bound stays afterwards.
    void power_bound_above_30_volts()
    {
        box_answerer answer;
        panel_fixture p;
        p.become(11);
        dcdc_reading(p, false, 350, 1000, 0);
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(1u << 9));
        QCOMPARE(p->worker->dcdc_model.current_max, 12.0f);
        QCOMPARE(p->curr_max_label->text(), QStringLiteral("12.0 A"));
        QCOMPARE(p->curr_spin->maximum(), 12.0);
        QCOMPARE(answer.boxes.size(), size_t(1));
        QCOMPARE(answer.boxes[0].text, QStringLiteral("Output power is close to MAX\n"));

        dcdc_reading(p, false, 250, 1000, 0);
        p.tick();
        QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(0));
        QCOMPARE(p->worker->dcdc_model.current_max, 12.0f);
        QCOMPARE(p->curr_spin->maximum(), 12.0);
    }

    void driver_faults()
    {
        box_answerer answer;
        panel_fixture p;
        p.become(11);
        dcdc_reading(p, false, 0, 240, 0x05);
        p.tick();
        QCOMPARE(p->fail_title->text(), QStringLiteral("!!!FAILURE!!!"));
        QVERIFY(!p->fail_title->isHidden() && !p->fail_butt->isHidden() && !p->err_clr_butt->isHidden());
        QCOMPARE(p->curr_label->styleSheet(), QStringLiteral("QLabel { color : black; }"));
        QCOMPARE(answer.boxes.size(), size_t(1));
        QCOMPARE(answer.boxes[0].text, QStringLiteral("flag_NO_Load\nflag_Overtemp\n"));

        // Faults and a warning together: the title reads WARNING!, both listed.
        dcdc_reading(p, false, 310, 1000, 0x05);
        p.tick();
        QCOMPARE(p->fail_title->text(), QStringLiteral("WARNING!"));
        QVERIFY(!p->err_clr_butt->isHidden());
        p->fail_butt->click();
        QCOMPARE(answer.boxes.back().text,
                 QStringLiteral("flag_NO_Load\nflag_Overtemp\nOutput power is close to MAX\n"));

        // Clearing sends the command; the display follows the driver's next reply.
        p.frames->clear();
        p->err_clr_butt->click();
        EXPECT_SENT(*p.frames, {{0x29, 0}});
        QVERIFY(!p->fail_title->isHidden());
        dcdc_reading(p, false, 0, 1000, 0);
        p.tick();
        QVERIFY(p->fail_title->isHidden() && p->fail_butt->isHidden() && p->err_clr_butt->isHidden());
    }

    // Mended: one channel's clear flags do not re-open another channel's box.
    void the_latch_is_per_channel()
    {
        box_answerer answer;
        panel_fixture flagged;
        panel_fixture clear;
        flagged.become(11);
        clear.become(11);
        dcdc_reading(flagged, false, 0, 240, 0x02);
        dcdc_reading(clear, false, 0, 240, 0);
        for (int i = 0; i < 4; ++i) {
            flagged.tick();
            clear.tick();
        }
        QCOMPARE(answer.boxes.size(), size_t(1));
        QCOMPARE(answer.boxes[0].text, QStringLiteral("flag_ALARM_INTERLOCK\n"));
    }

    void other_types_show_no_failure()
    {
        box_answerer answer;
        panel_fixture p;
        p.become(11);
        dcdc_reading(p, false, 0, 240, 0x05);
        p.tick();
        QCOMPARE(answer.boxes.size(), size_t(1));
        p.become(8); // the same board now reports CW: its tick hides the failure line
        QVERIFY(p->fail_title->isHidden() && p->fail_butt->isHidden() && p->err_clr_butt->isHidden());
        p->fail_detail_butt_clicked();
        QCOMPARE(answer.boxes.size(), size_t(1));
        p.frames->clear();
        p->err_clr_butt_clicked();
        QCOMPARE(p.frames->count(), 0);
    }
};

QTEST_MAIN(test_laser_object_view)
#include "test_laser_object_view.moc"
