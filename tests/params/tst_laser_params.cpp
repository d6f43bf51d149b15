#include "laser_object.h"
#include "laser_params.h"
#include "laser_worker.h"
#include "panel_template.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int can_id = 5;

using replies = std::vector<std::pair<int, int32_t>>; // reply code, value in bytes 4..7

// Everything the window works on: a channel panel from the panel template,
// its controller and the window bound to it, as the main window binds it.
struct bench
{
    QWidget container;
    std::unique_ptr<laser_object> channel;
    laser_params window;
    QSignalSpy frames{&window, &laser_params::sig_thread_serial_write};

    explicit bench(int32_t type)
    {
        build_laser_panel(&container, 1);
        channel = std::make_unique<laser_object>(nullptr, can_id, &container);
        channel->name = QStringLiteral("Seed");
        if (type != 0)
            reply(0xD0, type);
        window.active = true;
        window.laser = channel.get();
        worker().param_reading = true;
        window.show();
    }

    laser_worker& worker() { return *channel->worker; }

    // Feeds one driver reply through the channel's decoder.
    void reply(int code, int32_t value)
    {
        const auto u = static_cast<uint32_t>(value);
        channel->handle_driver_message(
            serial_message_struct{can_id, {uint32_t(code), can_id, 0, 0, u >> 24, u >> 16 & 0xFF, u >> 8 & 0xFF, u & 0xFF}});
    }
    void feed(const replies& rs)
    {
        for (const auto& r : rs)
            reply(r.first, r.second);
    }

    void refresh() { window.view_update_timer_slot(); }

    template <typename T>
    T* get(const QString& name)
    {
        T* w = window.findChild<T*>(name);
        if (!w)
            qFatal("no widget %s", qPrintable(name));
        return w;
    }
    QDoubleSpinBox* spin(const QString& name) { return get<QDoubleSpinBox>(name); }
    QString text(const QString& name) { return get<QLabel>(name)->text(); }
};

// Frame line the board expects: identifier 0x005 and the given data bytes.
QByteArray line(const char* bytes)
{
    return QByteArray("t0058") + QByteArray(bytes).replace(' ', "") + '\r';
}

const QStringList column = {"label_4",       "label_31",        "can_group",
                            "cur_max_group", "cur_min_group",   "vol_max_group",
                            "vol_min_group", "temp_min_group",  "temp_max_group",
                            "res_group",     "beta_group",      "TEC_checkbox",
                            "max_tec_curr_group", "mon_group",  "write_button"};

const QStringList editors = {"can_set_spin", "cur_max_spin",  "cur_min_spin",
                             "vol_max_spin", "vol_min_spin",  "temp_min_spin",
                             "temp_max_spin", "res_set_spin", "beta_set_spin",
                             "max_tec_curr_spin", "mon_set_spin"};

struct fill_case
{
    int32_t type;
    replies rs;
    std::map<QString, double> editors; // editors not named keep their previous value
    bool tec_checked;
    std::map<QString, QString> labels;
};

struct set_case
{
    int32_t type;
    replies rs;
    QString editor;
    double value;
    QString button;
    QByteArray frame; // empty: nothing may be sent
};

} // namespace

Q_DECLARE_METATYPE(fill_case)
Q_DECLARE_METATYPE(set_case)

class tst_laser_params : public QObject
{
    Q_OBJECT

private slots:
    void form();
    void visibility_per_type_data();
    void visibility_per_type();
    void fill_editors_per_type_data();
    void fill_editors_per_type();
    void tec_checkbox_threshold();
    void refill_replaces_unsent_input();
    void set_buttons_data();
    void set_buttons();
    void tec_checkbox_writes();
    void closing_during_a_write_keeps_the_poll_released();
    void written_value_is_the_one_clicked();
    void editor_ranges_carry_without_wrapping();
    void close_emits_hidden_once();
};

