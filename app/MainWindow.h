#pragma once

#include "poll_scheduler.h"
#include "port_list.h"
#include "serial_conf_struct.h"
#include "serial_message_struct.h"
#include "stored_settings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QCloseEvent;
class QEvent;
class QMessageBox;
class QThread;
class bus_transport;
class can_bus_object;
class can_id_validator;
class event_log;
class recorder;
class trend_store;
class trends_page;
struct channel_reading;
class laser_object;
class laser_params;
class remote_server;
class scpi_executor;
class serial_object;
class settings_file;
class tango_link;
class QCheckBox;
class QLineEdit;

namespace Ui {
class MainWindow;
}

// The main window: the form with its ten channel panels, the two transport
// threads (serial adapter, CAN interface), the channel controllers and three timers. It routes received frames to the
// channels, supervises the connection, applies the system configuration and
// keeps settings.ini. The constructor runs its start-up steps in a fixed order.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int channel_count = 10;

    // virtual_ports: port names to offer after the ones the system reports.
    explicit MainWindow(QWidget* parent = nullptr, const QStringList& virtual_ports = {});
    ~MainWindow() override;

    // The form, for code that needs its widgets by name (tests, the parameters window binding).
    Ui::MainWindow* form() const;
    // Channel slot 0..9.
    laser_object* channel(int index) const;
    // Frames received since start (the hidden frame counter `label`).
    qint64 received_frames() const { return rx_frame_count; }
    // Frames a CAN interface delivered that no board sends (extended, remote,
    // error, short, flexible data rate): refused undecoded since start.
    quint64 refused_can_frames() const;
    // The close could not write settings.ini (the reason went to stderr and to the operator).
    bool settings_save_failed() const { return save_failed; }

    // Swallows mouse-wheel turns on the channel inputs it is installed on, so a scroll
    // through the channel list never changes a set-point by accident.
    bool eventFilter(QObject* obj, QEvent* event) override;

    // --headless: nobody to ask. Questions take their safe answer (Yes to
    // outputs off), the close switches every output off and quits, and
    // settings.ini is read but never written.
    void set_headless(bool on) { headless = on; }
    bool is_headless() const { return headless; }

    // --remote PORT: serves SCPI on PORT for this run; settings.ini keeps the operator's choice.
    void start_remote_for_this_run(int port);
    // --tango and its companions: serves TANGO for this run; settings.ini keeps
    // the operator's choice. Empty/0 values: as the Settings page says.
    void start_tango_for_this_run(const QString& instance, int port, const QString& endpoint, bool read_only);
    // The TANGO server (serving or not); null until the window is set up.
    tango_link* tango() const { return tango_server_link.get(); }
    // Called once TANGO took over the process's signals (main re-installs its own).
    std::function<void()> after_tango_started;
    // Acknowledges every alarm; how many there were.
    int acknowledge_alarms();
    // "channel 3: Lost while emitting: no reply for 2 s", one per active alarm.
    QStringList active_alarms() const;
    // Sends the full off sequence to every channel whose board is known, as
    // "All outputs off" and the outputs-off question's Yes do. False while
    // disconnected: nothing can be sent then.
    bool switch_outputs_off();
    // The SCPI server (listening or not).
    remote_server* remote() const { return remote_control.get(); }
    // Starts recording every enabled channel into `file`, or into a new file in
    // recordings/ when `file` is empty (main_window_recording.cpp).
    void start_recording(const QString& file = QString());
    recorder& recording() const { return *recordings; }
    // The history the Trends page plots, and the page (main_window_trends.cpp).
    trend_store& trends() const { return *trend_history; }
    trends_page* trends_view() const { return trend_view; }
    // What happened, by whose hand (main_window_log.cpp).
    const event_log& log() const { return *events; }
    void show_trends() { select_page(4); }

    // Set by main after construction; not owned.
    laser_params* params_window = nullptr;

    QString saved_port_name;
    QString saved_port_speed = QLatin1String(stored_settings::default_port_speed);
    bool auto_connection = false;
    bool connected = false;
    serial_conf_struct serial_conf;
    int laser_count = 0;

