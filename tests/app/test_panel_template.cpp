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

#include "panel_bindings.h"


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

    const QString error = panel_binding_error(&panel, suffix);
    QVERIFY2(error.isEmpty(), qPrintable(error));
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
