// What the status strip says about all channels at once: outputs lost while
// emitting (latched until acknowledged), converter faults, boards found
// emitting at connection, and scripts at work.
#include "MainWindow.h"

#include "driver_type.h"
#include "event_log.h"
#include "laser_object.h"
#include "main_window_form.h"
#include "remote_server.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

const char* const alarm_style = "QLabel { background-color: #c00000; color: white; padding: 0px 6px; }";

QString channel_list(const QStringList& channels)
{
    return channels.join(QStringLiteral(", "));
}

} // namespace

void MainWindow::setup_alarms()
{
    for (QWidget* w : std::initializer_list<QWidget*>{ui->alarm_label, ui->acknowledge_alarms_button, ui->fault_label,
                                                      ui->remote_presence_label})
        w->hide();
    ui->alarm_label->setStyleSheet(QLatin1String(alarm_style));
    ui->fault_label->setStyleSheet(QLatin1String(alarm_style));
    connect(ui->acknowledge_alarms_button, &QPushButton::clicked, this, [this] { acknowledge_alarms(); });
    for (const auto& laser : lasers)
        connect(laser.get(), &laser_object::sig_alarm, this, [this](int, const QString&) { show_channel_status(); });
}

int MainWindow::acknowledge_alarms()
{
    int acknowledged = 0;
    for (const auto& laser : lasers) {
        if (!laser->alarm.isEmpty()) {
            log_event_text(int(log_kind::alarm), laser->index + 1, QStringLiteral("operator"),
                           tr("alarm acknowledged: %1").arg(laser->alarm));
            laser->acknowledge_alarm();
            ++acknowledged;
        }
    }
    show_channel_status();
    return acknowledged;
}

QStringList MainWindow::active_alarms() const
{
    QStringList out;
    for (const auto& laser : lasers) {
        if (!laser->alarm.isEmpty())
            out << QStringLiteral("channel %1: %2").arg(laser->index + 1).arg(laser->alarm);
    }
    return out;
}

void MainWindow::show_channel_status()
{
    QStringList alarms, faults, warnings;
    bool emitting = false, unknown = false;
    for (const auto& laser : lasers) {
        const QString ch = QStringLiteral("ch%1").arg(laser->index + 1);
        if (!laser->alarm.isEmpty())
            alarms << ch;
        if (laser->enabled && laser->output_on())
            (laser->answering() ? emitting : unknown) = true;
        if (laser->fresh() && laser->worker->device_type.load() == driver_type::power_dcdc) {
            const dcdc_model_struct& m = laser->worker->dcdc_model;
            if (m.fault_flags)
                faults << ch;
            else if (m.warning_flags)
                warnings << ch;
        }
    }
    ui->emitting_label->setText(emitting ? tr("Emission: ON") : unknown ? tr("Emission: UNKNOWN") : tr("Emission: OFF"));
    ui->emit_on->setVisible(emitting || unknown);
    ui->emit_off->setVisible(!emitting && !unknown);

    ui->alarm_label->setText(tr("ALARM: lost while emitting: %1").arg(channel_list(alarms)));
    ui->alarm_label->setVisible(!alarms.isEmpty());
    ui->acknowledge_alarms_button->setVisible(!alarms.isEmpty());
    QStringList flags;
    if (!faults.isEmpty())
        flags << tr("FAULT: %1").arg(channel_list(faults));
    if (!warnings.isEmpty())
        flags << tr("WARNING: %1").arg(channel_list(warnings));
    ui->fault_label->setText(flags.join(QStringLiteral("  ")));
    ui->fault_label->setVisible(!flags.isEmpty());

    const int clients = remote_control ? remote_control->client_count() : 0;
    ui->remote_presence_label->setText(clients == 1 ? tr("REMOTE: 1 client") : tr("REMOTE: %1 clients").arg(clients));
    ui->remote_presence_label->setVisible(clients > 0);
}

// Once per connection, each channel's first answer: an output found on is
// said, naming the channel, so the operator never believes all is off.
void MainWindow::notice_found_emitting()
{
    QStringList found;
    for (const auto& laser : lasers) {
        const size_t i = size_t(laser->index);
        if (found_checked[i] || !laser->answering())
            continue;
        found_checked[i] = true;
        if (laser->output_on())
            found << tr("Channel %1 (%2): %3 output on")
                         .arg(laser->index + 1)
                         .arg(laser->name)
                         .arg(driver_type::name(laser->worker->device_type.load()));
    }
    if (found.isEmpty())
        return;
    found_emitting << found;
    for (const QString& f : found)
        log_event_text(int(log_kind::notice), 0, QStringLiteral("system"), tr("found emitting: %1").arg(f));
    const QString text = tr("Outputs found on:") + QLatin1Char('\n') + found_emitting.join(QLatin1Char('\n'));
    if (!found_box) {
        // Not modal and not run in a local event loop: a notice, not a question.
        auto* box = new QMessageBox(QMessageBox::Information, tr("Found emitting"), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        found_box = box;
        box->show();
    } else {
        found_box->setText(text);
    }
}
