// The system configuration page: which channels are enabled, their names and
// CAN IDs, mini USB mode, and the page menu.
#include "MainWindow.h"

#include "laser_object.h"
#include "main_window_form.h"

#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::apply_system_configuration()
{
    laser_count = 0;
    for (const auto& laser : lasers) {
        laser->panel_widget->hide();
        laser->enabled = false;
        laser->worker->poll_enabled.store(false);
    }
    for (int i = 0; i < channel_count; ++i) {
        if (channel_widget<QCheckBox>(QStringLiteral("dev_en"), i)->isChecked()) {
            lasers[i]->panel_widget->show();
            ++laser_count;
            lasers[i]->enabled = true;
            lasers[i]->worker->poll_enabled.store(true);
        }
    }
    for (int i = 0; i < channel_count; ++i)
        lasers[i]->name = channel_widget<QLineEdit>(QStringLiteral("edit_name"), i)->text();
    for (const auto& laser : lasers)
        laser->laser_tab_button->setText(laser->name);
    // Frames are matched against the new IDs at once, and the next polls go to them.
    for (int i = 0; i < channel_count; ++i) {
        const int id = can_id_field(i);
        if (lasers[i]->can_id != id)
            lasers[i]->forget_board();
        lasers[i]->can_id = id;
        lasers[i]->worker->set_can_id(id);
    }
}

void MainWindow::on_pushButton_clicked()
{
    // A channel disabled or given another CAN ID stops watching its board:
    // while that board emits, the operator is asked first.
    std::vector<std::pair<laser_object*, QString>> unwatched;
    for (int i = 0; i < channel_count; ++i) {
        laser_object* laser = lasers[size_t(i)].get();
        if (!laser->enabled || !laser->output_on())
            continue;
        if (!channel_widget<QCheckBox>(QStringLiteral("dev_en"), i)->isChecked())
            unwatched.emplace_back(laser, tr("channel disabled"));
        else if (can_id_field(i) != laser->can_id)
            unwatched.emplace_back(laser, tr("CAN ID changed"));
    }
    if (!unwatched.empty()) {
        QStringList which;
        for (const auto& u : unwatched)
            which << tr("channel %1 (%2)").arg(u.first->index + 1).arg(u.second);
        QMessageBox box(QMessageBox::Question, tr("Confirmation"),
                        tr("Outputs are on: %1. Their boards will go on emitting, unwatched. Apply anyway?")
                            .arg(which.join(QStringLiteral(", "))),
                        QMessageBox::Yes | QMessageBox::No, this);
        if (ask(box) != QMessageBox::Yes)
            return;
        for (const auto& u : unwatched)
            u.first->raise_alarm(u.second);
    }
    apply_system_configuration();
    if (close_after_question)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::on_mini_usb_mode_checkbox_clicked()
{
    laser_worker& first = *lasers[0]->worker;
    if (ui->mini_usb_mode_checkbox->isChecked()) {
        // One board on its cable: channel 1 alone, locked on, at the board's bit rate.
        for (int i = 0; i < channel_count; ++i) {
            auto* enabled = channel_widget<QCheckBox>(QStringLiteral("dev_en"), i);
            enabled_before_mini_usb[i] = enabled->isChecked();
            enabled->setChecked(false);
            enabled->setEnabled(false);
            channel_widget<QLineEdit>(QStringLiteral("addr"), i)->setEnabled(false);
        }
        channel_widget<QCheckBox>(QStringLiteral("dev_en"), 0)->setChecked(true);
        first.mini_usb_mode.store(true);
        ui->baudrate_edit_line->setText(QStringLiteral("57600"));
    } else {
        for (int i = 0; i < channel_count; ++i) {
            auto* enabled = channel_widget<QCheckBox>(QStringLiteral("dev_en"), i);
            enabled->setChecked(enabled_before_mini_usb[i]);
            enabled->setEnabled(true);
            channel_widget<QLineEdit>(QStringLiteral("addr"), i)->setEnabled(true);
        }
        first.mini_usb_mode.store(false);
        ui->baudrate_edit_line->setText(QLatin1String(stored_settings::default_port_speed));
    }
}
