#include "laser_object.h"

#include "driver_decoder.h"
#include "driver_type.h"
#include "setpoint_wire.h"
#include "widget_sync.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDebug>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <functional>
#include <vector>

namespace {

// A prefix and what to do with the direct child whose name begins with it.
struct prefix_rule
{
    const char* prefix;
    std::function<void(QWidget*)> take;
};

// Walks the direct child widgets of parent; for each, the first rule whose
// prefix begins its object name takes it. A later child matching the same
// prefix replaces an earlier one.
void walk_children(QWidget* parent, const std::vector<prefix_rule>& rules)
{
    if (!parent)
        return;
    const QObjectList children = parent->children();
    for (QObject* child : children) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget)
            continue; // layouts and other helpers
        const QString name = widget->objectName();
        for (const prefix_rule& rule : rules) {
            if (name.startsWith(QLatin1String(rule.prefix))) {
                rule.take(widget);
                break;
            }
        }
    }
}

template <typename T>
prefix_rule keep(const char* prefix, T*& field, std::function<void(T*)> then = {})
{
    return {prefix, [prefix, &field, then](QWidget* w) {
                auto* typed = qobject_cast<T*>(w);
                if (!typed) {
                    qWarning().noquote() << "laser_object: widget" << w->objectName()
                                         << "matches" << prefix << "but is a"
                                         << w->metaObject()->className();
                    return;
                }
                field = typed;
                if (then)
                    then(typed);
            }};
}

} // namespace

laser_object::laser_object(QObject* parent, int can_id_arg, QWidget* panel)
    : QObject(parent), panel_widget(panel)
{
    bind_panel();
    is_bound = check_bound();
    if (is_bound)
        connect_widgets();

    worker_owner = std::make_unique<laser_worker>(nullptr);
    worker = worker_owner.get();
    worker->set_can_id(can_id_arg);
    can_id = can_id_arg;

    cw_widget->hide();
    ps_ns_widget->hide();
    if (panel_widget) {
        for (QLabel* l : panel_widget->findChildren<QLabel*>()) {
            if (l->property("role").toString() == QLatin1String("reading"))
                reading_labels.push_back(l);
        }
    }

    if (is_bound) {
        // Fields whose command carries fewer values than the form offers.
        const value_range width = narrow_range(dura_spin->minimum(), dura_spin->maximum(),
                                               setpoint_wire::pulse_width(), dura_spin->decimals());
        set_range_if_changed(dura_spin, width.lo, width.hi);
        const value_range& count = setpoint_wire::count();
        for (QDoubleSpinBox* spin : {pulse_gated_spin, pulse_cutted_spin}) {
            const value_range r = narrow_range(spin->minimum(), spin->maximum(), count, 0);
            set_range_if_changed(spin, r.lo, r.hi);
        }
    }
}

laser_object::~laser_object()
{
    worker_owner->stop_and_wait();
}

void laser_object::bind_panel()
{
    walk_children(panel_widget, {
        keep<QGroupBox>("laser_group", laser_group,
                        [this](QGroupBox* g) { bind_laser_group(g); }),
        keep<QPushButton>("laser_tab_button", laser_tab_button),
        keep<QWidget>("alt_but_widget", alt_but_widget, [this](QWidget* w) {
            walk_children(w, {keep<QAbstractButton>("start_stop_button_alt", start_stop_button_alt)});
        }),
    });
}

void laser_object::bind_laser_group(QWidget* group)
{
    walk_children(group, {
        keep<QLabel>("laser_name_label", laser_name_label),
        keep<QAbstractButton>("config_button", config_button),
        keep<QWidget>("cw_widget", cw_widget, [this](QWidget* w) { bind_cw_widget(w); }),
        keep<QWidget>("ps_ns_widget", ps_ns_widget, [this](QWidget* w) { bind_ps_ns_widget(w); }),
    });
}