// The window's fixed texts, timer and column order (the spacer right above "Close").
void tst_laser_params::form()
{
    laser_params window;
    QCOMPARE(window.windowTitle(), QStringLiteral("laser configuration"));
    QCOMPARE(window.windowModality(), Qt::ApplicationModal);
    QCOMPARE(window.view_timer->interval(), 40);
    QVERIFY(window.view_timer->isActive() && !window.active);
    QCOMPARE(window.findChild<QLabel*>("label_31")->text(),
             QStringLiteral("To be able to configure device CAN ID in the device parameters window please "
                            "make sure, that your PC is connected directly to driver board via mini-USB "
                            "cable, and \"mini USB mode\" is set in Settings tab."));
    QCOMPARE(window.findChild<QLabel*>("label_12")->text(),
             QStringLiteral("Device reset is needed after CAN ID is changed"));
    QCOMPARE(window.findChild<QCheckBox*>("TEC_checkbox")->text(), QStringLiteral("laser with TEC"));
    QCOMPARE(window.findChild<QPushButton*>("write_button")->text(), QStringLiteral("Close"));
    QLayout* layout = window.centralWidget()->layout();
    QStringList order;
    for (int i = 0; i < layout->count(); ++i)
        order << (layout->itemAt(i)->widget() ? layout->itemAt(i)->widget()->objectName() : "spacer");
    QCOMPARE(order, QStringList(column).replaceInStrings("write_button", "spacer") << "write_button");

    // Every row: its caption, one editor, one "SET" button.
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"can_group", "CAN ID"}, {"cur_max_group", "Max current, mA"}, {"cur_min_group", "Min current, mA"},
        {"vol_max_group", "Max voltage, V"}, {"vol_min_group", "Min voltage, V"},
        {"temp_min_group", "Min temperature, °C"}, {"temp_max_group", "Max temperature, °C"},
        {"res_group", "Resistance at 25 °C"}, {"beta_group", "Thermistor beta"},
        {"max_tec_curr_group", "Max TEC current, A"}, {"mon_group", "Monitor responsivity, uA/mW"}};
    for (const auto& [name, caption] : rows) {
        auto* group = window.findChild<QGroupBox*>(name);
        QVERIFY2(group, name);
        QStringList label_texts;
        for (const QLabel* l : group->findChildren<QLabel*>())
            label_texts << l->text();
        QVERIFY2(label_texts.contains(QString::fromUtf8(caption)), caption);
        QCOMPARE(group->findChildren<QDoubleSpinBox*>().size(), 1);
        const auto buttons = group->findChildren<QPushButton*>();
        QVERIFY(buttons.size() == 1 && buttons.first()->text() == "SET");
    }
}

void tst_laser_params::visibility_per_type_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("tec_raw"); // max TEC current reply, 0.1 A
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("heading");

    const QStringList always = {"label_4", "label_31", "can_group", "write_button"};
    const QStringList thermal = {"temp_min_group", "temp_max_group", "res_group", "beta_group"};
    const QStringList cw = always + thermal
                           + QStringList{"cur_max_group", "cur_min_group", "TEC_checkbox", "mon_group"};
    const QStringList pulse = always + thermal + QStringList{"vol_max_group", "vol_min_group"};

    QTest::newRow("CW with TEC") << 8 << 2 << cw + QStringList{"max_tec_curr_group"}
                                 << "Seed (CW Type) parameters";
    QTest::newRow("CW without TEC") << 8 << 1 << cw << "Seed (CW Type) parameters";
    QTest::newRow("Precision CW") << 10 << 30 << cw + QStringList{"max_tec_curr_group"}
                                  << "Seed (Precision CW Type) parameters";
    QTest::newRow("PS") << 7 << 0 << pulse << "Seed (PS Type) parameters";
    QTest::newRow("NS") << 6 << 0 << pulse << "Seed (NS Type) parameters";
    QTest::newRow("SOA NS") << 13 << 0 << pulse << "Seed (SOA NS Type) parameters";
    QTest::newRow("Power DCDC") << 11 << 0 << always << "Seed (Power DCDC Type) parameters";
    QTest::newRow("no device yet") << 0 << 0 << always << "Seed parameters";
}

void tst_laser_params::visibility_per_type()
{
    QFETCH(int, type);
    QFETCH(int, tec_raw);
    QFETCH(QStringList, shown);
    QFETCH(QString, heading);

    bench b(type);
    b.reply(0xD1, 42);
    b.reply(0xB3, tec_raw);
    b.window.fill_editors();
    // The window's own 40 ms timer does the refresh.
    QTRY_COMPARE(b.text("label_4"), heading);
    for (const QString& name : column)
        QVERIFY2(b.get<QWidget>(name)->isVisible() == shown.contains(name), qPrintable(name));
    QCOMPARE(b.text("can_read_label"), QStringLiteral("42"));
}

