// Recording of the main window against the simulated bus: what the boards
// reported lands in the right columns; a folder that cannot be used, a disk
// that fills up and a removed folder stop it with a message while the program
// runs on; files are never overwritten.
#include "sim_fixture.h"
#include "channel_reading.h"
#include "driver_type.h"
#include "laser_object.h"
#include "channel_plot.h"
#include "command_line.h"
#include "csv_row_format.h"
#include "history_series.h"
#include "recorder.h"
#include "trend_clock.h"
#include "trend_store.h"
#include "trends_page.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <qcustomplot.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

// Fields of one CSV line, quotes undone.
QStringList split_csv(const QString& line)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.last() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}

// The file as one map per row, keyed by the header's column names.
QList<QMap<QString, QString>> read_csv(const QString& path)
{
    QFile f(path);
    QList<QMap<QString, QString>> rows;
    if (!f.open(QIODevice::ReadOnly))
        return rows;
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    const QStringList columns = split_csv(lines.value(0));
    for (const QString& line : lines.mid(1)) {
        const QStringList fields = split_csv(line);
        QMap<QString, QString> row;
        for (int i = 0; i < columns.size(); ++i)
            row[columns[i]] = fields.size() == columns.size() ? fields[i] : QStringLiteral("<bad field count>");
        rows << row;
    }
    return rows;
}

std::unique_ptr<bus_simulator> start_bus(const QString& dir, const QList<sim_board_setup>& boards)
{
    auto sim = std::make_unique<bus_simulator>();
    sim->config.link_path = QDir(dir).filePath(QStringLiteral("dev/ttyR%1").arg(QCoreApplication::applicationPid()));
    sim->config.settle_ms = 0;
    sim->config.record_lines = false;
    sim->config.boards = boards;
    sim->start();
    return sim;
}

sim_board_setup board(int type, int can_id, QList<QPair<int, int32_t>> registers)
{
    sim_board_setup b;
    b.type_code = type;
    b.can_id = can_id;
    b.registers = registers;
    return b;
}

// A window connected to `sim` with the given channels enabled.
std::unique_ptr<MainWindow> connected_window(bus_simulator& sim, const QList<QPair<int, int>>& channels,
                                             const QStringList& names = {})
{
    auto w = std::make_unique<MainWindow>(nullptr, QStringList{sim.link_path()});
    QComboBox* ports = w->form()->serial_combo_box;
    ports->setCurrentIndex(ports->count() - 1);
    e2e::configure_channels(*w, channels, names);
    w->form()->connect_button_2->click();
    return w;
}

// The real program as a child with a file size limit of its own and SIGXFSZ at
// its default action (fatal), as a shell starts it; an ignored disposition of
// the test process would otherwise be inherited.
class limited_process : public QProcess
{
public:
    rlim_t size_limit = RLIM_INFINITY;

protected:
    void setupChildProcess() override
    {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit l{size_limit, size_limit};
        setrlimit(RLIMIT_FSIZE, &l);
    }
};

