// settings.ini as it may be found after a crash, a bad copy or a hand edit:
// the main window must start with values it can use and leave a valid file
// behind when it closes.

#include "MainWindow.h"
#include "laser_object.h"
#include "main_window_form.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QValidator>
#include <QtTest>

#include <random>

namespace {

constexpr int channels = MainWindow::channel_count;

// A file the program wrote itself: all ten channels enabled, IDs 11..20.
QByteArray good_file()
{
    QByteArray f = "[device_conf]\n";
    for (int i = 0; i < channels; ++i) {
        f += settings_file::enabled_key(i).section('/', 1).toUtf8() + "=true\n";
        f += settings_file::name_key(i).section('/', 1).toUtf8() + "=laser " + QByteArray::number(i + 1) + "\n";
        f += settings_file::addr_key(i).section('/', 1).toUtf8() + "=" + QByteArray::number(11 + i) + "\n";
    }
    f += "mini_usb=false\n\n[serial]\nconnection_mode=false\nportname=/dev/ttyUSB0\nportspeed=115200\n\n"
         "[settings]\navailable=1\n";
    return f;
}

// A marked file whose channel 1..n CAN ID fields hold the given texts.
QByteArray file_with_ids(const QList<QByteArray>& ids)
{
    QByteArray f = "[settings]\navailable=1\n[serial]\nportspeed=115200\n[device_conf]\n";
    for (int i = 0; i < ids.size(); ++i) {
        f += settings_file::enabled_key(i).section('/', 1).toUtf8() + "=true\n";
        f += settings_file::addr_key(i).section('/', 1).toUtf8() + "=" + ids[i] + "\n";
    }
    return f;
}

QByteArray garbage(int size, unsigned seed)
{
    std::mt19937 rng(seed);
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b += char(rng() & 0xFF);
    // Bytes that mean something to the INI reader, so it has to cope with them.
    for (const char* s : {"[device_conf]\n", "addr=\x01\xff", "[settings]\x00", "=\n\n[", "\\\\\\\n"})
        b.insert(int(rng() % uint32_t(b.size())), s);
    return b;
}

QLineEdit* field(MainWindow& w, const char* base, int slot)
{
    const QString name = QString::fromLatin1(base) + (slot == 0 ? QString() : QStringLiteral("_%1").arg(slot + 1));
    return w.findChild<QLineEdit*>(name);
}

// What the CAN ID field's own validator accepts; an empty field (a key that
// is missing) applies as CAN ID 0 and passes too.
bool acceptable(QLineEdit* e)
{
    QString text = e->text();
    if (text.isEmpty())
        return true;
    int pos = 0;
    return e->validator() && e->validator()->validate(text, pos) == QValidator::Acceptable;
}

} // namespace

class test_settings_bad_input : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bad_file_gives_usable_values_and_is_rewritten_data();
    void bad_file_gives_usable_values_and_is_rewritten();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString previous_dir;
};

void test_settings_bad_input::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    previous_dir = QDir::currentPath();
    QDir::setCurrent(dir->path());
}

void test_settings_bad_input::cleanup()
{
    QDir::setCurrent(previous_dir);
    dir.reset();
}

