// The channel controller binds its widgets by object-name prefix among the direct
// children of a named parent, so the template's names and nesting are an interface.
#include "panel_template.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QtTest>

namespace {

struct binding
{
    const char* prefix;
    const char* parent;   // prefix of the parent; nullptr = the panel container itself
    const char* class_name;
};

// Every widget the channel controller looks up, with the parent it searches.
const binding panel_bindings[] = {
    {"laser_group", nullptr, "QGroupBox"},
    {"laser_tab_button", nullptr, "QPushButton"},
    {"alt_but_widget", nullptr, "QWidget"},
    {"start_stop_button_alt", "alt_but_widget", "QPushButton"},
    {"laser_name_label", "laser_group", "QLabel"},
    {"config_button", "laser_group", "QPushButton"},
    {"cw_widget", "laser_group", "QWidget"},
    {"ps_ns_widget", "laser_group", "QWidget"},
    {"curr_label", "cw_widget", "QLabel"},
    {"temp_label", "cw_widget", "QLabel"},
    {"power_label", "cw_widget", "QLabel"},
    {"power_state_label", "cw_widget", "QLabel"},
    {"fail_title", "cw_widget", "QLabel"},
    {"power_title", "cw_widget", "QLabel"},
    {"input_volt_title", "cw_widget", "QLabel"},
    {"input_volt_label", "cw_widget", "QLabel"},
    {"fail_butt", "cw_widget", "QPushButton"},
    {"err_clr_butt", "cw_widget", "QPushButton"},
    {"cw_temp_widget", "cw_widget", "QWidget"},
    {"cw_curr_widget", "cw_widget", "QWidget"},
    {"cw_on_off_widget", "cw_widget", "QWidget"},
    {"temp_spin", "cw_temp_widget", "QDoubleSpinBox"},
    {"temp_max_label", "cw_temp_widget", "QLabel"},
    {"temp_min_label", "cw_temp_widget", "QLabel"},
    {"temp_indicator", "cw_temp_widget", "QProgressBar"},
    {"step_size_combo", "cw_temp_widget", "QComboBox"},
    {"curr_spin", "cw_curr_widget", "QDoubleSpinBox"},
    {"curr_max_label", "cw_curr_widget", "QLabel"},
    {"curr_min_label", "cw_curr_widget", "QLabel"},
    {"curr_indicator", "cw_curr_widget", "QProgressBar"},
    {"cw_on_off_button", "cw_on_off_widget", "QPushButton"},
    {"ps_ns_on_off_widget", "ps_ns_widget", "QWidget"},
    {"ps_ns_on_off_butt", "ps_ns_on_off_widget", "QPushButton"},
    {"mode_combo", "ps_ns_widget", "QComboBox"},
    {"pulse_power_state_label", "ps_ns_widget", "QLabel"},
    {"pulse_volt_label", "ps_ns_widget", "QLabel"},
    {"pulse_temp_label", "ps_ns_widget", "QLabel"},
    {"freq_label", "ps_ns_widget", "QLabel"},
    {"dura_label", "ps_ns_widget", "QLabel"},
    {"dura_text", "ps_ns_widget", "QLabel"},
    {"N_label", "ps_ns_widget", "QLabel"},
    {"M_label", "ps_ns_widget", "QLabel"},
    {"mode_label", "ps_ns_widget", "QLabel"},
    {"pulse_gated_spin", "ps_ns_widget", "QDoubleSpinBox"},
    {"pulse_cutted_spin", "ps_ns_widget", "QDoubleSpinBox"},
    {"volt_widget", "ps_ns_widget", "QWidget"},
    {"volt_spin", "volt_widget", "QDoubleSpinBox"},
    {"volt_indicator", "volt_widget", "QProgressBar"},
    {"volt_min_label", "volt_widget", "QLabel"},
    {"volt_max_label", "volt_widget", "QLabel"},
    {"pulse_temp_widget", "ps_ns_widget", "QWidget"},
    {"pulse_temp_spin", "pulse_temp_widget", "QDoubleSpinBox"},
    {"pulse_temp_indicator", "pulse_temp_widget", "QProgressBar"},
    {"temp_pulse_min_label", "pulse_temp_widget", "QLabel"},
    {"temp_pulse_max_label", "pulse_temp_widget", "QLabel"},
    {"dura_widget", "ps_ns_widget", "QWidget"},
    {"dura_spin", "dura_widget", "QDoubleSpinBox"},
    {"dura_indicator", "dura_widget", "QProgressBar"},
    {"pd_max_label", "dura_widget", "QLabel"},
    {"pd_min_label", "dura_widget", "QLabel"},
    {"freq_widget", "ps_ns_widget", "QWidget"},
    {"freq_combo", "freq_widget", "QComboBox"},
    {"freq_indicator", "freq_widget", "QProgressBar"},
    {"rr_max_label", "freq_widget", "QLabel"},
    {"rr_min_label", "freq_widget", "QLabel"},
};

QList<QObject*> children_with_prefix(QObject* parent, const QString& prefix)
{
    QList<QObject*> found;
    for (QObject* child : parent->children()) {
        if (child->objectName().startsWith(prefix))
            found << child;
    }
    return found;
}

} // namespace

