// The main window as the operator and the channel code meet it: names under the
// right parents, page menu, status strip, validators and the wheel filter.
#include "MainWindow.h"
#include "panel_bindings.h"
#include "panel_template.h"
#include "main_window_form.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTranslator>
#include <QWheelEvent>
#include <QtTest>

namespace {

const char* const active_style =
    "QPushButton{color: rgb(200, 0, 0);text-align: center;border: 0px solid gray;vertical-align: bottom;} "
    "QPushButton:hover{text-align: center;color: rgb(120, 0, 0);border: 0px solid gray;vertical-align: bottom;}";
const char* const idle_style =
    "QPushButton{color: rgb(0, 0, 0);text-align: center;border: 0px solid gray;vertical-align: bottom;} "
    "QPushButton:hover{text-align: center;color: rgb(120, 0, 0);border: 0px solid gray;vertical-align: bottom;}";

// Marks every text it translates, to prove which texts went through the "MainWindow" context.
class marking_translator : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        if (QByteArray(context) != "MainWindow" || !*source)
            return QString();
        return QStringLiteral("<%1>").arg(QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

bool send_wheel(QWidget* target)
{
    const QPointF pos(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(pos, target->mapToGlobal(pos.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    return QApplication::sendEvent(target, &wheel);
}

QString sfx(int channel)
{
    return channel_suffix(channel);
}

} // namespace

class test_main_window : public QObject
{
    Q_OBJECT

private slots:
    void window_frame_and_version();
    void channel_panels_sit_under_their_parents();
    void channel_three_binds_every_prefix();
    void configuration_rows();
    void menu_buttons_switch_pages_and_mark_the_active_one();
    void status_strip_starts_disconnected();
    void start_up_hides_and_disables();
    void can_id_fields_accept_0_to_255();
    void wheel_filter_blocks_only_filtered_inputs();
    void help_page_describes_the_program();
    void every_text_goes_through_the_main_window_context();
};

void test_main_window::window_frame_and_version()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Corvane Studio"));
    QCOMPARE(window.size(), QSize(997, 520));
    QCOMPARE(window.minimumWidth(), 983);
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.form()->label_91->text(), QString("Software version 2.007v"));
    QCOMPARE(window.form()->label_91->parentWidget(), window.form()->centralWidget);

    const QPixmap logo = window.form()->label_128->pixmap(Qt::ReturnByValue);
    QCOMPARE(logo.toImage(), QPixmap(":/images/images/kestrane.png").toImage());
    QCOMPARE(window.form()->label_128->size(), QSize(273, 35));
}

void test_main_window::channel_panels_sit_under_their_parents()
{
    MainWindow window;
    QWidget* contents = window.form()->scrollAreaWidgetContents;
    QCOMPARE(window.form()->scrollArea->widget(), contents);
    for (int channel = 1; channel <= 10; ++channel) {
        const QString s = sfx(channel);
        auto* panel = window.findChild<QWidget*>("laser_widget" + s);
        QVERIFY2(panel, qPrintable(s));
        QCOMPARE(panel->parentWidget(), contents);
        // Layout order is the channel order, with the hidden frame counter last.
        QCOMPARE(contents->layout()->indexOf(panel), channel - 1);

        const QList<QPair<QString, QString>> child_of = {
            {"curr_spin", "cw_curr_widget"}, {"step_size_combo", "cw_temp_widget"},
            {"pulse_gated_spin", "ps_ns_widget"}, {"cw_on_off_button", "cw_on_off_widget"},
            {"start_stop_button_alt", "alt_but_widget"}, {"laser_tab_button", "laser_widget"},
            {"laser_group_box", "laser_widget"}, {"dura_spin", "dura_widget"},
        };
        for (const auto& pair : child_of) {
            auto* widget = window.findChild<QWidget*>(pair.first + s);
            QVERIFY2(widget, qPrintable(pair.first + s));
            QCOMPARE(widget->parentWidget()->objectName(), pair.second + s);
        }
        // The form's "LASER1" is replaced by the channel name (empty on a first start).
        QCOMPARE(window.findChild<QAbstractButton*>("laser_tab_button" + s)->text(),
                 window.findChild<QLineEdit*>("edit_name" + s)->text());
    }
    QCOMPARE(contents->layout()->indexOf(window.form()->label), 10);
    // Exactly one widget of each channel name in the whole window.
    QCOMPARE(window.findChildren<QDoubleSpinBox*>(QRegularExpression("^curr_spin(_\\d+)?$")).size(), 10);
    QCOMPARE(window.findChildren<QWidget*>("curr_spin_3").size(), 1);
}

void test_main_window::channel_three_binds_every_prefix()
{
    MainWindow window;
    for (int channel : {1, 3, 10}) {
        const QString error = panel_binding_error(window.findChild<QWidget*>("laser_widget" + sfx(channel)), sfx(channel));
        QVERIFY2(error.isEmpty(), qPrintable(QString("channel %1: %2").arg(channel).arg(error)));
    }
}

void test_main_window::configuration_rows()
{
    MainWindow window;
    QGroupBox* group = window.form()->groupBox;
    QCOMPARE(window.form()->label_433->text(), QString("System configuration"));
    QStringList captions;
    for (QLabel* label : group->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
        captions << label->text();
    for (const char* caption : {"CAN ID", "name", "enabled"})
        QVERIFY2(captions.contains(caption), caption);
    for (int channel = 1; channel <= 10; ++channel) {
        const QString s = sfx(channel);
        auto* row = window.findChild<QWidget*>("dev_conf_widget" + s);
        QVERIFY(row);
        QCOMPARE(row->parentWidget(), group);
        for (const char* base : {"ind_label", "addr", "edit_name", "dev_en"}) {
            auto* widget = window.findChild<QWidget*>(base + s);
            QVERIFY2(widget, qPrintable(base + s));
            QCOMPARE(widget->parentWidget(), row);
        }
        QCOMPARE(window.findChild<QLabel*>("ind_label" + s)->text(), QString("channel %1").arg(channel));
        QCOMPARE(window.findChild<QLineEdit*>("addr" + s)->text(), QString("1"));
    }
    QCOMPARE(window.form()->pushButton->text(), QString("Apply system configuration"));
    QCOMPARE(window.form()->pushButton->parentWidget(), group);
}

void test_main_window::menu_buttons_switch_pages_and_mark_the_active_one()
{
    MainWindow window;
    Ui::MainWindow* ui = window.form();
    QCOMPARE(ui->stackedWidget->currentIndex(), 1);
    QCOMPARE(ui->stackedWidget->currentWidget(), ui->page_2);
    QVERIFY(ui->main_menu_butt->styleSheet().contains("rgb(200, 0, 0)"));

    struct step { QAbstractButton* button; int page; };
    const step steps[] = {{ui->main_menu_butt_2, 2}, {ui->main_menu_butt_3, 3}, {ui->main_menu_butt, 1},
                          {ui->main_menu_butt_3, 3}, {ui->main_menu_butt_2, 2}};
    QAbstractButton* const buttons[] = {ui->main_menu_butt, ui->main_menu_butt_2, ui->main_menu_butt_3};
    for (const step& s : steps) {
        QTest::mouseClick(s.button, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentIndex(), s.page);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(buttons[i]->styleSheet(), QString(i + 1 == s.page ? active_style : idle_style));
    }
    QCOMPARE(ui->stackedWidget->widget(0), ui->page);
    QCOMPARE(ui->stackedWidget->widget(2), ui->page_3);
    QCOMPARE(ui->stackedWidget->widget(3), ui->page_4);
}

void test_main_window::status_strip_starts_disconnected()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Ui::MainWindow* ui = window.form();
    QCOMPARE(ui->connection_status_label->text(), QString("Connection status: DISCONNECTED"));
    QCOMPARE(ui->emitting_label->text(), QString("Emission: OFF"));
    QVERIFY(ui->emit_off->isVisible());
    QVERIFY(!ui->emit_on->isVisible());
    QVERIFY(!ui->emit_on->pixmap(Qt::ReturnByValue).isNull());

    // The strip is painted blue behind its labels.
    const QImage strip = ui->widget_21->grab().toImage();
    const QColor corner = strip.pixelColor(2, 2);
    QVERIFY2(corner.blue() > 100 && corner.blue() > corner.red() + 60,
             qPrintable(corner.name()));
}

void test_main_window::start_up_hides_and_disables()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Ui::MainWindow* ui = window.form();
    QVERIFY(!ui->scrollArea->isEnabled());
    QVERIFY(!ui->label->isVisibleTo(&window));
    QVERIFY(!ui->baudrate_edit_line->isVisibleTo(&window));
    QVERIFY(!ui->label_7->isVisibleTo(&window));
    QCOMPARE(ui->baudrate_edit_line->text(), QString("115200"));
    QVERIFY(ui->baudrate_edit_line->validator());
    QVERIFY(ui->com_group->isVisibleTo(&window) || ui->stackedWidget->currentIndex() != 2);
    QCOMPARE(ui->com_group->title(), QString("COM settings"));
    QCOMPARE(ui->connect_button_2->text(), QString("Connect"));
    QCOMPARE(ui->connection_mode->text(), QString("Auto connection"));
    QCOMPARE(ui->mini_usb_mode_checkbox->text(), QString("mini USB mode"));
    QVERIFY(ui->label_31->text().startsWith("To be able to configure device CAN ID"));
}

void test_main_window::can_id_fields_accept_0_to_255()
{
    MainWindow window;
    for (int channel : {1, 5, 10}) {
        auto* addr = window.findChild<QLineEdit*>("addr" + sfx(channel));
        QVERIFY(addr && addr->validator());
        int pos = 0;
        QString text;
        for (const char* ok : {"0", "7", "255"}) {
            text = ok;
            QCOMPARE(addr->validator()->validate(text, pos), QValidator::Acceptable);
        }
        for (const char* bad : {"256", "300", "999", "1000", "-1", "x"}) {
            text = bad;
            QCOMPARE(addr->validator()->validate(text, pos), QValidator::Invalid);
        }
        addr->clear();
        QTest::keyClicks(addr, "2567");
        QCOMPARE(addr->text(), QString("25"));
        addr->clear();
        QTest::keyClicks(addr, "255");
        QCOMPARE(addr->text(), QString("255"));
        QVERIFY(addr->hasAcceptableInput());
    }
}

void test_main_window::wheel_filter_blocks_only_filtered_inputs()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.form()->scrollArea->setEnabled(true);

