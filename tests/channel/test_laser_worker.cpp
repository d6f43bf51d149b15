#include "frame_log.h"
#include "laser_worker.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

using codes = std::vector<int>;

const codes ident{0xD0, 0xD1};
const codes cw_params{0x96, 0x95, 0x97, 0xA5, 0xA6, 0xB7, 0xB6, 0xB3};
const codes cw_monitor{0x90, 0x21, 0x91, 0x92, 0x94, 0xA5, 0xA6, 0xB7, 0xB6, 0xB3};
const codes pulse_params{0x96, 0x95, 0x97, 0xA5, 0xA6, 0xB7, 0xB6};
const codes ps_monitor{0xA4, 0x21, 0xA2, 0x98, 0x92, 0xB4, 0x99, 0xB5, 0xA5, 0xA6, 0xB7, 0xB6};
const codes ns_monitor{0xA4, 0x21, 0xA2, 0x98, 0x92, 0xB4, 0x99, 0xB5, 0xA3, 0xA5, 0xA6, 0xB7, 0xB6};
const codes dcdc_monitor{0x90, 0x91, 0x92, 0xB0, 0xA6, 0x94};

codes join(const codes& a, const codes& b)
{
    codes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

QString hex(const codes& c)
{
    QStringList parts;
    for (int v : c)
        parts << QString::number(v, 16).toUpper();
    return parts.join(QLatin1Char(' '));
}

std::unique_ptr<laser_worker> make_worker(int type, bool params, bool monitor, int start_delay = 0)
{
    auto w = std::make_unique<laser_worker>(nullptr, start_delay);
    w->device_type = type;
    w->param_reading = params;
    w->poll_enabled = monitor;
    w->set_can_id(0x2A);
    return w;
}

} // namespace

class test_laser_worker : public QObject
{
    Q_OBJECT

private slots:
    // Every type and mode, two passes each; the workers run side by side.
    void sequences_per_type_and_mode()
    {
        struct poll_case
        {
            const char* what;
            int type;
            bool params;
            bool monitor;
            codes pass;
        };
        const std::vector<poll_case> cases{
            {"CW monitoring", 8, false, true, join(ident, cw_monitor)},
            {"Precision CW monitoring", 10, false, true, join(ident, cw_monitor)},
            {"CW read-out", 8, true, false, join(ident, cw_params)},
            {"CW both flags: read-out wins", 10, true, true, join(ident, cw_params)},
            {"PS monitoring", 7, false, true, join(ident, ps_monitor)},
            {"PS read-out", 7, true, false, join(ident, pulse_params)},
            {"NS monitoring", 6, false, true, join(ident, ns_monitor)},
            {"SOA NS monitoring", 13, false, true, join(ident, ns_monitor)},
            {"SOA NS read-out", 13, true, true, join(ident, pulse_params)},
            {"DCDC monitoring", 11, false, true, join(ident, dcdc_monitor)},
            {"DCDC read-out: identification only", 11, true, false, ident},
            {"DCDC both flags: identification only", 11, true, true, ident},
            {"unknown type 9", 9, false, true, ident},
            {"no type yet", 0, true, false, ident},
            {"board lost", -1, false, true, ident},
        };
        std::vector<std::unique_ptr<laser_worker>> workers;
        std::vector<std::unique_ptr<frame_log>> logs;
        for (const poll_case& c : cases) {
            workers.push_back(make_worker(c.type, c.params, c.monitor));
            logs.push_back(std::make_unique<frame_log>(*workers.back()));
        }
        for (auto& w : workers)
            w->start_polling();

        for (size_t i = 0; i < cases.size(); ++i) {
            const int want = 2 * static_cast<int>(cases[i].pass.size()) + 1;
            QTRY_VERIFY2_WITH_TIMEOUT(logs[i]->size() >= want, cases[i].what, 10000);
        }
        for (auto& w : workers)
            w->stop_and_wait();

        for (size_t i = 0; i < cases.size(); ++i) {
            const poll_case& c = cases[i];
            const frame_log& log = *logs[i];
            const int n = static_cast<int>(c.pass.size());
            const codes expected = join(join(c.pass, c.pass), codes{0xD0});
            const codes got = log.codes(0, 2 * n + 1);
            QVERIFY2(got == expected, qPrintable(QStringLiteral("%1: got %2, want %3")
                                                     .arg(QLatin1String(c.what), hex(got), hex(expected))));
            for (int k = 0; k < 2 * n; ++k) {
                QCOMPARE(log.can_id(k), 0x2A);
                // Only the TEC command carries a value, 1, in byte 7.
                const int value = log.byte(k, 7);
                QCOMPARE(value, log.code(k) == 0x21 ? 1 : 0);
                for (int b = 1; b < 7; ++b)
                    QCOMPARE(log.byte(k, b), 0);
            }
            // The rest between passes: 300 ms on top of the last frame's pace.
            const qint64 gap = log.at(n).at_ms - log.at(n - 1).at_ms;
            QVERIFY2(gap >= 300, qPrintable(QStringLiteral("%1: gap %2 ms").arg(QLatin1String(c.what)).arg(gap)));
        }
    }

    void no_flag_sends_nothing()
    {
        auto w = make_worker(8, false, false);
        frame_log log(*w);
        w->start_polling();
        QTest::qWait(700);
        QVERIFY(w->isRunning());
        QCOMPARE(log.size(), 0);
        // Enabling polling is picked up by the next pass.
        w->poll_enabled = true;
        QTRY_VERIFY_WITH_TIMEOUT(log.size() >= 2, 3000);
        QCOMPARE(log.code(0), 0xD0);
    }

