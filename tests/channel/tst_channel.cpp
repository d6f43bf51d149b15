#include "channel_fixture.h"

namespace {

using action = std::function<void(panel&)>;

// A worker polling type `type`, stopped before its log goes.
struct polled
{
    polled(int type, bool params, bool monitor, int delay = 0, bool mini = false) : w(nullptr, delay)
    {
        w.device_type = type, w.param_reading = params, w.poll_enabled = monitor, w.mini_usb_mode = mini;
        w.set_can_id(0x2A);
    }
    ~polled() { w.stop_and_wait(); }
    laser_worker w;
    frame_log log{w};
};

// A panel of `type` after its setup ticks, emission `on`, a TEC, nothing sent yet.
std::unique_ptr<panel> ready(int type, bool on = true)
{
    auto p = std::make_unique<panel>();
    p->feed({{0xD0, type}, {0x90, on}, {0xA2, on}, {0xB3, 2}, {0x99, 100}, {0xA3, 10}});
    p->tick(8);
    p->sent();
    return p;
}

action set(const char* spin, double v) { return [=](panel& p) { p.w<QDoubleSpinBox>(spin)->setValue(v); }; }
action enter(const char* spin, double v) { return [=](panel& p) { set(spin, v)(p), QTest::keyClick(p.w(spin), Qt::Key_Return); }; }
action call(void (laser_object::*slot)()) { return [=](panel& p) { (p.o.get()->*slot)(); }; }
action off(command_origin from) { return [=](panel& p) { QVERIFY(p.o->request_output(false, from).ok()); }; }
action rate(const char* r) { return [=](panel& p) { p->freq_target_update(p.w<QComboBox>("freq_combo")->findText(r)); }; }
action then(const replies& r, action a) { return [=](panel& p) { p.feed(r); a(p); }; }
// The counts at 5 and 7, then a pulse mode chosen.
action mode(int i) { return [=](panel& p) { set("pulse_gated_spin", 5)(p), set("pulse_cutted_spin", 7)(p), p.sent(), p->mode_update(i); }; }

void expect_state(panel& p, const QString& what, const QString& expected)
{
    for (const QString& pair : expected.split('|', Qt::SkipEmptyParts)) {
        const QString key = pair.section('=', 0, 0), want = pair.section('=', 1);
        QVERIFY2(p.state(key) == want, qPrintable(what + ": " + key + " is " + p.state(key) + ", want " + want));
    }
}

const QString deg = QString::fromUtf8(" \u00B0C");

} // namespace

