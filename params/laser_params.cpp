#include "laser_params.h"

#include "ui_laser_params.h"

#include "build_can_frame.h"
#include "driver_type.h"
#include "laser_object.h"
#include "laser_worker.h"
#include "panel_template.h"
#include "wait_ms.h"

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QLayout>
#include <QTimer>

namespace {

constexpr int refresh_interval_ms = 40;
constexpr int pause_ms = 50;   // lets the parameter poll fall silent, and paces the repeats
constexpr int repeats = 3;     // set commands are idempotent; repeats cover lost frames

constexpr float tec_threshold = 0.15f;  // A; a lower TEC current limit means "no TEC"
constexpr float tec_off_current = 0.1f; // A; written when the operator unchecks the TEC box

// Temperature limits travel in 16 bits: ×10 on most boards (up to 6553.5 °C),
// ×1000 on a Precision CW board (up to 65.535 °C; the editor shows one
// decimal, so 65.5 is the largest value it can hold without wrapping).
constexpr double temp_limit_max = 6553.5;
constexpr double precision_temp_limit_max = 65.5;

bool is_pulse_type(int32_t t)
{
    return t == driver_type::ps || driver_type::is_ns_family(t);
}

// Calls f with the record that holds the thermistor, responsivity and
// temperature limits of the board's family; false when the type has none.
template <typename F>
bool with_family_record(const laser_worker& w, F&& f)
{
    const int32_t t = w.device_type;
    if (driver_type::is_cw_family(t)) {
        f(w.cw_model);
        return true;
    }
    if (t == driver_type::ps) {
        f(w.ps_model);
        return true;
    }
    if (driver_type::is_ns_family(t)) {
        f(w.ns_model);
        return true;
    }
    return false;
}

// As with_family_record, for the PS and NS records only (voltage limits).
template <typename F>
bool with_pulse_record(const laser_worker& w, F&& f)
{
    const int32_t t = w.device_type;
    if (t == driver_type::ps) {
        f(w.ps_model);
        return true;
    }
    if (driver_type::is_ns_family(t)) {
        f(w.ns_model);
        return true;
    }
    return false;
}

// The encoder scales current limits by 10. A CW board that has reported its
// temperature limits takes them in 0.1 mA, every other CW-family board in
// 0.01 mA, so the entered value is pre-scaled for those.
float current_limit_argument(const laser_worker& w, double entered)
{
    const bool plain = w.device_type == driver_type::cw && w.cw_model.temp_limits_reported == 1;
    return static_cast<float>(plain ? entered : entered * 10.0);
}

// A Precision CW board takes temperature limits in 0.001 °C; the encoder
// scales by 10.
float temp_limit_argument(const laser_worker& w, double entered)
{
    const bool precision = w.device_type == driver_type::precision_cw;
    return static_cast<float>(precision ? entered * 100.0 : entered);
}

float truncated(double entered)
{
    return static_cast<float>(static_cast<int32_t>(entered));
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

laser_params::laser_params(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::laser_params>())
{
    init_ui_resources(); // the window icon
    ui->setupUi(this);
    view_timer = new QTimer(this);
    view_timer->setInterval(refresh_interval_ms);
    connect(view_timer, &QTimer::timeout, this, &laser_params::view_update_timer_slot);
    view_timer->start();
}

laser_params::~laser_params() = default;

void laser_params::fill_editors()
{
    if (!active || !laser || !laser->worker)
        return;
    const laser_worker& w = *laser->worker;
    const int32_t t = w.device_type;
    apply_editor_ranges(t);

    ui->can_set_spin->setValue(w.reported_can_id);
    if (driver_type::is_cw_family(t)) {
        const cw_model_struct& m = w.cw_model;
        ui->res_set_spin->setValue(m.thermistor_r25);
        ui->beta_set_spin->setValue(m.thermistor_beta);
        ui->mon_set_spin->setValue(m.monitor_responsivity);
        ui->cur_max_spin->setValue(m.current_max);
        ui->cur_min_spin->setValue(m.current_min);
        ui->temp_max_spin->setValue(m.temp_max);
        ui->temp_min_spin->setValue(m.temp_min);
        const bool with_tec = m.max_tec_current >= tec_threshold;
        ui->TEC_checkbox->setChecked(with_tec);
        if (with_tec)
            ui->max_tec_curr_spin->setValue(m.max_tec_current);
        return;
    }
    with_pulse_record(w, [this](const auto& m) {
        ui->res_set_spin->setValue(m.thermistor_r25);
        ui->beta_set_spin->setValue(m.thermistor_beta);
        ui->mon_set_spin->setValue(m.monitor_responsivity);
        ui->vol_max_spin->setValue(m.voltage_max);
        ui->vol_min_spin->setValue(m.voltage_min);
        ui->temp_max_spin->setValue(m.temp_max);
        ui->temp_min_spin->setValue(m.temp_min);
    });
}

void laser_params::on_write_button_clicked()
{
    close();
}

void laser_params::view_update_timer_slot()
{
    if (!active)
        return;
    fit_to_contents();
    if (!laser || !laser->worker)
        return;
    const laser_worker& w = *laser->worker;
    const int32_t t = w.device_type;

    ui->can_read_label->setText(fixed(w.reported_can_id, 0));
    // The type may change while the window is open; the editors must not
    // accept a value that the new type's frames cannot carry.
    apply_editor_ranges(t);
    if (record_differs_from_shown(w))
        fill_editors();
    apply_layout(t);
    show_read_back(w);
    remember_shown(w);
}

void laser_params::on_res_set_but_clicked()
{
    const float v = truncated(ui->res_set_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        return with_family_record(w, [&](const auto& m) { m.set_thermistor_r25(v, buf, len); });
    });
}

void laser_params::on_bet_set_but_clicked()
{
    const float v = truncated(ui->beta_set_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        return with_family_record(w, [&](const auto& m) { m.set_thermistor_beta(v, buf, len); });
    });
}

