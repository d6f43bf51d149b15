#include "MainWindow.h"

#include "can_bus_object.h"
#include "can_id_validator.h"
#include "event_log.h"
#include "laser_object.h"
#include "laser_params.h"
#include "main_window_form.h"
#include "panel_template.h"
#include "remote_server.h"
#include "tango_link.h"
#include "scpi_executor.h"
#include "recorder.h"
#include "serial_object.h"
#include "settings_file.h"
#include "trend_store.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDebug>
#include <QEvent>
#include <QIcon>
#include <QIntValidator>
#include <QKeySequence>
#include <QMessageBox>
#include <QPixmap>
#include <QThread>

namespace {

const char* const active_menu_style =
    "QPushButton{color: rgb(200, 0, 0);text-align: center;border: 0px solid gray;vertical-align: bottom;} "
    "QPushButton:hover{text-align: center;color: rgb(120, 0, 0);border: 0px solid gray;vertical-align: bottom;}";
const char* const idle_menu_style =
    "QPushButton{color: rgb(0, 0, 0);text-align: center;border: 0px solid gray;vertical-align: bottom;} "
    "QPushButton:hover{text-align: center;color: rgb(120, 0, 0);border: 0px solid gray;vertical-align: bottom;}";

const char* const status_strip_style =
    "QWidget#widget_21 { background-color: rgb(30, 79, 134); }"
    "QWidget#widget_21 QLabel { color: rgb(255, 255, 255); font-weight: bold; }";

} // namespace

MainWindow::MainWindow(QWidget* parent, const QStringList& virtual_ports)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , can_id_check(new can_id_validator(this))
    , ports(virtual_ports)
{
    // The form with its channel templates; opens on the channel list.
    setup_form();
    dress_window();
    attach_can_id_validator();

    // Before the channels exist, so that they are created with the stored CAN IDs.
    load_settings();

    start_serial_thread();
    start_timers();
    ui->baudrate_edit_line->setValidator(new QIntValidator(this));

    create_channels();
    start_can_thread();
    refresh_serial_ports();

    // Collapse every channel panel to its tab row.
    for (const auto& laser : lasers)
        laser->laser_tab_button->click();

    // The channel list is usable only while connected.
    ui->scrollArea->setEnabled(false);

    apply_system_configuration();
    ui->label->hide();
    restore_mini_usb_mode();

    // The bit rate is fixed by the mode (115200, or 57600 in mini USB mode).
    ui->baudrate_edit_line->hide();
    ui->label_7->hide();

    setup_remote();
    setup_recording();
    setup_trends();
    setup_alarms();
    setup_event_log();
    setup_tango();
}

MainWindow::~MainWindow()
{
    stop_tango();
    shut_down_threads();
    // The parameters window outlives this window; it must not keep a channel.
    if (params_window)
        params_window->laser = nullptr;
}

void MainWindow::start_serial_thread()
{
    serial_thread = std::make_unique<QThread>();
    serial_thread->setObjectName(QStringLiteral("serial")); // names the thread for tools such as top
    serial = std::make_unique<serial_object>();
    connect(serial_thread.get(), &QThread::started, serial.get(), &serial_object::sl_start_port_process);
    connect(this, &MainWindow::sig_serial_conf, serial.get(), &serial_object::sl_serial_conf);
    connect(this, &MainWindow::sig_disconnect_serial, serial.get(), &serial_object::sl_disconnect_serial);
    connect(serial.get(), &serial_object::sig_connected, this, &MainWindow::sl_serial_connected);
    connect(serial.get(), &serial_object::sig_disconnected, this, &MainWindow::sl_serial_disconnected);
    connect(serial.get(), &serial_object::sig_error, this, &MainWindow::sl_error);
    connect(serial.get(), &serial_object::sig_serial_rx_can_batch, this, &MainWindow::handle_rx_can_batch);
    // The port has no parent, so it moves on its own.
    serial->moveToThread(serial_thread.get());
    serial->port.moveToThread(serial_thread.get());
    serial_thread->start(QThread::InheritPriority);
}

void MainWindow::start_can_thread()
{
    can_thread = std::make_unique<QThread>();
    can_thread->setObjectName(QStringLiteral("can"));
    can_bus = std::make_unique<can_bus_object>();
    can_bus_object* bus = can_bus.get();
    connect(can_thread.get(), &QThread::started, bus, &can_bus_object::sl_start_port_process);
    connect(this, &MainWindow::sig_serial_conf, bus, &can_bus_object::sl_serial_conf);
    connect(this, &MainWindow::sig_disconnect_serial, bus, &can_bus_object::sl_disconnect_serial);
    connect(bus, &can_bus_object::sig_connected, this, &MainWindow::sl_serial_connected);
    connect(bus, &can_bus_object::sig_disconnected, this, &MainWindow::sl_serial_disconnected);
    connect(bus, &can_bus_object::sig_error, this, &MainWindow::sl_error);
    connect(bus, &can_bus_object::sig_serial_rx_can_batch, this, &MainWindow::handle_rx_can_batch);
    can_bus->moveToThread(can_thread.get());
    can_thread->start(QThread::InheritPriority);
}

