#pragma once

#include "channel_command.h"
#include "laser_worker.h"
#include "serial_message_struct.h"
#include "setpoint_sync.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct channel_reading;
class QAbstractButton;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QWidget;

// Controller of one channel panel: binds the panel's widgets by object-name
// prefix, refreshes them from the worker's records, turns operator input into
// driver commands and shows the Power DCDC flags. GUI thread only.
class laser_object : public QObject
{
    Q_OBJECT

public:
    laser_object(QObject* parent, int can_id, QWidget* panel_widget);
    ~laser_object() override; // stops the worker thread before it goes

    // False when the panel lacked a widget: the channel then stays inert (no
    // refresh, no operator input wired; an output can still be switched off)
    // and missing widgets are hidden stand-ins, so every widget pointer below
    // is valid either way.
    bool bound() const { return is_bound; }

    // Stores one received reply into the records and adoption slots.
    void handle_driver_message(const serial_message_struct& sm);
    // Copies the live record into the widgets; every 500 ms from the window.
    void view_update();
    // Switches the pulsed drivers' voltage on or off (emission toggle).
    void laser_volt_on_off(bool on);
    // What the channel shows now, as a value (laser_object_reading.cpp).
    channel_reading reading() const;

    // The one way to command the channel (laser_object_commands.cpp). Off
    // always sends the full off sequence of the board's type, whatever the
    // panel or the record shows; a request that is refused sends nothing.
    command_verdict check_output(bool on, command_origin from) const;
    command_verdict request_output(bool on, command_origin from);
    command_verdict check_setpoint(setpoint_kind k, double value, command_origin from) const;
    command_verdict request_setpoint(setpoint_kind k, double value, command_origin from);
    // The output (laser or converter) of the board is on, as it last reported,
    // also while it is silent: an output counts until it is known to be off.
    bool output_on() const;
    // A reply decoded this soon after an on/off command may answer a poll
    // written before the command (the longest pass, 525 ms, plus the
    // transport's hand-over of received frames, 250 ms, and a margin): its
    // output flag does not undo the command. A board lost meanwhile is lost
    // with the output as commanded.
    static constexpr int output_hold_ms = 900;
    // The board's type, or the last one it reported while it is silent.
    int32_t commanded_type() const;
    // The channel now watches another board (CAN ID changed): what it knew goes.
    void forget_board();

    // Freshness (laser_object_freshness.cpp). A reading is fresh while the
    // link is up and the board answered within fresh_ms (every type's pass
    // is shorter than half of it); stale readings are greyed, refused to
    // scripts, recorded empty and drawn as gaps.
    static constexpr int fresh_ms = 1500;
    qint64 reply_age_ms() const; // -1 before any reply
    bool answering() const;      // the board answered within fresh_ms over a live link
    bool fresh() const;          // answering, and its readings are being polled
    QString staleness() const;   // why not fresh ("no reply for 3 s"), empty when fresh
    // "Lost while emitting": latched until the operator acknowledges it.
    QString alarm;
    void raise_alarm(const QString& why);
    void acknowledge_alarm();
    // The window's link went up or down; lost: not by the operator's hand.
    void link_changed(bool up, bool lost);

    laser_worker* worker = nullptr; // owned by worker_owner
    int32_t can_id = 0;
    QByteArray tx_buf;              // last command frame line sent
    QWidget* panel_widget = nullptr;