// settings.ini of a program that connects to `port` at start with CW boards
// 11, 12, ... on channels 1, 2, ...
void write_settings(const QDir& dir, const QString& port, int boards)
{
    QFile ini(dir.filePath("settings.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    QByteArray text = "[settings]\navailable=1\n[serial]\nconnection_mode=true\nportspeed=115200\nportname="
                      + port.toUtf8() + "\n[device_conf]\nmini_usb=false\n";
    for (int n = 1; n <= boards; ++n) {
        const QByteArray k = n == 1 ? QByteArray() : "_" + QByteArray::number(n);
        text += "channel" + k + "_enabled=true\nedit_name" + k + "=CW" + QByteArray::number(n) + "\naddr" + k + "="
                + QByteArray::number(10 + n) + "\n";
    }
    ini.write(text);
}

} // namespace

class tst_recording : public QObject
{
    Q_OBJECT

private slots:
    void six_boards_recorded();
    void failures_stop_with_a_message_data();
    void failures_stop_with_a_message();
    void disk_faults_in_the_program_data();
    void disk_faults_in_the_program();
    void rows_at_wire_resolution_data();
    void rows_at_wire_resolution();
    void synced_every_second();
    void slow_disk_bounded();
    void never_overwrites();
    void history_keeps_extremes_data();
    void history_keeps_extremes();
    void trends_redrawn_only_while_shown();
    void trend_readout_data();
    void trend_readout();
    void trend_titles_data();
    void trend_titles();
    void trend_page_wheel_zoom_live();
    void ten_channels_on_one_screen();
    void record_option();
};

void tst_recording::six_boards_recorded()
{
    e2e::working_dir wd;
    // Boards that have been running: CW on at 123.4 mA, TEC at 10.5 °C; the
    // pulsed ones on at their voltages; the Power DCDC output on at 2.47 A.
    auto sim = start_bus(wd.path(), {board(driver_type::cw, 11, {{0x10, 1}, {0x11, 1234}, {0x21, 1}, {0x12, 105}, {0x36, 50}}),
                                     board(driver_type::precision_cw, 12, {{0x10, 1}, {0x11, 123457}, {0x25, 200000}, {0x21, 1}, {0x12, 101748}, {0x36, 5000}}),
                                     board(driver_type::ps, 13, {{0x18, 500}, {0x20, 1}, {0x22, 1}, {0x21, 1}, {0x12, 120}, {0x36, 50}}),
                                     board(driver_type::ns, 14, {{0x18, 350}, {0x20, 1}, {0x22, 1}}),
                                     board(driver_type::soa_ns, 15, {{0x18, 200}, {0x20, 1}, {0x22, 1}}),
                                     board(driver_type::power_dcdc, 16, {{0x10, 1}, {0x11, 247}})});
    QVERIFY(sim->is_running());
    const QStringList names = {"CW \"left\"", "Präzision", "PS, bench 2", "NS", "SOA", "DCDC", "nobody"};
    auto w = connected_window(*sim, {{0, 11}, {1, 12}, {2, 13}, {3, 14}, {4, 15}, {5, 16}, {6, 99}}, names);
    // Recorded from before the boards are found, sampled fast to see their first replies come in.
    const QString path = wd.path() + "/out/run.csv";
    QSignalSpy started(&w->recording(), &recorder::sig_started);
    w->recording().set_interval_ms(50);
    w->start_recording(path);
    QVERIFY(started.wait(5000));
    QCOMPARE(started.at(0).at(0).toString(), path);
    for (int i = 0; i < 6; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(w->channel(i)->reading().present, 15000);
    QTest::qWait(1500);
    w->recording().set_interval_ms(recorder::default_interval_ms);
    const int before = read_csv(path).size();
    QTRY_VERIFY_WITH_TIMEOUT(read_csv(path).size() >= before + 7 * 3, 10000);
    QVERIFY(w->form()->record_label->text().contains("run.csv"));
    w->form()->record_button->click(); // stop
    QVERIFY(!w->recording().active());
    QTRY_VERIFY(read_csv(path).size() % 7 == 0);
    const auto rows = read_csv(path);

    // The panels' texts are what the operator saw: the file must say the same.
    auto panel = [&](int slot, QLabel* laser_object::*label) {
        return (w->channel(slot)->*label)->text().section(' ', 0, 0);
    };
    struct expectation { const char* what; int slot; const char* column; QString value; };
    const expectation expected[] = {
        {"cw type", 0, "type", "CW Type"},
        {"cw name with quotes", 0, "name", names[0]},
        {"cw can id", 0, "can_id", "11"},
        {"cw emission", 0, "emission", "1"},
        {"cw current", 0, "current_mA", "123.4"},
        {"cw temperature", 0, "temperature_C", "10.5"},
        {"cw power", 0, "power_mW", "94.7"},
        {"cw has no voltage", 0, "voltage_V", ""},
        {"cw has no flags", 0, "fault_flags", ""},
        {"precision name in utf-8", 1, "name", names[1]},
        {"precision current, 0.0001 mA", 1, "current_mA", "1234.5700"},
        {"precision temperature, 0.0001 °C", 1, "temperature_C", "10.1748"},
        {"precision temperature set-point", 1, "temperature_set_C", "10.1748"},
        {"cw current set-point", 0, "current_set_mA", "123.4"},
        {"ps name with a comma", 2, "name", names[2]},
        {"ps voltage", 2, "voltage_V", "50.0"},
        {"ps temperature", 2, "temperature_C", "12.0"},
        {"ps rate as the panel", 2, "frequency_kHz", panel(2, &laser_object::freq_label)},
        {"ps mode as the panel", 2, "mode", w->channel(2)->reading().mode},
        {"ps has no current", 2, "current_mA", ""},
        {"ps has no pulse width", 2, "pulse_width_ns", ""},
        {"ns voltage", 3, "voltage_V", "35.0"},
        {"ns pulse width as the panel", 3, "pulse_width_ns", panel(3, &laser_object::dura_label)},
        {"soa type", 4, "type", "SOA NS Type"},
        {"soa voltage", 4, "voltage_V", "20.0"},
        {"dcdc current in A, 0.01 A", 5, "current_A", "2.47"},
        {"dcdc current set-point", 5, "current_set_A", "2.47"},
        {"dcdc has no mA current", 5, "current_mA", ""},
        {"dcdc heats up", 5, "temperature_C", "29.9"},
        {"dcdc output voltage", 5, "output_voltage_V", "24.0"},
        {"dcdc input voltage", 5, "input_voltage_V", "48.0"},
        {"dcdc fault flags", 5, "fault_flags", "0x0000"},
        {"dcdc has no power", 5, "power_mW", ""},
        {"absent board", 6, "type", "No device"},
        {"absent board keeps its id", 6, "can_id", "99"},
        {"absent board has no readings", 6, "temperature_C", ""},
    };
    const auto last = rows.mid(rows.size() - 7);
    QStringList wrong;
    for (const expectation& e : expected) {
        const auto& row = last.at(e.slot);
        if (row.value("channel") != QString::number(e.slot + 1) || row.value(e.column) != e.value)
            wrong << QString("%1: %2 is '%3', expected '%4'").arg(e.what, e.column, row.value(e.column), e.value);
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
    // The same readings on the Trends page, each channel with its family's lanes.
    w->show();
    w->form()->main_menu_butt_4->click();
    const double now = trend_clock::now();
    const struct { int channel; const char* text; } readouts[] = {
        {1, "Current 123.4 mA,  Temperature 10.5 \u00B0C,  Optical power 94.7 mW"},
        {3, "Temperature 12 \u00B0C,  Voltage 50 V,  Repetition rate"},
        {6, "Current 2.47 A,  Temperature 29.9 \u00B0C,  Output voltage 24 V,  Input voltage 48 V"},
    };
    for (const auto& r : readouts) {
        const QString text = w->trends_view()->plot(r.channel)->readout_at(now - 1, 0.6);
        QVERIFY2(text.contains(QString::fromUtf8(r.text)), qPrintable(text));
    }
    QVERIFY(w->trends_view()->plot(7)->readout_at(now - 1, 0.6).isEmpty()); // no device, nothing to read
    const QString png = wd.path() + "/trends.png";
    QVERIFY(w->trends_view()->save_png(png));
    // Every enabled channel, also those scrolled out of view.
    QVERIFY2(QImage(png).height() >= 7 * channel_plot::min_row_height, qPrintable(QString::number(QImage(png).height())));

    // Boards that are on never read zero: not even before all their first replies came.
    const struct { int channel; const char* column; } never_zero[] = {
        {1, "current_mA"}, {1, "power_mW"}, {2, "power_mW"}, {3, "voltage_V"}, {6, "current_A"}, {6, "output_voltage_V"}};
    for (const auto& row : rows) {
        for (const auto& n : never_zero) {
            if (row.value("channel") == QString::number(n.channel))
                QVERIFY2(row.value(n.column).isEmpty() || row.value(n.column).toDouble() != 0.0,
                         qPrintable(QString("channel %1 %2 zero at %3").arg(n.channel).arg(n.column, row.value("elapsed_s"))));
        }
    }
    // Until its first replies are in, a board's row has no reading at all: no
    // emission or flag word either, which would read as "off" and "no fault".
    for (const auto& row : rows) {
        const bool blank = row.value("temperature_C").isEmpty();
        if (row.value("type") != "No device")
            QVERIFY2(row.value("emission").isEmpty() == blank, qPrintable(row.value("elapsed_s")));
        if (row.value("channel") == "6")
            QVERIFY2(row.value("fault_flags").isEmpty() == blank, qPrintable(row.value("elapsed_s")));
    }
    // One row per channel per interval, times moving on in half seconds.
    const double first = rows.at(rows.size() - 14).value("elapsed_s").toDouble();
    const double second = rows.at(rows.size() - 7).value("elapsed_s").toDouble();
    QVERIFY2(second - first > 0.3 && second - first < 1.5, qPrintable(QString::number(second - first)));
    const QDateTime stamp = QDateTime::fromString(rows.last().value("time_utc"), Qt::ISODateWithMs);
    QVERIFY(stamp.isValid() && std::abs(stamp.secsTo(QDateTime::currentDateTimeUtc())) < 60);
}

void tst_recording::failures_stop_with_a_message_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder is a file") << "folder_is_file" << "Recording not started: cannot create the folder";
    QTest::newRow("folder removed") << "folder_removed" << "was removed";
}

void tst_recording::failures_stop_with_a_message()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    e2e::working_dir wd;
    auto sim = start_bus(wd.path(), {board(driver_type::cw, 11, {})});
    auto w = connected_window(*sim, {{0, 11}});
    QTRY_VERIFY_WITH_TIMEOUT(w->channel(0)->reading().present, 15000);

    QDir(wd.path()).mkpath("rec");
    QString path = wd.path() + "/rec/run.csv";
    if (fault == "folder_is_file") {
        QFile plain(wd.path() + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        path = plain.fileName() + "/run.csv";
    }
    QSignalSpy failed(&w->recording(), &recorder::sig_failed);
    w->start_recording(path);
    if (fault == "folder_removed") {
        QTRY_VERIFY(QFileInfo(path).size() > 0);
        QVERIFY(QDir(wd.path() + "/rec").removeRecursively());
    }
    QVERIFY(failed.wait(10000));
    QVERIFY2(failed.at(0).at(0).toString().contains(message), qPrintable(failed.at(0).at(0).toString()));

    // The window says so, and the program runs on: replies still arrive.
    QVERIFY(!w->recording().active());
    QVERIFY(!w->form()->record_button->isChecked());
    QCOMPARE(w->form()->record_label->text(), QString("Recording stopped"));
    auto* box = w->findChild<QMessageBox*>();
    QVERIFY(box && box->isVisible() && box->text().contains(message));
    const qint64 frames = w->received_frames();
    QTRY_VERIFY(w->received_frames() > frames + 10);
    QVERIFY(w->connected);
    // A new recording into a usable folder works again.
    QSignalSpy started(&w->recording(), &recorder::sig_started);
    w->start_recording(wd.path() + "/again.csv");
    QVERIFY(started.wait(5000));
}

void tst_recording::never_overwrites()
{
    e2e::working_dir wd;
    std::vector<channel_reading> one(1);
    recorder rec([&] { return one; });
    QSignalSpy started(&rec, &recorder::sig_started);
    const QString requested = wd.path() + "/r.csv";
    // Default names come from the start time, in recordings/ of the working directory.
    const QStringList expected = {requested, wd.path() + "/r_2.csv", wd.path() + "/r_3.csv"};
    for (const QString& name : expected) {
        rec.start(requested);
        QVERIFY(started.wait(5000));
        QCOMPARE(started.last().at(0).toString(), name);
    }
    rec.start();
    QVERIFY(started.wait(5000));
    const QString fresh = started.last().at(0).toString();
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                 QRegularExpression::escape(wd.path()) + "/recordings/\\d{4}-\\d\\d-\\d\\d_\\d{6}(_2)?\\.csv"))
                 .match(fresh).hasMatch(), qPrintable(fresh));
    // A folder, existing or named with a trailing '/', gets a dated file inside.
    QVERIFY(QDir(wd.path()).mkdir("dir"));
    QStringList in_folders;
    for (const QString& folder : {wd.path() + "/dir", wd.path() + "/new/"}) {
        rec.start(folder);
        QVERIFY(started.wait(5000));
        in_folders << started.last().at(0).toString();
        const QRegularExpression dated(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(QDir::cleanPath(folder)) + "/\\d{4}-\\d\\d-\\d\\d_\\d{6}(_2)?\\.csv"));
        QVERIFY2(dated.match(in_folders.last()).hasMatch(), qPrintable(in_folders.last()));
    }
    // The rows sampled up to the end are written before the writer thread ends.
    rec.start(wd.path() + "/last.csv");
    rec.shut_down();
    QCOMPARE(read_csv(wd.path() + "/last.csv").size(), 1);
    // Every file still holds its own rows: none was opened over another.
    for (const QString& name : expected + in_folders + QStringList{fresh})
        QVERIFY2(read_csv(name).size() >= 1, qPrintable(name));
}

