// TANGO devices: the box on the Settings page, --tango on the command line,
// the server's state in the status strip, and its requests into the channels.
#include "MainWindow.h"

#include "can_bus_object.h"
#include "event_log.h"
#include "laser_object.h"
#include "log_event.h"
#include "main_window_form.h"
#include "recorder.h"
#include "serial_object.h"
#include "tango_link.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDebug>
#include <QFormLayout>
#include <QGroupBox>
#include <QHostInfo>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

namespace {

// The box goes below the SCPI server's row of the Settings page.
void insert_below(QLayout* row, QWidget* box)
{
    QWidget* page = row->parentWidget();
    auto* column = page ? qobject_cast<QBoxLayout*>(page->layout()) : nullptr;
    if (!column) {
        box->hide();
        return;
    }
    for (int i = 0; i < column->count(); ++i) {
        if (column->itemAt(i)->layout() == row) {
            column->insertWidget(i + 1, box);
            return;
        }
    }
    column->addWidget(box);
}

QString default_instance()
{
    QString host = QHostInfo::localHostName().toLower().section(QLatin1Char('.'), 0, 0);
    host.replace(QLatin1Char('/'), QLatin1Char('_'));
    return host.isEmpty() ? QStringLiteral("studio") : host;
}

} // namespace

void MainWindow::setup_tango()
{
    tango_requests::hooks hooks;
    hooks.channel = [this](int index) { return index >= 0 && index < channel_count ? channel(index) : nullptr; };
    hooks.connected = [this] { return connected; };
    hooks.outputs_off = [this] { return switch_outputs_off(); };
    hooks.alarms = [this] { return active_alarms(); };
    hooks.acknowledge_alarms = [this] { acknowledge_alarms(); };
    hooks.recording = [this] { return recordings && recordings->active(); };
    hooks.log_lines = [this] {
        QStringList lines;
        if (!events)
            return lines;
        for (const log_event& e : events->recent(20))
            lines << QString::fromUtf8(log_json_line(e)).trimmed();
        return lines;
    };
    hooks.note = [this](int channel, const QString& client, const QString& what) {
        log_event_text(int(channel ? log_kind::setpoint : log_kind::output), channel,
                       QStringLiteral("tango client ") + client, what);
    };
    hooks.acting_for = [this](const QString& client) { tango_client = client; };
    tango_server_link = std::make_unique<tango_link>(std::move(hooks));

    // Readings that arrive are published to the devices (and their events).
    connect(serial.get(), &serial_object::sig_serial_rx_can_batch, tango_server_link.get(),
            [link = tango_server_link.get()] { link->sl_reading_arrived(); });
    connect(can_bus.get(), &can_bus_object::sig_serial_rx_can_batch, tango_server_link.get(),
            [link = tango_server_link.get()] { link->sl_reading_arrived(); });

    auto* status = new QLabel(ui->remote_status_label->parentWidget()); // owned by the status strip
    status->setObjectName(QStringLiteral("tango_status_label"));
    status->hide();
    if (auto* strip = qobject_cast<QBoxLayout*>(ui->remote_status_label->parentWidget()->layout()))
        strip->insertWidget(strip->indexOf(ui->remote_status_label) + 1, status);
    connect(tango_server_link.get(), &tango_link::sig_state_changed, this, [this](bool serving, const QString& text) {
        if (serving && after_tango_started)
            after_tango_started();
        show_tango_status(text);
    });

    auto* box = new QGroupBox(tr("TANGO devices"), ui->remote_checkbox->parentWidget()); // owned by the page
    box->setObjectName(QStringLiteral("tango_box"));
    auto* form = new QFormLayout(box);
    tango_checkbox = new QCheckBox(tr("Serve every channel as a TANGO device"), box);
    tango_checkbox->setObjectName(QStringLiteral("tango_checkbox"));
    tango_checkbox->setToolTip(tr("corvane/INSTANCE/ch1 .. ch10 and corvane/INSTANCE/studio; "
                                  "takes effect once per run"));
    tango_instance_edit = new QLineEdit(box);
    tango_instance_edit->setObjectName(QStringLiteral("tango_instance_edit"));
    tango_instance_edit->setPlaceholderText(default_instance());
    tango_port_edit = new QLineEdit(box);
    tango_port_edit->setObjectName(QStringLiteral("tango_port_edit"));
    tango_port_edit->setValidator(new QIntValidator(1, 65535, tango_port_edit));
    tango_port_edit->setPlaceholderText(tr("database (TANGO_HOST)"));
    tango_endpoint_edit = new QLineEdit(box);
    tango_endpoint_edit->setObjectName(QStringLiteral("tango_endpoint_edit"));
    tango_readonly_checkbox = new QCheckBox(tr("Read-only (only AllOutputsOff is taken)"), box);
    tango_readonly_checkbox->setObjectName(QStringLiteral("tango_readonly_checkbox"));
    form->addRow(tango_checkbox);
    form->addRow(tr("instance"), tango_instance_edit);
    form->addRow(tr("port without database"), tango_port_edit);
    form->addRow(tr("address"), tango_endpoint_edit);
    form->addRow(tango_readonly_checkbox);
    insert_below(ui->remote_layout, box);

    const stored_settings& s = tango_stored;
    tango_checkbox->setChecked(s.tango_enabled);
    tango_instance_edit->setText(s.tango_instance);
    tango_port_edit->setText(s.tango_port);
    tango_endpoint_edit->setText(s.tango_endpoint);
    tango_readonly_checkbox->setChecked(s.tango_readonly);
    connect(tango_checkbox, &QCheckBox::clicked, this, [this](bool on) {
        tango_from_command_line = false;
        on ? start_tango() : stop_tango();
    });
    for (QLineEdit* edit : {tango_instance_edit, tango_port_edit, tango_endpoint_edit})
        connect(edit, &QLineEdit::editingFinished, this, [this] { tango_from_command_line = false; });
    connect(tango_readonly_checkbox, &QCheckBox::clicked, this, [this] { tango_from_command_line = false; });

    if (s.tango_enabled)
        start_tango();
}

