// Connection supervision: the port list, Connect/Disconnect, auto connection,
// the serial worker's answers and the outputs-off question.
#include "MainWindow.h"

#include "can_bus_object.h"
#include "can_port_name.h"
#include "event_log.h"
#include "laser_object.h"
#include "main_window_form.h"
#include "serial_object.h"

#include <QComboBox>
#include <QDebug>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::refresh_serial_ports()
{
    ports.fill(ui->serial_combo_box, saved_port_name);
}

void MainWindow::on_serial_refresh_button_clicked()
{
    refresh_serial_ports();
}

void MainWindow::connection_attempt()
{
    // The adapter start-up takes about a second; a second request meanwhile
    // would find the port open, fail, and close the connection just made.
    if (connection_pending)
        return;
    connection_pending = true;
    serial_conf = serial_conf_struct{};
    serial_conf.port_name = ui->serial_combo_box->currentData().toString();
    serial_conf.baud_rate = ui->baudrate_edit_line->text().toInt(nullptr, 10);
    serial_conf.data_bits = QSerialPort::Data8;
    serial_conf.parity = QSerialPort::NoParity;
    serial_conf.stop_bits = QSerialPort::OneStop;
    serial_conf.flow_control = QSerialPort::NoFlowControl;
    serial->mini_usb_mode.store(ui->mini_usb_mode_checkbox->isChecked());
    // A PLUGIN:INTERFACE name is a CAN interface; both workers take the settings,
    // the one for this kind of port connects.
    can_port_name can;
    bus_transport* const transport = can_port_name::parse(serial_conf.port_name, can)
                                         ? static_cast<bus_transport*>(can_bus.get())
                                         : serial.get();
    emit sig_serial_conf(serial_conf);
    // From now on the channels' frames go to this worker, and its ticks make
    // the polls; the other one is closed.
    bus_transport* const previous = active_transport.exchange(transport);
    if (previous && previous != transport)
        previous->set_tick_source(nullptr);
    transport->set_tick_source(polling.get());
    QMetaObject::invokeMethod(transport, &bus_transport::sl_connect_serial, Qt::QueuedConnection);
}

void MainWindow::on_connect_button_2_clicked()
{
    if (connected) {
        ask_outputs_off(tr("disconnect"));
        if (closing)
            return; // the close ran while the question was open, and disconnected
        // A manual disconnection also ends auto connection.
        reconnect_timer.stop();
        auto_connection = false;
        ui->connection_mode->setChecked(false);
        disconnect_requested = true;
        emit sig_disconnect_serial();
        if (close_after_question)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    } else {
        connection_attempt();
    }
}

void MainWindow::on_connection_mode_clicked()
{
    if (ui->connection_mode->isChecked()) {
        saved_port_name = ui->serial_combo_box->currentData().toString();
        if (!connected)
            reconnect_timer.start(300);
        auto_connection = true;
    } else {
        reconnect_timer.stop();
        auto_connection = false;
    }
}