void test_settings_bad_input::bad_file_gives_usable_values_and_is_rewritten_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("binary garbage") << garbage(4096, 1);
    QTest::newRow("binary garbage after the marker") << QByteArray("[settings]\navailable=1\n") + garbage(4096, 2);
    QTest::newRow("empty") << QByteArray();
    const QByteArray good = good_file();
    QTest::newRow("truncated in a value") << good.left(good.indexOf("addr_4=") + 8);
    QTest::newRow("truncated in a key") << good.left(good.indexOf("edit_name_7") + 6);
    QTest::newRow("truncated, marker first")
        << QByteArray("[settings]\navailable=1\n") + good.left(good.indexOf("[serial]") - 30);
    QTest::newRow("wrong types")
        << QByteArray("[settings]\navailable=yes please\n[serial]\nportspeed=@Rect(1 2 3 4)\n"
                      "connection_mode=42\nportname=@ByteArray(\\0\\0\\0)\n"
                      "[device_conf]\nchannel_enabled=maybe\naddr=3.5\nedit_name=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\0)\n"
                      "addr_2=@Point(1 2)\nchannel_3_enabled=@Size(3 4)\naddr_3=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x10)\n"
                      "mini_usb=@Invalid()\n");
    QTest::newRow("wrong types, marked")
        << QByteArray("[settings]\navailable=1\n[serial]\nportspeed=fast\nconnection_mode=perhaps\n"
                      "[device_conf]\nchannel_enabled=2\naddr=3.5\nedit_name=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\0)\n"
                      "addr_2=@Point(1 2)\nchannel_3_enabled=@Size(3 4)\naddr_3=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x10)\n"
                      "addr_4=\"12\"\naddr_5=1,2\naddr_6=@Invalid()\n");
    QTest::newRow("CAN IDs out of range or not numbers")
        << file_with_ids({"-1", "999", "abc", "", "256", "0x10", "1e3", " 7 ", "+5", "00000000000000000000042"});
    const QByteArray long_name(10000, 'N');
    QByteArray names = "[settings]\navailable=1\n[device_conf]\n";
    for (int i = 0; i < channels; ++i) {
        names += settings_file::enabled_key(i).section('/', 1).toUtf8() + "=true\n";
        names += settings_file::name_key(i).section('/', 1).toUtf8() + "="
            + (i % 2 ? long_name : QByteArray(10000, char('a' + i)).replace(500, 3, "\";\\")) + "\n";
    }
    QTest::newRow("names of 10000 characters") << names;
}

void test_settings_bad_input::bad_file_gives_usable_values_and_is_rewritten()
{
    QFETCH(QByteArray, content);
    {
        QFile f(QStringLiteral("settings.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(content), qint64(content.size()));
    }

    QStringList names_at_close;
    QStringList ids_at_close;
    {
        MainWindow w;
        QCoreApplication::processEvents();
        for (int i = 0; i < channels; ++i) {
            const int id = w.channel(i)->can_id;
            QVERIFY2(id >= 0 && id <= 255, qPrintable(QStringLiteral("channel %1 runs with CAN ID %2").arg(i + 1).arg(id)));
            QVERIFY2(acceptable(field(w, "addr", i)),
                     qPrintable(QStringLiteral("channel %1 shows CAN ID \"%2\"").arg(i + 1).arg(field(w, "addr", i)->text())));
            QCOMPARE(field(w, "addr", i)->text().toInt(), id);
            names_at_close << field(w, "edit_name", i)->text();
            ids_at_close << field(w, "addr", i)->text();
        }
        bool ok = false;
        const int speed = w.form()->baudrate_edit_line->text().toInt(&ok);
        QVERIFY2(ok && speed > 0, qPrintable(w.form()->baudrate_edit_line->text()));
        w.close();
    }

    // The file now is one the program itself can read back, value for value.
    QSettings ini(QStringLiteral("settings.ini"), QSettings::IniFormat);
    QCOMPARE(ini.status(), QSettings::NoError);
    QCOMPARE(ini.value(QStringLiteral("settings/available")).toString(), QStringLiteral("1"));
    const QString speed = ini.value(QStringLiteral("serial/portspeed")).toString();
    QVERIFY2(speed.toInt() > 0, qPrintable(speed));
    for (const QString& key : {QStringLiteral("serial/connection_mode"), QStringLiteral("device_conf/mini_usb")})
        QVERIFY2(QStringList({"true", "false"}).contains(ini.value(key).toString()), qPrintable(key));
    for (int i = 0; i < channels; ++i) {
        QVERIFY2(QStringList({"true", "false"}).contains(ini.value(settings_file::enabled_key(i)).toString()),
                 qPrintable(settings_file::enabled_key(i)));
        const QString addr = ini.value(settings_file::addr_key(i)).toString();
        bool ok = addr.isEmpty();
        const int id = ok ? 0 : addr.toInt(&ok, 10);
        QVERIFY2(ok && id >= 0 && id <= 255, qPrintable(addr));
        QCOMPARE(ini.value(settings_file::name_key(i)).toString(), names_at_close[i]);
    }

    // And a restart reads it back as it was left.
    MainWindow again;
    for (int i = 0; i < channels; ++i) {
        QCOMPARE(field(again, "edit_name", i)->text(), names_at_close[i]);
        QCOMPARE(field(again, "addr", i)->text(), ids_at_close[i]);
    }
    again.close();
}

QTEST_MAIN(test_settings_bad_input)
#include "test_settings_bad_input.moc"
