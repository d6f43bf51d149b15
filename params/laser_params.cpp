#include "laser_params.h"

#include "ui_laser_params.h"

#include "build_can_frame.h"
#include "driver_type.h"
#include "laser_object.h"
#include "laser_worker.h"
#include "panel_template.h"

#include <QCloseEvent>
#include <QHideEvent>
#include <QShowEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int refresh_interval_ms = 40;

constexpr float tec_threshold = 0.15f;  // A; a lower TEC current limit means "no TEC"
constexpr float tec_off_current = 0.1f; // A; written when the operator unchecks the TEC box

// The entered values a SET command carries to the board unchanged, at the
// editor's decimals. The editors themselves hold anything a 32-bit reply can
// bring, so a value beyond these is refused rather than sent wrapped.
struct carried_range
{
    double lo;
    double hi;
    int decimals;
};

// 16-bit fields: r25 and beta whole, responsivity ×100, voltage limits ×10,
// all unsigned; temperature limits ×10 in two's complement.
constexpr carried_range whole_16{0, 65535, 0};
constexpr carried_range responsivity_16{0, 655.35, 2};
constexpr carried_range voltage_16{0, 6553.5, 1};
constexpr carried_range temperature_16{-3276.8, 3276.7, 1};
// Precision CW temperature limits go ×1000 into an unsigned 16-bit field.
constexpr carried_range precision_temperature_16{0, 65.5, 1};
// Current limits have 32 bits, but reach the encoder as a float, which keeps
// the tenths of a milliampere exact only up to about a million.
constexpr carried_range current_limit{-1000000, 1000000, 1};
// The field would take 6553.5 A; the TEC element's 4 A ceiling stays.
constexpr carried_range tec_current{0.2, 4.0, 1};

carried_range temperature_limit_range(int32_t type)
{
    return type == driver_type::precision_cw ? precision_temperature_16 : temperature_16;
}

// True when r carries entered; otherwise says in the window why nothing is sent.
bool carried(Ui::laser_params& ui, const QLabel& caption, double entered, const carried_range& r)
{
    if (entered >= r.lo && entered <= r.hi)
        return true;
    const auto text = [&r](double v) { return QString::number(v, 'f', r.decimals); };
    ui.set_refused_label->setText(QStringLiteral("%1 not sent: %2 is outside the accepted range %3 to %4.")
                                      .arg(caption.text(), text(entered), text(r.lo), text(r.hi)));
    ui.set_refused_label->show();
    return false;
}

// A lower limit above the upper one (or the reverse) would leave the board
// no allowed value: refused, with the other limit named.
bool ordered(Ui::laser_params& ui, const QLabel& caption, double entered, double other, bool is_lower)
{
    if (is_lower ? entered <= other : entered >= other)
        return true;
    ui.set_refused_label->setText(QStringLiteral("%1 not sent: %2 is %3 the %4 limit %5.")
                                      .arg(caption.text(), QString::number(entered, 'f', 1),
                                           is_lower ? QStringLiteral("above") : QStringLiteral("below"),
                                           is_lower ? QStringLiteral("upper") : QStringLiteral("lower"),
                                           QString::number(other, 'f', 1)));
    ui.set_refused_label->show();
    return false;
}

bool is_pulse_type(int32_t t)
{
    return t == driver_type::ps || driver_type::is_ns_family(t);
}

// Types with thermistor, responsivity and temperature-limit commands.
bool has_thermal_commands(int32_t t)
{
    return driver_type::is_cw_family(t) || is_pulse_type(t);
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
    ui->set_refused_label->hide();
    view_timer = new QTimer(this);
    view_timer->setInterval(refresh_interval_ms);
    connect(view_timer, &QTimer::timeout, this, &laser_params::view_update_timer_slot);
}

void laser_params::showEvent(QShowEvent* event)
{
    // Shown with what the record holds now, then kept fresh.
    view_update_timer_slot();
    view_timer->start();
    QMainWindow::showEvent(event);
}

void laser_params::hideEvent(QHideEvent* event)
{
    view_timer->stop();
    QMainWindow::hideEvent(event);
}

laser_params::~laser_params() = default;

void laser_params::fill_editors()
{
    if (!active || !laser || !laser->worker)
        return;
    const laser_worker& w = *laser->worker;
    const int32_t t = w.device_type;

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
    if (record_differs_from_shown(w))
        fill_editors();
    apply_layout(t);
    show_read_back(w);
    remember_shown(w);
}

