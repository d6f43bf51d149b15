// Connection supervision: the port list, Connect/Disconnect, auto connection,
// the serial worker's answers and the outputs-off question.
#include "MainWindow.h"

#include "can_bus_object.h"
#include "can_port_name.h"
#include "laser_object.h"
#include "main_window_form.h"
#include "serial_object.h"
#include "wait_ms.h"

#include <QComboBox>
#include <QDebug>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Passes of the outputs-off loop before the operator's action goes ahead anyway.
constexpr int outputs_off_passes = 100;

} // namespace

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
    // From now on the channels' frames go to this worker; the other one is closed.
    active_transport.store(transport);
    QMetaObject::invokeMethod(transport, &bus_transport::sl_connect_serial, Qt::QueuedConnection);
}

void MainWindow::on_connect_button_2_clicked()
{
    if (connected) {
        ask_outputs_off(tr("disconnect"));
        // A manual disconnection also ends auto connection.
        reconnect_timer.stop();
        auto_connection = false;
        ui->connection_mode->setChecked(false);
        emit sig_disconnect_serial();
    } else {
        connection_attempt();
    }
}

void MainWindow::on_connection_mode_clicked()
{
    if (ui->connection_mode->isChecked()) {
        saved_port_name = ui->serial_combo_box->currentData().toString();
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
    for (const auto& laser : lasers)
        laser->worker->start_polling();
    ui->scrollArea->setEnabled(true);
    ui->connection_status_label->setText(tr("Connection status: CONNECTED"));
    saved_port_name = ui->serial_combo_box->currentData().toString();
    saved_port_speed = ui->baudrate_edit_line->text();
    device_heartbeat_timer.start(4000);
    ui->serial_combo_box->setEnabled(false);
    apply_system_configuration();
}

void MainWindow::sl_serial_disconnected()
{
    connection_pending = false;
    ui->connect_button_2->setCheckable(false);
    ui->connect_button_2->setChecked(false);
    ui->connect_button_2->setText(tr("Connect"));
    connected = false;
    ui->scrollArea->setEnabled(false);
    ui->connection_status_label->setText(tr("Connection status: DISCONNECTED"));
    ui->serial_combo_box->setEnabled(true);
    for (const auto& laser : lasers) {
        laser->worker->running.store(false);
        laser->worker->poll_enabled.store(false);
        laser->worker->param_reading.store(false);
    }
}

void MainWindow::sl_error(QString err)
{
    qDebug().noquote() << "SERIAL ERROR: " + err;
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

void MainWindow::switch_outputs_off()
{
    if (!connected)
        return; // no reply would ever clear an emission flag
    // laser_off() waits 1 ms after each frame with the event loop running, so
    // replies arrive and clear the emission flags between passes.
    for (int pass = 0; pass < outputs_off_passes; ++pass) {
        bool any = false;
        for (const auto& laser : lasers) {
            if (channel_emits(*laser)) {
                any = true;
                laser->laser_off();
            }
        }
        if (!any)
            break;
    }
}