void MainWindow::start_timers()
{
    connect(&view_update_timer, &QTimer::timeout, this, &MainWindow::view_update_timer_slot);
    view_update_timer.start(500);

    connect(&reconnect_timer, &QTimer::timeout, this, &MainWindow::reconnect_timer_slot);
    if (auto_connection) {
        reconnect_timer.start(300);
        ui->connection_mode->setChecked(true);
    }

    // Started by the first successful connection.
    connect(&device_heartbeat_timer, &QTimer::timeout, this, &MainWindow::sl_device_heartbeat_timer);
    device_heartbeat_timer.setInterval(4000);
}

void MainWindow::create_channels()
{
    for (int index = 0; index < channel_count; ++index)
        add_laser_channel(can_id_field(index), channel_widget<QWidget>(QStringLiteral("laser_widget"), index));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    closing = true;
    reconnect_timer.stop();
    // No remote command while the close asks and switches off.
    stop_remote();
    stop_tango();
    if (headless) {
        // No operator to ask: every board known gets its off sequence.
        qInfo() << "headless: switching every output off before quitting";
        switch_outputs_off();
    } else {
        ask_outputs_off(tr("quit"));
    }
    for (const auto& laser : lasers)
        laser->worker->stop_polling();
    save_settings();
    shut_down_threads();
    // An open parameters window would keep the program running without its main window.
    if (params_window)
        params_window->hide();
    QMainWindow::closeEvent(event);
}

void MainWindow::sl_termination_requested()
{
    if (open_box) {
        // A question of the close, or one the close would otherwise run inside of.
        if (!closing)
            close_after_question = true;
        QAbstractButton* yes = open_box->button(QMessageBox::Yes);
        (yes ? yes : open_box->button(QMessageBox::Ok))->click();
        return;
    }
    close();
}

int MainWindow::ask(QMessageBox& box)
{
    if (headless) {
        const QMessageBox::StandardButton answer = box.button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        qInfo().noquote() << "headless:" << box.text() << (answer == QMessageBox::Yes ? "Yes" : "OK");
        log_event_text(int(log_kind::notice), 0, QStringLiteral("headless"),
                       tr("%1 %2").arg(box.text(), answer == QMessageBox::Yes ? tr("Yes") : tr("OK")));
        return answer;
    }
    open_box = &box;
    const int answer = box.exec();
    open_box.clear();
    return answer;
}

void MainWindow::shut_down_threads()
{
    if (threads_stopped)
        return;
    threads_stopped = true;
    // No command may reach a transport that is about to go.
    active_transport.store(nullptr);
    for (const auto& laser : lasers) {
        if (laser)
            laser->link_up = false;
    }
    view_update_timer.stop();
    reconnect_timer.stop();
    device_heartbeat_timer.stop();
    trend_sample_timer.stop();
    // The rows sampled so far are written before the writer thread ends.
    if (recordings)
        recordings->shut_down();
    if (events)
        events->shut_down();
    for (const auto& laser : lasers) {
        if (laser)
            laser->worker->stop_and_wait();
    }
    serial->set_tick_source(nullptr);
    if (can_bus)
        can_bus->set_tick_source(nullptr);
    // Runs after everything already queued to the serial thread, the output-off
    // frames of the closing question included, and waits until they left.
    QMetaObject::invokeMethod(serial.get(), &serial_object::sl_shutdown, Qt::BlockingQueuedConnection);
    serial_thread->quit();
    serial_thread->wait();
    if (can_bus) {
        QMetaObject::invokeMethod(can_bus.get(), &can_bus_object::sl_shutdown, Qt::BlockingQueuedConnection);
        can_thread->quit();
        can_thread->wait();
        disconnect(can_bus.get(), nullptr, this, nullptr);
        can_bus.reset();
    }
    // Its destructor reports a disconnection; nobody is listening any more.
    disconnect(serial.get(), nullptr, this, nullptr);
    serial.reset();
}

int MainWindow::can_id_field(int index) const
{
    return channel_widget<QLineEdit>(QStringLiteral("addr"), index)->text().toInt(nullptr, 10);
}

quint64 MainWindow::refused_can_frames() const
{
    return can_bus ? can_bus->ignored_frames.load() : 0;
}

laser_object* MainWindow::channel(int index) const
{
    return lasers.at(static_cast<size_t>(index)).get();
}

Ui::MainWindow* MainWindow::form() const
{
    return ui.get();
}

void MainWindow::setup_form()
{
    init_ui_resources();
    ui->setupUi(this);
    expand_channel_templates();
    // Bound only now, so that on_<name>_<signal> slots also find template widgets.
    QMetaObject::connectSlotsByName(this);
}