void laser_params::on_mon_set_but_clicked()
{
    const float v = static_cast<float>(ui->mon_set_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        return with_family_record(w, [&](const auto& m) { m.set_monitor_responsivity(v, buf, len); });
    });
}

void laser_params::on_cur_max_set_but_clicked()
{
    const double entered = ui->cur_max_spin->value();
    send_sequence([entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type))
            return false;
        w.cw_model.set_current_max(current_limit_argument(w, entered), buf, len);
        return true;
    });
}

void laser_params::on_cur_min_set_but_clicked()
{
    const double entered = ui->cur_min_spin->value();
    send_sequence([entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type))
            return false;
        w.cw_model.set_current_min(current_limit_argument(w, entered), buf, len);
        return true;
    });
}

void laser_params::on_vol_max_set_but_clicked()
{
    const float v = static_cast<float>(ui->vol_max_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        return with_pulse_record(w, [&](const auto& m) { m.set_voltage_max(v, buf, len); });
    });
}

void laser_params::on_vol_min_set_but_clicked()
{
    const float v = static_cast<float>(ui->vol_min_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        return with_pulse_record(w, [&](const auto& m) { m.set_voltage_min(v, buf, len); });
    });
}

void laser_params::on_temp_max_set_but_clicked()
{
    const double entered = ui->temp_max_spin->value();
    send_sequence([entered](const laser_worker& w, char* buf, uint32_t* len) {
        const float v = temp_limit_argument(w, entered);
        return with_family_record(w, [&](const auto& m) { m.set_temp_max(v, buf, len); });
    });
}

void laser_params::on_temp_min_set_but_clicked()
{
    const double entered = ui->temp_min_spin->value();
    send_sequence([entered](const laser_worker& w, char* buf, uint32_t* len) {
        const float v = temp_limit_argument(w, entered);
        return with_family_record(w, [&](const auto& m) { m.set_temp_min(v, buf, len); });
    });
}

void laser_params::on_can_set_but_clicked()
{
    const int32_t id = static_cast<int32_t>(ui->can_set_spin->value());
    send_sequence([id](const laser_worker& w, char* buf, uint32_t* len) {
        // A board that fell silent may be gone or replaced: do not rename it blindly.
        if (w.device_type == driver_type::lost)
            return false;
        w.cw_model.set_can_id(static_cast<int8_t>(id), buf, len);
        return true;
    });
}

void laser_params::on_max_tec_curr_set_but_clicked()
{
    const float v = static_cast<float>(ui->max_tec_curr_spin->value());
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type))
            return false;
        w.cw_model.set_max_tec_current(v, buf, len);
        return true;
    });
}

void laser_params::on_TEC_checkbox_clicked(bool checked)
{
    // Unchecking writes a limit below the threshold by which fill_editors()
    // recognises a laser with TEC.
    const float v = checked ? static_cast<float>(ui->max_tec_curr_spin->value()) : tec_off_current;
    send_sequence([v](const laser_worker& w, char* buf, uint32_t* len) {
        w.cw_model.set_max_tec_current(v, buf, len);
        return true;
    });
}

void laser_params::closeEvent(QCloseEvent* event)
{
    emit sig_laser_conf_dialog_is_hided();
    QMainWindow::closeEvent(event);
}

void laser_params::send_sequence(const frame_encoder& encode)
{
    if (!laser || !laser->worker)
        return;
    laser_object* const bound = laser;
    laser_worker* const worker = laser->worker;

    worker->param_reading = false;
    wait_ms(pause_ms);

    char buf[can_frame_line_length] = {};
    uint32_t len = 0;
    if (encode(*worker, buf, &len)) {
        const QByteArray frame(buf, static_cast<int>(len));
        for (int i = 0; i < repeats; ++i) {
            emit sig_thread_serial_write(frame);
            wait_ms(pause_ms);
        }
    }

    // Closing the window during the waits handed the channel back to normal
    // polling; taking it for the parameter poll again would starve its panel.
    if (laser == bound && isVisible())
        worker->param_reading = true;
}