void tst_recording::history_keeps_extremes_data()
{
    QTest::addColumn<double>("at");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("kept");
    // Samples every 0.5 s from 0 to 700 s, steady at 1.0 but for one; the last
    // 60 s as sampled, 10 s buckets before, nothing older than 600 s.
    QTest::newRow("spike in an old bucket") << 100.5 << 9.0 << true;
    QTest::newRow("dip inside an old bucket") << 204.5 << -5.0 << true;
    QTest::newRow("spike at a bucket's edge") << 310.0 << 7.0 << true;
    QTest::newRow("gap in an old bucket") << 420.5 << qQNaN() << true;
    QTest::newRow("spike among recent samples") << 690.0 << 3.0 << true;
    QTest::newRow("spike older than kept") << 50.0 << 9.0 << false;
}

void tst_recording::history_keeps_extremes()
{
    QFETCH(double, at);
    QFETCH(double, value);
    QFETCH(bool, kept);
    history_series s({60.0, 1000, 10.0, 600.0});
    for (double t = 0; t <= 700.0; t += 0.5)
        s.add(t, t == at ? value : 1.0);
    QVector<double> times;
    QVector<double> values;
    s.points(0, 700, times, values);
    int found = 0;
    for (int i = 0; i < times.size(); ++i) {
        QVERIFY2(i == 0 || times[i] >= times[i - 1], "points out of time order");
        const bool odd = std::isnan(values[i]) || values[i] != 1.0;
        if (odd && times[i] == at && (std::isnan(value) ? std::isnan(values[i]) : values[i] == value))
            ++found;
        else
            QVERIFY2(!odd, qPrintable(QString("stray value %1 at %2").arg(values[i]).arg(times[i])));
    }
    QCOMPARE(found, kept ? 1 : 0);
    // Bounded: the recent samples and two points per old bucket.
    QVERIFY2(s.size() <= 121 + 2 * 62, qPrintable(QString::number(s.size())));
    QVERIFY(times.first() >= 80.0);
    // A window inside the old buckets gets their extremes too.
    s.points(at - 5, at + 5, times, values);
    QCOMPARE(times.contains(at), kept);
}

