// settings.ini: read once during construction, written once at close.
#include "MainWindow.h"

#include "main_window_form.h"
#include "settings_file.h"

#include <QCheckBox>
#include <QDebug>
#include <QLineEdit>
#include <QMessageBox>

void MainWindow::load_settings()
{
    settings = std::make_unique<settings_file>();
    stored_settings s;
    if (!settings->load(s))
        return; // never saved: the form keeps its defaults
    saved_port_name = s.port_name;
    saved_port_speed = s.port_speed;
    auto_connection = s.auto_connection;
    for (int i = 0; i < channel_count; ++i)
        channel_widget<QCheckBox>(QStringLiteral("dev_en"), i)->setChecked(s.rows[i].enabled);
    for (int i = 0; i < channel_count; ++i)
        channel_widget<QLineEdit>(QStringLiteral("edit_name"), i)->setText(s.rows[i].name);
    for (int i = 0; i < channel_count; ++i)
        channel_widget<QLineEdit>(QStringLiteral("addr"), i)->setText(s.rows[i].addr);
    ui->baudrate_edit_line->setText(saved_port_speed);
    remote_stored = s;
    ui->remote_checkbox->setChecked(s.remote_enabled);
    ui->remote_port_edit->setText(s.remote_port);
    tango_stored = s; // the TANGO box is made later (setup_tango)
}

void MainWindow::restore_mini_usb_mode()
{
    // Entered exactly as an operator click does, whether or not the file has the marker.
    if (settings->mini_usb())
        ui->mini_usb_mode_checkbox->click();
}

void MainWindow::save_settings()
{
    // A rack PC's settings are its administrator's: never rewritten here.
    if (headless)
        return;
    stored_settings s;
    s.port_name = saved_port_name;
    s.port_speed = saved_port_speed;
    s.auto_connection = auto_connection;
    for (int i = 0; i < channel_count; ++i) {
        s.rows[i].enabled = channel_widget<QCheckBox>(QStringLiteral("dev_en"), i)->isChecked();
        s.rows[i].name = channel_widget<QLineEdit>(QStringLiteral("edit_name"), i)->text();
        s.rows[i].addr = channel_widget<QLineEdit>(QStringLiteral("addr"), i)->text();
    }
    s.mini_usb = ui->mini_usb_mode_checkbox->isChecked();
    s.remote_enabled = remote_from_command_line ? remote_stored.remote_enabled : ui->remote_checkbox->isChecked();
    s.remote_port = remote_from_command_line ? remote_stored.remote_port : ui->remote_port_edit->text();
    if (tango_checkbox && !tango_from_command_line) {
        s.tango_enabled = tango_checkbox->isChecked();
        s.tango_instance = tango_instance_edit->text().trimmed();
        s.tango_port = tango_port_edit->text().trimmed();
        s.tango_endpoint = tango_endpoint_edit->text().trimmed();
        s.tango_readonly = tango_readonly_checkbox->isChecked();
    } else {
        s.tango_enabled = tango_stored.tango_enabled;
        s.tango_instance = tango_stored.tango_instance;
        s.tango_port = tango_stored.tango_port;
        s.tango_endpoint = tango_stored.tango_endpoint;
        s.tango_readonly = tango_stored.tango_readonly;
    }
    QString why;
    save_failed = !settings->save(s, why);
    if (!save_failed)
        return;
    const QString text = tr("Settings could not be saved to %1: %2").arg(settings->path(), why);
    qWarning().noquote() << text;
    QMessageBox box(QMessageBox::Warning, tr("Settings not saved"), text, QMessageBox::Ok, this);
    ask(box);
}