void MainWindow::expand_channel_templates()
{
    QWidget* const panels[channel_count] = {
        ui->laser_widget,   ui->laser_widget_2, ui->laser_widget_3, ui->laser_widget_4,
        ui->laser_widget_5, ui->laser_widget_6, ui->laser_widget_7, ui->laser_widget_8,
        ui->laser_widget_9, ui->laser_widget_10,
    };
    QWidget* const rows[channel_count] = {
        ui->dev_conf_widget,   ui->dev_conf_widget_2, ui->dev_conf_widget_3, ui->dev_conf_widget_4,
        ui->dev_conf_widget_5, ui->dev_conf_widget_6, ui->dev_conf_widget_7, ui->dev_conf_widget_8,
        ui->dev_conf_widget_9, ui->dev_conf_widget_10,
    };
    for (int index = 0; index < channel_count; ++index) {
        build_laser_panel(panels[index], index + 1);
        build_dev_conf_row(rows[index], index + 1);
    }
}

void MainWindow::dress_window()
{
    setWindowIcon(QIcon::fromTheme(QStringLiteral("main"), QIcon(QStringLiteral(":/images/images/icon.png"))));
    ui->label_128->setPixmap(QPixmap(QStringLiteral(":/images/images/kestrane.png")));
    ui->widget_21->setStyleSheet(QLatin1String(status_strip_style));
    // Nothing emits before the first connection.
    ui->emit_on->hide();
    ui->all_outputs_off_button->setEnabled(false);
    ui->all_outputs_off_button->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    ui->all_outputs_off_button->setToolTip(
        tr("Switch every output off now, without a question (%1)")
            .arg(ui->all_outputs_off_button->shortcut().toString(QKeySequence::NativeText)));
    ui->plainTextEdit->setPlainText(tr(
        "Corvane Studio\n"
        "Software version 2.007v\n"
        "\n"
        "Corvane Studio controls up to ten laser-diode driver boards on one CAN bus. For every "
        "channel it shows the board's live readings (current, temperature, voltage, optical power, "
        "repetition rate, pulse width, pulse mode, failure and warning flags), lets you change the "
        "set-points, switch emission on and off and choose the pulse mode, and reads and writes the "
        "board's limits and calibration values in the device parameters window.\n"
        "\n"
        "Connecting through a USB-to-CAN adapter\n"
        "1. Plug the adapter into the PC and connect it to the CAN bus of the driver boards.\n"
        "2. On the Settings page choose the adapter's port in the port list (press the refresh "
        "button if it is missing) and press \"Connect\", or tick \"Auto connection\".\n"
        "3. In the system configuration enter each board's CAN ID and a name, tick \"enabled\" and "
        "press \"Apply system configuration\". The channels then appear on the Main page.\n"
        "\n"
        "Connecting one board in mini USB mode\n"
        "To change a board's CAN ID, connect the PC straight to the driver board with its mini-USB "
        "cable, tick \"mini USB mode\" on the Settings page, choose the board's port and connect. "
        "Channel 1 then talks to that board alone; open its device parameters window to set the "
        "CAN ID. Untick \"mini USB mode\" to return to the CAN bus.\n"
        "\n"
        "Supported driver types\n"
        "- CW Type: continuous-wave current driver\n"
        "- Precision CW Type: continuous-wave current driver with finer current and temperature resolution\n"
        "- PS Type: pulsed voltage driver (repetition rate, pulse mode)\n"
        "- NS Type: pulsed voltage driver with adjustable electrical pulse duration\n"
        "- SOA NS Type: NS-family driver for semiconductor optical amplifiers\n"
        "- Power DCDC Type: DC/DC power converter with failure and warning flags\n"));
}

void MainWindow::attach_can_id_validator()
{
    for (int index = 0; index < channel_count; ++index)
        channel_widget<QLineEdit>(QStringLiteral("addr"), index)->setValidator(can_id_check);
}

QString MainWindow::channel_name(const QString& base, int index)
{
    return base + channel_suffix(index + 1);
}

void MainWindow::select_page(int page_index)
{
    ui->stackedWidget->setCurrentIndex(page_index);
    QPushButton* const buttons[] = {ui->main_menu_butt, ui->main_menu_butt_2, ui->main_menu_butt_3,
                                    ui->main_menu_butt_4};
    for (int i = 0; i < 4; ++i)
        buttons[i]->setStyleSheet(QLatin1String(i + 1 == page_index ? active_menu_style : idle_menu_style));
}

bool MainWindow::eventFilter(QObject* /*obj*/, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        qDebug() << "Wheel event blocked";
        return true;
    }
    return false;
}

// The design sample page is never shown; its button has nothing to do.
void MainWindow::on_connect_button_clicked() {}

void MainWindow::on_main_menu_butt_2_clicked()
{
    select_page(2);
}

void MainWindow::on_main_menu_butt_clicked()
{
    select_page(1);
}

void MainWindow::on_main_menu_butt_3_clicked()
{
    select_page(3);
}
