#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// Every widget the channel controller looks up by object-name prefix, with the
// parent among whose direct children it searches.
struct binding
{
    const char* prefix;
    const char* parent;   // prefix of the parent; nullptr = the panel container itself
    const char* class_name;
};

inline const binding panel_bindings[] = {
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

// Walks the table the way the channel controller does and returns what is wrong
// (empty when every prefix finds exactly its own widget, named prefix + suffix).
inline QString panel_binding_error(QObject* panel, const QString& suffix)
{
    QHash<QString, QObject*> bound;
    for (const binding& b : panel_bindings) {
        QObject* parent = b.parent ? bound.value(b.parent) : panel;
        if (!parent)
            return QString("%1: parent %2 not bound").arg(b.prefix, b.parent);
        QList<QObject*> matches;
        for (QObject* child : parent->children()) {
            if (child->objectName().startsWith(QLatin1String(b.prefix)))
                matches << child;
        }
        if (matches.size() != 1)
            return QString("%1: %2 matches under %3").arg(b.prefix).arg(matches.size()).arg(parent->objectName());
        QObject* widget = matches.first();
        if (!widget->inherits(b.class_name))
            return QString("%1: is a %2").arg(b.prefix, widget->metaObject()->className());
        // Full names matter too: the main window and the settings use them.
        const QString full = (QString(b.prefix) == "laser_group" ? QString("laser_group_box") : QString(b.prefix)) + suffix;
        if (widget->objectName() != full)
            return QString("%1: named %2, expected %3").arg(b.prefix, widget->objectName(), full);
        bound.insert(b.prefix, widget);
    }
    return QString();
}
