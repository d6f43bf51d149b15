// settings.ini across restarts of the main window: the first start, names
// typed but never applied, mini USB mode, auto connection, and a file whose
// bit rate is missing or unusable.
#include "sim_fixture.h"
#include "driver_type.h"
#include "laser_object.h"
#include "settings_file.h"

#include <QFile>
#include <QPushButton>

namespace {

QString sfx(int slot)
{
    return slot == 0 ? QString() : QStringLiteral("_%1").arg(slot + 1);
}

QCheckBox* enabled_box(MainWindow& w, int slot)
{
    return w.findChild<QCheckBox*>("dev_en" + sfx(slot));
}

QLineEdit* line(MainWindow& w, const char* base, int slot)
{
    return w.findChild<QLineEdit*>(base + sfx(slot));
}

} // namespace

class test_e2e_settings : public QObject
{
    Q_OBJECT

private slots:
    void first_start_writes_every_key();
    void configuration_survives_a_restart();
    void mini_usb_mode_survives_a_restart();
    void auto_connection_survives_a_restart();
    void unusable_bit_rate_reads_as_115200_data();
    void unusable_bit_rate_reads_as_115200();
    void closing_while_emitting_turns_outputs_off_first();
    void unusable_can_ids_read_as_missing();
};

void test_e2e_settings::first_start_writes_every_key()
{
    e2e::working_dir wd;
    QVERIFY(!QFile::exists("settings.ini"));
    {
        MainWindow w;
        for (int slot = 0; slot < MainWindow::channel_count; ++slot) {
            QVERIFY(!enabled_box(w, slot)->isChecked());
            QCOMPARE(line(w, "edit_name", slot)->text(), QString());
            QCOMPARE(line(w, "addr", slot)->text(), QString("1"));
            QCOMPARE(w.channel(slot)->can_id, 1);
        }
        QCOMPARE(w.form()->baudrate_edit_line->text(), QString("115200"));
        QVERIFY(!w.auto_connection);
        QVERIFY(!w.form()->connection_mode->isChecked());
        w.close();
    }
    QVERIFY(QFile::exists(wd.file("settings.ini")));
    QSettings ini(wd.file("settings.ini"), QSettings::IniFormat);
    QStringList expected = {"serial/portname", "serial/portspeed", "serial/connection_mode",
                            "device_conf/mini_usb", "settings/available"};
    for (int slot = 0; slot < 10; ++slot) {
        expected << settings_file::enabled_key(slot) << settings_file::name_key(slot) << settings_file::addr_key(slot);
    }
    QStringList keys = ini.allKeys();
    keys.sort();
    expected.sort();
    QCOMPARE(keys, expected);
    // The irregular names are the ones older files carry.
    QVERIFY(keys.contains("device_conf/channel_enabled"));
    QVERIFY(keys.contains("device_conf/channel_2_enabled"));
    QVERIFY(keys.contains("device_conf/edit_name_10"));
    QVERIFY(keys.contains("device_conf/addr"));
    QCOMPARE(ini.value("settings/available").toInt(), 1);
    QCOMPARE(ini.value("serial/portspeed").toString(), QString("115200"));
    QCOMPARE(ini.value("device_conf/addr_4").toString(), QString("1"));
    QCOMPARE(ini.value("device_conf/channel_2_enabled").toString(), QString("false"));
}