    QWidget* cw_widget = nullptr;
    QWidget* ps_ns_widget = nullptr;
    QPushButton* laser_tab_button = nullptr;
    QGroupBox* laser_group = nullptr;
    QString name;
    bool enabled = false; // enabled in the applied system configuration
    bool link_up = false; // the window's link to the bus is connected
    QWidget* cw_curr_widget = nullptr;
    QWidget* cw_temp_widget = nullptr;
    QWidget* pulse_temp_widget = nullptr;
    QWidget* volt_widget = nullptr;
    QWidget* freq_widget = nullptr;
    QWidget* dura_widget = nullptr;
    QWidget* alt_but_widget = nullptr;
    QLabel* laser_name_label = nullptr;
    QLabel* curr_label = nullptr;
    QLabel* curr_min_label = nullptr;
    QLabel* curr_max_label = nullptr;
    QLabel* temp_label = nullptr;
    QLabel* pulse_temp_label = nullptr;
    QLabel* temp_min_label = nullptr;
    QLabel* temp_max_label = nullptr;
    QLabel* temp_pulse_min_label = nullptr;
    QLabel* temp_pulse_max_label = nullptr;
    QLabel* pulse_volt_label = nullptr;
    QLabel* volt_max_label = nullptr;
    QLabel* volt_min_label = nullptr;
    QLabel* freq_label = nullptr;
    QLabel* rr_max_label = nullptr;
    QLabel* rr_min_label = nullptr;
    QLabel* dura_label = nullptr;
    QLabel* dura_text = nullptr;
    QLabel* pd_max_label = nullptr;
    QLabel* pd_min_label = nullptr;
    QLabel* N_label = nullptr;
    QLabel* M_label = nullptr;
    QLabel* power_label = nullptr;
    QLabel* power_state_label = nullptr;
    QLabel* pulse_power_state_label = nullptr;
    QLabel* fail_title = nullptr;
    QLabel* power_title = nullptr;
    QLabel* input_volt_title = nullptr;
    QLabel* input_volt_label = nullptr;
    QLabel* mode_label = nullptr;
    QAbstractButton* ps_ns_on_off_butt = nullptr;
    QAbstractButton* cw_on_off_button = nullptr;
    QAbstractButton* start_stop_button_alt = nullptr;
    QAbstractButton* config_button = nullptr;
    QAbstractButton* err_clr_butt = nullptr;
    QAbstractButton* fail_butt = nullptr;
    QDoubleSpinBox* curr_spin = nullptr;
    QDoubleSpinBox* temp_spin = nullptr;
    QDoubleSpinBox* pulse_temp_spin = nullptr;
    QDoubleSpinBox* volt_spin = nullptr;
    QDoubleSpinBox* dura_spin = nullptr;
    QDoubleSpinBox* pulse_gated_spin = nullptr;
    QDoubleSpinBox* pulse_cutted_spin = nullptr;
    QComboBox* freq_combo = nullptr;
    QComboBox* mode_combo = nullptr;
    QComboBox* step_size_combo = nullptr;
    QProgressBar* curr_indicator = nullptr;
    QProgressBar* volt_indicator = nullptr;
    QProgressBar* temp_indicator = nullptr;
    QProgressBar* pulse_temp_indicator = nullptr;
    QProgressBar* dura_indicator = nullptr;
    QProgressBar* freq_indicator = nullptr;

    int32_t index = 0;
    setpoint_sync_slots setpoint_sync{};

signals:
    void show_conf_dialog_signal(int idx);
    void sig_alarm(int index, QString text);
    // A request of someone's was carried out (for the event log).
    void sig_commanded(int index, command_origin from, QString what);

public slots:
    void laser_current_butt_clicked();
    void laser_temperature_butt_clicked();
    void laser_frequency_butt_clicked();
    void laser_tec_on_off_butt_clicked();
    void laser_las_on_off_butt_clicked();
    void laser_pulse_width_butt_clicked();
    void laser_voltage_butt_clicked();
    void laser_volt_on_off_butt_clicked();
    void mode_butt_clicked();
    void laser_pulse_gated_butt_clicked();
    void laser_pulse_cutted_butt_clicked();
    void config_button_clicked();
    void fail_detail_butt_clicked();
    void err_clr_butt_clicked();
    void current_target_update(double arg1);
    void temp_target_update(double arg1);
    void volt_target_update(double arg1);
    void freq_target_update(int arg1);
    void pulse_width_target_update(double arg1);
    void mode_update(int arg1);
    void pulse_gated_target_update(double arg1);
    void pulse_cutted_target_update(double arg1);
    void sl_single_step_change(int index);

private:
    // binding (laser_object.cpp)
    void bind_panel();
    void bind_laser_group(QWidget* group);
    void bind_cw_widget(QWidget* w);
    void bind_ps_ns_widget(QWidget* w);
    bool check_bound();
    void connect_widgets();

