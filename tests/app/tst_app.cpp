// The main window without a bus: settings.ini, the configuration page and mini
// USB mode, routing of replies, heartbeat and emission display, the port list,
// the command line, the channel panels, and the close.
#include "sim_fixture.h"
#include "command_line.h"
#include "driver_type.h"
#include "laser_object.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QWheelEvent>

namespace {

template <class T = QLineEdit>
T* widget(MainWindow& w, const char* base, int slot)
{
    return w.findChild<T*>(e2e::slot_name(base, slot));
}

// The bit rate a connection attempt asks for (there is no port: it fails).
int requested_rate(MainWindow& w)
{
    QSignalSpy conf(&w, &MainWindow::sig_serial_conf);
    // A click while an earlier attempt is unanswered is ignored; click until one goes.
    if (!QTest::qWaitFor([&] { return w.form()->connect_button_2->click(), !conf.isEmpty(); }, 5000))
        return -1;
    return conf.last().at(0).value<serial_conf_struct>().baud_rate;
}

// Name, CAN ID and enabled box of each row, then the bit rate and auto connection.
QStringList snapshot(MainWindow& w)
{
    QStringList s;
    for (int i = 0; i < MainWindow::channel_count; ++i)
        s << widget(w, "edit_name", i)->text() << widget(w, "addr", i)->text()
          << QString::number(widget<QCheckBox>(w, "dev_en", i)->isChecked());
    return s << w.form()->baudrate_edit_line->text() << QString::number(w.auto_connection);
}

} // namespace

class tst_app : public QObject
{
    Q_OBJECT

private slots:
    void settings_file_data();
    void settings_file();
    void configuration_page_and_mini_usb_mode();
    void replies_routed_by_data_byte_1();
    void heartbeat_and_emission_display();
    void command_line_options();
    void channel_panels_bind_their_own_widgets();
    void late_connected_answer_after_close();
    void menu_pages_and_wheel_filter();
};

void tst_app::settings_file_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("rows"); // name, CAN ID, enabled of channels 1, 2, ... (as far as given)
    QTest::addColumn<QString>("rate");
    QTest::addColumn<bool>("auto_connection");
    const QString marked = "[settings]\navailable=1\n";
    QTest::newRow("first start") << QByteArray() << QStringList{"", "1", "0", "", "1", "0"} << "115200" << false;
    QTest::newRow("no marker") << QByteArray("[device_conf]\nchannel_enabled=true\nedit_name=x\naddr=7\n")
                               << QStringList{"", "1", "0"} << "115200" << false;
    QTest::newRow("hand-written UTF-8, a comma in a name")
        << (marked + "[serial]\nconnection_mode=true\nportspeed=9600\n[device_conf]\nchannel_2_enabled=true\n"
                     "edit_name=L\u00e4ser\nedit_name_2=a, b\naddr_2=12\nchannel_3_enabled=false\n[lab]\nnote=kept\n").toUtf8()
        << QStringList{"L\u00e4ser", "", "0", "a, b", "12", "1", "", "", "0"} << "9600" << true;
    QTest::newRow("earlier version, mini USB mode")
        << (marked + "[serial]\nportspeed=57600\n[device_conf]\nmini_usb=true\nedit_name=\\x00e4t\n"
                     "edit_name_2=\"x, y\"\nedit_name_3=@@at\nedit_name_4=\"q\\\"\\\\\"\n").toUtf8()
        << QStringList{"\u00e4t", "", "1", "x, y", "", "0", "@at", "", "0", "q\"\\", "", "0"} << "57600" << false;
    QTest::newRow("mini USB rate left in adapter mode")
        << (marked + "[serial]\nportspeed=57600\n").toUtf8() << QStringList() << "115200" << false;
    QTest::newRow("CAN IDs out of range or not numbers, no usable rate")
        << (marked + "[serial]\nportspeed=fast\n[device_conf]\naddr=-1\naddr_2=999\naddr_3=abc\naddr_4= 7 \n"
                     "addr_5=255\naddr_6=3.5\naddr_7=0x10\naddr_8=1,2\n").toUtf8()
        << QStringList{"", "", "0", "", "", "0", "", "", "0", "", "7", "0", "", "255", "0", "", "", "0", "", "", "0",
                       "", "", "0"}
        << "115200" << false;
    QTest::newRow("wrong types")
        << (marked + "[serial]\nportspeed=@Rect(1 2 3 4)\nportname=@ByteArray(\\0\\0)\n[device_conf]\n"
                     "addr=@Point(1 2)\nedit_name=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\0)\n"
                     "channel_2_enabled=@Size(3 4)\nmini_usb=@Invalid()\n").toUtf8()
        << QStringList{"", "", "0", "", "", "0"} << "115200" << false;
    QTest::newRow("binary bytes, broken lines")
        << QByteArray("\x00\xff[device_conf\naddr=\x01\xff\n[settings]\navailable=1\n=\n\n[\n\\\\\nedit_name=\"open\n"
                      "edit_name_2=\xc3(\xa9\n[serial]\nportspeed=\x00\n", 107)
        << QStringList() << "115200" << false;
}

