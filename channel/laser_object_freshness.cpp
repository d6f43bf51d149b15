// How old the channel's readings are, and what the operator must be told
// about it: one rule for the panel, the remote server, the recording and the
// trends.
#include "laser_object.h"

#include "driver_type.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>

qint64 laser_object::reply_age_ms() const
{
    return last_reply.isValid() ? last_reply.elapsed() : -1;
}

bool laser_object::answering() const
{
    const qint64 age = reply_age_ms();
    return link_up && driver_type::is_known(worker->device_type.load()) && age >= 0 && age <= fresh_ms;
}

bool laser_object::fresh() const
{
    // The parameters window reads limits instead of readings meanwhile.
    return answering() && !worker->param_reading.load();
}

QString laser_object::staleness() const
{
    if (!link_up)
        return QStringLiteral("not connected");
    if (worker->param_reading.load() && answering())
        return QStringLiteral("readings paused while its parameters window is open");
    const qint64 age = reply_age_ms();
    if (age < 0 || !driver_type::is_known(worker->device_type.load()))
        return QStringLiteral("no reply");
    if (age > fresh_ms)
        return QStringLiteral("no reply for %1 s").arg(age / 1000);
    return QString();
}

void laser_object::raise_alarm(const QString& why)
{
    if (!alarm.isEmpty())
        return; // the first reason stands until acknowledged
    alarm = QStringLiteral("Lost while emitting: ") + why;
    emit sig_alarm(index, alarm);
}

void laser_object::acknowledge_alarm()
{
    alarm.clear();
}

void laser_object::link_changed(bool up, bool lost)
{
    if (!up && lost && enabled && output_on() && was_answering)
        raise_alarm(QStringLiteral("adapter lost"));
    if (!up)
        was_answering = false; // said already, or not lost
    // A new connection starts without answers: the board is not asked before
    // the start delay has run, and a reply of the last connection must not
    // make it look answering meanwhile, nor lost when that reply ages.
    if (up && !link_up)
        last_reply.invalidate();
    link_up = up;
}

void laser_object::watch_freshness()
{
    // A disabled channel watches no board (it may still hear one on its CAN ID).
    const bool now = answering() && enabled;
    if (was_answering && !now && enabled && output_on())
        raise_alarm(staleness());
    was_answering = now;
}

QString laser_object::tab_decoration() const
{
    QString text;
    if (!fresh() && driver_type::is_known(worker->device_type.load()))
        text += QStringLiteral("  \u2014 ") + staleness();
    if (worker->device_type.load() == driver_type::power_dcdc) {
        const dcdc_model_struct& m = worker->dcdc_model;
        if (m.fault_flags)
            text += QStringLiteral("  FAULT 0x%1").arg(m.fault_flags, 4, 16, QLatin1Char('0'));
        else if (m.warning_flags)
            text += QStringLiteral("  WARNING 0x%1").arg(m.warning_flags, 4, 16, QLatin1Char('0'));
    }
    if (remote_touch.isValid() && remote_touch.elapsed() < remote_mark_ms)
        text += QStringLiteral("  REMOTE");
    return text;
}

void laser_object::set_tab_text(const QString& text)
{
    const QString alarm_mark = alarm.isEmpty() ? QString() : QStringLiteral("ALARM  ");
    set_text_if_changed(laser_tab_button, alarm_mark + text + tab_decoration());
}

// Stale readings are greyed and no set-point can be entered until the board answers again.
void laser_object::show_freshness()
{
    const bool now = fresh() || !driver_type::is_known(worker->device_type.load());
    for (QLabel* l : reading_labels)
        set_enabled_if_changed(l, now);
    if (!now) {
        for (QWidget* w : std::initializer_list<QWidget*>{cw_curr_widget, cw_temp_widget, pulse_temp_widget, volt_widget,
                                                          freq_widget, dura_widget, mode_combo, pulse_gated_spin,
                                                          pulse_cutted_spin})
            set_enabled_if_changed(w, false);
    }
    const QString title = laser_name_label->text().section(QStringLiteral("  \u2014 "), 0, 0);
    set_text_if_changed(laser_name_label, now ? title : title + QStringLiteral("  \u2014 ") + staleness());
    set_style_if_changed(laser_tab_button, alarm.isEmpty() ? QString() : QStringLiteral("QPushButton { color: #c00000; font-weight: bold; }"));
}
