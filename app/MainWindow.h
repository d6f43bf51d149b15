#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class QEvent;
class can_id_validator;
class laser_params;

namespace Ui {
class MainWindow;
}

// The main window: the form with its ten channel panels and configuration rows,
// the page menu and the status strip. The constructor runs its start-up steps in a
// fixed order (see the constructor body); each step is one private helper.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int channel_count = 10;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The form, for code that needs its widgets by name (tests, the parameters window binding).
    Ui::MainWindow* form() const;

    // Swallows mouse-wheel turns on the channel inputs it is installed on, so a scroll
    // through the channel list never changes a set-point by accident.
    bool eventFilter(QObject* obj, QEvent* event) override;

    // Set by main after construction; not owned.
    laser_params* params_window = nullptr;

    QString saved_port_name;
    QString saved_port_speed = QStringLiteral("115200");
    bool auto_connection = false;
    bool connected = false;
    int laser_count = 0;

public slots:
    void on_connect_button_clicked();

private slots:
    void on_main_menu_butt_2_clicked();
    void on_main_menu_butt_clicked();
    void on_main_menu_butt_3_clicked();

private:
    void setup_form();
    void expand_channel_templates();
    void dress_window();
    void attach_can_id_validator();
    void select_page(int page_index);

    // Widget `base` of channel slot `index` (0..9), e.g. ("addr", 2) -> addr_3.
    template <class T>
    T* channel_widget(const QString& base, int index) const;

    std::unique_ptr<Ui::MainWindow> ui;
    can_id_validator* can_id_check = nullptr;
};