void laser_params::on_res_set_but_clicked()
{
    const double entered = ui->res_set_spin->value();
    send_sequence(describe(*ui->label_2, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        return has_thermal_commands(w.device_type) && carried(*ui, *ui->label_2, entered, whole_16)
               && with_family_record(w, [&](const auto& m) { m.set_thermistor_r25(truncated(entered), buf, len); });
    });
}

void laser_params::on_bet_set_but_clicked()
{
    const double entered = ui->beta_set_spin->value();
    send_sequence(describe(*ui->label, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        return has_thermal_commands(w.device_type) && carried(*ui, *ui->label, entered, whole_16)
               && with_family_record(w, [&](const auto& m) { m.set_thermistor_beta(truncated(entered), buf, len); });
    });
}

void laser_params::on_mon_set_but_clicked()
{
    const double entered = ui->mon_set_spin->value();
    send_sequence(describe(*ui->label_3, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        const float v = static_cast<float>(entered);
        return has_thermal_commands(w.device_type) && carried(*ui, *ui->label_3, entered, responsivity_16)
               && with_family_record(w, [&](const auto& m) { m.set_monitor_responsivity(v, buf, len); });
    });
}

void laser_params::on_cur_max_set_but_clicked()
{
    const double entered = ui->cur_max_spin->value();
    const bool raising = laser && entered > laser->worker->cw_model.current_max;
    confirm_raise(raising, *ui->label_5, entered, [this, entered] {
    send_sequence(describe(*ui->label_5, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type) || !carried(*ui, *ui->label_5, entered, current_limit)
            || !ordered(*ui, *ui->label_5, entered, w.cw_model.current_min, false))
            return false;
        w.cw_model.set_current_max(current_limit_argument(w, entered), buf, len);
        return true;
    });
    });
}

void laser_params::on_cur_min_set_but_clicked()
{
    const double entered = ui->cur_min_spin->value();
    send_sequence(describe(*ui->label_6, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type) || !carried(*ui, *ui->label_6, entered, current_limit)
            || !ordered(*ui, *ui->label_6, entered, w.cw_model.current_max, true))
            return false;
        w.cw_model.set_current_min(current_limit_argument(w, entered), buf, len);
        return true;
    });
}

void laser_params::on_vol_max_set_but_clicked()
{
    const double entered = ui->vol_max_spin->value();
    double now = 0.0;
    const bool pulse = laser && with_pulse_record(*laser->worker, [&](const auto& m) { now = m.voltage_max; });
    confirm_raise(pulse && entered > now, *ui->label_7, entered, [this, entered] {
    send_sequence(describe(*ui->label_7, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        const float v = static_cast<float>(entered);
        bool sent = false;
        return is_pulse_type(w.device_type) && carried(*ui, *ui->label_7, entered, voltage_16)
               && with_pulse_record(w, [&](const auto& m) {
                      if ((sent = ordered(*ui, *ui->label_7, entered, m.voltage_min, false)))
                          m.set_voltage_max(v, buf, len);
                  })
               && sent;
    });
    });
}

void laser_params::on_vol_min_set_but_clicked()
{
    const double entered = ui->vol_min_spin->value();
    send_sequence(describe(*ui->label_8, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        const float v = static_cast<float>(entered);
        bool sent = false;
        return is_pulse_type(w.device_type) && carried(*ui, *ui->label_8, entered, voltage_16)
               && with_pulse_record(w, [&](const auto& m) {
                      if ((sent = ordered(*ui, *ui->label_8, entered, m.voltage_max, true)))
                          m.set_voltage_min(v, buf, len);
                  })
               && sent;
    });
}

void laser_params::on_temp_max_set_but_clicked()
{
    const double entered = ui->temp_max_spin->value();
    double now = 0.0;
    const bool thermal = laser && with_family_record(*laser->worker, [&](const auto& m) { now = m.temp_max; });
    confirm_raise(thermal && entered > now, *ui->label_10, entered, [this, entered] {
    send_sequence(describe(*ui->label_10, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        const int32_t t = w.device_type;
        const float v = temp_limit_argument(w, entered);
        bool sent = false;
        return has_thermal_commands(t) && carried(*ui, *ui->label_10, entered, temperature_limit_range(t))
               && with_family_record(w, [&](const auto& m) {
                      if ((sent = ordered(*ui, *ui->label_10, entered, m.temp_min, false)))
                          m.set_temp_max(v, buf, len);
                  })
               && sent;
    });
    });
}