    auto* curr = window.findChild<QDoubleSpinBox*>("curr_spin_3");
    auto* mode = window.findChild<QComboBox*>("mode_combo_3");
    auto* pulse_temp = window.findChild<QDoubleSpinBox*>("pulse_temp_spin_3");
    QVERIFY(curr && mode && pulse_temp);
    curr->installEventFilter(&window);
    mode->installEventFilter(&window);
    mode->addItems({"first", "second", "third"});
    mode->setCurrentIndex(1);
    curr->setValue(100.0);

    QTest::ignoreMessage(QtDebugMsg, "Wheel event blocked");
    QVERIFY(send_wheel(curr));
    QCOMPARE(curr->value(), 100.0);
    QTest::ignoreMessage(QtDebugMsg, "Wheel event blocked");
    QVERIFY(send_wheel(mode));
    QCOMPARE(mode->currentIndex(), 1);

    // Without the filter the same turn moves the value.
    const double before = pulse_temp->value();
    send_wheel(pulse_temp);
    QVERIFY(pulse_temp->value() > before);

    // Other events pass through the filter untouched.
    QEvent enter(QEvent::Enter);
    QVERIFY(!window.eventFilter(curr, &enter));
}

void test_main_window::help_page_describes_the_program()
{
    MainWindow window;
    QPlainTextEdit* help = window.form()->plainTextEdit;
    QVERIFY(help->isReadOnly());
    QCOMPARE(help->parentWidget(), window.form()->page_4);
    const QString text = help->toPlainText();
    for (const char* needle : {"Corvane Studio", "Software version 2.007v", "mini USB mode", "CW Type",
                               "Precision CW Type", "PS Type", "NS Type", "SOA NS Type", "Power DCDC Type"})
        QVERIFY2(text.contains(needle), needle);
}

void test_main_window::every_text_goes_through_the_main_window_context()
{
    marking_translator translator;
    QCoreApplication::installTranslator(&translator);
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QString("<Corvane Studio>"));
        QCOMPARE(window.findChild<QLabel*>("ind_label_3")->text(), QString("<channel 3>"));
        QCOMPARE(window.findChild<QAbstractButton*>("fail_butt_7")->text(), QString("<Details>"));
        QVERIFY(window.form()->plainTextEdit->toPlainText().startsWith("<Corvane Studio"));
        QStringList untranslated;
        auto check = [&](QObject* object, const QString& text) {
            if (!text.isEmpty() && !text.startsWith('<'))
                untranslated << object->objectName() + ": " + text;
        };
        for (QLabel* label : window.findChildren<QLabel*>())
            check(label, label->text());
        for (QAbstractButton* button : window.findChildren<QAbstractButton*>())
            check(button, button->text());
        for (QGroupBox* group : window.findChildren<QGroupBox*>())
            check(group, group->title());
        QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join("; ")));
    }
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(test_main_window)
#include "test_main_window.moc"