void tst_recording::trends_redrawn_only_while_shown()
{
    e2e::working_dir wd;
    MainWindow w;
    w.show();
    trends_page* page = w.trends_view();
    QTest::qWait(1200);
    QCOMPARE(page->redraws(), 0); // hidden: no redraw at all
    w.form()->main_menu_butt_4->click();
    QTRY_VERIFY(page->redraws() >= 3);
    w.form()->main_menu_butt->click();
    const int shown = page->redraws();
    QTest::qWait(1200);
    QCOMPARE(page->redraws(), shown);
}

namespace {

// A CW channel's reading with the given current, as the trends sample it.
channel_reading cw_reading(int channel, double current_mA, bool fresh = true, const QString& name = "CW")
{
    channel_reading r;
    r.channel = channel;
    r.name = name;
    r.can_id = 10 + channel;
    r.enabled = r.present = true;
    r.fresh = fresh;
    r.age_ms = fresh ? 100 : 5000;
    r.type = driver_type::cw;
    r.type_name = driver_type::name(r.type);
    r.current_mA = current_mA;
    r.temperature_C = 25.0;
    r.power_mW = 10.0;
    return r;
}

} // namespace

void tst_recording::trend_readout_data()
{
    QTest::addColumn<double>("at"); // seconds after the first sample
    QTest::addColumn<bool>("read");
    // Samples every 0.5 s from 0 to 100 s: disabled 40 to 60 s, not answering 70 to 75 s,
    // none 80 to 90 s.
    QTest::newRow("on a sample") << 20.0 << true;
    QTest::newRow("between two samples") << 20.25 << true;
    QTest::newRow("before the data begins") << -30.0 << false;
    QTest::newRow("channel disabled") << 50.0 << false;
    QTest::newRow("board not answering") << 72.0 << false;
    QTest::newRow("just after the last sample") << 100.2 << true;
    QTest::newRow("well after the last sample") << 105.0 << false;
}