void laser_object::bind_cw_widget(QWidget* cw)
{
    walk_children(cw, {
        keep<QLabel>("curr_label", curr_label),
        keep<QLabel>("temp_label", temp_label),
        keep<QLabel>("power_label", power_label),
        keep<QLabel>("power_state_label", power_state_label),
        keep<QLabel>("fail_title", fail_title),
        keep<QLabel>("power_title", power_title),
        keep<QLabel>("input_volt_title", input_volt_title),
        keep<QLabel>("input_volt_label", input_volt_label),
        keep<QAbstractButton>("fail_butt", fail_butt),
        keep<QAbstractButton>("err_clr_butt", err_clr_butt),
        keep<QWidget>("cw_temp_widget", cw_temp_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QDoubleSpinBox>("temp_spin", temp_spin),
                keep<QLabel>("temp_max_label", temp_max_label),
                keep<QLabel>("temp_min_label", temp_min_label),
                keep<QProgressBar>("temp_indicator", temp_indicator),
                keep<QComboBox>("step_size_combo", step_size_combo),
            });
        }),
        keep<QWidget>("cw_curr_widget", cw_curr_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QDoubleSpinBox>("curr_spin", curr_spin),
                keep<QLabel>("curr_max_label", curr_max_label),
                keep<QLabel>("curr_min_label", curr_min_label),
                keep<QProgressBar>("curr_indicator", curr_indicator),
            });
        }),
        {"cw_on_off_widget", [this](QWidget* w) {
             walk_children(w, {keep<QAbstractButton>("cw_on_off_button", cw_on_off_button)});
         }},
    });
}

void laser_object::bind_ps_ns_widget(QWidget* ps_ns)
{
    walk_children(ps_ns, {
        {"ps_ns_on_off_widget", [this](QWidget* w) {
             walk_children(w, {keep<QAbstractButton>("ps_ns_on_off_butt", ps_ns_on_off_butt)});
         }},
        keep<QComboBox>("mode_combo", mode_combo),
        keep<QLabel>("pulse_power_state_label", pulse_power_state_label),
        keep<QLabel>("pulse_volt_label", pulse_volt_label),
        keep<QLabel>("pulse_temp_label", pulse_temp_label),
        keep<QLabel>("freq_label", freq_label),
        keep<QLabel>("dura_label", dura_label),
        keep<QLabel>("dura_text", dura_text),
        keep<QLabel>("N_label", N_label),
        keep<QLabel>("M_label", M_label),
        keep<QLabel>("mode_label", mode_label),
        keep<QDoubleSpinBox>("pulse_gated_spin", pulse_gated_spin),
        keep<QDoubleSpinBox>("pulse_cutted_spin", pulse_cutted_spin),
        keep<QWidget>("volt_widget", volt_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QDoubleSpinBox>("volt_spin", volt_spin),
                keep<QProgressBar>("volt_indicator", volt_indicator),
                keep<QLabel>("volt_min_label", volt_min_label),
                keep<QLabel>("volt_max_label", volt_max_label),
            });
        }),
        keep<QWidget>("pulse_temp_widget", pulse_temp_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QDoubleSpinBox>("pulse_temp_spin", pulse_temp_spin),
                keep<QProgressBar>("pulse_temp_indicator", pulse_temp_indicator),
                keep<QLabel>("temp_pulse_min_label", temp_pulse_min_label),
                keep<QLabel>("temp_pulse_max_label", temp_pulse_max_label),
            });
        }),
        keep<QWidget>("dura_widget", dura_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QDoubleSpinBox>("dura_spin", dura_spin),
                keep<QProgressBar>("dura_indicator", dura_indicator),
                keep<QLabel>("pd_max_label", pd_max_label),
                keep<QLabel>("pd_min_label", pd_min_label),
            });
        }),
        keep<QWidget>("freq_widget", freq_widget, [this](QWidget* w) {
            walk_children(w, {
                keep<QComboBox>("freq_combo", freq_combo),
                keep<QProgressBar>("freq_indicator", freq_indicator),
                keep<QLabel>("rr_max_label", rr_max_label),
                keep<QLabel>("rr_min_label", rr_min_label),
            });
        }),
    });
}

namespace {

// Gives a missing widget a hidden stand-in of the same kind, so that every
// widget field stays usable, and notes its name.
template <typename Field, typename Made = Field>
void stand_in(Field*& field, const char* prefix, QWidget* root, QStringList& missing)
{
    if (field)
        return;
    missing << QString::fromLatin1(prefix);
    auto* widget = new Made(root); // owned by root
    widget->setObjectName(QString::fromLatin1(prefix));
    field = widget;
}

} // namespace