signals:
    void sig_disconnect_serial();
    void sig_serial_conf(serial_conf_struct conf);

public slots:
    void laser_tab_button_click();
    void on_connect_button_clicked();
    // Decodes received frames in arrival order and shows the frame count.
    void handle_rx_can_batch(const serial_message_batch& frames);
    // A frame of the parameters window, to the transport of the connection.
    void send_operator_frame(const QByteArray& line);
    void handle_rx_can_message(const serial_message_struct& sm);
    void view_update_timer_slot();
    void reconnect_timer_slot();
    void sl_device_heartbeat_timer();
    void sl_serial_connected();
    void sl_serial_disconnected();
    void sl_error(QString err);
    void serial_error(QSerialPort::SerialPortError serialPortError);
    void on_connect_button_2_clicked();
    void show_laser_conf_dialog_slot(int idx);
    void sl_laser_conf_dialog_is_hided();
    // Ctrl+C or a termination request: closes the window as its close button
    // does. While the close asks something (outputs off? settings not saved),
    // a further request answers it: Yes, or OK.
    void sl_termination_requested();

private slots:
    void on_main_menu_butt_2_clicked();
    void on_main_menu_butt_clicked();
    void on_connection_mode_clicked();
    void on_pushButton_clicked();
    void on_serial_refresh_button_clicked();
    void on_mini_usb_mode_checkbox_clicked();
    void on_all_outputs_off_button_clicked();
    void on_main_menu_butt_3_clicked();
    void on_main_menu_butt_4_clicked();
    void sl_record_clicked(bool on);
    void sl_record_interval_chosen(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // start-up (MainWindow.cpp)
    void setup_form();
    void expand_channel_templates();
    void dress_window();
    void attach_can_id_validator();
    void start_serial_thread();
    void start_can_thread();
    void start_timers();
    void create_channels();
    void select_page(int page_index);

    // settings (main_window_settings.cpp)
    void load_settings();
    void restore_mini_usb_mode();
    void save_settings();
    // Shows a question or a report as a modal box that a termination request can answer.
    int ask(QMessageBox& box);

    // channels (main_window_channels.cpp)
    void add_laser_channel(int can_id, QWidget* panel_widget);
    bool any_channel_emits() const;

    // system configuration (main_window_configuration.cpp)
    void apply_system_configuration();

    // connection (main_window_connection.cpp)
    void refresh_serial_ports();
    void connection_attempt();
    void ask_outputs_off(const QString& action);
    // What depends on the link being up: the channels' commands, the
    // outputs-off button, mini USB mode. lost: not by the operator's hand.
    void show_link_state(bool up, bool lost);

    // event log (main_window_log.cpp); kind is a log_kind
    void setup_event_log();
    void log_event_text(int kind, int channel, const QString& origin, const QString& text);
    void log_channel_changes();
    void log_parameter_written(int index, const QString& what);

    // alarms and the status strip (main_window_alarms.cpp)
    void setup_alarms();
    void show_channel_status();
    void notice_found_emitting();

    // remote control (main_window_remote.cpp)
    void setup_remote();
    void start_remote();
    void stop_remote();
    void show_remote_status();

    // TANGO devices (main_window_tango.cpp)
    void setup_tango();
    void start_tango();
    void stop_tango();
    void show_tango_status(const QString& text);

    // recording (main_window_recording.cpp)
    void setup_recording();
    void show_recording_state();
    void show_recording_failure(const QString& message);
    // trends (main_window_trends.cpp)
    void setup_trends();
    void sample_trends();
    // What every enabled channel shows now; readings of a board found less than
    // a second ago are left out (not all of them have been answered yet).
    std::vector<channel_reading> enabled_readings();

    // Stops the recording, every worker and then the serial thread, after it wrote what was
    // queued to it. Runs at close, and from the destructor if there was none.
    void shut_down_threads();

    // Widget `base` of channel slot `index` (0..9), e.g. ("addr", 2) -> addr_3.
    template <class T>
    T* channel_widget(const QString& base, int index) const
    {
        return findChild<T*>(channel_name(base, index));
    }
    static QString channel_name(const QString& base, int index);
    // A CAN ID field's text as an ID: base 10, 0 when it is not a number.
    int can_id_field(int index) const;

    std::unique_ptr<Ui::MainWindow> ui;
    can_id_validator* can_id_check = nullptr;
    std::unique_ptr<settings_file> settings;
    port_list ports;
    // Every channel's polling, served at the ticks of the connected transport.
    std::shared_ptr<poll_scheduler> polling = poll_scheduler::shared();
    std::unique_ptr<QThread> serial_thread;
    std::unique_ptr<serial_object> serial;
    std::unique_ptr<QThread> can_thread;
    std::unique_ptr<can_bus_object> can_bus;
    // The worker of the present (or last) connection; the channel threads read it.
    std::atomic<bus_transport*> active_transport{nullptr};
    std::array<std::unique_ptr<laser_object>, channel_count> lasers;
    QTimer view_update_timer;
    QTimer reconnect_timer;
    QTimer device_heartbeat_timer;
    // Declared after the channels, so that they go first.
    std::unique_ptr<scpi_executor> remote_commands;
    std::unique_ptr<remote_server> remote_control;
    QString remote_failure; // why the last start failed
    // Started by --remote: settings.ini keeps what the operator chose.
    bool remote_from_command_line = false;
    stored_settings remote_stored;
    std::unique_ptr<recorder> recordings;
    QTimer record_clock_timer; // elapsed time in the status strip
    QPointer<QMessageBox> record_failure_box;
    std::unique_ptr<trend_store> trend_history;
    QTimer trend_sample_timer;
    trends_page* trend_view = nullptr; // owned by its page of the form
    std::array<QElapsedTimer, channel_count> present_since; // invalid while no board answers

    qint64 rx_frame_count = 0;
    // Enabled boxes as they were when mini USB mode was switched on.
    std::array<bool, channel_count> enabled_before_mini_usb{};
    bool threads_stopped = false;
    // From the start of the close on: no reconnection, no late "connected" answer.
    bool closing = false;
    bool headless = false;
    bool save_failed = false;
    // The box ask() has open, if any.
    QPointer<QMessageBox> open_box;
    // A connection request is on its way to the serial thread, not yet answered.
    bool connection_pending = false;
    // A termination request answered a question that was not the close's own:
    // the close follows once that question's action is done.
    bool close_after_question = false;
    // The operator asked for the disconnection that comes next.
    bool disconnect_requested = false;
    // The last error the transports reported, shown when a connection attempt fails.
    QString last_transport_error;
    QString logged_connect_failure;
    // Channels whose first answer since the connection was looked at for an output on.
    std::array<bool, channel_count> found_checked{};
    QStringList found_emitting;
    QPointer<QMessageBox> found_box;
    std::unique_ptr<event_log> events;
    std::array<bool, channel_count> logged_answering{};
    std::array<uint32_t, channel_count> logged_flags{};
    // TANGO: last, so that it stops first (its requests use the members above).
    QCheckBox* tango_checkbox = nullptr; // the Settings page's box, owned by the form
    QLineEdit* tango_instance_edit = nullptr;
    QLineEdit* tango_port_edit = nullptr;
    QLineEdit* tango_endpoint_edit = nullptr;
    QCheckBox* tango_readonly_checkbox = nullptr;
    bool tango_from_command_line = false;
    stored_settings tango_stored;
    QString tango_client; // the client a channel request is made for, for the log
    std::unique_ptr<tango_link> tango_server_link;
};
