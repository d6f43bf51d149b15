#include "laser_object.h"
#include "laser_params.h"
#include "laser_worker.h"
#include "panel_template.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr int can_id = 5;
constexpr int cw = 8, pcw = 10, ps = 7, ns = 6, soa = 13, dcdc = 11, lost = -1;
using replies = std::vector<std::pair<int, int32_t>>; // reply code, value in bytes 4..7

// A channel panel from the panel template, its controller, and the window
// bound to it as the main window binds it.
struct bench
{
    QWidget container;
    std::unique_ptr<laser_object> channel;
    laser_params window;
    QSignalSpy frames{&window, &laser_params::sig_thread_serial_write};

    bench(int32_t type, const replies& rs)
    {
        build_laser_panel(&container, 1);
        channel = std::make_unique<laser_object>(nullptr, can_id, &container);
        channel->name = QStringLiteral("Seed");
        reply(0xD0, type == lost ? cw : type);
        if (type == lost)
            worker().device_type = lost; // what the heartbeat does to a silent board
        window.active = true;
        window.laser = channel.get();
        worker().param_reading = true;
        window.show();
        for (const auto& r : rs)
            reply(r.first, r.second);
        window.view_update_timer_slot();
    }
    laser_worker& worker() { return *channel->worker; }
    // A SET runs on its own timer: the poll is taken back when it has ended.
    bool write_ended() { return QTest::qWaitFor([this] { return worker().param_reading.load(); }, 2000); }
    void reply(int code, int32_t value)
    {
        const auto u = static_cast<uint32_t>(value);
        channel->handle_driver_message(serial_message_struct{
            can_id, {uint32_t(code), can_id, 0, 0, u >> 24, u >> 16 & 0xFF, u >> 8 & 0xFF, u & 0xFF}});
    }
    template <typename T = QWidget> T* get(const char* name) { return window.findChild<T*>(name); }
    QDoubleSpinBox* spin(const char* name) { return get<QDoubleSpinBox>(name); }
    QString shown(const char* name) // a spin box's value, a label's text, a check box's or group's state
    {
        if (auto* s = spin(name))
            return QString::number(s->value(), 'f', s->decimals());
        if (auto* l = get<QLabel>(name))
            return l->text();
        if (auto* c = get<QCheckBox>(name))
            return c->isChecked() ? "checked" : "unchecked";
        return get(name)->isVisible() ? "shown" : "hidden";
    }
    QString message() // the refusal the window shows, if any
    {
        auto* l = get<QLabel>("set_refused_label");
        return l && !l->isHidden() ? l->text() : QString();
    }
};

} // namespace

class tst_params : public QObject
{
    Q_OBJECT

private slots:
    void what_the_window_shows();
    void set_buttons();
    void unsent_input_and_late_replies();
    void limits_kept_in_order_and_asked_while_emitting();
};