bool laser_object::check_bound()
{
    stand_in_root = std::make_unique<QWidget>();
    QWidget* r = stand_in_root.get();
    QStringList m;
    stand_in(cw_widget, "cw_widget", r, m);
    stand_in(ps_ns_widget, "ps_ns_widget", r, m);
    stand_in(laser_tab_button, "laser_tab_button", r, m);
    stand_in(laser_group, "laser_group", r, m);
    stand_in(cw_curr_widget, "cw_curr_widget", r, m);
    stand_in(cw_temp_widget, "cw_temp_widget", r, m);
    stand_in(pulse_temp_widget, "pulse_temp_widget", r, m);
    stand_in(volt_widget, "volt_widget", r, m);
    stand_in(freq_widget, "freq_widget", r, m);
    stand_in(dura_widget, "dura_widget", r, m);
    stand_in(alt_but_widget, "alt_but_widget", r, m);
    stand_in(laser_name_label, "laser_name_label", r, m);
    stand_in(curr_label, "curr_label", r, m);
    stand_in(curr_min_label, "curr_min_label", r, m);
    stand_in(curr_max_label, "curr_max_label", r, m);
    stand_in(temp_label, "temp_label", r, m);
    stand_in(pulse_temp_label, "pulse_temp_label", r, m);
    stand_in(temp_min_label, "temp_min_label", r, m);
    stand_in(temp_max_label, "temp_max_label", r, m);
    stand_in(temp_pulse_min_label, "temp_pulse_min_label", r, m);
    stand_in(temp_pulse_max_label, "temp_pulse_max_label", r, m);
    stand_in(pulse_volt_label, "pulse_volt_label", r, m);
    stand_in(volt_max_label, "volt_max_label", r, m);
    stand_in(volt_min_label, "volt_min_label", r, m);
    stand_in(freq_label, "freq_label", r, m);
    stand_in(rr_max_label, "rr_max_label", r, m);
    stand_in(rr_min_label, "rr_min_label", r, m);
    stand_in(dura_label, "dura_label", r, m);
    stand_in(dura_text, "dura_text", r, m);
    stand_in(pd_max_label, "pd_max_label", r, m);
    stand_in(pd_min_label, "pd_min_label", r, m);
    stand_in(N_label, "N_label", r, m);
    stand_in(M_label, "M_label", r, m);
    stand_in(power_label, "power_label", r, m);
    stand_in(power_state_label, "power_state_label", r, m);
    stand_in(pulse_power_state_label, "pulse_power_state_label", r, m);
    stand_in(fail_title, "fail_title", r, m);
    stand_in(power_title, "power_title", r, m);
    stand_in(input_volt_title, "input_volt_title", r, m);
    stand_in(input_volt_label, "input_volt_label", r, m);
    stand_in(mode_label, "mode_label", r, m);
    stand_in<QAbstractButton, QPushButton>(ps_ns_on_off_butt, "ps_ns_on_off_butt", r, m);
    stand_in<QAbstractButton, QPushButton>(cw_on_off_button, "cw_on_off_button", r, m);
    stand_in<QAbstractButton, QPushButton>(start_stop_button_alt, "start_stop_button_alt", r, m);
    stand_in<QAbstractButton, QPushButton>(config_button, "config_button", r, m);
    stand_in<QAbstractButton, QPushButton>(err_clr_butt, "err_clr_butt", r, m);
    stand_in<QAbstractButton, QPushButton>(fail_butt, "fail_butt", r, m);
    stand_in(curr_spin, "curr_spin", r, m);
    stand_in(temp_spin, "temp_spin", r, m);
    stand_in(pulse_temp_spin, "pulse_temp_spin", r, m);
    stand_in(volt_spin, "volt_spin", r, m);
    stand_in(dura_spin, "dura_spin", r, m);
    stand_in(pulse_gated_spin, "pulse_gated_spin", r, m);
    stand_in(pulse_cutted_spin, "pulse_cutted_spin", r, m);
    stand_in(freq_combo, "freq_combo", r, m);
    stand_in(mode_combo, "mode_combo", r, m);
    stand_in(step_size_combo, "step_size_combo", r, m);
    stand_in(curr_indicator, "curr_indicator", r, m);
    stand_in(volt_indicator, "volt_indicator", r, m);
    stand_in(temp_indicator, "temp_indicator", r, m);
    stand_in(pulse_temp_indicator, "pulse_temp_indicator", r, m);
    stand_in(dura_indicator, "dura_indicator", r, m);
    stand_in(freq_indicator, "freq_indicator", r, m);

    if (m.isEmpty()) {
        stand_in_root.reset();
        return true;
    }
    qWarning().noquote() << "laser_object: channel panel"
                         << (panel_widget ? panel_widget->objectName() : QStringLiteral("(none)"))
                         << "lacks" << m.join(QStringLiteral(", ")) << "- channel left inert";
    return false;
}