void test_e2e_settings::configuration_survives_a_restart()
{
    e2e::working_dir wd;
    {
        MainWindow w;
        e2e::configure_channels(w, {{1, 12}, {3, 40}}, {"first", "second"});
        // Typed but never applied: the file keeps it, the tab does not show it.
        line(w, "edit_name", 2)->setText("typed only");
        QCOMPARE(w.channel(2)->laser_tab_button->text(), QString());
        w.close();
    }
    MainWindow w;
    QVERIFY(!enabled_box(w, 0)->isChecked());
    QVERIFY(enabled_box(w, 1)->isChecked());
    QVERIFY(enabled_box(w, 3)->isChecked());
    QCOMPARE(line(w, "edit_name", 2)->text(), QString("typed only"));
    QCOMPARE(line(w, "addr", 1)->text(), QString("12"));
    // The channels were created with the stored IDs and names.
    QCOMPARE(w.channel(1)->can_id, 12);
    QCOMPARE(w.channel(3)->worker->ns_model.can_id, 40);
    QCOMPARE(w.channel(1)->laser_tab_button->text(), QString("first"));
    QCOMPARE(w.channel(2)->laser_tab_button->text(), QString("typed only"));
    QVERIFY(w.channel(1)->worker->poll_enabled.load());
    QVERIFY(!w.channel(0)->worker->poll_enabled.load());
    QCOMPARE(w.laser_count, 2);
}

void test_e2e_settings::mini_usb_mode_survives_a_restart()
{
    e2e::working_dir wd;
    {
        MainWindow w;
        e2e::configure_channels(w, {{1, 2}, {2, 3}});
        w.form()->mini_usb_mode_checkbox->click();
        QVERIFY(enabled_box(w, 0)->isChecked() && !enabled_box(w, 0)->isEnabled());
        QVERIFY(!enabled_box(w, 1)->isChecked() && !line(w, "addr", 1)->isEnabled());
        QCOMPARE(w.form()->baudrate_edit_line->text(), QString("57600"));
        // Leaving restores the boxes as they were; entering again for the restart.
        w.form()->mini_usb_mode_checkbox->click();
        QVERIFY(!enabled_box(w, 0)->isChecked());
        QVERIFY(enabled_box(w, 1)->isChecked() && enabled_box(w, 2)->isChecked());
        QCOMPARE(w.form()->baudrate_edit_line->text(), QString("115200"));
        w.form()->mini_usb_mode_checkbox->click();
        w.close();
    }
    QSettings ini(wd.file("settings.ini"), QSettings::IniFormat);
    QVERIFY(ini.value("device_conf/mini_usb").toBool());
    QVERIFY(ini.value("device_conf/channel_enabled").toBool());
    QVERIFY(!ini.value("device_conf/channel_2_enabled").toBool());

    MainWindow w;
    QVERIFY(w.form()->mini_usb_mode_checkbox->isChecked());
    QVERIFY(w.channel(0)->worker->mini_usb_mode.load());
    QVERIFY(enabled_box(w, 0)->isChecked() && !enabled_box(w, 0)->isEnabled());
    QCOMPARE(w.form()->baudrate_edit_line->text(), QString("57600"));
    // The states from before mini USB mode are gone with the restart.
    w.form()->mini_usb_mode_checkbox->click();
    QVERIFY(!enabled_box(w, 1)->isChecked() && !enabled_box(w, 2)->isChecked());
}

void test_e2e_settings::auto_connection_survives_a_restart()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 5}});
    QVERIFY(sim->is_running());
    {
        MainWindow w(nullptr, {sim->link_path()});
        e2e::configure_channels(w, {{0, 5}});
        QVERIFY(e2e::select_port(w, sim->link_path()));
        w.form()->connection_mode->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
        w.close();
    }
    QSettings ini(wd.file("settings.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value("serial/portname").toString(), sim->link_path());
    QVERIFY(ini.value("serial/connection_mode").toBool());

    // Restarted: the remembered port is selected and connected without a click.
    MainWindow w(nullptr, {sim->link_path()});
    QVERIFY(w.auto_connection);
    QVERIFY(w.form()->connection_mode->isChecked());
    QCOMPARE(w.form()->serial_combo_box->currentData().toString(), sim->link_path());
    QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);
}

void test_e2e_settings::unusable_bit_rate_reads_as_115200_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << false << QString() << "115200";
    QTest::newRow("empty") << true << QString() << "115200";
    QTest::newRow("text") << true << "fast" << "115200";
    QTest::newRow("zero") << true << "0" << "115200";
    QTest::newRow("negative") << true << "-9600" << "115200";
    QTest::newRow("usable") << true << "57600" << "57600";
}

