#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class QCloseEvent;
class QHideEvent;
class QLabel;
class QShowEvent;
class QTimer;
class laser_object;
class laser_worker;

namespace Ui {
class laser_params;
}

// The window in which the operator reads and writes one board's limits and
// calibration values. There is one for the whole program; the main window
// binds it to a channel (`laser`), sets `active`, calls fill_editors() and
// shows it. Set commands leave through sig_thread_serial_write.
class laser_params : public QMainWindow
{
    Q_OBJECT

public:
    explicit laser_params(QWidget* parent = nullptr);
    ~laser_params() override;

    // Copies the bound board's record values into the editors, for the
    // board's driver type. Does nothing until `active` is set.
    void fill_editors();

    std::unique_ptr<Ui::laser_params> ui;
    QTimer* view_timer = nullptr;  // 40 ms refresh, runs from construction on
    bool active = false;           // set by the main window before the first show
    laser_object* laser = nullptr; // the bound channel

signals:
    void sig_laser_conf_dialog_is_hided();
    void sig_thread_serial_write(QByteArray data);
    // A limit or calibration value went to channel `index` (0..9): "Maximum current, mA 150".
    void sig_parameter_written(int index, QString what);

public slots:
    void on_write_button_clicked();
    void view_update_timer_slot();
    void on_res_set_but_clicked();
    void on_bet_set_but_clicked();
    void on_mon_set_but_clicked();
    void on_cur_max_set_but_clicked();
    void on_cur_min_set_but_clicked();
    void on_vol_max_set_but_clicked();
    void on_vol_min_set_but_clicked();
    void on_temp_max_set_but_clicked();
    void on_temp_min_set_but_clicked();
    void on_can_set_but_clicked();
    void on_max_tec_curr_set_but_clicked();
    void on_TEC_checkbox_clicked(bool checked);

protected:
    void closeEvent(QCloseEvent* event) override;
    // The refresh timer runs only while the window is shown: a hidden window
    // would wake the GUI thread 25 times a second for nothing.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Builds one frame for the bound worker's board into buf; returns false
    // when the board's type is not served by the command.
    using frame_encoder = std::function<bool(const laser_worker&, char* buf, uint32_t* len)>;

    // Pauses the parameter poll, waits 50 ms, sends the frame three times
    // with 50 ms after each, and resumes the poll. Paced by a timer, never a
    // nested event loop; a SET made meanwhile waits for the one before.
    void send_sequence(const QString& what, const frame_encoder& encode);
    struct pending_write
    {
        QPointer<laser_object> bound;
        QString what;
        frame_encoder encode;
        QByteArray frame; // made when the poll has fallen silent
    };
    void write_step();
    std::deque<pending_write> writes; // the front one is being sent
    QTimer* write_pacer = nullptr;
    int write_stage = 0;
    static QString describe(const QLabel& caption, double entered);
    // Runs go() at once, or after Yes to `question` when `ask`; the question
    // names the bound channel and is answered without a nested event loop.
    void confirm(bool ask, const QString& question, const std::function<void()>& go,
                 const std::function<void()>& declined = {});
    // Raising a protection limit while the channel emits asks first.
    void confirm_raise(bool raising, const QLabel& caption, double entered, const std::function<void()>& go);

    void fit_to_contents();
    void apply_layout(int32_t type);
    bool record_differs_from_shown(const laser_worker& w) const;
    void show_read_back(const laser_worker& w);
    void remember_shown(const laser_worker& w);

    // Record values that the last refresh displayed.
    int32_t shown_r25 = 0;
    int32_t shown_beta = 0;
    float shown_responsivity = 0.0f;
    float shown_upper_limit = 0.0f; // current max (CW family) or voltage max (PS, NS)
    float shown_lower_limit = 0.0f;
    float shown_temp_max = 0.0f;
    float shown_temp_min = 0.0f;
    float shown_tec_current = 0.0f;
};