void laser_params::on_temp_min_set_but_clicked()
{
    const double entered = ui->temp_min_spin->value();
    send_sequence(describe(*ui->label_9, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        const int32_t t = w.device_type;
        const float v = temp_limit_argument(w, entered);
        bool sent = false;
        return has_thermal_commands(t) && carried(*ui, *ui->label_9, entered, temperature_limit_range(t))
               && with_family_record(w, [&](const auto& m) {
                      if ((sent = ordered(*ui, *ui->label_9, entered, m.temp_max, true)))
                          m.set_temp_min(v, buf, len);
                  })
               && sent;
    });
}

void laser_params::on_can_set_but_clicked()
{
    // The editor's 0..255 is exactly what the command's byte carries.
    const int32_t id = static_cast<int32_t>(ui->can_set_spin->value());
    // The board leaves this channel's CAN ID: while it emits, it would emit unwatched.
    confirm(laser && laser->output_on(),
            tr("%1 emits. With CAN ID %2 it leaves this channel and is no longer watched here. Write the CAN ID?")
                .arg(laser ? laser->name : QString()).arg(id),
            [this, id] {
    send_sequence(tr("CAN ID %1").arg(id), [id](const laser_worker& w, char* buf, uint32_t* len) {
        // A board that fell silent may be gone or replaced: do not rename it blindly.
        if (w.device_type == driver_type::lost)
            return false;
        w.cw_model.set_can_id(static_cast<int8_t>(id), buf, len);
        return true;
    });
            });
}

void laser_params::on_max_tec_curr_set_but_clicked()
{
    const double entered = ui->max_tec_curr_spin->value();
    send_sequence(describe(*ui->label_13, entered), [this, entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (!driver_type::is_cw_family(w.device_type) || !carried(*ui, *ui->label_13, entered, tec_current))
            return false;
        w.cw_model.set_max_tec_current(static_cast<float>(entered), buf, len);
        return true;
    });
}

void laser_params::on_TEC_checkbox_clicked(bool checked)
{
    // Unchecking writes a limit below the threshold by which fill_editors()
    // recognises a laser with TEC.
    const double entered = ui->max_tec_curr_spin->value();
    // Without TEC the board stops cooling the diode: not while it emits, unless asked.
    confirm(!checked && laser && laser->output_on(),
            tr("%1 emits. Without TEC the laser is no longer cooled. Untick \"laser with TEC\"?").arg(laser ? laser->name : QString()),
            [this, checked, entered] {
    send_sequence(checked ? describe(*ui->label_13, entered) : tr("laser with TEC off"), [this, checked, entered](const laser_worker& w, char* buf, uint32_t* len) {
        if (checked && !carried(*ui, *ui->label_13, entered, tec_current)) {
            ui->TEC_checkbox->setChecked(false); // nothing changed on the board
            return false;
        }
        w.cw_model.set_max_tec_current(checked ? static_cast<float>(entered) : tec_off_current, buf, len);
        return true;
    });
            }, [this] { ui->TEC_checkbox->setChecked(true); });
}

void laser_params::closeEvent(QCloseEvent* event)
{
    ui->set_refused_label->hide();
    emit sig_laser_conf_dialog_is_hided();
    QMainWindow::closeEvent(event);
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

QString laser_params::describe(const QLabel& caption, double entered)
{
    return QStringLiteral("%1 %2").arg(caption.text()).arg(entered);
}

void laser_params::confirm_raise(bool raising, const QLabel& caption, double entered, const std::function<void()>& go)
{
    confirm(raising && laser && laser->output_on(),
            tr("%1 emits. Raise its protection limit \"%2\" to %3?").arg(laser ? laser->name : QString(), caption.text()).arg(entered),
            go);
}

// Not exec(): a close or a termination request while the question is open
// must not run inside it. The answer comes back through the event loop.
void laser_params::confirm(bool ask, const QString& question, const std::function<void()>& go,
                           const std::function<void()>& declined)
{
    if (!ask) {
        go();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Laser emits"), question, QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("emitting_question"));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<laser_object> bound = laser;
    connect(box, &QMessageBox::finished, this, [this, box, bound, go, declined](int) {
        const bool yes = box->clickedButton() == box->button(QMessageBox::Yes);
        // After the box's own click handling: the write waits, and the box
        // must not be deleted under its click while it does.
        QMetaObject::invokeMethod(this, [this, yes, bound, go, declined] {
            // Answered for the channel it named, and only for that one.
            if (yes && bound == laser)
                go();
            else if (declined)
                declined();
        }, Qt::QueuedConnection);
    });
    box->open();
}