// Whatever the file holds, the window starts with values it can use, asks for
// the bit rate it shows, and leaves a file that a restart reads back as it was.
void tst_app::settings_file()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, rows);
    QFETCH(QString, rate);
    QFETCH(bool, auto_connection);
    e2e::working_dir wd;
    QFile file("settings.ini");
    QVERIFY(content.isNull() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
    file.close();
    QStringList at_close;
    {
        MainWindow w;
        for (int i = 0; i < MainWindow::channel_count; ++i) {
            QString id = widget(w, "addr", i)->text();
            int pos = 0;
            QVERIFY2(id.isEmpty() || widget(w, "addr", i)->validator()->validate(id, pos) == QValidator::Acceptable,
                     qPrintable(id));
            QCOMPARE(w.channel(i)->can_id, id.toInt());
        }
        at_close = snapshot(w);
        QCOMPARE(at_close.mid(0, rows.size()), rows);
        QCOMPARE(at_close.mid(30), QStringList({rate, QString::number(auto_connection)}));
        QCOMPARE(requested_rate(w), rate.toInt());
        w.close();
        QVERIFY(!w.settings_save_failed());
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(!content.contains("note=kept") || written.contains("[lab]\nnote=\"kept\"")); // a key of someone else's
    for (int i = 0; i < rows.size(); i += 3) // names are written as UTF-8
        QVERIFY2(rows[i].contains(QRegularExpression("[\"\\\\]")) || written.contains(rows[i].toUtf8()), qPrintable(rows[i]));
    MainWindow again;
    QCOMPARE(snapshot(again), at_close);
}

void tst_app::configuration_page_and_mini_usb_mode()
{
    e2e::working_dir wd;
    MainWindow w;
    e2e::configure_channels(w, {{1, 12}, {3, 40}}, {"first", "second"});
    QCOMPARE(w.laser_count, 2);
    QCOMPARE(w.channel(1)->can_id, 12);
    QCOMPARE(w.channel(3)->worker->ns_model.can_id, 40); // the poller addresses it too
    QVERIFY(w.channel(1)->worker->poll_enabled && !w.channel(0)->worker->poll_enabled);
    QCOMPARE(w.channel(3)->laser_tab_button->text(), QString("second"));
    // CAN ID fields take 0..255 only, as typed.
    widget(w, "addr", 5)->clear();
    QTest::keyClicks(widget(w, "addr", 5), "2567");
    QCOMPARE(widget(w, "addr", 5)->text(), QString("25"));

    // Mini USB mode: channel 1 alone, locked on, at the board's bit rate; leaving restores the boxes.
    for (bool mini : {true, false}) {
        w.form()->mini_usb_mode_checkbox->click();
        QCOMPARE(w.channel(0)->worker->mini_usb_mode.load(), mini);
        QCOMPARE(requested_rate(w), mini ? 57600 : 115200);
        for (int i = 0; i < MainWindow::channel_count; ++i) {
            QCOMPARE(widget<QCheckBox>(w, "dev_en", i)->isChecked(), mini ? i == 0 : i == 1 || i == 3);
            QCOMPARE(widget<QCheckBox>(w, "dev_en", i)->isEnabled(), !mini);
            QCOMPARE(widget(w, "addr", i)->isEnabled(), !mini);
        }
    }
}

void tst_app::replies_routed_by_data_byte_1()
{
    e2e::working_dir wd;
    MainWindow w;
    struct step
    {
        int board_can_id;
        const char* decoding; // channels 1..10 that take the reply
    };
    auto check = [&w](const char* what, std::initializer_list<step> steps) {
        for (const step& s : steps) {
            for (int i = 0; i < MainWindow::channel_count; ++i)
                w.channel(i)->worker->device_type.store(0);
            // A device type reply: code, the sender's CAN ID, the type.
            w.handle_rx_can_batch({{0, {0xD0, uint32_t(s.board_can_id), 0, 0, 0, 0, 0, uint32_t(driver_type::ps)}}});
            QString decoding;
            for (int i = 0; i < MainWindow::channel_count; ++i)
                decoding += w.channel(i)->worker->device_type.load() == driver_type::ps ? '1' : '0';
            QVERIFY2(decoding == s.decoding, qPrintable(QString("%1, CAN ID %2: %3").arg(what).arg(s.board_can_id).arg(decoding)));
        }
    };
    // Every CAN ID field at its default "1": all ten channels decode, enabled or not.
    check("defaults", {{1, "1111111111"}, {2, "0000000000"}});
    QCOMPARE(w.form()->label->text(), QString("2"));
    // A channel on 250 takes everything; new IDs count as soon as they are applied ("" applies as 0).
    widget(w, "addr", 2)->setText("250");
    widget(w, "addr", 3)->setText("7");
    widget(w, "addr", 4)->setText("");
    w.form()->pushButton->click();
    check("applied", {{1, "1110011111"}, {7, "0011000000"}, {0, "0010100000"}, {9, "0010000000"}});
    // Mini USB mode: channel 1 takes what no channel claims, and still what it claims.
    w.form()->mini_usb_mode_checkbox->click();
    check("mini USB", {{9, "1010000000"}, {1, "1110011111"}});
    w.form()->mini_usb_mode_checkbox->click();
    check("mini USB left", {{9, "0010000000"}});
}

void tst_app::heartbeat_and_emission_display()
{
    e2e::working_dir wd;
    MainWindow w;
    // A reply between two ticks keeps the board; a tick without one forgets it.
    laser_worker& worker = *w.channel(4)->worker;
    worker.device_type.store(driver_type::cw);
    worker.alive.store(true);
    w.sl_device_heartbeat_timer();
    QCOMPARE(worker.device_type.load(), driver_type::cw);
    w.sl_device_heartbeat_timer();
    QCOMPARE(worker.device_type.load(), driver_type::lost);

    // Every output counts, the converter's too, as its board's type reports it;
    // a board gone silent still counts until it is known to be off.
    laser_object& other = *w.channel(7);
    auto feed = [&other](int code, uint32_t v) {
        other.handle_driver_message({0x100, {uint32_t(code), uint32_t(other.can_id), 0, 0, v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}});
    };
    other.enabled = true; // the strip counts the channels in use
    other.link_changed(true, false);
    auto shown = [&w] {
        w.view_update_timer_slot();
        return w.form()->emitting_label->text() + (w.form()->emit_on->isHidden() ? "" : " lit");
    };
    const struct { int type; int code; } outputs[] = {
        {driver_type::cw, 0x90}, {driver_type::precision_cw, 0x90}, {driver_type::ps, 0xA2},
        {driver_type::ns, 0xA2}, {driver_type::soa_ns, 0xA2}, {driver_type::power_dcdc, 0x90},
    };
    for (const auto& o : outputs) {
        feed(0xD0, uint32_t(o.type));
        feed(o.code, 1);
        QVERIFY2(shown() == "Emission: ON lit", qPrintable(driver_type::name(o.type)));
        other.worker->device_type.store(driver_type::lost);
        QVERIFY2(shown() == "Emission: UNKNOWN lit", qPrintable(driver_type::name(o.type) + " gone silent"));
        feed(0xD0, uint32_t(o.type));
        feed(o.code, 0);
        QVERIFY2(shown() == "Emission: OFF", qPrintable(driver_type::name(o.type) + " off"));
    }
    // A flag left in the record of another family is not this board's output.
    other.worker->cw_model.laser_on = true;
    QCOMPARE(shown(), "Emission: OFF");
    // A reply of the last connection does not count in the next one, where the board
    // is not asked before the start delay: no answer, no alarm, until it answers.
    feed(0x90, 1);
    QVERIFY(shown() == "Emission: ON lit" && other.answering());
    other.acknowledge_alarm(); // "no reply" of the silent rows above
    other.link_changed(false, false), other.link_changed(true, false);
    shown();
    QVERIFY(!other.answering() && other.alarm.isEmpty());
    feed(0xD0, uint32_t(driver_type::power_dcdc));
    QVERIFY(other.answering());
}

void tst_app::command_line_options()
{
    struct row
    {
        QStringList args;
        command_line::action action;
        QStringList ports;
    };
    const QString cwd = QDir::currentPath();
    const row rows[] = {
        {{"-platform", "offscreen", "-style", "Fusion", "-session", "1f_2", "-reverse", "--report-frames"},
         command_line::run, {}},
        {{"--port", "dev/ttyX", "--port", "/dev/pts/3", "--port", "ttyUSB0", "--port", "./a/../b"},
         command_line::run, {cwd + "/dev/ttyX", "/dev/pts/3", "ttyUSB0", cwd + "/b"}},
        {{"--bogus"}, command_line::fail, {}},
        {{"stray"}, command_line::fail, {}},
        {{"-h"}, command_line::show_help, {}},
    };
    for (const row& r : rows) {
        command_line options;
        QCOMPARE(options.parse(QStringList("corvane-studio") + r.args), r.action);
        QCOMPARE(options.ports, r.ports);
    }
}

// The channel controller binds its widgets by object-name prefix among the
// children of a parent: no sibling's name may begin with another's.
void tst_app::channel_panels_bind_their_own_widgets()
{
    e2e::working_dir wd;
    MainWindow w;
    for (int i = 0; i < MainWindow::channel_count; ++i) {
        laser_object* channel = w.channel(i);
        QVERIFY(channel->bound());
        QCOMPARE(channel->panel_widget->objectName(), e2e::slot_name("laser_widget", i));
        const QString suffix = e2e::slot_name("", i);
        const QList<QWidget*> parents = channel->panel_widget->findChildren<QWidget*>() << channel->panel_widget;
        for (QWidget* parent : parents) {
            QStringList names;
            for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                const QString name = child->objectName();
                if (!name.isEmpty() && name.endsWith(suffix) && !name.startsWith("qt_"))
                    names << name.chopped(suffix.size());
            }
            // Sorted, a name that begins another comes right before it.
            names.sort();
            for (int j = 1; j < names.size(); ++j)
                QVERIFY2(!names[j].startsWith(names[j - 1]), qPrintable(names[j - 1] + " / " + names[j]));
        }
    }
}