class test_panel_template : public QObject
{
    Q_OBJECT

private slots:
    void every_prefix_binds_exactly_its_widget_data();
    void every_prefix_binds_exactly_its_widget();
    void names_are_unique_and_suffixed();
    void spin_boxes_start_from_the_template_values();
    void combos_indicators_and_texts();
    void config_row_is_named_and_captioned();
    void images_are_embedded();
};

void test_panel_template::every_prefix_binds_exactly_its_widget_data()
{
    QTest::addColumn<int>("channel");
    QTest::newRow("channel 1") << 1;
    QTest::newRow("channel 3") << 3;
    QTest::newRow("channel 10") << 10;
}

void test_panel_template::every_prefix_binds_exactly_its_widget()
{
    QFETCH(int, channel);
    QWidget panel;
    build_laser_panel(&panel, channel);
    const QString suffix = channel_suffix(channel);
    QCOMPARE(panel.objectName(), QString("laser_widget") + suffix);

    QHash<QString, QObject*> bound;
    for (const binding& b : panel_bindings) {
        QObject* parent = b.parent ? bound.value(b.parent) : &panel;
        QVERIFY2(parent, b.prefix);
        const QList<QObject*> matches = children_with_prefix(parent, b.prefix);
        QVERIFY2(matches.size() == 1,
                 qPrintable(QString("%1: %2 matches under %3").arg(b.prefix).arg(matches.size())
                                .arg(parent->objectName())));
        QObject* widget = matches.first();
        QVERIFY2(widget->inherits(b.class_name), b.prefix);
        // The exact name matters too: main-window code and settings use full names.
        if (QString(b.prefix) != "laser_group")
            QCOMPARE(widget->objectName(), QString(b.prefix) + suffix);
        else
            QCOMPARE(widget->objectName(), QString("laser_group_box") + suffix);
        bound.insert(b.prefix, widget);
    }
}

void test_panel_template::names_are_unique_and_suffixed()
{
    QWidget one, seven;
    build_laser_panel(&one, 1);
    build_laser_panel(&seven, 7);
    QSet<QString> names_one;
    for (QObject* o : one.findChildren<QObject*>()) {
        if (o->objectName().isEmpty() || o->objectName().startsWith("qt_"))
            continue;
        QVERIFY2(!names_one.contains(o->objectName()), qPrintable(o->objectName()));
        names_one.insert(o->objectName());
        // A template name ending in a channel-like suffix would collide across channels.
        QVERIFY2(!QRegularExpression("_\\d+$").match(o->objectName()).hasMatch(),
                 qPrintable(o->objectName()));
    }
    int renamed = 0;
    for (QObject* o : seven.findChildren<QObject*>()) {
        const QString name = o->objectName();
        if (name.isEmpty() || name.startsWith("qt_"))
            continue;
        QVERIFY2(name.endsWith("_7"), qPrintable(name));
        QVERIFY(names_one.contains(name.chopped(2)));
        ++renamed;
    }
    QCOMPARE(renamed, names_one.size());
    QVERIFY(seven.findChild<QLineEdit*>("qt_spinbox_lineedit"));
}

void test_panel_template::spin_boxes_start_from_the_template_values()
{
    struct expected { const char* name; int decimals; double min, max, step, value; };
    const expected spins[] = {
        {"curr_spin_4", 1, 0, 2000.0, 0.1, 0},
        {"temp_spin_4", 1, 15.0, 35.0, 0.1, 25.0},
        {"volt_spin_4", 1, 0, 2000.0, 0.1, 0},
        {"pulse_temp_spin_4", 1, 15.0, 35.0, 0.1, 25.0},
        {"dura_spin_4", 1, 1.0, 6500.0, 1.0, 1.0},
        {"pulse_gated_spin_4", 0, 1, 1000, 1, 1},
        {"pulse_cutted_spin_4", 0, 1, 1000, 1, 1},
    };
    QWidget panel;
    build_laser_panel(&panel, 4);
    for (const expected& e : spins) {
        auto* spin = panel.findChild<QDoubleSpinBox*>(e.name);
        QVERIFY2(spin, e.name);
        QCOMPARE(spin->decimals(), e.decimals);
        QCOMPARE(spin->minimum(), e.min);
        QCOMPARE(spin->maximum(), e.max);
        QCOMPARE(spin->singleStep(), e.step);
        QCOMPARE(spin->value(), e.value);
    }
}

