#include "MainWindow.h"

#include "can_id_validator.h"
#include "panel_template.h"
#include "main_window_form.h"

#include <QDebug>
#include <QEvent>
#include <QIcon>
#include <QIntValidator>
#include <QPixmap>

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

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , can_id_check(new can_id_validator(this))
{
    // The form with its channel templates; opens on the channel list.
    setup_form();
    dress_window();
    attach_can_id_validator();

    // Settings file.

    // Serial thread and its wiring.

    // View refresh, reconnect and heartbeat timers.

    ui->baudrate_edit_line->setValidator(new QIntValidator(this));

    // Channel controllers, one per panel.

    // Serial port list.

    // Collapse every channel panel to its tab row.

    // The channel list is usable only while connected.
    ui->scrollArea->setEnabled(false);

    // System configuration.

    ui->label->hide();

    // Mini USB mode from the settings.

    // The bit rate is fixed by the mode (115200, or 57600 in mini USB mode).
    ui->baudrate_edit_line->hide();
    ui->label_7->hide();
}

MainWindow::~MainWindow() = default;

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

template <class T>
T* MainWindow::channel_widget(const QString& base, int index) const
{
    return findChild<T*>(base + channel_suffix(index + 1));
}

void MainWindow::select_page(int page_index)
{
    ui->stackedWidget->setCurrentIndex(page_index);
    QPushButton* const buttons[] = {ui->main_menu_butt, ui->main_menu_butt_2, ui->main_menu_butt_3};
    for (int i = 0; i < 3; ++i)
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
