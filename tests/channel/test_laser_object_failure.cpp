#include "panel_fixture.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QTest>

namespace {

const QString near_input_text = QStringLiteral(
    "Output voltage is higher than 80% of input voltage, \nSOLUTION: increase the input voltage\n");

// A Power DCDC panel with its readings: output on/off, volts out and in, fault byte.
void dcdc_reading(panel_fixture& p, bool on, int out_dv, int in_dv, int faults)
{
    p.feed(0x90, on ? 1 : 0);
    p.feed(0xA6, out_dv);
    p.feed(0x94, in_dv);
    p.feed(0xB0, faults);
}

} // namespace

class test_laser_object_failure : public QObject
{
    Q_OBJECT

private slots:
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

QTEST_MAIN(test_laser_object_failure)
#include "test_laser_object_failure.moc"