void tst_recording::trend_readout()
{
    QFETCH(double, at);
    QFETCH(bool, read);
    trend_store store;
    const double t0 = 1000.0;
    for (double s = 0; s <= 100.0; s += 0.5) {
        if (s >= 80.0 && s < 90.0)
            continue; // nothing sampled at all (the program stalled)
        std::vector<channel_reading> sampled;
        if (s < 40.0 || s >= 60.0)
            sampled.push_back(cw_reading(1, s < 50 ? 10.0 : 90.0, s < 70.0 || s >= 75.0));
        store.add(sampled, t0 + s);
    }
    store.add({cw_reading(1, 1.0)}, t0 + 20.1); // the clock stepped back: dropped, not drawn out of order
    channel_plot plot;
    plot.resize(1200, 200);
    plot.show_history(store, cw_reading(1, 0.0), t0 - 60.0, t0 + 110.0);
    const QString text = plot.readout_at(t0 + at, 0.3);
    QVERIFY2(text.isEmpty() != read, qPrintable(text));
    if (read)
        QVERIFY2(text.contains("Current 10 mA") || text.contains("Current 90 mA"), qPrintable(text));
    // The disabled time is a gap: no point of it holds a value, no line joins 10 and 90;
    // nor is a line drawn across the time nothing was sampled.
    QVector<double> times;
    QVector<double> values;
    store.series(1, trend_store::current_mA)->points(t0, t0 + 100.0, times, values);
    bool hole = false;
    for (int i = 0; i < times.size(); ++i) {
        hole = hole || (times[i] >= t0 + 79.5 && times[i] < t0 + 90.0 && std::isnan(values[i]));
        QVERIFY(i == 0 || times[i] >= times[i - 1]);
        if (times[i] > t0 + 39.9 && times[i] < t0 + 60.0)
            QVERIFY2(std::isnan(values[i]), qPrintable(QString::number(times[i] - t0)));
        QVERIFY(std::isnan(values[i]) || values[i] != 1.0);
    }
    QVERIFY(hole);
}

void tst_recording::trend_titles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("a name with %1 in it") << "Diode %1 %4" << "3: Diode %1 %4";
    QTest::newRow("a name with markup") << "<b>hot</b>" << "3: <b>hot</b>";
    QTest::newRow("a 200-character name") << QString(200, 'n') << "3: nnnn";
}