void laser_object::connect_widgets()
{
    using spin_value = void (QDoubleSpinBox::*)(double);
    const auto value_changed = static_cast<spin_value>(&QDoubleSpinBox::valueChanged);
    const auto enter = &QLineEdit::returnPressed;

    // A click has toggled a checkable button already: its new state is the
    // operator's wish, the opposite of what the panel showed.
    for (QAbstractButton* b : {ps_ns_on_off_butt, cw_on_off_button, start_stop_button_alt}) {
        // Never the keyboard's: a stray Space or Enter must not switch an output.
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QAbstractButton::clicked, this, [this, b](bool checked) {
            request_output(b->isCheckable() ? checked : !shown_emission_on(), command_origin::panel);
        });
    }
    connect(config_button, &QAbstractButton::clicked, this, &laser_object::config_button_clicked);
    connect(err_clr_butt, &QAbstractButton::clicked, this, &laser_object::err_clr_butt_clicked);
    connect(fail_butt, &QAbstractButton::clicked, this, &laser_object::fail_detail_butt_clicked);

    // Changing a value runs its target slot; Enter in its field, its sending slot.
    struct spin_slots
    {
        QDoubleSpinBox* spin;
        void (laser_object::*target)(double);
        void (laser_object::*send)();
    };
    const spin_slots spins[] = {
        {curr_spin, &laser_object::current_target_update, &laser_object::laser_current_butt_clicked},
        {temp_spin, &laser_object::temp_target_update, &laser_object::laser_temperature_butt_clicked},
        {pulse_temp_spin, &laser_object::temp_target_update, &laser_object::laser_temperature_butt_clicked},
        {volt_spin, &laser_object::volt_target_update, &laser_object::laser_voltage_butt_clicked},
        {dura_spin, &laser_object::pulse_width_target_update, &laser_object::laser_pulse_width_butt_clicked},
        {pulse_gated_spin, &laser_object::pulse_gated_target_update, &laser_object::laser_pulse_gated_butt_clicked},
        {pulse_cutted_spin, &laser_object::pulse_cutted_target_update, &laser_object::laser_pulse_cutted_butt_clicked},
    };
    for (const spin_slots& s : spins) {
        connect(s.spin, value_changed, this, s.target);
        // The spin box's own line edit (lineEdit() is protected).
        connect(s.spin->findChild<QLineEdit*>(), enter, this, s.send);
    }
    watch_entry();

    using combo_index = void (QComboBox::*)(int);
    connect(freq_combo, static_cast<combo_index>(&QComboBox::activated), this,
            &laser_object::freq_target_update);
    connect(mode_combo, static_cast<combo_index>(&QComboBox::activated), this,
            &laser_object::mode_update);
    connect(step_size_combo, static_cast<combo_index>(&QComboBox::currentIndexChanged), this,
            &laser_object::sl_single_step_change);
}

void laser_object::handle_driver_message(const serial_message_struct& sm)
{
    decode_driver_message(*worker, setpoint_sync, sm);
    const int32_t type = worker->device_type.load();
    if (driver_type::is_known(type))
        last_known_type = type;
    if (output_command.isValid() && output_command.elapsed() < output_hold_ms && output_on() != output_commanded)
        set_output_flag(output_commanded);
    last_reply_can_id = static_cast<int32_t>(sm.data[1]);
    last_reply.start();
}

void laser_object::config_button_clicked()
{
    emit show_conf_dialog_signal(index);
}