void MainWindow::start_tango_for_this_run(const QString& instance, int port, const QString& endpoint, bool read_only)
{
    tango_from_command_line = true;
    tango_checkbox->setChecked(true);
    if (!instance.isEmpty())
        tango_instance_edit->setText(instance);
    if (port > 0)
        tango_port_edit->setText(QString::number(port));
    if (!endpoint.isEmpty())
        tango_endpoint_edit->setText(endpoint);
    if (read_only)
        tango_readonly_checkbox->setChecked(true);
    start_tango();
}

void MainWindow::start_tango()
{
    if (!tango_server_link || tango_server_link->running())
        return;
    tango_config c;
    c.instance = (tango_instance_edit->text().trimmed().isEmpty() ? default_instance()
                                                                   : tango_instance_edit->text().trimmed().toLower())
                     .toStdString();
    c.port = tango_port_edit->text().toInt();
    c.use_database = c.port == 0;
    const QString endpoint = tango_endpoint_edit->text().trimmed();
    c.endpoint = (endpoint.isEmpty() ? QStringLiteral("127.0.0.1") : endpoint).toStdString();
    if (c.use_database && qEnvironmentVariableIsEmpty("TANGO_HOST")) {
        show_tango_status(tr("TANGO not serving: give a port (no database) or set TANGO_HOST"));
        return;
    }
    QString why;
    if (!tango_server_link->start(c, tango_readonly_checkbox->isChecked(), why))
        show_tango_status(tr("TANGO not serving: %1").arg(why));
    else
        show_tango_status(tango_server_link->state_text());
}

void MainWindow::stop_tango()
{
    if (!tango_server_link || !tango_server_link->started_once())
        return;
    tango_server_link->stop();
    show_tango_status(tango_server_link->state_text());
}

void MainWindow::show_tango_status(const QString& text)
{
    auto* label = findChild<QLabel*>(QStringLiteral("tango_status_label"));
    if (label) {
        label->setText(text);
        label->setVisible(!text.isEmpty());
    }
    if (text.startsWith(QLatin1String("TANGO not serving")) || text.contains(QLatin1String("Kill")))
        qWarning().noquote() << text;
    log_event_text(int(log_kind::remote), 0, QStringLiteral("system"), text);
}