// After the replies and the next refresh, the named widget shows `expected`.
void tst_params::what_the_window_shows()
{
    struct row { int32_t type; replies rs; const char* widget; const char* expected; };
    const std::vector<row> rows = {
        {cw, {{0x96, 100000}}, "res_set_spin", "100000"}, {cw, {{0x96, 100000}}, "res_read_label", "100000"},
        {ps, {{0x95, 70000}}, "beta_set_spin", "70000"}, {ns, {{0xA6, 5}}, "vol_min_label", "0.5"},
        {cw, {{0x97, 70000}}, "mon_set_spin", "700.00"}, {ns, {{0x97, 35}}, "mon_label", "0.35"},
        {cw, {{0xB6, -100}}, "temp_min_spin", "-10.0"},
        {pcw, {{0xB7, 80000}}, "temp_max_spin", "80.0"}, {pcw, {{0xB7, 35123}}, "temp_max_label", "35.1"},
        {pcw, {{0xB6, -10000}}, "temp_min_spin", "-10.0"}, {ps, {{0xB6, -100}}, "temp_min_spin", "-10.0"},
        {ns, {{0xB7, 70000}}, "temp_max_spin", "7000.0"}, {ps, {{0xA5, 70000}}, "vol_max_spin", "7000.0"},
        {soa, {{0xA6, -5}}, "vol_min_spin", "-0.5"},
        {cw, {{0xA5, 1500}}, "cur_max_spin", "15.0"}, {cw, {{0xB7, 360}, {0xA5, 1500}}, "cur_max_spin", "150.0"},
        {pcw, {{0xB7, 350}, {0xA6, 1234}}, "cur_min_label", "12.3"}, {cw, {{0xA6, -20}}, "cur_min_spin", "-0.2"},
        {cw, {{0xA5, 2000000000}}, "cur_max_spin", "20000000.0"},
        {cw, {{0xD1, 200}, {0x95, 1}}, "can_set_spin", "200"}, {dcdc, {{0xD1, 17}}, "can_read_label", "17"},
        // TEC: checked from 0.15 A on; the editor then holds the board's limit.
        {cw, {{0xB3, 50}}, "max_tec_curr_spin", "5.0"}, {pcw, {{0xB3, 2}}, "TEC_checkbox", "checked"},
        {cw, {{0xB3, 1}}, "TEC_checkbox", "unchecked"}, {cw, {{0xB3, 1}}, "max_tec_curr_group", "hidden"},
        {cw, {{0xB3, 1}}, "max_tec_curr_spin", "1.0"}, {cw, {{0xB3, 1}}, "max_tec_curr_label", "0.1"},
        {pcw, {{0xB3, 30}}, "max_tec_curr_group", "shown"}, {ns, {{0xB3, 30}}, "max_tec_curr_group", "hidden"},
        {dcdc, {{0x96, 10000}}, "res_set_spin", "1"},
        // Rows shown per type.
        {pcw, {}, "cur_max_group", "shown"}, {ps, {}, "cur_min_group", "hidden"}, {ns, {}, "vol_max_group", "shown"},
        {cw, {}, "vol_min_group", "hidden"}, {dcdc, {}, "temp_max_group", "hidden"}, {soa, {}, "res_group", "shown"},
        {ps, {}, "mon_group", "hidden"}, {cw, {}, "mon_group", "shown"},
        {pcw, {}, "label_4", "Seed (Precision CW Type) parameters"}, {0, {}, "label_4", "Seed parameters"},
    };
    QStringList faults;
    for (const row& r : rows) {
        bench b(r.type, {});
        for (QDoubleSpinBox* s : b.window.findChildren<QDoubleSpinBox*>())
            s->setValue(1.0); // a value the refresh must replace, or leave alone
        for (const auto& [code, value] : r.rs)
            b.reply(code, value);
        b.window.view_update_timer_slot(); // a changed field refills every editor
        if (b.shown(r.widget) != r.expected)
            faults << QStringLiteral("type %1, %2: %3").arg(r.type).arg(r.widget, b.shown(r.widget));
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

// A SET writes its row's value three times with the poll paused, or refuses
// a value its command cannot carry (nothing sent, the accepted range shown).
void tst_params::set_buttons()
{
    struct row { int32_t type; replies rs; QString key; double value; QString sent; };
    const std::vector<row> rows = {
        // Current limits go x100 until a CW board has reported temperature limits, then x10.
        {cw, {}, "cur_max", 150.0, "25:3A98"}, {cw, {{0xB7, 350}}, "cur_max", 999999.9, "25:98967F"},
        {pcw, {{0xB7, 350}}, "cur_min", -1000000.0, "26:FA0A1F00"},
        {cw, {}, "cur_min", 1000000.1, "refused: -1000000.0 to 1000000.0"},
        {cw, {}, "temp_max", 35.0, "37:015E"}, {ns, {}, "temp_min", -3276.8, "36:8000"},
        {ps, {}, "temp_max", 3276.8, "refused: -3276.8 to 3276.7"},
        // Precision CW temperature limits go x1000 into 16 bits.
        {pcw, {}, "temp_max", 65.5, "37:FFDC"}, {pcw, {}, "temp_min", 12.3, "36:300C"},
        {pcw, {}, "temp_max", 80.0, "refused: 0.0 to 65.5"}, {pcw, {}, "temp_min", -10.0, "refused: 0.0 to 65.5"},
        {ns, {}, "vol_max", 6553.5, "25:FFFF"}, {soa, {}, "vol_min", 10.0, "26:0064"},
        {ps, {}, "vol_max", 6553.6, "refused: 0.0 to 6553.5"}, {ps, {}, "vol_min", -0.1, "refused: 0.0 to 6553.5"},
        {ps, {}, "res", 65535, "16:FFFF"}, {cw, {}, "res", 100000, "refused: 0 to 65535"},
        {cw, {}, "beta", 3950, "15:0F6E"}, {ns, {}, "beta", -1, "refused: 0 to 65535"},
        {ns, {}, "mon", 0.35, "17:0022"}, {cw, {}, "mon", 655.36, "refused: 0.00 to 655.35"},
        {pcw, {}, "max_tec_curr", 2.5, "33:0019"}, {cw, {{0xB3, 50}}, "max_tec_curr", 5.0, "refused: 0.2 to 4.0"},
        // The TEC box: checking writes the editor's limit, unchecking 0.1 A.
        {cw, {{0xB3, 1}}, "TEC", 1.5, "33:000F"}, {cw, {{0xB3, 20}}, "TEC", 1.5, "33:0001"},
        {cw, {{0xB3, 50}, {0xB3, 1}}, "TEC", 5.0, "refused: 0.2 to 4.0"}, {dcdc, {}, "can", 200, "51:C8"},
        // Buttons that do not serve the board send nothing and say nothing.
        {cw, {}, "vol_max", 10, ""}, {ps, {}, "cur_max", 10, ""}, {ns, {}, "max_tec_curr", 1, ""},
        {dcdc, {}, "res", 1, ""}, {lost, {}, "can", 7, ""},
    };
    QStringList faults;
    for (const row& r : rows) {
        bench b(r.type, r.rs);
        const bool tec = r.key == "TEC", named = QStringList{"res", "beta", "can", "mon"}.contains(r.key);
        auto* editor = b.spin(qPrintable(tec ? "max_tec_curr_spin" : r.key + (named ? "_set_spin" : "_spin")));
        const QString button = tec ? "TEC_checkbox" : (r.key == "beta" ? "bet" : r.key) + "_set_but";
        editor->setValue(r.value);
        const QString tag = QStringLiteral("type %1, %2 %3: ").arg(r.type).arg(r.key).arg(r.value);
        std::vector<bool> polling;
        connect(&b.window, &laser_params::sig_thread_serial_write, &b.window,
                [&] { polling.push_back(b.worker().param_reading); });
        QElapsedTimer clock;
        clock.start();
        b.get<QAbstractButton>(qPrintable(button))->click();
        const auto check = [&](bool ok, const QString& what) { faults << (ok ? "" : tag + what); };
        check(b.write_ended(), "poll not resumed");
        QString sent;
        for (const QList<QVariant>& f : b.frames)
            sent += f.at(0).toByteArray();
        if (r.sent.startsWith("refused: ")) {
            check(sent.isEmpty(), "sent " + sent);
            check(b.message().contains(r.sent.mid(9)) && b.message().contains(editor->text()), "says " + b.message());
            check(!b.get<QCheckBox>("TEC_checkbox")->isChecked() || !tec, "TEC box left checked");
            continue;
        }
        const QString line = "t0058" + r.sent.section(':', 0, 0) + r.sent.section(':', 1).rightJustified(14, '0');
        check(sent == (r.sent.isEmpty() ? "" : (line + '\r').repeated(3)), "sent " + sent);
        check(polling == std::vector<bool>(b.frames.size(), false), "poll ran");
        check(clock.elapsed() >= (r.sent.isEmpty() ? 45 : 190), QStringLiteral("%1 ms").arg(clock.elapsed()));
        check(b.message().isEmpty(), b.message());
    }
    faults.removeAll("");
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

void tst_params::unsent_input_and_late_replies()
{
    bench b(cw, {{0x96, 10000}, {0xB7, 350}, {0xA5, 1500}, {0xB3, 20}});
    b.spin("cur_max_spin")->setValue(200.0);
    b.spin("res_set_spin")->setValue(555);
    b.reply(0xB7, 350); // the same value again keeps the operator's input
    b.window.view_update_timer_slot();
    QCOMPARE(QStringList({b.shown("cur_max_spin"), b.shown("res_set_spin")}), QStringList({"200.0", "555"}));
    b.reply(0xB3, 25); // a new value in any field refills every editor
    b.window.view_update_timer_slot();
    QCOMPARE(QStringList({b.shown("cur_max_spin"), b.shown("res_set_spin")}), QStringList({"150.0", "10000"}));

    b.spin("res_set_spin")->setValue(100000);
    b.get<QAbstractButton>("res_set_but")->click();
    QVERIFY(b.write_ended());
    QVERIFY(b.frames.isEmpty() && !b.message().isEmpty());
    // A late reply refilling the editor during the pause: the clicked value goes out, the refusal goes.
    b.spin("res_set_spin")->setValue(12345);
    QTimer::singleShot(5, &b.window, [&] {
        b.reply(0x96, 999);
        b.window.view_update_timer_slot();
    });
    b.get<QAbstractButton>("res_set_but")->click();
    QVERIFY(b.write_ended());
    QCOMPARE(b.frames.count(), 3);
    QCOMPARE(b.frames.at(0).at(0).toByteArray(), QByteArray("t00581600000000003039\r"));
    QCOMPARE(b.shown("res_set_spin"), QStringLiteral("999"));
    QCOMPARE(b.message(), QString());

    // Closed during a write: the main window hands the channel back, and it stays handed back.
    QSignalSpy hidden(&b.window, &laser_params::sig_laser_conf_dialog_is_hided);
    QTimer::singleShot(70, &b.window, [&] {
        b.get<QAbstractButton>("write_button")->click();
        b.worker().param_reading = false;
    });
    b.get<QAbstractButton>("res_set_but")->click();
    QTRY_COMPARE(b.frames.count(), 6);
    QTest::qWait(100); // past the write's last pause
    QVERIFY(!b.worker().param_reading && !b.window.isVisible());
    QCOMPARE(hidden.count(), 1);
    b.reply(0xB7, 400); // hidden, the window does not refresh; shown again, it does at once
    QTest::qWait(100);
    QCOMPARE(b.shown("temp_max_label"), QStringLiteral("35.0"));
    b.window.show();
    QCOMPARE(b.shown("temp_max_label"), QStringLiteral("40.0"));

    // A second SET clicked during the first's copies waits for it: three copies each, in order, poll paused throughout.
    b.frames.clear();
    b.worker().param_reading = true;
    bool polled = false;
    connect(&b.window, &laser_params::sig_thread_serial_write, &b.window, [&] { polled = polled || b.worker().param_reading; });
    b.spin("res_set_spin")->setValue(7);
    b.get<QAbstractButton>("res_set_but")->click();
    QVERIFY(b.frames.isEmpty()); // the pause comes first
    QTRY_COMPARE(b.frames.count(), 1);
    b.spin("beta_set_spin")->setValue(8);
    b.get<QAbstractButton>("bet_set_but")->click();
    QVERIFY(b.write_ended());
    QVERIFY(!polled);
    QByteArray sent;
    for (const QList<QVariant>& f : b.frames)
        sent += f.at(0).toByteArray();
    QCOMPARE(sent, QByteArray("t00581600000000000007\r").repeated(3) + QByteArray("t00581500000000000008\r").repeated(3));
}

// A lower limit above the upper one is refused; while the laser emits, raising
// a protection limit, unticking the TEC or moving the board to another CAN ID
// asks first, and only Yes writes. Every write is named for the log.
void tst_params::limits_kept_in_order_and_asked_while_emitting()
{
    // answer: '-' no question expected, 'y' Yes, 'n' No.
    struct row { int32_t type; bool emits; QString key; double value; char answer; QString sent; };
    const replies limits = {{0xA5, 1500}, {0xA6, 1000}, {0xB7, 400}, {0xB6, 100}, {0xB3, 20}};
    const std::vector<row> rows = {
        {cw, false, "cur_min", 15.1, '-', "refused: above the upper limit 15.0"},
        {cw, false, "cur_max", 9.9, '-', "refused: below the lower limit 10.0"},
        {cw, false, "temp_min", 40.5, '-', "refused: above the upper limit 40.0"},
        {ps, false, "vol_min", 3000, '-', "refused: above the upper limit 150.0"},
        {ps, false, "vol_max", 4.9, '-', "refused: below the lower limit 100.0"},
        {cw, false, "cur_max", 20.0, '-', "25:00C8"},
        {cw, true, "cur_max", 12.0, '-', "25:0078"},
        {cw, true, "cur_max", 20.0, 'n', ""},
        {cw, true, "cur_max", 20.0, 'y', "25:00C8"},
        {cw, true, "temp_max", 45.0, 'y', "37:01C2"},
        {ps, true, "vol_max", 200.0, 'n', ""},
        {ps, true, "temp_max", 45.0, 'y', "37:01C2"},
        {cw, true, "TEC", 1.5, 'n', ""},
        {cw, true, "TEC", 1.5, 'y', "33:0001"},
        {cw, true, "can", 7, 'y', "51:07"},
        {cw, true, "can", 7, 'n', ""},
    };
    QStringList faults;
    for (const row& r : rows) {
        bench b(r.type, r.type == ps ? replies{{0xA5, 1500}, {0xA6, 1000}, {0xB7, 400}, {0xB6, 100}} : limits);
        (r.type == ps ? b.worker().ps_model.laser_on : b.worker().cw_model.laser_on) = r.emits;
        QSignalSpy named(&b.window, &laser_params::sig_parameter_written);
        const bool tec = r.key == "TEC";
        const QString tag = QStringLiteral("type %1, %2 %3%4: ").arg(r.type).arg(r.key).arg(r.value).arg(r.emits ? " emitting" : "");
        if (tec)
            b.get<QAbstractButton>("TEC_checkbox")->click();
        else {
            b.spin(qPrintable(r.key + (r.key == "can" ? "_set_spin" : "_spin")))->setValue(r.value);
            b.get<QAbstractButton>(qPrintable(r.key + "_set_but"))->click();
        }
        auto* box = b.window.findChild<QMessageBox*>("emitting_question");
        if ((box != nullptr) != (r.answer != '-'))
            faults << tag + (box ? "asked" : "not asked");
        if (box) {
            box->button(r.answer == 'y' ? QMessageBox::Yes : QMessageBox::No)->click();
            QTRY_VERIFY(!b.window.findChild<QMessageBox*>("emitting_question"));
        }
        if (!b.write_ended())
            faults << tag + "poll not resumed";
        QString sent;
        for (const QList<QVariant>& f : b.frames)
            sent += f.at(0).toByteArray();
        const bool refused = r.sent.startsWith("refused: ");
        const QString line = "t0058" + r.sent.section(':', 0, 0) + r.sent.section(':', 1).rightJustified(14, '0') + '\r';
        if (sent != (refused || r.sent.isEmpty() ? QString() : line.repeated(3)))
            faults << tag + "sent " + sent;
        if (refused != (!b.message().isEmpty() && b.message().contains(r.sent.mid(9))))
            faults << tag + "says " + b.message();
        if (named.count() != (sent.isEmpty() ? 0 : 1))
            faults << tag + QStringLiteral("%1 log lines").arg(named.count());
        if (tec && b.get<QCheckBox>("TEC_checkbox")->isChecked() != sent.isEmpty())
            faults << tag + "TEC box does not show the board";
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
}

QTEST_MAIN(tst_params)
#include "tst_params.moc"