void tst_recording::trend_titles()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    trend_store store;
    const double now = trend_clock::now();
    for (double t = now - 30; t <= now; t += 0.5)
        store.add({cw_reading(3, 50.0, true, name)}, t);
    trends_page page(store, [&] { return std::vector<channel_reading>{cw_reading(3, 50.0, true, name)}; });
    page.resize(1000, 600);
    page.show();
    page.redraw();
    QTRY_VERIFY(page.plot(3)->isVisible());
    const QString shown = page.plot(3)->title_text();
    QVERIFY2(shown.startsWith(title), qPrintable(shown));
    QVERIFY2(shown.size() < 60, qPrintable(shown)); // a long name is cut short
    // The plot stays inside the page, its newest data in view.
    const QRect plot_area = page.plot(3)->chart()->geometry().translated(page.plot(3)->mapTo(&page, QPoint()));
    QVERIFY2(plot_area.right() <= page.width(), qPrintable(QString("%1 > %2").arg(plot_area.right()).arg(page.width())));
}

void tst_recording::trend_page_wheel_zoom_live()
{
    trend_store store;
    const double now = trend_clock::now();
    std::vector<channel_reading> ten;
    for (int c = 1; c <= 10; ++c)
        ten.push_back(cw_reading(c, 10.0 * c));
    for (double t = now - 120; t <= now; t += 0.5)
        store.add(ten, t);
    trends_page page(store, [&] { return ten; });
    page.resize(900, 400); // room for a few rows: the page scrolls
    page.show();
    page.redraw();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCustomPlot* chart = page.plot(1)->chart();
    QTRY_VERIFY(chart->width() > 300);
    auto* bar = page.findChild<QScrollArea*>()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    const QPoint middle(chart->width() - 40, chart->height() / 2);
    auto wheel = [&](Qt::KeyboardModifiers modifiers, int delta) {
        QWheelEvent e(middle, chart->mapToGlobal(middle), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(chart, &e);
    };
    // The plain wheel scrolls the page and leaves the time axis alone.
    wheel(Qt::NoModifier, -120);
    QVERIFY(bar->value() > 0);
    QVERIFY(page.live() && page.span_s() == 600.0);
    // Ctrl+wheel zooms the time axis and stops following; Live follows again.
    bar->setValue(0);
    wheel(Qt::ControlModifier, 120);
    QVERIFY2(page.span_s() < 600.0 && !page.live(), qPrintable(QString::number(page.span_s())));
    QVERIFY(page.view_end() < trend_clock::now());
    auto* live = page.findChild<QPushButton*>("trend_live_button");
    QVERIFY(live->isEnabled());
    live->click();
    QVERIFY(page.live() && !live->isEnabled());
    // The readout follows the mouse over data and is gone when it leaves.
    const QPoint on_data(chart->width() - 40, chart->height() / 2);
    QMouseEvent move(QEvent::MouseMove, on_data, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(chart, &move);
    QVERIFY2(page.readout().startsWith("1: CW,"), qPrintable(page.readout()));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(chart, &leave);
    QVERIFY(page.readout().isEmpty());
}

void tst_recording::ten_channels_on_one_screen()
{
    e2e::working_dir wd;
    MainWindow w;
    QList<QPair<int, int>> ten;
    for (int c = 0; c < 10; ++c)
        ten << qMakePair(c, 11 + c);
    e2e::configure_channels(w, ten);
    w.resize(1920, 1080 - 60); // a desktop's panel and the window's frame take some
    w.show();
    w.form()->main_menu_butt_4->click();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.trends_view()->plot(10)->isVisible());
    QTest::qWait(100);
    QCOMPARE(w.trends_view()->findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
    for (int c = 1; c <= 10; ++c)
        QVERIFY2(!w.trends_view()->plot(c)->visibleRegion().isEmpty(), qPrintable(QString::number(c)));
}

void tst_recording::record_option()
{
    e2e::working_dir wd;
    const struct { QStringList args; command_line::action result; QString file; bool trends; } rows[] = {
        {{"p", "--record", "out/a.csv"}, command_line::run, wd.path() + "/out/a.csv", false},
        {{"p", "--record", "out/"}, command_line::run, wd.path() + "/out/", false},
        {{"p", "--record", "./out/../rec/"}, command_line::run, wd.path() + "/rec/", false},
        {{"p", "--record", "/tmp/b.csv", "--trends"}, command_line::run, "/tmp/b.csv", true},
        {{"p"}, command_line::run, "", false},
        {{"p", "--record"}, command_line::fail, "", false},
        {{"p", "--record", ""}, command_line::fail, "", false},
    };
    for (const auto& r : rows) {
        command_line c;
        const QString label = r.args.join(' ');
        QVERIFY2(c.parse(r.args) == r.result, qPrintable(label));
        QVERIFY2(r.result == command_line::fail || (c.record_file == r.file && c.open_trends == r.trends), qPrintable(label));
    }
}

void tst_recording::disk_faults_in_the_program_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    QTest::newRow("file size limit, SIGXFSZ at its default") << "size_limit" << "File too large";
    QTest::newRow("full disk (a small tmpfs)") << "full_disk" << "No space left on device";
}

void tst_recording::disk_faults_in_the_program()
{
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    e2e::working_dir wd;
    const QDir dir(QFileInfo(wd.path()).canonicalFilePath());
    QVERIFY(dir.mkpath("rec"));
    const QString folder = dir.filePath("rec");
    limited_process studio;
    struct unmount { QString at; ~unmount() { if (!at.isEmpty()) umount2(QFile::encodeName(at).constData(), MNT_DETACH); } } mounted;
    if (fault == "size_limit") {
        studio.size_limit = 4096;
    } else {
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=8k") != 0)
            QSKIP(qPrintable("a small tmpfs cannot be mounted here (" + qt_error_string(errno)
                             + "): run the test as root where mounting is allowed to see a real full disk"));
        mounted.at = folder;
        // One page of the two stays free for the recording.
        QFile filler(folder + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly) && filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush());
    }
    auto sim = start_bus(dir.path(), {board(driver_type::cw, 11, {{0x11, 1234}}), board(driver_type::cw, 12, {}),
                                      board(driver_type::cw, 13, {}), board(driver_type::cw, 14, {})});
    write_settings(dir, sim->link_path(), 4);
    studio.setWorkingDirectory(dir.path());
    studio.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    studio.setProcessEnvironment(env);
    studio.start(CORVANE_STUDIO_PATH, {"-platform", "offscreen", "--port", sim->link_path(), "--record", "rec/"});
    QByteArray out;
    auto seen = [&](const QString& text) { return (out += studio.readAll()).contains(text.toUtf8()); };
    QTRY_VERIFY2_WITH_TIMEOUT(seen("Recording stopped: cannot write " + folder + "/") && seen(reason), out.constData(), 30000);
    // The program lives on and closes as usual, its settings saved.
    QTest::qWait(1000);
    QVERIFY2(studio.state() == QProcess::Running, out.constData());
    QVERIFY(::kill(pid_t(studio.processId()), SIGTERM) == 0);
    QVERIFY(studio.waitForFinished(15000));
    QCOMPARE(studio.exitStatus(), QProcess::NormalExit);
    QCOMPARE(studio.exitCode(), 0);

    const QStringList files = QDir(folder).entryList({"20*.csv"});
    QCOMPARE(files.size(), 1);
    QFile f(folder + "/" + files[0]);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY2(bytes.endsWith('\n'), bytes.right(80).constData()); // whole rows only
    QVERIFY(bytes.size() <= 4096);
    const QStringList lines = QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.size() > 4, qPrintable(QString::number(lines.size())));
    for (const QString& line : lines)
        QVERIFY2(split_csv(line).size() == 25, qPrintable(line));
}