void tst_app::late_connected_answer_after_close()
{
    e2e::working_dir wd;
    MainWindow w;
    w.close();
    w.sl_serial_connected(); // the serial thread's answer to a Connect made just before the close
    QVERIFY(!w.connected);
    for (int i = 0; i < MainWindow::channel_count; ++i)
        QVERIFY(!w.channel(i)->worker->is_polling());
}

QTEST_MAIN(tst_app)
// Each menu button shows its page and alone takes the active look; a wheel
// turn over a set-point input of a panel never changes it.
void tst_app::menu_pages_and_wheel_filter()
{
    e2e::working_dir wd;
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Ui::MainWindow* ui = w.form();
    QPushButton* const menu[] = {ui->main_menu_butt, ui->main_menu_butt_2, ui->main_menu_butt_3};
    for (int pick : {1, 2, 0, 2}) {
        QTest::mouseClick(menu[pick], Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentIndex(), pick + 1);
        for (int i = 0; i < 3; ++i)
            QVERIFY((menu[i]->styleSheet() == menu[pick]->styleSheet()) == (i == pick));
    }
    ui->scrollArea->setEnabled(true);
    laser_object& panel = *w.channel(2);
    panel.mode_combo->addItems({"a", "b", "c"});
    panel.mode_combo->setCurrentIndex(1);
    for (QWidget* input : std::initializer_list<QWidget*>{panel.curr_spin, panel.volt_spin, panel.mode_combo,
                                                         panel.pulse_temp_spin}) {
        const bool filtered = input != panel.pulse_temp_spin; // this one turns
        input->setEnabled(true);
        const QString before = input->property(qobject_cast<QComboBox*>(input) ? "currentIndex" : "value").toString();
        const QPointF at(input->width() / 2.0, input->height() / 2.0);
        QWheelEvent turn(at, input->mapToGlobal(at.toPoint()), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                         Qt::NoScrollPhase, false);
        QApplication::sendEvent(input, &turn);
        const QString after = input->property(qobject_cast<QComboBox*>(input) ? "currentIndex" : "value").toString();
        QVERIFY2((after == before) == filtered, qPrintable(input->objectName()));
    }
}

#include "tst_app.moc"