class tst_channel : public QObject
{
    Q_OBJECT

private slots:
    // Every type and mode on one scheduler driven by an injected clock: the
    // passes' codes and fields, and every frame at its exact instant, so a
    // slower pace or a longer rest fails however loaded the machine is. Late
    // wake-ups keep the channels in step: a little late keeps the instant,
    // too late for the transport's tick moves everyone due then to the same
    // next instant.
    void worker_passes_on_clock()
    {
        using namespace std::chrono;
        const QString cw_mon = "90 21 91 92 94 A5 A6 B7 B6 B3", params = "96 95 97 A5 A6 B7 B6";
        const QString ps_mon = "A4 21 A2 98 92 B4 99 B5 A5 A6 B7 B6", ns_mon = "A4 21 A2 98 92 B4 99 B5 A3 A5 A6 B7 B6";
        struct row { const char* what; int type; bool params, monitor; QString pass; bool mini = false; };
        const std::vector<row> rows{
            {"CW monitoring", 8, false, true, cw_mon}, {"CW monitoring, twin", 8, false, true, cw_mon},
            {"Precision CW monitoring", 10, false, true, cw_mon}, {"CW, mini USB", 8, false, true, cw_mon, true},
            {"CW read-out", 8, true, false, params + " B3"}, {"both flags: read-out wins", 10, true, true, params + " B3"},
            {"PS monitoring", 7, false, true, ps_mon}, {"PS read-out", 7, true, false, params},
            {"NS monitoring", 6, false, true, ns_mon}, {"SOA NS monitoring", 13, false, true, ns_mon},
            {"SOA NS read-out", 13, true, true, params}, {"DCDC monitoring", 11, false, true, "90 91 92 B0 A6 94"},
            {"DCDC read-out", 11, true, false, ""}, {"DCDC both flags", 11, true, true, ""},
            {"type 9", 9, false, true, ""}, {"no type, mini USB", 0, true, false, "", true}, {"lost", -1, false, true, ""},
            {"neither flag", 8, false, false, "-"}, // last
        };
        for (const bool late_wakes : {false, true}) {
            auto clock = std::make_shared<poll_scheduler>(poll_scheduler::mode::manual);
            const auto t0 = clock->now();
            std::vector<std::unique_ptr<laser_worker>> workers;
            std::vector<std::vector<std::pair<qint64, QByteArray>>> at(rows.size());
            for (size_t i = 0; i < rows.size(); ++i) {
                workers.push_back(std::make_unique<laser_worker>(clock, nullptr, 2000));
                laser_worker& w = *workers.back();
                w.device_type = rows[i].type, w.param_reading = rows[i].params, w.poll_enabled = rows[i].monitor;
                w.mini_usb_mode = rows[i].mini;
                w.set_can_id(0x2A);
                QObject::connect(&w, &laser_worker::thread_serial_write, &w, [&, i](const QByteArray& line) {
                    at[i].emplace_back(duration_cast<microseconds>(clock->now() - t0).count(), line);
                }, Qt::DirectConnection);
                w.start_polling();
            }
            // Every wake-up 1.5 ms late; one at 10 s comes 6 ms late.
            const auto late = [&](poll_scheduler::time_point due) {
                return microseconds(!late_wakes ? 0 : due - t0 == milliseconds(10005) ? 6000 : 1500);
            };
            clock->advance_to(t0 + seconds(20), late);
            const qint64 late_frame = 10011000; // the wake-up for 10005 ms
            int late_hits = 0;
            const auto codes = [](const std::vector<std::pair<qint64, QByteArray>>& t, size_t n) {
                QStringList out;
                for (size_t k = 0; k < n && k < t.size(); ++k)
                    out << t[k].second.mid(5, 2);
                return out.join(' ');
            };
            for (size_t i = 0; i < rows.size(); ++i) {
                const row& r = rows[i];
                const QString what = QString(r.what) + (late_wakes ? ", late wakes" : "");
                const auto& t = at[i];
                if (r.pass == "-") {
                    QVERIFY2(t.empty(), qPrintable(what));
                    continue;
                }
                const QString pass = QString("D0 D1 " + r.pass).trimmed();
                const size_t n = size_t(pass.count(' ') + 1);
                const qint64 pace = r.mini ? 50 : 15;
                QVERIFY2(t.size() > 3 * n && codes(t, 2 * n + 1) == pass + ' ' + pass + " D0", qPrintable(what + ": " + codes(t, 2 * n + 1)));
                QVERIFY2(t[0].first == (r.mini ? 2000000 : 2010000) + (late_wakes ? 1500 : 0), qPrintable(what + QString(" first at %1 us").arg(t[0].first)));
                for (size_t k = 1; k < t.size(); ++k) {
                    const QByteArray& line = t[k - 1].second; // only TEC on carries a value
                    QCOMPARE(line.left(5) + line.mid(7), "t02A8000000000000" + QByteArray(line.mid(5, 2) == "21" ? "01\r" : "00\r"));
                    const qint64 want = (k % n == 0 ? 300 + pace : pace) * 1000, gap = t[k].first - t[k - 1].first;
                    late_hits += t[k].first == late_frame;
                    // Into the late frame 4.5 ms more, out of it the rest of the lost instant.
                    const bool ok = gap == want || (t[k].first == late_frame && gap == want + 4500)
                        || (t[k - 1].first == late_frame && gap == want + 10500);
                    QVERIFY2(ok, qPrintable(what + QString(": frame %1 at %2 us, %3 us after the one before").arg(k).arg(t[k].first).arg(gap)));
                }
            }
            QCOMPARE(late_hits > 0, late_wakes);
            QCOMPARE(at[0], at[1]); // channels that started together never drift apart
            workers.back()->poll_enabled = true; // the idle channel was kept in the schedule
            clock->advance_to(t0 + seconds(21));
            QCOMPARE(codes(at.back(), 2), QString("D0 D1"));
        }
    }

    // A stop takes effect at the top of a pass only; a restart within the
    // last pass keeps the loop, one after it starts afresh; the orderly stop
    // cuts sleeps short.
    void worker_stops_and_restarts()
    {
        polled ps(7, false, true), dcdc(11, false, true), slow(10, false, true, 2000), usb(10, false, true, 0, true);
        const auto stop_at_3 = [&ps] { ps.log.size() == 3 ? ps.w.stop_polling() : void(); };
        QObject::connect(&ps.w, &laser_worker::thread_serial_write, &ps.w, stop_at_3, Qt::DirectConnection);
        for (polled* p : {&ps, &dcdc, &slow, &usb})
            p->w.start_polling();
        QCOMPARE(laser_worker().start_delay(), 2000);
        QTRY_VERIFY(dcdc.log.size() >= 2);
        dcdc.w.stop_polling();
        dcdc.w.start_polling();
        QTRY_VERIFY(usb.log.size() >= 3);
        usb.w.stop_and_wait();
        QVERIFY(!usb.w.is_polling() && usb.log.size() < 12);
        slow.w.stop_and_wait(); // in its start sleep by now
        QVERIFY(slow.log.clock.elapsed() < 2000 && !slow.w.is_polling() && slow.log.size() == 0);
        QTRY_VERIFY(dcdc.log.size() >= 9 && !ps.w.is_polling());
        QCOMPARE(dcdc.log.codes(0, 9), QString("D0 D1 90 91 92 B0 A6 94 D0"));
        QCOMPARE(ps.log.codes(0, 99), QString("D0 D1 A4 21 A2 98 92 B4 99 B5 A5 A6 B7 B6"));
        dcdc.w.stop_polling();
        QTRY_VERIFY(!dcdc.w.is_polling());
        const int before = dcdc.log.size();
        dcdc.w.start_polling();
        QTRY_VERIFY(dcdc.log.size() > before);
    }