void laser_params::fit_to_contents()
{
    adjustSize();
    // adjustSize() sizes word-wrapped labels for their preferred width, not
    // for the width the window gets; ask the column for its height there.
    QLayout* column = centralWidget()->layout();
    if (column && column->hasHeightForWidth()) {
        const int h = column->totalHeightForWidth(width());
        if (h != height())
            resize(width(), h);
    }
}

void laser_params::apply_editor_ranges(int32_t type)
{
    const double temp_max =
        type == driver_type::precision_cw ? precision_temp_limit_max : temp_limit_max;
    // Only on a change: setting a range rewrites the editor's text, which
    // would disturb typing on every refresh.
    for (QDoubleSpinBox* spin : {ui->temp_max_spin, ui->temp_min_spin}) {
        if (spin->maximum() != temp_max)
            spin->setMaximum(temp_max);
    }
}

void laser_params::apply_layout(int32_t type)
{
    const bool cw = driver_type::is_cw_family(type);
    const bool pulse = is_pulse_type(type);

    ui->cur_max_group->setVisible(cw);
    ui->cur_min_group->setVisible(cw);
    ui->vol_max_group->setVisible(pulse);
    ui->vol_min_group->setVisible(pulse);
    ui->temp_max_group->setVisible(cw || pulse);
    ui->temp_min_group->setVisible(cw || pulse);
    ui->res_group->setVisible(cw || pulse);
    ui->beta_group->setVisible(cw || pulse);
    ui->TEC_checkbox->setVisible(cw);
    ui->max_tec_curr_group->setVisible(cw && ui->TEC_checkbox->isChecked());
    ui->mon_group->setVisible(cw);

    const QString type_name = driver_type::name(type);
    ui->label_4->setText(type_name.isEmpty()
                             ? laser->name + QStringLiteral(" parameters")
                             : QStringLiteral("%1 (%2) parameters").arg(laser->name, type_name));
}

bool laser_params::record_differs_from_shown(const laser_worker& w) const
{
    const int32_t t = w.device_type;
    if (driver_type::is_cw_family(t)) {
        const cw_model_struct& m = w.cw_model;
        return m.thermistor_r25 != shown_r25 || m.thermistor_beta != shown_beta
               || m.monitor_responsivity != shown_responsivity
               || m.current_min != shown_lower_limit || m.current_max != shown_upper_limit
               || m.temp_min != shown_temp_min || m.temp_max != shown_temp_max
               || m.max_tec_current != shown_tec_current;
    }
    bool differs = false;
    with_pulse_record(w, [&](const auto& m) {
        differs = m.thermistor_r25 != shown_r25 || m.thermistor_beta != shown_beta
                  || m.voltage_min != shown_lower_limit || m.voltage_max != shown_upper_limit
                  || m.temp_min != shown_temp_min || m.temp_max != shown_temp_max;
    });
    return differs;
}

void laser_params::show_read_back(const laser_worker& w)
{
    if (driver_type::is_cw_family(w.device_type)) {
        const cw_model_struct& m = w.cw_model;
        ui->cur_max_label->setText(fixed(m.current_max, 1));
        ui->cur_min_label->setText(fixed(m.current_min, 1));
        ui->max_tec_curr_label->setText(fixed(m.max_tec_current, 1));
    }
    with_pulse_record(w, [this](const auto& m) {
        ui->vol_max_label->setText(fixed(m.voltage_max, 1));
        ui->vol_min_label->setText(fixed(m.voltage_min, 1));
    });
    with_family_record(w, [this](const auto& m) {
        ui->temp_max_label->setText(fixed(m.temp_max, 1));
        ui->temp_min_label->setText(fixed(m.temp_min, 1));
        ui->res_read_label->setText(fixed(m.thermistor_r25, 0));
        ui->beta_label->setText(fixed(m.thermistor_beta, 0));
        ui->mon_label->setText(fixed(m.monitor_responsivity, 2));
    });
}

void laser_params::remember_shown(const laser_worker& w)
{
    if (driver_type::is_cw_family(w.device_type)) {
        const cw_model_struct& m = w.cw_model;
        shown_lower_limit = m.current_min;
        shown_upper_limit = m.current_max;
        shown_tec_current = m.max_tec_current;
    }
    with_pulse_record(w, [this](const auto& m) {
        shown_lower_limit = m.voltage_min;
        shown_upper_limit = m.voltage_max;
    });
    with_family_record(w, [this](const auto& m) {
        shown_r25 = m.thermistor_r25;
        shown_beta = m.thermistor_beta;
        shown_responsivity = m.monitor_responsivity;
        shown_temp_min = m.temp_min;
        shown_temp_max = m.temp_max;
    });
}
