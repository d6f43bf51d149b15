// The event log: JSON lines as written, whole lines only under a file size
// limit (in a child process that ignores SIGXFSZ as the program does),
// rotation, a writer that never holds up the caller, and the Log page.
#include "event_file_writer.h"
#include "event_log.h"
#include "log_page.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

const QDateTime base_time = QDateTime(QDate(2026, 12, 6), QTime(21, 12, 46, 123), Qt::UTC);

// Event number i; lines differ in length so that limits fall anywhere in a line.
log_event numbered(int i)
{
    return log_event{base_time.addMSecs(i), log_kind::output, i % 11, QStringLiteral("panel"),
        QStringLiteral("event %1 %2").arg(i).arg(QString(i % 13, QLatin1Char('x')))};
}

QList<QByteArray> file_lines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The number in "event N ..." of a JSON line, -1 when the line is not such JSON.
int event_number(const QByteArray& line)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    const QStringList words = o.value(QStringLiteral("text")).toString().split(QLatin1Char(' '));
    return words.size() == 3 && words[0] == QLatin1String("event") ? words[1].toInt() : -1;
}

// Child process: writes `count` events under RLIMIT_FSIZE = `limit` with
// SIGXFSZ ignored, as the program runs; prints what was reported.
int fsize_child(char** argv)
{
    const rlimit small{rlim_t(atoll(argv[3])), rlim_t(atoll(argv[3]))};
    if (setrlimit(RLIMIT_FSIZE, &small) != 0)
        return 2;
    std::signal(SIGXFSZ, SIG_IGN);
    int argc = 1;
    QCoreApplication app(argc, argv);
    event_log log;
    QStringList reasons;
    QObject::connect(&log, &event_log::sig_file_failed, [&](const QString& r) { reasons << r; });
    log.start_file(QString::fromLocal8Bit(argv[2]));
    const int count = atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
        log.add(numbered(i));
        if (i % 10 == 9)
            QCoreApplication::processEvents();
    }
    log.shut_down();
    QCoreApplication::processEvents();
    printf("%d\n%d\n%s\n", log.size(), int(reasons.size()), qPrintable(reasons.join(QLatin1Char('|'))));
    return 0;
}

} // namespace

class tst_eventlog : public QObject
{
    Q_OBJECT

private slots:
    void json_line_data();
    void json_line();
    void size_limit_data();
    void size_limit();
    void file_data();
    void file();
    void page_filters_data();
    void page_filters();
    void page_follows_newest();
};

void tst_eventlog::json_line_data()
{
    QTest::addColumn<log_event>("event");
    QTest::addColumn<QByteArray>("line");
    const QByteArray head = R"({"utc":"2026-12-06T21:12:46.123Z",)";
    QTest::newRow("plain, UTC from another zone") << log_event{base_time.toOffsetFromUtc(-18000), log_kind::output, 3, "panel", "output off"}
        << head + R"("kind":"output","channel":3,"origin":"panel","text":"output off"})";
    QTest::newRow("quotes, backslash, controls") << log_event{base_time, log_kind::notice, 10, R"(remote "a"\b)", QString("a\nb\r\tc") + QChar(1) + QChar(0x1f)}
        << head + R"("kind":"notice","channel":10,"origin":"remote \"a\"\\b","text":"a\nb\r\tc\u0001\u001f"})";
    const QString cjk = QString::fromUtf8("Лазер 激光 \xF0\x9F\x94\xA5");
    QTest::newRow("not Latin-1") << log_event{base_time, log_kind::setpoint, 1, cjk, ""}
        << head + R"("kind":"setpoint","channel":1,"origin":")" + cjk.toUtf8() + R"(","text":""})";
}

void tst_eventlog::json_line()
{
    QFETCH(log_event, event);
    QFETCH(QByteArray, line);
    const QByteArray written = log_json_line(event);
    QCOMPARE(written, line + '\n');
    // Any JSON reader gets the text back as it was.
    QCOMPARE(QJsonDocument::fromJson(written).object().value("text").toString(), event.text);
}

void tst_eventlog::size_limit_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("cut in the first batch") << 700;
    QTest::newRow("cut later") << 4000;
    QTest::newRow("everything fits") << 100000;
}