    // Pace between frames and the length of a pass, in both pace modes.
    void pacing()
    {
        struct pace_case
        {
            bool mini_usb;
            int pace;
        };
        const pace_case cases[] = {{false, 15}, {true, 50}};
        std::vector<std::unique_ptr<laser_worker>> workers;
        std::vector<std::unique_ptr<frame_log>> logs;
        for (const pace_case& c : cases) {
            workers.push_back(make_worker(8, false, true));
            workers.back()->mini_usb_mode = c.mini_usb;
            logs.push_back(std::make_unique<frame_log>(*workers.back()));
        }
        for (auto& w : workers)
            w->start_polling();
        for (auto& log : logs)
            QTRY_VERIFY_WITH_TIMEOUT(log->size() >= 25, 10000);
        for (auto& w : workers)
            w->stop_and_wait();

        for (size_t k = 0; k < 2; ++k) {
            const frame_log& log = *logs[k];
            const int pace = cases[k].pace;
            std::vector<qint64> inner;
            for (int i = 1; i < 12; ++i)
                inner.push_back(log.at(i).at_ms - log.at(i - 1).at_ms);
            std::sort(inner.begin(), inner.end());
            // Sleeps never end early; a loaded machine may stretch them.
            QVERIFY2(inner.front() >= pace - 2, qPrintable(QString::number(inner.front())));
            QVERIFY2(inner[inner.size() / 2] < pace * 3, qPrintable(QString::number(inner[inner.size() / 2])));
            // 12 frames × pace + 300 ms: 480 ms or 900 ms.
            const qint64 period = log.at(24).at_ms - log.at(12).at_ms;
            const qint64 nominal = 12 * pace + 300;
            QVERIFY2(period >= nominal - 5 && period < nominal * 2,
                     qPrintable(QStringLiteral("period %1, nominal %2").arg(period).arg(nominal)));
        }
    }

    // running is tested at the top of a pass only: the pass completes, no frame follows.
    void stop_mid_pass()
    {
        auto w = make_worker(7, false, true);
        w->mini_usb_mode = true; // a slow pass, so the stop surely lands inside it
        frame_log log(*w);
        w->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(log.size() >= 3, 5000);
        w->stop_polling();
        QTRY_VERIFY_WITH_TIMEOUT(w->isFinished(), 5000);
        QCOMPARE(log.size(), 14);
        QCOMPARE(log.codes(0, 14), join(ident, ps_monitor));
        QTest::qWait(400);
        QCOMPARE(log.size(), 14);
    }

    // A restart while the last pass still runs continues the loop without a
    // new start sleep; after the thread ended it starts afresh, sleep first.
    void restart_while_finishing()
    {
        auto w = make_worker(11, false, true, 1000);
        frame_log log(*w);
        w->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(log.size() >= 2, 5000);
        w->stop_polling();
        w->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(log.size() >= 9, 5000);
        QCOMPARE(log.codes(0, 9), join(join(ident, dcdc_monitor), codes{0xD0}));
        QVERIFY(log.at(8).at_ms - log.at(7).at_ms < 800); // no start sleep in between

        w->stop_polling();
        QTRY_VERIFY_WITH_TIMEOUT(w->isFinished(), 5000);
        const int before = log.size();
        const qint64 restart_at = log.now_ms();
        w->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(log.size() > before, 5000);
        QVERIFY(log.at(before).at_ms - restart_at >= 980);
        w->stop_and_wait();
    }

    // Restarts around the moment the loop looks at running: whichever side of
    // it a restart lands on, polling must go on.
    void restart_hammered_around_the_top_of_a_pass()
    {
        auto w = make_worker(0, false, false);
        w->start_polling();
        QTest::qWait(20);
        for (int i = 0; i < 6; ++i) {
            w->stop_polling();
            QTest::qWait(285 + 6 * i); // passes without frames last 300 ms
            w->start_polling();
            QVERIFY(w->isRunning());
        }
        frame_log log(*w);
        w->poll_enabled = true;
        QTRY_VERIFY_WITH_TIMEOUT(log.size() >= 4, 3000);
        QVERIFY(w->isRunning());
    }

    void stop_and_wait_is_prompt()
    {
        // During the start sleep of the real default length (2000 ms).
        laser_worker w;
        QCOMPARE(w.start_delay(), 2000);
        w.poll_enabled = true;
        frame_log log(w);
        w.start_polling();
        QTest::qWait(100);
        QElapsedTimer t;
        t.start();
        w.stop_and_wait();
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(w.isFinished());
        QCOMPARE(log.size(), 0);

        // In the middle of a slow pass: nothing is sent once it returns.
        auto slow = make_worker(10, false, true);
        slow->mini_usb_mode = true;
        frame_log slow_log(*slow);
        slow->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(slow_log.size() >= 3, 5000);
        t.restart();
        slow->stop_and_wait();
        QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed())));
        const int sent = slow_log.size();
        QVERIFY(sent < 12);
        QTest::qWait(200);
        QCOMPARE(slow_log.size(), sent);

        // It can poll again afterwards, and the destructor stops a running thread.
        slow->start_polling();
        QTRY_VERIFY_WITH_TIMEOUT(slow_log.size() > sent, 5000);
        t.restart();
        slow.reset();
        QVERIFY(t.elapsed() < 300);
    }
};

QTEST_GUILESS_MAIN(test_laser_worker)
#include "test_laser_worker.moc"