void tst_recording::rows_at_wire_resolution_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("column");
    QTest::addColumn<double>("value"); // as the decoder stores it: a float
    QTest::addColumn<bool>("fresh");
    QTest::addColumn<QString>("written");
    const auto f = [](double raw, double scale) { return double(float(raw / scale)); };
    QTest::newRow("converter current, 0.01 A") << 11 << "current_A" << f(247, 100) << true << "2.47";
    QTest::newRow("converter current set-point") << 11 << "current_set_A" << f(1250, 100) << true << "12.50";
    QTest::newRow("Precision CW temperature, 0.0001") << 10 << "temperature_C" << f(101748, 10000) << true << "10.1748";
    QTest::newRow("Precision CW current past a float's 4th decimal") << 10 << "current_mA" << f(12345700, 10000) << true << "1234.5700";
    QTest::newRow("Precision CW current set-point") << 10 << "current_set_mA" << f(5000000, 10000) << true << "500.0000";
    QTest::newRow("CW current, 0.1 mA") << 8 << "current_mA" << f(1234, 10) << true << "123.4";
    QTest::newRow("CW temperature below zero") << 8 << "temperature_C" << f(-55, 10) << true << "-5.5";
    QTest::newRow("CW optical power") << 8 << "power_mW" << f(947, 10) << true << "94.7";
    QTest::newRow("NS pulse width") << 6 << "pulse_width_ns" << f(125, 10) << true << "12.5";
    QTest::newRow("PS rate, whole kHz") << 7 << "frequency_kHz" << 1000.0 << true << "1000";
    QTest::newRow("SOA NS voltage") << 13 << "voltage_V" << f(203, 10) << true << "20.3";
    QTest::newRow("converter input voltage") << 11 << "input_voltage_V" << f(481, 10) << true << "48.1";
    QTest::newRow("converter fault flags") << 11 << "fault_flags" << 4.0 << true << "0x0004";
    QTest::newRow("emission") << 8 << "emission" << 1.0 << true << "1";
    QTest::newRow("a value the family has not") << 8 << "current_A" << 2.0 << true << "";
    QTest::newRow("stale converter current") << 11 << "current_A" << f(247, 100) << false << "";
    QTest::newRow("stale fault flags") << 11 << "fault_flags" << 4.0 << false << "";
    QTest::newRow("stale emission") << 8 << "emission" << 1.0 << false << "";
    QTest::newRow("stale set-point") << 8 << "temperature_set_C" << 25.0 << false << "";
    QTest::newRow("stale board keeps its type") << 8 << "type" << 0.0 << false << "CW Type";
}

