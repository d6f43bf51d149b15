// The main window as the hub of the ten channels: creation and wiring, routing
// of received frames, the view refresh, the heartbeat, the tab buttons and the
// device parameters window.
#include "MainWindow.h"

#include "laser_object.h"
#include "laser_params.h"
#include "main_window_form.h"
#include "serial_object.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>

namespace {

// Data byte 1 of a reply carries the sending board's own CAN ID.
constexpr int reply_can_id_byte = 1;
// A channel with this CAN ID takes every frame.
constexpr int catch_all_can_id = 250;

} // namespace

void MainWindow::add_laser_channel(int can_id, QWidget* panel_widget)
{
    if (laser_count >= channel_count)
        return;
    auto laser = std::make_unique<laser_object>(nullptr, can_id, panel_widget);
    laser->index = laser_count;

    for (QWidget* input : std::initializer_list<QWidget*>{
             laser->curr_spin, laser->pulse_cutted_spin, laser->dura_spin, laser->pulse_gated_spin,
             laser->temp_spin, laser->volt_spin, laser->freq_combo, laser->mode_combo})
        input->installEventFilter(this);
    laser->alt_but_widget->hide();

    // Polls come from the polling thread and wait in the transport's ring for the shared
    // tick, no event per frame. Operator commands come from the GUI thread and leave at once,
    // each in a write of its own, so that their copies keep the spacing the panel gives them.
    laser_worker* poller = laser->worker;
    connect(poller, &laser_worker::thread_serial_write, this, [this](const QByteArray& line) {
        bus_transport* transport = active_transport.load();
        if (!transport)
            return; // never connected: a closed port would drop it too
        if (laser_worker::polls_from_here())
            transport->queue_frame(line);
        else
            transport->write_soon(line);
    }, Qt::DirectConnection);
    connect(laser->laser_tab_button, &QPushButton::clicked, this, &MainWindow::laser_tab_button_click);
    connect(laser.get(), &laser_object::show_conf_dialog_signal, this, &MainWindow::show_laser_conf_dialog_slot);

    lasers[static_cast<size_t>(laser_count)] = std::move(laser);
    ++laser_count;
}

void MainWindow::laser_tab_button_click()
{
    for (const auto& laser : lasers) {
        if (laser && laser->laser_tab_button == sender()) {
            laser->laser_group->setVisible(laser->laser_group->isHidden());
            return;
        }
    }
}

void MainWindow::send_operator_frame(const QByteArray& line)
{
    if (bus_transport* transport = active_transport.load())
        transport->write_soon(line);
}

void MainWindow::handle_rx_can_batch(const serial_message_batch& frames)
{
    for (const serial_message_struct& sm : frames)
        handle_rx_can_message(sm);
    ui->label->setText(QString::number(rx_frame_count));
}

void MainWindow::handle_rx_can_message(const serial_message_struct& sm)
{
    ++rx_frame_count;

    const auto reply_id = static_cast<int32_t>(sm.data[reply_can_id_byte]);
    bool first_decoded = false;
    for (const auto& laser : lasers) {
        if (laser->can_id == reply_id || laser->can_id == catch_all_can_id) {
            laser->handle_driver_message(sm);
            if (laser == lasers[0])
                first_decoded = true;
        }
    }
    // In mini USB mode one board hangs on the cable and channel 1 takes all it says.
    if (lasers[0]->worker->mini_usb_mode.load() && !first_decoded)
        lasers[0]->handle_driver_message(sm);
}

bool MainWindow::any_channel_emits() const
{
    return std::any_of(lasers.begin(), lasers.end(), [](const auto& laser) { return laser->output_on(); });
}

void MainWindow::view_update_timer_slot()
{
    for (const auto& laser : lasers)
        laser->view_update();
    if (connected)
        notice_found_emitting();
    show_channel_status();
    log_channel_changes();
}

void MainWindow::sl_device_heartbeat_timer()
{
    for (const auto& laser : lasers) {
        laser_worker& w = *laser->worker;
        if (!w.alive.load())
            w.device_type.store(-1);
        w.alive.store(false);
    }
}

void MainWindow::show_laser_conf_dialog_slot(int idx)
{
    if (!params_window || idx < 0 || idx >= channel_count)
        return;
    connect(params_window, &laser_params::sig_laser_conf_dialog_is_hided, this,
            &MainWindow::sl_laser_conf_dialog_is_hided, Qt::UniqueConnection);
    connect(params_window, &laser_params::sig_thread_serial_write, this, &MainWindow::send_operator_frame,
            Qt::UniqueConnection);
    connect(params_window, &laser_params::sig_parameter_written, this, &MainWindow::log_parameter_written,
            Qt::UniqueConnection);
    params_window->active = true;

    // Its channel is polled for its parameters meanwhile; every other channel
    // keeps its monitoring, so that nothing goes unwatched.
    for (const auto& laser : lasers)
        laser->worker->param_reading.store(false);
    laser_object* bound = lasers[static_cast<size_t>(idx)].get();
    params_window->laser = bound;
    bound->worker->param_reading.store(true);

    params_window->fill_editors();
    params_window->show();
}

void MainWindow::sl_laser_conf_dialog_is_hided()
{
    for (const auto& laser : lasers) {
        laser->worker->poll_enabled.store(false);
        laser->worker->param_reading.store(false);
    }
    apply_system_configuration();
}