void tst_laser_params::fill_editors_per_type_data()
{
    QTest::addColumn<fill_case>("c");

    QTest::newRow("CW") << fill_case{
        8,
        {{0xD1, 9}, {0x96, 10000}, {0x95, 3950}, {0x97, 125}, {0xB7, 350}, {0xB6, 150},
         {0xA5, 1500}, {0xA6, 100}, {0xB3, 25}},
        {{"can_set_spin", 9}, {"res_set_spin", 10000}, {"beta_set_spin", 3950},
         {"mon_set_spin", 1.25}, {"temp_max_spin", 35.0}, {"temp_min_spin", 15.0},
         {"cur_max_spin", 150.0}, {"cur_min_spin", 10.0}, {"max_tec_curr_spin", 2.5}},
        true,
        {{"res_read_label", "10000"}, {"beta_label", "3950"}, {"mon_label", "1.25"},
         {"temp_max_label", "35.0"}, {"temp_min_label", "15.0"}, {"cur_max_label", "150.0"},
         {"cur_min_label", "10.0"}, {"max_tec_curr_label", "2.5"}, {"can_read_label", "9"}}};
    QTest::newRow("Precision CW") << fill_case{
        10,
        {{0xD1, 3}, {0x96, 4700}, {0x95, 3380}, {0x97, 7}, {0xB7, 35123}, {0xB6, 14900},
         {0xA5, 15000}, {0xA6, 1234}, {0xB3, 1}},
        {{"can_set_spin", 3}, {"res_set_spin", 4700}, {"beta_set_spin", 3380},
         {"mon_set_spin", 0.07}, {"temp_max_spin", 35.1}, {"temp_min_spin", 14.9},
         {"cur_max_spin", 150.0}, {"cur_min_spin", 12.3}},
        false,
        {{"temp_max_label", "35.1"}, {"cur_min_label", "12.3"}, {"mon_label", "0.07"},
         {"max_tec_curr_label", "0.1"}}};
    const replies pulse = {{0xD1, 200}, {0x96, 10000}, {0x95, 3380}, {0x97, 35}, {0xA5, 12345},
                           {0xA6, 5}, {0xB7, 400}, {0xB6, 100}};
    const std::map<QString, double> pulse_editors = {
        {"can_set_spin", 200}, {"res_set_spin", 10000}, {"beta_set_spin", 3380},
        {"mon_set_spin", 0.35}, {"vol_max_spin", 1234.5}, {"vol_min_spin", 0.5},
        {"temp_max_spin", 40.0}, {"temp_min_spin", 10.0}};
    const std::map<QString, QString> pulse_labels = {
        {"vol_max_label", "1234.5"}, {"vol_min_label", "0.5"}, {"temp_max_label", "40.0"},
        {"res_read_label", "10000"}, {"mon_label", "0.35"}};
    QTest::newRow("PS") << fill_case{7, pulse, pulse_editors, false, pulse_labels};
    QTest::newRow("NS") << fill_case{6, pulse, pulse_editors, false, pulse_labels};
    QTest::newRow("SOA NS") << fill_case{13, pulse, pulse_editors, false, pulse_labels};
    // Only the CAN ID: a DCDC board has none of the other values.
    QTest::newRow("Power DCDC") << fill_case{
        11, {{0xD1, 17}, {0x96, 10000}, {0xA5, 1500}}, {{"can_set_spin", 17}}, false,
        {{"can_read_label", "17"}}};
}

void tst_laser_params::fill_editors_per_type()
{
    QFETCH(fill_case, c);
    bench b(c.type);
    for (const QString& name : editors)
        b.spin(name)->setValue(1.0);
    b.feed(c.rs);

    b.window.fill_editors();
    for (const QString& name : editors) {
        const auto it = c.editors.find(name);
        const double expected = it == c.editors.end() ? 1.0 : it->second;
        QVERIFY2(qFuzzyCompare(b.spin(name)->value(), expected), qPrintable(name));
    }
    QCOMPARE(b.get<QCheckBox>("TEC_checkbox")->isChecked(), c.tec_checked);

    b.refresh();
    for (const auto& l : c.labels)
        QCOMPARE(b.text(l.first), l.second);
}