    // Replies in, what the panel shows after the ticks. A row starting with a
    // type reply takes a fresh panel, others go on with the previous one. A
    // further tick then re-styles nothing (ten panels refresh every 500 ms).
    void view_per_family()
    {
        struct row { const char* what; replies in; int ticks; QString shows; action act = {}; };
        const std::vector<row> rows{
            {"no device", {{0xD0, 9}}, 1, "laser_name_label=No device|laser_tab_button=Seed|cw_widget=hidden|ps_ns_widget=hidden|config_button=hidden|alt_but_widget=hidden"},
            {"CW, first tick", {{0xD0, 8}, {0x91, 1234}, {0x92, 253}, {0xB3, 2}}, 1, "curr_spin=123.4|temp_spin=25"},
            {"CW", {{0xD0, 8}, {0x90, 1}, {0x91, 1234}, {0x92, 253}, {0x94, 57}, {0xB7, 350}, {0xB6, 150}, {0xA5, 1500}, {0xA6, 0}, {0xB3, 2}}, 2,
             "laser_name_label=CW Type Driver|laser_tab_button=Seed (CW Type 123.4/123.4 mA  25.3/25.3" + deg + " )|power_state_label=ON|power_title=Power:"
             "|power_label=5.7 mW|curr_label=123.4 mA|curr_min_label=0.0 mA|curr_max_label=150.0 mA|temp_label=25.3" + deg + "|temp_min_label=15.0" + deg
             + "|temp_max_label=35.0" + deg + "|curr_indicator=82|temp_indicator=51|curr_spin=123.4|temp_spin=25.3|curr_spin.max=150|temp_spin.min=15"
               "|step_size_combo.items=0.1,1,10|curr_spin.step=0.1|cw_on_off_button.chk=1|start_stop_button_alt.chk=1|cw_curr_widget.on=1|cw_temp_widget.on=1"
               "|ps_ns_widget=hidden|input_volt_label=hidden|fail_title=hidden|fail_butt=hidden|err_clr_butt=hidden|curr_label.red=0"},
            {"CW off, no TEC", {{0x90, 0}, {0xB3, 1}}, 1, "temp_spin=hidden|power_state_label=OFF|cw_on_off_button.chk=0|cw_curr_widget.on=0|cw_temp_widget.on=0"},
            {"CW 0.6 below its set-point", {{0xD0, 8}, {0x91, 1000}, {0x91, 994}}, 1, "curr_label.red=1"},
            {"CW 0.4 below", {{0x91, 996}}, 1, "curr_label.red=0"},
            {"Precision CW after CW", {{0xD1, 5}, {0xD0, 10}, {0x91, 1234567}}, 2,
             "laser_name_label=Precision CW Type Driver|step_size_combo.items=0.01,0.1,1,10|curr_spin.dec=2|temp_spin.dec=2|curr_spin.step=0.01"
             "|curr_label=123.46 mA|temp_label=0.00" + deg + "|laser_tab_button=Seed (Precision CW Type 123.46/123.46 mA  0.00/0.00" + deg + " )"},
            {"DCDC", {{0xD0, 11}, {0x90, 1}, {0x91, 250}, {0x92, 415}, {0xA6, 120}, {0x94, 240}, {0xB0, 0}}, 2,
             "laser_name_label=Power DCDC Type Driver|laser_tab_button=Seed (Power DCDC Type 2.50/2.5 A  41.5" + deg + " )|temp_spin=hidden"
             "|step_size_combo.items=0.1,1|curr_spin=2.5|curr_spin.max=14|temp_indicator=59|curr_label=2.5 A|curr_max_label=14.0 A|temp_max_label=70.0" + deg
             + "|power_title=Output voltage:|power_label=12.0 V|input_volt_label=24.0 V|power_state_label=ON|fail_title=hidden|err_clr_butt=hidden|ps_ns_widget=hidden"},
            {"PS, first tick", {{0xD0, 7}, {0x98, 1234}, {0x92, 253}, {0x99, 100}}, 1, "volt_spin=123.4|pulse_temp_spin=25|freq_combo=100"},
            {"PS", {{0xD0, 7}, {0xA2, 1}, {0x98, 1234}, {0x92, 253}, {0x99, 100}, {0xB4, 3}, {0xB5, 2}, {0xA4, 3}, {0xA5, 2000}, {0xA6, 0}}, 6,
             "volt_spin=123.4|pulse_temp_spin=25.3|freq_combo=100|mode_combo=Int: Burst|pulse_gated_spin=3|pulse_cutted_spin=2|laser_name_label=PS Type Driver"
             "|laser_tab_button=Seed (PS Type 123.4/123.4 V  25.3/25.3" + deg + "  100/100 kHz  Int: Burst)|cw_widget=hidden|dura_label=hidden|dura_widget=hidden"
             "|ps_ns_on_off_butt.chk=1|start_stop_button_alt.chk=1|mode_combo.on=0|volt_widget.on=1|pulse_temp_widget.on=1|volt_indicator=61|volt_spin.max=200"
             "|pulse_volt_label=123.4 V|volt_min_label=0 V|volt_max_label=200 V|temp_pulse_max_label=35.0" + deg + "|N_label=3|M_label=2|mode_label=Int: Burst"
             "|freq_label=100 kHz|pulse_gated_spin.on=1|pulse_cutted_spin.on=1|freq_combo.n=42|rr_max_label=25000|rr_min_label=1|freq_indicator=0"
             "|mode_combo.items=Int: Normal,Int: Burst,Ext: Normal,Ext: Burst,Pulse on Demand"},
            {"PS off, out of burst", {{0xB5, 0}, {0xA4, 3}, {0xA2, 0}, {0x98, 1234}}, 1,
             "freq_combo.n=43|rr_max_label=50000|mode_label=Int: Normal|pulse_gated_spin.on=0|mode_combo.on=1|volt_widget.on=0|pulse_volt_label=0.0 V"},
            {"PS pulse on demand", {{0xA4, 1}}, 1, "mode_label=Pulse on Demand|freq_combo.on=0"},
            {"SOA NS", {{0xD0, 13}, {0x99, 100}, {0xA3, 1000}, {0xA4, 0}}, 8,
             "laser_name_label=SOA NS Type Driver|dura_label=100.0 ns|dura_spin=100|dura_indicator=49|pd_max_label=200|pd_min_label=1|rr_max_label=200"
             "|rr_min_label=1|freq_indicator=49|laser_tab_button=Seed (SOA NS Type 0.0/0.0 V  0.0/0.0" + deg + "  100/100 kHz  100.0/100.0 ns  Int: Normal)"},
            {"NS pulse on demand", {{0xA4, 1}}, 1, "pd_max_label=6500"},
            {"NS at 50000 kHz", {{0xA4, 0}, {0x99, 50000}}, 1, "pd_max_label=1"},
            {"NS without rate or width", {{0x99, 0}, {0xA3, 0}}, 1, "pd_max_label=6500|rr_max_label=50000|freq_indicator=0"},
            {"NS at 6500 ns", {{0xA3, 65000}}, 1, "rr_max_label=3"},
            {"NS, no rate fits the width", {{0xA3, 0x7FFFFFFF}}, 1, "rr_max_label=3"},
            {"bar of an empty range", {{0xD0, 8}, {0xA5, 5000}, {0xA6, 5000}, {0x91, 500}}, 1, "curr_indicator=0"},
            {"bars beyond their ends", {{0xA5, 10000}, {0x91, 5000}, {0x92, -3000}}, 1, "curr_indicator=100|temp_indicator=0"},
            {"bar of a reversed range", {{0xA5, 2000}, {0xA6, 8000}}, 1, "curr_indicator=0"},
            {"limits beyond the command", {{0xD0, 8}, {0xB7, 40000}, {0xB6, -40000}, {0xA5, 100000}}, 1,
             "curr_spin.max=6553.5|temp_spin.max=3276.7|temp_spin.min=-3276.7|curr_max_label=10000.0 mA"},
            {"NS, default voltage limit", {{0xD0, 6}}, 1, "volt_spin.max=6553.5"},
            // Set-points read back before their limits: shown once the limits come.
            {"CW current before its limit", {{0xD0, 8}, {0x91, 1234}, {0xA5, 1500}}, 1, "curr_spin=15"},
            {"CW limit scaled", {{0xB7, 350}, {0xB6, 150}, {0xA5, 1500}}, 1, "curr_spin=123.4"},
            {"Precision CW current", {{0xD0, 10}, {0x91, 12345700}}, 1, "curr_spin=150"},
            {"its limit", {{0xA5, 200000}}, 1, "curr_spin=1234.57"},
            {"CW temperature below 15", {{0xD0, 8}, {0x92, 100}, {0xB6, 50}, {0xB3, 2}}, 2, "temp_spin=10"},
            {"PS temperature below 15", {{0xD0, 7}, {0x92, 100}}, 3, "pulse_temp_spin=15"},
            {"its limit", {{0xB6, 50}}, 1, "pulse_temp_spin=10"},
            {"an operator's value stays", {{0xD0, 8}, {0x92, 100}, {0xB3, 2}}, 2, "temp_spin=20", set("temp_spin", 20)},
            {"a limit after it", {{0xB6, 50}}, 1, "temp_spin=20"},
        };
        struct counter : QObject
        {
            bool eventFilter(QObject*, QEvent* e) override { return n += e->type() == QEvent::StyleChange, false; }
            int n = 0;
        } restyled;
        std::unique_ptr<panel> p;
        for (const row& r : rows) {
            if (r.in.front().first == 0xD0) {
                p = std::make_unique<panel>();
                p->container.show();
                for (QWidget* w : p->container.findChildren<QWidget*>())
                    w->installEventFilter(&restyled);
            }
            p->feed(r.in);
            p->tick(r.ticks);
            if (r.act) {
                r.act(*p);
                p->tick();
            }
            expect_state(*p, r.what, r.shows);
            QVERIFY2(p->sent().isEmpty(), r.what); // nothing read back goes back to the board
            const int before = restyled.n;
            p->tick();
            QVERIFY2(restyled.n == before, r.what);
        }
    }

