// Remote control: the SCPI server's switch and port on the Settings page,
// --remote on the command line, and its state in the status strip.
#include "MainWindow.h"

#include "bus_transport.h"
#include "laser_object.h"
#include "log_event.h"
#include "main_window_form.h"
#include "remote_server.h"
#include "scpi_executor.h"

#include <QDebug>
#include <QIntValidator>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION "0"
#endif

void MainWindow::setup_remote()
{
    scpi_executor::hooks hooks;
    hooks.channel = [this](int index) { return index >= 0 && index < channel_count ? channel(index) : nullptr; };
    hooks.connected = [this] { return connected; };
    hooks.outputs_off = [this] { return switch_outputs_off(); };
    hooks.alarms = [this] { return active_alarms(); };
    hooks.acknowledge_alarms = [this] { acknowledge_alarms(); };
    // A marker posted to the transport's thread behind the frames handed to it
    // (write_soon posts each write the same way), which comes back when it runs.
    hooks.after_writes = [this](std::function<void()> done) {
        bus_transport* transport = active_transport.load();
        if (!transport) {
            QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
            return;
        }
        QMetaObject::invokeMethod(transport, [this, done = std::move(done)] {
            QMetaObject::invokeMethod(this, done, Qt::QueuedConnection);
        }, Qt::QueuedConnection);
    };
    remote_commands = std::make_unique<scpi_executor>(
        std::move(hooks), QStringLiteral("Corvane,Corvane Studio,0," CORVANE_VERSION));
    remote_control = std::make_unique<remote_server>(*remote_commands);
    connect(remote_control.get(), &remote_server::sig_clients_changed, this, [this](int count) {
        log_event_text(int(log_kind::remote), 0, QStringLiteral("system"), tr("remote clients: %1").arg(count));
        show_remote_status();
    });
    connect(remote_control.get(), &remote_server::sig_refused, this, [this](const QString& client, const QString& error) {
        log_event_text(int(log_kind::remote), 0, client, tr("refused: %1").arg(error));
    });

    ui->remote_port_edit->setValidator(new QIntValidator(1, 65535, this));
    connect(ui->remote_checkbox, &QCheckBox::clicked, this, [this](bool on) {
        remote_from_command_line = false;
        on ? start_remote() : stop_remote();
    });
    connect(ui->remote_port_edit, &QLineEdit::editingFinished, this, [this] {
        remote_from_command_line = false;
        if (ui->remote_checkbox->isChecked())
            start_remote();
    });

    if (ui->remote_checkbox->isChecked())
        start_remote();
    else
        show_remote_status();
}

void MainWindow::start_remote_for_this_run(int port)
{
    remote_from_command_line = true;
    ui->remote_checkbox->setChecked(true);
    ui->remote_port_edit->setText(QString::number(port));
    start_remote();
}

void MainWindow::start_remote()
{
    const int port = ui->remote_port_edit->text().toInt();
    remote_failure.clear();
    if (!remote_control->listen(quint16(port), remote_failure)) {
        remote_failure = tr("Remote control: port %1 not available (%2)").arg(port).arg(remote_failure);
        qWarning().noquote() << remote_failure;
    }
    show_remote_status();
}

// The server object stays: a command may be running in it right now.
void MainWindow::stop_remote()
{
    remote_failure.clear();
    remote_control->close();
    show_remote_status();
}

void MainWindow::show_remote_status()
{
    QLabel* label = ui->remote_status_label;
    const bool on = remote_control->is_listening();
    label->setVisible(on || !remote_failure.isEmpty());
    if (on)
        label->setText(tr("Remote control: port %1, %n client(s)", nullptr, remote_control->client_count())
                           .arg(remote_control->port()));
    else
        label->setText(remote_failure);
}