void tst_laser_params::tec_checkbox_threshold()
{
    const std::vector<std::pair<float, double>> cases = {
        {0.0f, -1}, {0.1f, -1}, {0.149f, -1}, {0.15f, 0.2}, {0.2f, 0.2}, {3.5f, 3.5}};
    for (const auto& c : cases) {
        bench b(8);
        b.spin("max_tec_curr_spin")->setValue(1.0);
        b.worker().cw_model.max_tec_current = c.first;
        b.window.fill_editors();
        const bool checked = c.second > 0;
        QVERIFY2(b.get<QCheckBox>("TEC_checkbox")->isChecked() == checked,
                 qPrintable(QString::number(c.first)));
        // The editor only takes the value of a laser with TEC (clamped to 0.2 A).
        QCOMPARE(b.spin("max_tec_curr_spin")->value(), checked ? c.second : 1.0);
        b.refresh();
        QCOMPARE(b.get<QWidget>("max_tec_curr_group")->isVisible(), checked);
    }
}

void tst_laser_params::refill_replaces_unsent_input()
{
    {
        bench b(8);
        b.feed({{0x96, 10000}, {0xB7, 350}, {0xA5, 1500}, {0xB3, 20}});
        b.refresh();
        QCOMPARE(b.spin("cur_max_spin")->value(), 150.0);

        b.spin("cur_max_spin")->setValue(200.0);
        b.spin("res_set_spin")->setValue(555);
        b.refresh();
        b.refresh();
        b.reply(0xB7, 350); // the same value again changes nothing
        b.refresh();
        QCOMPARE(b.spin("cur_max_spin")->value(), 200.0);
        QCOMPARE(b.spin("res_set_spin")->value(), 555.0);

        b.reply(0xB7, 360);
        b.refresh();
        QCOMPARE(b.spin("temp_max_spin")->value(), 36.0);
        QCOMPARE(b.spin("cur_max_spin")->value(), 150.0);
        QCOMPARE(b.spin("res_set_spin")->value(), 10000.0);
    }
    {
        bench b(7);
        b.feed({{0xA5, 1000}, {0xA6, 0}});
        b.refresh();
        b.spin("vol_max_spin")->setValue(50.0);
        b.spin("beta_set_spin")->setValue(1234);
        b.refresh();
        QCOMPARE(b.spin("vol_max_spin")->value(), 50.0);
        b.reply(0xA6, 15);
        b.refresh();
        QCOMPARE(b.spin("vol_min_spin")->value(), 1.5);
        QCOMPARE(b.spin("vol_max_spin")->value(), 100.0);
        QCOMPARE(b.spin("beta_set_spin")->value(), 0.0);
    }
}