    // Operator actions and the commands they send, three copies each, CAN ID 5.
    void controls_send()
    {
        struct row { const char* what; int type; action act; QString frames; QString shows = {}; };
        const std::vector<row> rows{
            {"CW current on Enter", 8, enter("curr_spin", 123.4), "11:1234", "curr_spin.unsent=0"},
            {"CW arrows only store", 8, [](panel& p) { set("curr_spin", 123.4)(p); p.w<QDoubleSpinBox>("curr_spin")->stepUp(); QTest::keyClick(p.w("curr_spin"), Qt::Key_Enter); }, "11:1235"},
            // A value not sent is marked until Enter sends it; Esc brings back the one sent.
            {"CW arrow after Enter: marked", 8, [](panel& p) { enter("curr_spin", 100)(p); p.w<QDoubleSpinBox>("curr_spin")->stepUp(); }, "11:1000", "curr_spin.unsent=1"},
            {"CW Esc restores the sent value", 8, [](panel& p) { enter("temp_spin", 20)(p); set("temp_spin", 30)(p); QTest::keyClick(p.w("temp_spin"), Qt::Key_Escape); }, "12:200", "temp_spin=20|temp_spin.unsent=0"},
            {"PS voltage typed: marked until switched on", 7, set("volt_spin", 50), "", "volt_spin.unsent=1"},
            {"CW temperature truncates", 8, enter("temp_spin", 25.3), "12:252"},
            {"CW TEC", 8, call(&laser_object::laser_tec_on_off_butt_clicked), "21:1"},
            {"CW all outputs off", 8, off(command_origin::outputs_off), "10:0"},
            {"CW: no voltage, clear, mode", 8, [](panel& p) { p->laser_voltage_butt_clicked(); p->err_clr_butt_clicked(); p->mode_update(1); }, ""},
            {"Precision CW current", 10, enter("curr_spin", 123.45), "11:12345"},
            {"Precision CW temperature", 10, enter("temp_spin", 25.3), "12:253000"},
            {"DCDC current", 11, enter("curr_spin", 12.3), "11:1230"},
            {"DCDC current to the wire's 0.01 A", 11, enter("curr_spin", 2.47), "11:247"},
            {"DCDC clear errors", 11, [](panel& p) { p.w<QAbstractButton>("err_clr_butt")->click(); }, "29:0"},
            {"DCDC all outputs off: current down first", 11, off(command_origin::outputs_off), "11:0 10:0", "curr_spin=0|curr_spin.unsent=0"},
            {"DCDC: no TEC", 11, call(&laser_object::laser_tec_on_off_butt_clicked), ""},
            {"PS voltage", 7, enter("volt_spin", 50), "18:500", "volt_spin.unsent=0"},
            {"PS temperature", 7, enter("pulse_temp_spin", 25.3), "12:252"},
            {"PS TEC", 7, call(&laser_object::laser_tec_on_off_butt_clicked), "21:1"},
            {"PS voltage on", 7, call(&laser_object::laser_volt_on_off_butt_clicked), "20:1"},
            {"PS all outputs off: the switch's sequence", 7, off(command_origin::outputs_off), "19:100 20:0 22:0"},
            {"PS rate", 7, rate("2000"), "19:2000"},
            {"PS counts", 7, [](panel& p) { set("pulse_gated_spin", 17)(p); set("pulse_cutted_spin", 9)(p); }, "34:17 35:9"},
            {"PS: no pulse width", 7, [](panel& p) { p->pulse_width_target_update(50); }, ""},
            {"NS temperature rounds", 6, enter("pulse_temp_spin", 25.3), "12:253"},
            {"NS pulse width", 6, set("dura_spin", 150), "23:1500"},
            {"SOA NS rate", 13, rate("100"), "19:100"},
            {"NS mode", 13, call(&laser_object::mode_butt_clicked), "24:0"},
            {"NS rate held by the duty cycle", 6, then({{0xA3, 1000}}, rate("500")), "19:200", "freq_combo=200"},
            {"NS rate within it", 6, then({{0xA3, 1000}}, rate("100")), "19:100"},
            {"NS rate, no width known", 6, then({{0xA3, 0}}, rate("50000")), "19:50000"},
            {"NS width held by the rate", 6, then({{0x99, 100}, {0xA4, 0}}, set("dura_spin", 250)), "23:2000*6", "dura_spin=200"},
            {"NS width, external trigger", 6, then({{0xA4, 2}}, [](panel& p) { p->pulse_width_target_update(3000); }), "23:30000"},
            {"NS width, no rate known", 6, then({{0xA4, 0}, {0x99, 0}}, [](panel& p) { p->pulse_width_target_update(6400); }), "23:64000"},
            {"nothing while a type change waits", 6, [](panel& p) { p->worker->type_changed = true; rate("100")(p); p->mode_update(0); }, ""},
            {"PS Int: Normal", 7, mode(0), "24:3 34:1 35:0*6 34:1", "pulse_gated_spin=5|pulse_cutted_spin=7"},
            {"PS Int: Burst", 7, mode(1), "24:3 35:7 34:5 35:7 34:5"},
            {"PS Ext: Normal", 7, mode(2), "24:2 34:1 35:0*6 34:1"},
            {"PS Ext: Burst", 7, mode(3), "24:2 35:7 34:5 35:7 34:5"},
            {"PS on demand", 7, mode(4), "24:1 34:1 35:0*6 34:1"},
            {"NS Int: Normal", 6, mode(0), "24:0 34:1 35:0*6 34:1"},
            {"NS Int: Burst", 6, mode(1), "24:0 35:7 34:5 35:7 34:5"},
            {"SOA NS Ext: Normal", 13, mode(2), "24:2 34:1 35:0*6 34:1"},
            {"SOA NS Ext: Burst", 13, mode(3), "24:2 35:7 34:5 35:7 34:5"},
            {"NS on demand", 6, mode(4), "24:1 34:1 35:0*6 34:1"},
            {"no mode 5 or -1", 7, [](panel& p) { p->mode_update(5); p->mode_update(-1); }, ""},
            {"step size", 10, [](panel& p) { p.w<QComboBox>("step_size_combo")->setCurrentIndex(3); }, "", "curr_spin.step=10|temp_spin.step=10"},
            {"no step size", 10, [](panel& p) { p->sl_single_step_change(-1); }, "", "curr_spin.step=0"},
            // No set-point loses its high bits on the wire.
            {"CW current 7000", 8, [](panel& p) { p->worker->cw_model.current_target = 7000; p->laser_current_butt_clicked(); }, "11:65535"},
            {"CW current NaN", 8, [](panel& p) { p->worker->cw_model.current_target = qQNaN(); p->laser_current_butt_clicked(); }, "11:0"},
            {"DCDC current 700", 11, [](panel& p) { p->worker->dcdc_model.current_target = 700; p->laser_current_butt_clicked(); }, "11:65535"},
            {"PS voltage 1e6", 7, enter("volt_spin", 1e6), "18:65535"},
            {"PS gated 70000, 16.7", 7, [](panel& p) { p->pulse_gated_target_update(70000), p->pulse_gated_target_update(16.7); }, "34:65535 34:16"},
            {"PS cut -3", 7, [](panel& p) { p->pulse_cutted_target_update(-3); }, "35:0"},
            {"NS width 9000", 6, [](panel& p) { p->worker->ns_model.pulse_width_set = 9000; p->laser_pulse_width_butt_clicked(); }, "23:65535"},
            {"CW wide limits", 8, [](panel& p) { p.feed({{0xB7, 40000}, {0xB6, -40000}, {0xA5, 100000}}); p.tick(); enter("curr_spin", 1e9)(p); enter("temp_spin", -1e9)(p); }, "11:65535 12:32770"}, // 0x8002: -3276.6 °C
            // A board of another pulsed type: switching on sends the voltage the field shows.
            {"NS after PS", 7, [](panel& p) { set("volt_spin", 50)(p); p.feed({{0xD0, 6}, {0x98, 500}, {0x99, 100}, {0xA2, 0}}); p.tick(8); p->laser_las_on_off_butt_clicked(); }, "19:100 20:1 18:500 22:1", "volt_spin.unsent=0"},
        };
        for (const row& r : rows) {
            auto p = ready(r.type);
            r.act(*p);
            const QString sent = p->sent();
            QVERIFY2(sent == r.frames, qPrintable(QString(r.what) + ": " + sent));
            expect_state(*p, r.what, r.shows);
        }
        auto p = ready(8);
        enter("curr_spin", 123.4)(*p);
        QCOMPARE(p->o->tx_buf, QByteArray("t005811000000000004D2\r"));
    }