void tst_eventlog::size_limit()
{
    QFETCH(int, limit);
    const int count = 100;
    QTemporaryDir dir;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--fsize-child", dir.path(), QString::number(limit), QString::number(count)});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QStringList out = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n');
    QVERIFY(out.size() >= 3);
    QCOMPARE(out[0].toInt(), count);  // memory logging went on
    // As many whole lines as fit, nothing of the next one.
    int fit = 0;
    qint64 bytes = 0;
    while (fit < count && bytes + log_json_line(numbered(fit)).size() <= limit)
        bytes += log_json_line(numbered(fit++)).size();
    const QString path = event_file_writer::file_path(dir.path(), 0);
    QCOMPARE(QFileInfo(path).size(), bytes);
    const QList<QByteArray> lines = file_lines(path);
    QCOMPARE(lines.size(), fit);
    for (int i = 0; i < fit; ++i)
        QCOMPARE(event_number(lines[i]), i);
    QCOMPARE(out[1].toInt(), fit < count ? 1 : 0);
    QVERIFY2(fit == count || out[2].contains(QString::fromLocal8Bit(std::strerror(EFBIG))), qPrintable(out[2]));
}

void tst_eventlog::file_data()
{
    QTest::addColumn<double>("limit_lines");  // the limit in lines of this test's length
    QTest::addColumn<int>("before");  // whole lines in the file before the log starts
    QTest::addColumn<QByteArray>("tail");  // and what a crash left after them
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("event_loop");  // runs before shut_down()
    QTest::addColumn<QVector<int>>("lines");  // per file: events.jsonl, events.1.jsonl, ...
    const QByteArray none;
    QTest::newRow("one rotation") << 3.0 << 0 << none << 4 << false << QVector<int>{1, 3};
    QTest::newRow("limit inside a line") << 3.5 << 0 << none << 7 << true << QVector<int>{1, 3, 3};
    QTest::newRow("oldest dropped") << 2.0 << 0 << none << 20 << false << QVector<int>{2, 2, 2, 2, 2, 2};
    QTest::newRow("limit below one line") << 0.5 << 0 << none << 3 << false << QVector<int>{1, 1, 1};
    QTest::newRow("size counted on reopening") << 3.0 << 2 << none << 5 << false << QVector<int>{2, 3};
    QTest::newRow("torn line") << 9.0 << 2 << QByteArray(R"({"utc":"2026-12-06T21:1)") << 4 << false << QVector<int>{4};
    QTest::newRow("zeros after a power cut") << 9.0 << 2 << QByteArray(5000, '\0') << 4 << false << QVector<int>{4};
    QTest::newRow("nothing whole") << 9.0 << 0 << QByteArray(R"({"utc)") << 2 << false << QVector<int>{2};
    QTest::newRow("many, shut down at once") << 1e6 << 0 << none << 5000 << false << QVector<int>{5000};
    QTest::newRow("more than memory holds") << 1e6 << 0 << none << 10001 << true << QVector<int>{10001};
}

// The files and the events in each. add() only queues the lines: none is in the
// file before the event loop ran, all of them once shut_down() returned. A
// file torn by a crash gets its next line on a line of its own.
void tst_eventlog::file()
{
    QFETCH(double, limit_lines);
    QFETCH(int, before);
    QFETCH(QByteArray, tail);
    QFETCH(int, count);
    QFETCH(bool, event_loop);
    QFETCH(QVector<int>, lines);
    // Lines of one length while the numbers have two digits.
    auto event = [](int i) { return log_event{base_time, log_kind::board, 1, "system", QString("event %1 x").arg(i + 10)}; };
    QTemporaryDir dir;
    QFile f(event_file_writer::file_path(dir.path(), 0));
    QVERIFY(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < before; ++i)
        f.write(log_json_line(event(i)));
    f.write(tail);
    f.close();
    const qint64 size_before = f.size();
    event_log log;
    QSignalSpy failed(&log, &event_log::sig_file_failed);
    log.start_file(dir.path(), qint64(limit_lines * log_json_line(event(0)).size()));
    for (int i = before; i < count; ++i)
        log.add(event(i));
    QCOMPARE(f.size(), size_before);
    if (event_loop)
        QTRY_COMPARE_WITH_TIMEOUT(file_lines(f.fileName()).size(), lines[0], 10000);
    log.shut_down();
    int last = count + 10;  // number of the newer file's first event
    for (int n = 0; n <= event_file_writer::kept_files + 1; ++n) {
        const QList<QByteArray> got = file_lines(event_file_writer::file_path(dir.path(), n));
        QCOMPARE(got.size(), lines.value(n));
        for (int k = 0; k < got.size(); ++k)
            QCOMPARE(event_number(got[k]), last - lines[n] + k);
        last -= lines.value(n);
    }
    QCOMPARE(failed.count(), 0);
    // The memory keeps the latest, up to its limit; logging to it goes on.
    log.add(event(count));
    const int kept = qMin(count + 1 - before, event_log::default_memory_limit);
    QCOMPARE(log.size(), kept);
    QCOMPARE(log.recent(kept + 1).front().text, event(count + 1 - kept).text);
    QCOMPARE(log.recent(1).front().text, event(count).text);
}