void tst_recording::rows_at_wire_resolution()
{
    QFETCH(int, type);
    QFETCH(QString, column);
    QFETCH(double, value);
    QFETCH(bool, fresh);
    QFETCH(QString, written);
    const QMap<QString, double channel_reading::*> members = {
        {"current_mA", &channel_reading::current_mA}, {"current_A", &channel_reading::current_A},
        {"temperature_C", &channel_reading::temperature_C}, {"power_mW", &channel_reading::power_mW},
        {"voltage_V", &channel_reading::voltage_V}, {"input_voltage_V", &channel_reading::input_voltage_V},
        {"frequency_kHz", &channel_reading::frequency_kHz}, {"pulse_width_ns", &channel_reading::pulse_width_ns},
        {"current_set_mA", &channel_reading::current_set}, {"current_set_A", &channel_reading::current_set},
        {"temperature_set_C", &channel_reading::temperature_set}};
    channel_reading r;
    r.channel = 3;
    r.present = true;
    r.fresh = fresh;
    r.age_ms = fresh ? 200 : 3000;
    r.type = type;
    r.type_name = driver_type::name(type);
    if (members.contains(column))
        r.*members[column] = value;
    r.emission = column == "emission";
    r.fault_flags = column == "fault_flags" ? uint16_t(value) : 0;
    const QStringList header = split_csv(QString::fromUtf8(csv_row_format::header()).trimmed());
    const QStringList row = split_csv(QString::fromUtf8(csv_row_format::row(r, QDateTime::currentDateTimeUtc(), 1.0)).chopped(1));
    QCOMPARE(row.size(), header.size());
    QVERIFY(header.contains(column));
    QCOMPARE(row[header.indexOf(column)], written);
}

void tst_recording::synced_every_second()
{
    e2e::working_dir wd;
    std::vector<channel_reading> one(1);
    recorder rec([&] { return one; });
    QSignalSpy synced(&rec, &recorder::sig_synced);
    // One row now, the next a minute later: the first must not wait for it.
    rec.set_interval_ms(60000);
    rec.start(wd.path() + "/s.csv");
    QElapsedTimer clock;
    clock.start();
    QVERIFY(synced.wait(1500));
    QVERIFY2(clock.elapsed() <= 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(synced.last().at(0).toLongLong(), QFileInfo(wd.path() + "/s.csv").size());
    // And again half a second later, with rows coming every 100 ms.
    rec.set_interval_ms(100);
    QVERIFY(synced.wait(1000));
}

void tst_recording::slow_disk_bounded()
{
    e2e::working_dir wd;
    MainWindow w;
    e2e::configure_channels(w, {{0, 11}});
    recorder& rec = w.recording();
    rec.set_interval_ms(50);
    rec.max_behind_ms = 6000;
    QSignalSpy started(&rec, &recorder::sig_started);
    QSignalSpy failed(&rec, &recorder::sig_failed);
    const QString path = wd.path() + "/slow.csv";
    w.start_recording(path);
    QVERIFY(started.wait(5000));
    // The disk stops taking rows.
    auto disk = std::make_shared<QSemaphore>();
    rec.run_on_writer([disk] { disk->acquire(); });
    QTRY_VERIFY_WITH_TIMEOUT(w.form()->record_label->text().startsWith("REC behind "), 6000);
    QVERIFY(failed.wait(5000));
    QVERIFY2(failed.at(0).at(0).toString().contains("has not taken the rows of the last 6 s"),
             qPrintable(failed.at(0).at(0).toString()));
    QVERIFY(!rec.active());
    // Closing waits 2 s at most and says what the disk did not take.
    const int in_file = read_csv(path).size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!rec.shut_down());
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    const QRegularExpressionMatch pending = QRegularExpression("(\\d+) rows sampled from ").match(rec.unwritten());
    QVERIFY2(pending.hasMatch(), qPrintable(rec.unwritten()));
    QVERIFY(pending.captured(1).toInt() > 100);
    // Nothing is dropped: once the disk comes back, every waiting row is written.
    disk->release();
    QTRY_COMPARE(read_csv(path).size(), in_file + pending.captured(1).toInt());
    QTRY_VERIFY(rec.shut_down()); // and the writer has finished
}

QTEST_MAIN(tst_recording)
#include "tst_recording.moc"