void test_e2e_settings::unusable_bit_rate_reads_as_115200()
{
    QFETCH(bool, present);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    e2e::working_dir wd;
    {
        QSettings ini("settings.ini", QSettings::IniFormat);
        ini.setValue("settings/available", 1);
        ini.setValue("serial/portname", "ttyNONE");
        if (present)
            ini.setValue("serial/portspeed", stored);
    }
    {
        MainWindow w;
        QCOMPARE(w.saved_port_speed, expected);
        QCOMPARE(w.form()->baudrate_edit_line->text(), expected);
        // A connection attempt asks for that rate (and fails: there is no such port).
        QSignalSpy conf(&w, &MainWindow::sig_serial_conf);
        w.form()->connect_button_2->click();
        QCOMPARE(conf.count(), 1);
        QCOMPARE(conf.at(0).at(0).value<serial_conf_struct>().baud_rate, expected.toInt());
        QCOMPARE(w.serial_conf.data_bits, QSerialPort::Data8);
        QTRY_VERIFY(!w.connected);
        w.close();
    }
    QSettings ini("settings.ini", QSettings::IniFormat);
    QCOMPARE(ini.value("serial/portspeed").toString(), expected);
    QCOMPARE(ini.value("serial/portname").toString(), QString("ttyNONE"));
}

void test_e2e_settings::closing_while_emitting_turns_outputs_off_first()
{
    e2e::working_dir wd;
    auto sim = e2e::start_bus(wd.path(), {{driver_type::cw, 1}});
    QVERIFY(sim->is_running());
    {
        MainWindow w(nullptr, {sim->link_path()});
        e2e::configure_channels(w, {{0, 1}});
        QVERIFY(e2e::select_port(w, sim->link_path()));
        w.form()->connect_button_2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.connected, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(w.channel(0)->laser_name_label->text(), QString("CW Type Driver"), 10000);
        w.channel(0)->laser_las_on_off_butt_clicked();
        QTRY_VERIFY_WITH_TIMEOUT(w.channel(0)->worker->cw_model.laser_on, 5000);

        sim->clear_received_lines();
        QStringList question;
        e2e::answer_next_question(QMessageBox::Yes, &question);
        w.close();
        QCOMPARE(question, QStringList({"Confirmation", "Do you want to turn off outputs before quit?"}));
    }
    // Every frame queued before the close left before the port was closed.
    auto off_frames = [&sim] {
        int n = 0;
        for (const QByteArray& l : sim->received_lines()) {
            const auto f = e2e::parse_frame(l);
            n += f && f->id == 1 && f->code() == 0x10 && f->data[7] == 0;
        }
        return n;
    };
    QTRY_VERIFY_WITH_TIMEOUT(off_frames() >= 3, 3000);
    QTest::qWait(300); // the simulator reads in its own thread
    QVERIFY2(off_frames() % 3 == 0, qPrintable(QString::number(off_frames())));
    int32_t laser_on = -1;
    QVERIFY(sim->board_register(1, 0x10, laser_on));
    QCOMPARE(laser_on, 0);
    QVERIFY(QFile::exists(wd.file("settings.ini")));
}

void test_e2e_settings::unusable_can_ids_read_as_missing()
{
    e2e::working_dir wd;
    const QStringList stored = {"-1", "999", "abc", " 7 ", "250", "0", "3.5", "0x10"};
    const QStringList shown = {"", "", "", "7", "250", "0", "", ""};
    {
        QSettings ini("settings.ini", QSettings::IniFormat);
        ini.setValue("settings/available", 1);
        for (int i = 0; i < stored.size(); ++i)
            ini.setValue(settings_file::addr_key(i), stored[i]);
    }
    MainWindow w;
    for (int i = 0; i < stored.size(); ++i) {
        QCOMPARE(line(w, "addr", i)->text(), shown[i]);
        QCOMPARE(w.channel(i)->can_id, shown[i].toInt());
    }
}

QTEST_MAIN(test_e2e_settings)
#include "test_e2e_settings.moc"