void MainWindow::reconnect_timer_slot()
{
    if (connected || connection_pending)
        return;
    // Waiting costs one look at the remembered port's device node; the list
    // of all ports is read again only when that port has just come back.
    const bool present = port_list::may_be_present(saved_port_name);
    const bool back = ports.came_back(saved_port_name, present);
    if (!present)
        return;
    if (back)
        refresh_serial_ports();
    QComboBox* const combo = ui->serial_combo_box;
    const int index = combo->findData(saved_port_name, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return; // a node the system does not offer as a port
    combo->setCurrentIndex(index);
    connection_attempt();
}

void MainWindow::sl_serial_connected()
{
    connection_pending = false;
    // An answer to a request made before the close: the workers are stopped for good.
    if (closing)
        return;
    ui->connect_button_2->setCheckable(true);
    ui->connect_button_2->setChecked(true);
    ui->connect_button_2->setText(tr("Disconnect"));
    connected = true;
    log_event_text(int(log_kind::connection), 0, QStringLiteral("system"), tr("connected: %1").arg(serial_conf.port_name));
    last_transport_error.clear();
    ui->connection_reason_label->clear();
    found_checked.fill(false);
    found_emitting.clear();
    show_link_state(true, false);
    for (const auto& laser : lasers)
        laser->worker->start_polling();
    ui->scrollArea->setEnabled(true);
    ui->connection_status_label->setText(tr("Connection status: CONNECTED"));
    saved_port_name = ui->serial_combo_box->currentData().toString();
    saved_port_speed = ui->baudrate_edit_line->text();
    device_heartbeat_timer.start(4000);
    reconnect_timer.stop(); // nothing to wait for while connected; the loss starts it again
    ui->serial_combo_box->setEnabled(false);
    apply_system_configuration();
}

void MainWindow::sl_serial_disconnected()
{
    // A failed attempt says why in the window, not only on the terminal.
    const bool failed_attempt = connection_pending && !connected;
    connection_pending = false;
    ui->connect_button_2->setCheckable(false);
    ui->connect_button_2->setChecked(false);
    ui->connect_button_2->setText(tr("Connect"));
    const bool lost = connected && !disconnect_requested;
    disconnect_requested = false;
    connected = false;
    show_link_state(false, lost);
    ui->scrollArea->setEnabled(false);
    if (failed_attempt && !last_transport_error.isEmpty() && last_transport_error != logged_connect_failure) {
        logged_connect_failure = last_transport_error; // once per reason, not per retry
        log_event_text(int(log_kind::connection), 0, QStringLiteral("system"), tr("connect failed: %1").arg(last_transport_error));
    } else if (!failed_attempt) {
        log_event_text(int(log_kind::connection), 0, QStringLiteral("system"),
                       lost ? tr("disconnected: connection lost") : tr("disconnected by the operator"));
    }
    ui->connection_status_label->setText(tr("Connection status: DISCONNECTED"));
    // Why, beside it: a failed attempt's reason, or a link lost by no one's hand.
    ui->connection_reason_label->setText(failed_attempt && !last_transport_error.isEmpty()
                                             ? tr("(%1)").arg(last_transport_error)
                                         : lost ? tr("(connection lost)") : QString());
    ui->serial_combo_box->setEnabled(true);
    if (auto_connection && !threads_stopped && !reconnect_timer.isActive())
        reconnect_timer.start(300);
    for (const auto& laser : lasers) {
        laser->worker->running.store(false);
        laser->worker->poll_enabled.store(false);
        laser->worker->param_reading.store(false);
    }
}

void MainWindow::sl_error(QString err)
{
    qDebug().noquote() << "SERIAL ERROR: " + err;
    last_transport_error = err;
}

// Port errors reach the window as a disconnection; this slot is not connected.
void MainWindow::serial_error(QSerialPort::SerialPortError /*serialPortError*/) {}

void MainWindow::ask_outputs_off(const QString& action)
{
    if (!connected || !any_channel_emits())
        return;
    QMessageBox box(QMessageBox::Question, tr("Confirmation"),
                    tr("Do you want to turn off outputs before") + QLatin1Char(' ') + action + QLatin1Char('?'),
                    QMessageBox::Yes | QMessageBox::No, this);
    if (ask(box) != QMessageBox::Yes) {
        qDebug() << "Yes was *not* clicked";
        return;
    }
    qDebug() << "Yes was clicked";
    switch_outputs_off();
}

// Every known board, not only those shown emitting: a board may have been
// switched on since its last reply, and an off sequence harms none.
bool MainWindow::switch_outputs_off()
{
    if (!connected)
        return false;
    for (const auto& laser : lasers) {
        if (laser->check_output(false, command_origin::outputs_off).ok())
            laser->request_output(false, command_origin::outputs_off);
    }
    return true;
}

void MainWindow::on_all_outputs_off_button_clicked()
{
    switch_outputs_off();
}

void MainWindow::show_link_state(bool up, bool lost)
{
    for (const auto& laser : lasers)
        laser->link_changed(up, lost);
    show_channel_status();
    ui->all_outputs_off_button->setEnabled(up);
    // Mini USB mode changes what channel 1 decodes: never under a live bus.
    ui->mini_usb_mode_checkbox->setEnabled(!up);
    ui->mini_usb_mode_checkbox->setToolTip(up ? tr("Disconnect first: mini USB mode changes only while disconnected")
                                              : QString());
}