    // Every way to switch an output, per type: the panel's buttons switch the
    // way the panel showed it; a request names its state and off always sends
    // the type's whole off sequence, whatever the switch or the record shows;
    // no key can switch an output.
    void emission_requests()
    {
        struct row { const char* what; int type; bool shown, record; char via; QString frames; };
        // m main button, a alt button, s slot without a click, o all outputs off,
        // r remote off, R remote on, k Space and Enter after a mouse click.
        const std::vector<row> rows{
            {"CW off", 8, true, true, 'm', "10:0"},
            {"CW on by the other button", 8, false, false, 'a', "10:1"},
            {"CW, record already off", 8, true, false, 'm', "10:0"},
            {"Precision CW, record already on", 10, false, true, 'm', "10:1"},
            {"CW, slot without a click", 8, false, false, 's', "10:1"},
            {"CW remote off, switch not yet refreshed", 8, false, true, 'r', "10:0"},
            {"Precision CW all off, record off", 10, false, false, 'o', "10:0"},
            {"CW remote on", 8, false, false, 'R', "10:1"},
            {"CW keys", 8, false, false, 'k', "10:1"},
            {"DCDC off: current down first", 11, true, true, 'm', "11:0 10:0"},
            {"DCDC, record already on", 11, false, true, 'a', "10:1"},
            {"DCDC remote off, switch not yet refreshed", 11, false, true, 'r', "11:0 10:0"},
            {"DCDC all off", 11, true, true, 'o', "11:0 10:0"},
            {"DCDC keys", 11, true, true, 'k', "11:0 10:0"},
            {"PS on", 7, false, false, 'm', "19:100 20:1 18:500 22:1"},
            {"PS remote off, switch not yet refreshed", 7, false, true, 'r', "19:100 20:0 22:0"},
            {"PS remote on", 7, false, false, 'R', "19:100 20:1 18:500 22:1"},
            {"NS, record already off", 6, true, false, 'a', "19:100 20:0 22:0"},
            {"NS all off, record off", 6, false, false, 'o', "19:100 20:0 22:0"},
            {"SOA NS on", 13, false, false, 's', "19:100 20:1 18:500 22:1"},
            {"SOA NS keys", 13, true, true, 'k', "19:100 20:0 22:0"},
        };
        for (const row& r : rows) {
            auto p = ready(r.type, r.shown);
            const bool pulsed = r.type == 6 || r.type == 7 || r.type == 13;
            set(pulsed ? "volt_spin" : "curr_spin", pulsed ? 50 : 5)(*p);
            p->feed({{pulsed ? 0xA2 : 0x90, r.record}});
            auto* button = p->w<QAbstractButton>(r.via == 'a' ? "start_stop_button_alt" : pulsed ? "ps_ns_on_off_butt" : "cw_on_off_button");
            if (r.via == 'o' || r.via == 'r' || r.via == 'R')
                QVERIFY(p->o->request_output(r.via == 'R', r.via == 'o' ? command_origin::outputs_off : command_origin::remote).ok());
            else if (r.via == 's')
                p->o->laser_las_on_off_butt_clicked();
            else if (r.via != 'k')
                button->click();
            if (r.via == 'k') {
                p->container.show();
                QVERIFY(QTest::qWaitForWindowActive(&p->container));
                QTest::mouseClick(button, Qt::LeftButton);
                for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter})
                    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &p->container, key);
            }
            const QString sent = p->sent();
            QVERIFY2(sent == r.frames, qPrintable(QString(r.what) + ": " + sent));
            // The reply to a poll written before the command, still on its way, does not undo it.
            const bool on = r.frames.endsWith(":1");
            p->feed({{pulsed ? 0xA2 : 0x90, !on}});
            p->tick();
            QVERIFY2(button->isChecked() == on && p->o->output_on() == on, r.what);
        }
        // Once a poll written after the command can have been answered, the board's word stands.
        auto p = ready(8, false);
        QVERIFY(p->o->request_output(true, command_origin::remote).ok());
        QTest::qWait(laser_object::output_hold_ms + 50);
        p->feed({{0x90, 0}});
        QVERIFY(!p->o->output_on());
    }

    // Power DCDC flags of one panel ticked beside a clear one (the latch is per
    // channel). The tick that opens the flag box returns with the box open.
    void dcdc_flags()
    {
        struct row { const char* what; bool on; int out, in, faults; int bits; QString shows; int boxes; QString text = {}; };
        const QString warn = "fail_title=WARNING!|fail_butt.vis=1|err_clr_butt.vis=0|curr_label.red=1";
        const QString clear = "fail_title=hidden|fail_butt.vis=0|err_clr_butt.vis=0|curr_label.red=0";
        const std::vector<row> rows{
            {"24 V out of 28 V", true, 240, 280, 0, 0x100, warn, 1},
            {"the flags stay", true, 240, 280, 0, 0x100, warn, 1},
            {"output off", false, 240, 280, 0, 0, clear, 1},
            {"the flags come back", true, 240, 280, 0, 0x100, warn, 2},
            {"no input voltage", true, 10, 0, 0, 0x100, warn, 2},
            {"nothing at all", true, 0, 0, 0, 0, clear, 2},
            {"35 V out", false, 350, 1000, 0, 0x200, warn + "|curr_max_label=12.0 A|curr_spin.max=12", 3, "Channel 1 (Seed):\nOutput power is close to MAX\n"},
            {"30 V out: the full current again", false, 300, 1000, 0, 0, clear + "|curr_max_label=14.0 A|curr_spin.max=14", 3},
            {"driver faults", false, 0, 240, 5, 0, "fail_title=!!!FAILURE!!!|fail_butt.vis=1|err_clr_butt.vis=1|curr_label.red=0", 4,
             "Channel 1 (Seed):\nflag_NO_Load\nflag_Overtemp\n"},
            {"faults and a warning", false, 310, 1000, 5, 0x200, "fail_title=WARNING!|err_clr_butt.vis=1", 4},
        };
        panel p, q;
        p.feed({{0xD0, 11}});
        q.feed({{0xD0, 11}, {0xB0, 0}});
        box_closer closer;
        for (const row& r : rows) {
            p.feed({{0x90, r.on}, {0xA6, r.out}, {0x94, r.in}, {0xB0, r.faults}});
            closer.hold = true;
            const int before = closer.texts.size();
            p.tick(), q.tick(), p.tick(), q.tick();
            QVERIFY2(box_open() == (r.boxes > before), r.what);
            closer.hold = false;
            QTRY_VERIFY(!box_open());
            QCOMPARE(p->worker->dcdc_model.warning_flags, uint16_t(r.bits));
            expect_state(p, r.what, r.shows);
            QVERIFY2(closer.texts.size() == r.boxes, r.what);
            QVERIFY2(r.text.isEmpty() || closer.texts.last() == r.text, qPrintable(closer.texts.last()));
        }
        p.w<QAbstractButton>("fail_butt")->click();
        QTRY_COMPARE(closer.texts.size(), 5);
        QCOMPARE(closer.texts.last(), QString("Channel 1 (Seed):\nflag_NO_Load\nflag_Overtemp\nOutput power is close to MAX\n"));
        // The same board reporting CW: no failure display, no box, no clear.
        p.feed({{0xD0, 8}});
        p.tick();
        expect_state(p, "CW", "fail_title=hidden|fail_butt.vis=0|err_clr_butt.vis=0");
        p->fail_detail_butt_clicked();
        p->err_clr_butt_clicked();
        QVERIFY(!box_open() && p.sent().isEmpty());
    }

    void panel_wiring()
    {
        panel p;
        p->index = 4;
        QSignalSpy asked(p.o.get(), &laser_object::show_conf_dialog_signal);
        p.w<QAbstractButton>("config_button")->click();
        QCOMPARE(asked.takeFirst().at(0).toInt(), 4);
        QVERIFY(p.state("cw_widget") == "hidden" && p.state("ps_ns_widget") == "hidden" && !p->worker->is_polling());
        QCOMPARE(p->worker->dcdc_model.can_id.load(), 5);
        // A panel lacking a widget is refused, not crashed, and stays inert.
        QWidget container;
        build_laser_panel(&container, 2);
        delete container.findChild<QDoubleSpinBox*>("curr_spin_2");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("laser_widget_2.*curr_spin"));
        laser_object o(nullptr, 7, &container);
        const QString before = o.laser_name_label->text();
        o.handle_driver_message({0x100, {0xD0, 7, 0, 0, 0, 0, 0, 8}});
        o.view_update();
        o.curr_spin->setValue(3.0);
        QVERIFY(!o.bound() && o.laser_name_label->text() == before);
    }
};

QTEST_MAIN(tst_channel)
#include "tst_channel.moc"