void tst_eventlog::page_filters_data()
{
    QTest::addColumn<int>("channel_item");  // 0 all, 1..10 channel, 11 none
    QTest::addColumn<int>("kind_item");     // 0 all, then the kinds in order
    QTest::addColumn<bool>("cleared");      // "Clear filters" pressed after choosing
    QTest::addColumn<QString>("visible");   // texts of the rows shown, in order
    QTest::newRow("all") << 0 << 0 << false << "a b c d e f g h";
    QTest::newRow("channel 3") << 3 << 0 << false << "b e h";
    QTest::newRow("no channel") << 11 << 0 << false << "a d";
    QTest::newRow("output") << 0 << 1 + int(log_kind::output) << false << "b c h";
    QTest::newRow("channel 3 output") << 3 << 1 + int(log_kind::output) << false << "b h";
    QTest::newRow("nothing") << 2 << 1 + int(log_kind::alarm) << false << "";
    QTest::newRow("cleared") << 3 << 1 + int(log_kind::output) << true << "a b c d e f g h";
}

void tst_eventlog::page_filters()
{
    QFETCH(int, channel_item);
    QFETCH(int, kind_item);
    QFETCH(bool, cleared);
    QFETCH(QString, visible);
    // a to d are in the log before the page is made, e to h come while it shows.
    const std::vector<std::tuple<log_kind, int, QString>> events{{log_kind::connection, 0, "a"},
        {log_kind::output, 3, "b"}, {log_kind::output, 1, "c"}, {log_kind::remote, 0, "d"}, {log_kind::fault, 3, "e"},
        {log_kind::alarm, 10, "f"}, {log_kind::notice, 2, "g"}, {log_kind::output, 3, "h"}};
    auto add = [&](event_log& log, size_t i) {
        log.add(log_event{base_time, std::get<0>(events[i]), std::get<1>(events[i]), "panel", std::get<2>(events[i])});
    };
    event_log log;
    for (size_t i = 0; i < 4; ++i)
        add(log, i);
    log_page page(log);
    auto* channel = page.findChild<QComboBox*>("log_channel_filter");
    auto* kind = page.findChild<QComboBox*>("log_kind_filter");
    auto* table = page.findChild<QTableView*>("log_table");
    QVERIFY(channel && kind && table);
    channel->setCurrentIndex(channel_item);
    kind->setCurrentIndex(kind_item);
    for (size_t i = 4; i < events.size(); ++i)
        add(log, i);
    if (cleared)
        QTest::mouseClick(page.findChild<QPushButton*>("log_clear_filters"), Qt::LeftButton);
    QStringList shown;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        shown << table->model()->index(row, table->model()->columnCount() - 1).data().toString();
    QCOMPARE(shown.join(' '), visible);
    QCOMPARE(page.visible_rows(), shown.size());
}

// The view follows new rows at the bottom, and stays where the user scrolled to.
void tst_eventlog::page_follows_newest()
{
    event_log log;
    for (int i = 0; i < 500; ++i)
        log.add(numbered(i));
    log_page page(log);
    page.resize(800, 300);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QScrollBar* bar = page.findChild<QTableView*>("log_table")->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());
    // Each time only once the view made room for the new row.
    for (const int scrolled_to : {-1, 10}) {
        if (scrolled_to >= 0)
            bar->setValue(scrolled_to);
        const int before = bar->maximum();
        log.add(numbered(before));
        QTRY_VERIFY(bar->maximum() > before);
        QCOMPARE(bar->value(), scrolled_to < 0 ? bar->maximum() : scrolled_to);
    }
}

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--fsize-child") == 0)
        return fsize_child(argv);
    QApplication app(argc, argv);
    tst_eventlog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_eventlog.moc"
