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
#include "history_series.h"
#include "recorder.h"
#include "trend_store.h"
#include "trends_page.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <csignal>
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

} // namespace

class tst_recording : public QObject
{
    Q_OBJECT

private slots:
    void six_boards_recorded();
    void failures_stop_with_a_message_data();
    void failures_stop_with_a_message();
    void never_overwrites();
    void history_keeps_extremes_data();
    void history_keeps_extremes();
    void trends_redrawn_only_while_shown();
    void record_option();
};

void tst_recording::six_boards_recorded()
{
    e2e::working_dir wd;
    // Boards that have been running: CW on at 123.4 mA, TEC at 10.5 °C; the
    // pulsed ones on at their voltages; the Power DCDC output on at 2.50 A.
    auto sim = start_bus(wd.path(), {board(driver_type::cw, 11, {{0x10, 1}, {0x11, 1234}, {0x21, 1}, {0x12, 105}, {0x36, 50}}),
                                     board(driver_type::precision_cw, 12, {{0x10, 1}, {0x11, 123457}, {0x25, 200000}, {0x21, 1}, {0x12, 102500}, {0x36, 5000}}),
                                     board(driver_type::ps, 13, {{0x18, 500}, {0x20, 1}, {0x22, 1}, {0x21, 1}, {0x12, 120}, {0x36, 50}}),
                                     board(driver_type::ns, 14, {{0x18, 350}, {0x20, 1}, {0x22, 1}}),
                                     board(driver_type::soa_ns, 15, {{0x18, 200}, {0x20, 1}, {0x22, 1}}),
                                     board(driver_type::power_dcdc, 16, {{0x10, 1}, {0x11, 250}})});
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
        {"precision current, two decimals", 1, "current_mA", "1234.57"},
        {"precision temperature, two decimals", 1, "temperature_C", "10.25"},
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
        {"dcdc current in A", 5, "current_A", "2.5"},
        {"dcdc has no mA current", 5, "current_mA", ""},
        {"dcdc heats up", 5, "temperature_C", "30.0"},
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
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const struct { int channel; const char* text; } readouts[] = {
        {1, "Current 123.4 mA,  Temperature 10.5 \u00B0C,  Optical power 94.7 mW"},
        {3, "Temperature 12 \u00B0C,  Voltage 50 V,  Repetition rate"},
        {6, "Current 2.5 A,  Temperature 30 \u00B0C,  Output voltage 24 V,  Input voltage 48 V"},
    };
    for (const auto& r : readouts) {
        const QString text = w->trends_view()->plot(r.channel)->readout_at(now - 1);
        QVERIFY2(text.contains(QString::fromUtf8(r.text)), qPrintable(text));
    }
    QVERIFY(w->trends_view()->plot(7)->readout_at(now - 1).isEmpty()); // no device, nothing to read
    const QString png = wd.path() + "/trends.png";
    QVERIFY(w->trends_view()->save_png(png));
    QVERIFY2(QImage(png).height() > 6 * 300, qPrintable(QString::number(QImage(png).height()))); // every enabled channel, also those scrolled out of view

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
    QTest::newRow("disk fills up") << "size_limit" << "Recording stopped: cannot write";
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
    // A file size limit stands for a full disk: writes beyond it fail with EFBIG.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    if (fault == "size_limit") {
        rlimit small = previous;
        small.rlim_cur = 600;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    QSignalSpy failed(&w->recording(), &recorder::sig_failed);
    w->start_recording(path);
    if (fault == "folder_removed") {
        QTRY_VERIFY(QFileInfo(path).size() > 0);
        QVERIFY(QDir(wd.path() + "/rec").removeRecursively());
    }
    const bool got = failed.wait(10000);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, old_handler);
    QVERIFY(got);
    QVERIFY2(failed.at(0).at(0).toString().contains(message), qPrintable(failed.at(0).at(0).toString()));
    if (fault == "size_limit")
        QCOMPARE(QFileInfo(path).size(), qint64(600)); // everything up to the limit is kept

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
    // The rows sampled up to the end are written before the writer thread ends.
    rec.start(wd.path() + "/last.csv");
    rec.shut_down();
    QCOMPARE(read_csv(wd.path() + "/last.csv").size(), 1);
    // Every file still holds its own rows: none was opened over another.
    for (const QString& name : expected + QStringList{fresh})
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

void tst_recording::record_option()
{
    e2e::working_dir wd;
    const struct { QStringList args; command_line::action result; QString file; bool trends; } rows[] = {
        {{"p", "--record", "out/a.csv"}, command_line::run, wd.path() + "/out/a.csv", false},
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

QTEST_MAIN(tst_recording)
#include "tst_recording.moc"