// Each SET button writes its row's value three times with the poll paused;
// "" expects nothing sent.
void tst_laser_params::set_buttons_data()
{
    QTest::addColumn<set_case>("c");
    const replies t = {{0xB7, 350}}; // a temperature-limit reply
    const auto row = [](const char* tag, int32_t type, const replies& rs, const char* key, double value,
                        const char* bytes) {
        const QString k(key);
        const QString spin = k + (QStringList{"res", "beta", "can", "mon"}.contains(k) ? "_set_spin" : "_spin");
        const QString button = (k == "beta" ? QString("bet") : k) + "_set_but";
        QTest::newRow(tag) << set_case{type, rs, spin, value, button, *bytes ? line(bytes) : QByteArray()};
    };
    row("CW current max, no temperature reply", 8, {}, "cur_max", 150.0, "25 00 00 00 00 00 3A 98");
    row("CW current max after temperature reply", 8, t, "cur_max", 150.0, "25 00 00 00 00 00 05 DC");
    row("Precision CW current max", 10, t, "cur_max", 150.0, "25 00 00 00 00 00 3A 98");
    row("CW current min, large", 8, {}, "cur_min", 123456.7, "26 00 00 00 00 BC 61 46");
    row("CW temperature max", 8, {}, "temp_max", 35.0, "37 00 00 00 00 00 01 5E");
    row("Precision CW temperature max", 10, {}, "temp_max", 35.0, "37 00 00 00 00 00 88 B8");
    row("Precision CW temperature min", 10, {}, "temp_min", 12.3, "36 00 00 00 00 00 30 0C");
    row("PS temperature min", 7, {}, "temp_min", 15.5, "36 00 00 00 00 00 00 9B");
    row("NS voltage max", 6, {}, "vol_max", 1234.5, "25 00 00 00 00 00 30 39");
    row("SOA NS voltage min", 13, {}, "vol_min", 10.0, "26 00 00 00 00 00 00 64");
    row("PS r25", 7, {}, "res", 10000, "16 00 00 00 00 00 27 10");
    row("CW beta", 8, {}, "beta", 3950, "15 00 00 00 00 00 0F 6E");
    row("NS responsivity truncates", 6, {}, "mon", 0.35, "17 00 00 00 00 00 00 22");
    row("Precision CW TEC current", 10, {}, "max_tec_curr", 2.5, "33 00 00 00 00 00 00 19");
    row("CW CAN ID", 8, {}, "can", 7, "51 00 00 00 00 00 00 07");
    row("Power DCDC CAN ID", 11, {}, "can", 200, "51 00 00 00 00 00 00 C8");
    // Values beyond a field are held at its top by the editor instead of wrapping.
    row("CAN ID 300 stays 255", 8, {}, "can", 300, "51 00 00 00 00 00 00 FF");
    row("r25 100000 stays 65535", 8, {}, "res", 100000, "16 00 00 00 00 00 FF FF");
    row("Precision CW temperature 100 stays 65.5", 10, {}, "temp_max", 100.0, "37 00 00 00 00 00 FF DC");
    row("PS voltage 100000 stays 6553.5", 7, {}, "vol_max", 100000, "25 00 00 00 00 00 FF FF");
    // Buttons that do not serve the type.
    row("CW voltage max", 8, {}, "vol_max", 10, "");
    row("PS current max", 7, {}, "cur_max", 10, "");
    row("NS TEC current", 6, {}, "max_tec_curr", 1, "");
    row("Power DCDC r25", 11, {}, "res", 10000, "");
    row("Power DCDC temperature", 11, {}, "temp_max", 30, "");
    row("lost board CAN ID", -1, {}, "can", 7, "");
}

void tst_laser_params::set_buttons()
{
    QFETCH(set_case, c);
    bench b(c.type == -1 ? 8 : c.type);
    if (c.type == -1)
        b.worker().device_type = -1; // what the heartbeat does to a silent board
    b.feed(c.rs);
    b.refresh();
    b.spin(c.editor)->setValue(c.value);

    std::vector<bool> polling_at_emission;
    connect(&b.window, &laser_params::sig_thread_serial_write, &b.window,
            [&] { polling_at_emission.push_back(b.worker().param_reading); });
    bool polling_in_pause = true;
    QTimer::singleShot(20, &b.window, [&] { polling_in_pause = b.worker().param_reading; });

    QElapsedTimer clock;
    clock.start();
    b.get<QPushButton>(c.button)->click();
    const qint64 elapsed = clock.elapsed();

    QVERIFY(!polling_in_pause);
    QVERIFY(b.worker().param_reading);
    if (c.frame.isEmpty()) {
        QCOMPARE(b.frames.count(), 0);
        QVERIFY2(elapsed >= 40, qPrintable(QString::number(elapsed)));
        return;
    }
    QCOMPARE(b.frames.count(), 3);
    for (const auto& args : b.frames)
        QCOMPARE(args.at(0).toByteArray(), c.frame);
    QCOMPARE(polling_at_emission, std::vector<bool>(3, false));
    QVERIFY2(elapsed >= 160, qPrintable(QString::number(elapsed)));
}

void tst_laser_params::tec_checkbox_writes()
{
    bench b(8);
    b.reply(0xB3, 1); // 0.1 A: a laser without TEC
    b.window.fill_editors();
    b.refresh();
    auto* box = b.get<QCheckBox>("TEC_checkbox");
    QVERIFY(!box->isChecked());
    QVERIFY(!b.get<QWidget>("max_tec_curr_group")->isVisible());

    box->click(); // the editor holds its lowest value, 0.2 A
    QCOMPARE(b.frames.count(), 3);
    QCOMPARE(b.frames.at(2).at(0).toByteArray(), line("33 00 00 00 00 00 00 02"));
    QVERIFY(b.worker().param_reading);
    b.refresh();
    QVERIFY(b.get<QWidget>("max_tec_curr_group")->isVisible());

    b.spin("max_tec_curr_spin")->setValue(1.5);
    box->click(); // unchecking writes 0.1 A, below the threshold
    QCOMPARE(b.frames.count(), 6);
    QCOMPARE(b.frames.at(5).at(0).toByteArray(), line("33 00 00 00 00 00 00 01"));
    b.refresh();
    QVERIFY(!b.get<QWidget>("max_tec_curr_group")->isVisible());
}