void test_panel_template::combos_indicators_and_texts()
{
    QWidget panel;
    build_laser_panel(&panel, 2);
    for (const char* name : {"step_size_combo_2", "freq_combo_2", "mode_combo_2"}) {
        auto* combo = panel.findChild<QComboBox*>(name);
        QVERIFY2(combo && combo->count() == 0, name);
    }
    const auto bars = panel.findChildren<QProgressBar*>();
    QCOMPARE(bars.size(), 6);
    for (QProgressBar* bar : bars)
        QVERIFY2(bar->format().isEmpty() && bar->text().isEmpty(), qPrintable(bar->objectName()));

    const QList<QPair<QString, QString>> texts = {
        {"laser_tab_button_2", "LASER1"}, {"laser_name_label_2", "CW Type Laser"},
        {"power_state_label_2", "OFF"}, {"pulse_power_state_label_2", "OFF"},
        {"temp_label_2", "0.0 C"}, {"power_label_2", "0.0 mW"}, {"input_volt_label_2", "0.0 V"},
        {"power_title_2", "Power:"}, {"input_volt_title_2", "Input voltage:"},
        {"fail_title_2", "!!! Failure !!!:"}, {"fail_butt_2", "Details"},
        {"err_clr_butt_2", "Clear error"}, {"dura_text_2", "Duration:"},
        {"curr_min_label_2", "Min"}, {"curr_max_label_2", "Max"},
        {"temp_pulse_min_label_2", "Min"}, {"rr_max_label_2", "Max"}, {"pd_min_label_2", "Min"},
        {"config_button_2", ""},
    };
    for (const auto& t : texts) {
        QObject* w = panel.findChild<QObject*>(t.first);
        QVERIFY2(w, qPrintable(t.first));
        QCOMPARE(w->property("text").toString(), t.second);
    }
    for (const char* name : {"cw_on_off_button_2", "ps_ns_on_off_butt_2", "start_stop_button_alt_2"})
        QVERIFY2(panel.findChild<QPushButton*>(name)->isCheckable(), name);
    QVERIFY(!panel.findChild<QPushButton*>("laser_tab_button_2")->isCheckable());
    QVERIFY(!panel.findChild<QPushButton*>("config_button_2")->icon().isNull());
    QVERIFY(panel.findChild<QGroupBox*>("laser_group_box_2")->title().isEmpty());
}

void test_panel_template::config_row_is_named_and_captioned()
{
    for (int channel : {1, 2, 10}) {
        QWidget row;
        build_dev_conf_row(&row, channel);
        const QString sfx = channel_suffix(channel);
        QCOMPARE(row.objectName(), "dev_conf_widget" + sfx);
        auto* caption = row.findChild<QLabel*>("ind_label" + sfx);
        auto* addr = row.findChild<QLineEdit*>("addr" + sfx);
        auto* name = row.findChild<QLineEdit*>("edit_name" + sfx);
        auto* enabled = row.findChild<QCheckBox*>("dev_en" + sfx);
        QVERIFY(caption && addr && name && enabled);
        QCOMPARE(caption->text(), QString("channel %1").arg(channel));
        QCOMPARE(addr->text(), QString("1"));
        QCOMPARE(addr->maxLength(), 3);
        QVERIFY(name->text().isEmpty());
        QCOMPARE(enabled->text(), QString("enabled"));
        QVERIFY(!enabled->isChecked());
    }
}

void test_panel_template::images_are_embedded()
{
    init_ui_resources();
    for (const char* file : {"icon", "tarnovique_logo", "kestrane", "round_button_indicator_disabled",
                             "round_button_indicator_on", "conf_icon", "refresh", "legend",
                             "switch_off", "switch_on", "switch_disabled"}) {
        const QPixmap pixmap(QString(":/images/images/%1.png").arg(file));
        QVERIFY2(!pixmap.isNull(), file);
    }
    QCOMPARE(QPixmap(":/images/images/kestrane.png").size(), QSize(273, 35));
}

QTEST_MAIN(test_panel_template)
#include "test_panel_template.moc"