    // view refresh (laser_object_view_*.cpp)
    void view_no_device();
    void view_cw(int32_t type);
    void view_dcdc();
    void view_ps();
    void view_ns(int32_t type);
    // Setup after a change of type: the rate and mode lists, and the fields'
    // values as the record's voltage and temperature targets.
    void setup_pulse_view(pulse_model_struct& m);
    void adopt_pulse_setpoint(const pulse_model_struct& m, float voltage_set,
                              bool has_pulse_width, float pulse_width);
    void show_pulse_on_off(bool on);
    void show_pulse_voltage(const pulse_model_struct& m);
    void show_pulse_temperature(const pulse_model_struct& m);
    void show_pulse_mode_state(const pulse_model_struct& m);
    QString pulse_tab_prefix(int32_t type, const pulse_model_struct& m) const;
    // Loads a set-point read back from the board into its field and keeps it:
    // while the field's range holds it down, it is loaded again each tick in
    // which the range allows more, until the operator edits the field or the
    // type changes.
    void load_adopted(QDoubleSpinBox* spin, double value);
    void reload_adopted();
    void forget_adopted(QDoubleSpinBox* spin);

    // entry marks (laser_object_entry.cpp): the fields Enter sends, the value
    // each last sent or took from the board, and the "not sent" mark.
    void watch_entry();
    std::array<QDoubleSpinBox*, 4> entry_spins() const;
    // Each entry field's "unsent" mark as shown, in entry_spins() order: the
    // refresh compares with this, not with the widget's property by name.
    std::array<bool, 4> unsent_shown{};
    std::optional<double> sent_value(const QDoubleSpinBox* spin) const;
    void show_unsent();

    // failure display (laser_object_failure.cpp)
    void dcdc_evaluate_warnings();
    void dcdc_failure_display();

    // sending (laser_object_controls.cpp)
    // Encodes one frame line into tx_buf and emits it three times on the
    // worker's signal, a 1 ms event-loop wait after each.
    void send_command(const std::function<void(char*, uint32_t*)>& encode);
    // The PS or NS record when the driver is pulsed, else null.
    pulse_model_struct* live_pulse_model() const;
    pulse_model_struct* pulse_model_of(int32_t type) const;
    // Preconditions that every request shares, and the control of a set-point.
    command_verdict channel_refusal(command_origin from) const;
    QWidget* setpoint_control(setpoint_kind k, QString& unavailable) const;
    static QString setpoint_name(setpoint_kind k);
    void note_command(command_origin from, const QString& what);
    // Emission state the panel shows: what the operator saw before a click.
    bool shown_emission_on() const;
    // The emission sequence of the present type, switching on or off as
    // decided at the click, whatever replies arrive during its waits.
    void switch_emission(bool on);
    // The record's output flag of the commanded type.
    void set_output_flag(bool on);
    QElapsedTimer output_command; // the last on/off command
    bool output_commanded = false;
    void send_rate(pulse_model_struct& m);
    void send_voltage(pulse_model_struct& m);

    bool is_bound = false;
    QElapsedTimer last_reply;    // restarted by every reply decoded
    bool was_answering = false;  // at the last refresh
    QElapsedTimer remote_touch;  // a script's last change, for the row's REMOTE mark
    static constexpr int remote_mark_ms = 3000;
    std::vector<QLabel*> reading_labels; // greyed while stale
    void watch_freshness();
    void show_freshness();
    QString tab_decoration() const;
    void set_tab_text(const QString& text);
    int32_t last_known_type = 0; // the type the board last reported, 0 before any
    int32_t last_reply_can_id = -1; // data byte 1 of the last reply decoded
    bool dcdc_warning_latch = false; // per channel: flag box opened for these flags
    QPointer<QMessageBox> flag_box;  // the open flag box, if any (owned by panel_widget)
    // Nonzero while the refresh runs: spin box changes then come from the
    // program (setup, read-back, ranges), not from the operator.
    int refreshing = 0;
    std::vector<std::pair<QDoubleSpinBox*, double>> adopted_values; // field, board's value
    std::unique_ptr<laser_worker> worker_owner;
    std::unique_ptr<QWidget> stand_in_root; // parent of stand-ins for missing widgets
};