void tst_laser_params::closing_during_a_write_keeps_the_poll_released()
{
    bench b(8);
    b.spin("res_set_spin")->setValue(10000);
    QTimer::singleShot(70, &b.window, [&] {
        b.window.close();
        b.worker().param_reading = false; // the main window hands the channel back
    });
    b.get<QPushButton>("res_set_but")->click();
    QCOMPARE(b.frames.count(), 3);
    QVERIFY(!b.worker().param_reading);
}

void tst_laser_params::written_value_is_the_one_clicked()
{
    bench b(8);
    b.refresh();
    b.spin("res_set_spin")->setValue(12345);
    // A late parameter reply refills the editors during the first pause.
    QTimer::singleShot(5, &b.window, [&] {
        b.reply(0x96, 999);
        b.refresh();
    });
    b.get<QPushButton>("res_set_but")->click();
    QCOMPARE(b.spin("res_set_spin")->value(), 999.0);
    QCOMPARE(b.frames.count(), 3);
    QCOMPARE(b.frames.at(0).at(0).toByteArray(), line("16 00 00 00 00 00 30 39"));
}

void tst_laser_params::editor_ranges_carry_without_wrapping()
{
    struct range
    {
        const char* editor;
        double min, max, step;
        int decimals;
    };
    const std::vector<range> common = {
        {"can_set_spin", 0, 255, 1, 0},          {"res_set_spin", 0, 65535, 1, 0},
        {"beta_set_spin", 0, 65535, 1, 0},       {"mon_set_spin", 0, 655.35, 0.1, 2},
        {"vol_max_spin", 0, 6553.5, 0.1, 1},     {"vol_min_spin", 0, 6553.5, 0.1, 1},
        {"cur_max_spin", 0, 1000000, 0.1, 1},    {"cur_min_spin", 0, 1000000, 0.1, 1},
        {"max_tec_curr_spin", 0.2, 4.0, 0.1, 1}};
    for (int32_t type : {8, 10, 7, 6, 13, 11}) {
        bench b(type);
        b.refresh();
        const double temp_max = type == 10 ? 65.5 : 6553.5;
        std::vector<range> all = common;
        all.push_back({"temp_max_spin", 0, temp_max, 0.1, 1});
        all.push_back({"temp_min_spin", 0, temp_max, 0.1, 1});
        for (const range& r : all) {
            const QDoubleSpinBox* s = b.spin(r.editor);
            const QString tag = QStringLiteral("%1 type %2").arg(r.editor).arg(type);
            QVERIFY2(s->minimum() == r.min && s->maximum() == r.max, qPrintable(tag));
            QVERIFY2(s->singleStep() == r.step && s->decimals() == r.decimals, qPrintable(tag));
        }
    }

    // A board that turns out to be Precision CW while the window is open.
    bench b(8);
    b.refresh();
    b.spin("temp_max_spin")->setValue(100.0);
    b.reply(0xD0, 10);
    b.refresh();
    QCOMPARE(b.spin("temp_max_spin")->value(), 65.5);
}

void tst_laser_params::close_emits_hidden_once()
{
    bench b(8);
    QSignalSpy hidden(&b.window, &laser_params::sig_laser_conf_dialog_is_hided);
    b.get<QPushButton>("write_button")->click();
    QCOMPARE(hidden.count(), 1);
    QVERIFY(!b.window.isVisible());
    // Hidden, the window keeps refreshing: it stays bound and active.
    b.reply(0xB7, 400);
    QTRY_COMPARE(b.text("temp_max_label"), QStringLiteral("40.0"));
    QCOMPARE(hidden.count(), 1);
    QCOMPARE(b.frames.count(), 0);
}

QTEST_MAIN(tst_laser_params)
#include "tst_laser_params.moc"
