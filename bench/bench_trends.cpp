// Cost of recording and trends with ten channels (scripts: run by hand, figures
// in the README):
//   record   - 24 h of ten channels at 0.5 s formatted and written as the
//              recording does: file size and CPU time;
//   history  - 24 h of ten channels sampled into the trend history: points
//              kept and memory;
//   redraw   - with that history loaded, one redraw of ten channel plots
//              (span 1 min and 24 h) with QCustomPlot, and with Qt Charts when
//              it was found at build time: milliseconds per redraw, median.
#include "channel_plot.h"
#include "channel_reading.h"
#include "csv_row_format.h"
#include "driver_type.h"
#include "recording_writer.h"
#include "trend_store.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVBoxLayout>
#include <qcustomplot.h>

#ifdef CORVANE_BENCH_QTCHARTS
#include <QtCharts>
#endif

#include <algorithm>
#include <cmath>
#include <ctime>
#include <vector>

namespace {

constexpr int channels = 10;
constexpr double day_s = 86400.0;
constexpr double step_s = 0.5;

double cpu_s()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

long rss_kb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Ten CW channels whose readings wander, with a spike now and then.
std::vector<channel_reading> readings_at(double t)
{
    std::vector<channel_reading> out;
    for (int c = 1; c <= channels; ++c) {
        channel_reading r;
        r.channel = c;
        r.name = QStringLiteral("CW %1").arg(c);
        r.can_id = c;
        r.enabled = r.bound = r.present = r.fresh = true;
        r.age_ms = 100;
        r.type = driver_type::cw;
        r.type_name = QStringLiteral("CW Type");
        r.emission = true;
        r.current_mA = std::round((120.0 + std::sin(t / 300.0 + c) + (std::fmod(t, 3607.0) < 0.5 ? 5 : 0)) * 10) / 10;
        r.temperature_C = std::round((25.0 + 0.3 * std::sin(t / 900.0 + c)) * 10) / 10;
        r.power_mW = std::round((r.current_mA - 5.0) * 8) / 10;
        out.push_back(r);
    }
    return out;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void bench_record(QTextStream& out)
{
    QTemporaryDir dir;
    recording_writer writer(std::make_shared<std::atomic<qint64>>(-1));
    qint64 batch = 0;
    const double t0 = cpu_s();
    writer.sl_open(1, dir.path(), QString(), QDateTime::currentDateTimeUtc(), csv_row_format::header());
    const QDateTime start = QDateTime::currentDateTimeUtc();
    for (double t = 0; t < day_s; t += step_s) {
        QByteArray rows;
        for (const channel_reading& r : readings_at(t))
            rows += csv_row_format::row(r, start.addMSecs(qint64(t * 1000)), t);
        writer.sl_write(1, batch++, rows);
    }
    writer.sl_close(1);
    const double used = cpu_s() - t0;
    qint64 size = 0;
    for (const QFileInfo& f : QDir(dir.path()).entryInfoList(QDir::Files))
        size += f.size();
    out << QStringLiteral("record: 24 h, 10 channels, 0.5 s: %1 MB, CPU %2 s (%3 % of one core at the real pace)\n")
               .arg(size / 1e6, 0, 'f', 1)
               .arg(used, 0, 'f', 2)
               .arg(used / day_s * 100, 0, 'f', 4);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    const bool all = args.size() < 2;
    if (all || args.contains(QStringLiteral("record")))
        bench_record(out);
    if (!all && !args.contains(QStringLiteral("redraw")) && !args.contains(QStringLiteral("history")))
        return 0;

    const long rss_before = rss_kb();
    trend_store store;
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const double t0 = cpu_s();
    for (double t = now - day_s; t <= now; t += step_s)
        store.add(readings_at(t), t);
    out << QStringLiteral("history: 24 h of 10 channels x 3 readings: %1 points kept, %2 MB more resident, %3 s CPU to sample\n")
               .arg(store.size())
               .arg((rss_kb() - rss_before) / 1024.0, 0, 'f', 1)
               .arg(cpu_s() - t0, 0, 'f', 2);
    if (!all && !args.contains(QStringLiteral("redraw")))
        return 0;

    const std::vector<channel_reading> latest = readings_at(now);
    const double spans[] = {60.0, day_s};
    constexpr int repeats = 15;

    // QCustomPlot: the page's own plots.
    QWidget box;
    auto* column = new QVBoxLayout(&box);
    std::vector<channel_plot*> plots;
    for (int c = 0; c < channels; ++c) {
        plots.push_back(new channel_plot(&box));
        column->addWidget(plots.back());
    }
    box.resize(1200, 3600);
    box.show();
    for (double span : spans) {
        std::vector<double> ms;
        for (int k = 0; k < repeats; ++k) {
            QElapsedTimer clock;
            clock.start();
            for (int c = 0; c < channels; ++c) {
                plots[size_t(c)]->show_history(store, latest[size_t(c)], now - span, now);
                plots[size_t(c)]->chart()->replot(QCustomPlot::rpImmediateRefresh);
            }
            box.grab();
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
        out << QStringLiteral("redraw QCustomPlot, span %1 s: %2 ms for 10 channels (median of %3)\n")
                   .arg(span)
                   .arg(median(ms), 0, 'f', 1)
                   .arg(repeats);
    }
    out << QStringLiteral("resident memory with the history and ten plots drawn: %1 MB\n").arg(rss_kb() / 1024.0, 0, 'f', 1);
    out.flush();
    box.hide();

#ifdef CORVANE_BENCH_QTCHARTS
    // Qt Charts: the same lanes, one chart per reading.
    QWidget chart_box;
    auto* chart_column = new QVBoxLayout(&chart_box);
    struct lane
    {
        QtCharts::QLineSeries* series;
        QtCharts::QDateTimeAxis* time;
        QtCharts::QValueAxis* value;
    };
    std::vector<lane> lanes;
    for (int c = 0; c < channels * 3; ++c) {
        auto* chart = new QtCharts::QChart;
        auto* series = new QtCharts::QLineSeries;
        chart->addSeries(series);
        auto* time = new QtCharts::QDateTimeAxis;
        auto* value = new QtCharts::QValueAxis;
        chart->addAxis(time, Qt::AlignBottom);
        chart->addAxis(value, Qt::AlignLeft);
        series->attachAxis(time);
        series->attachAxis(value);
        chart->legend()->hide();
        series->setPen(QPen(Qt::red, 1)); // as the page's plots
        auto* view = new QtCharts::QChartView(chart, &chart_box);
        view->setMinimumHeight(110);
        chart_column->addWidget(view);
        lanes.push_back({series, time, value});
    }
    chart_box.resize(1200, 3600);
    chart_box.show();
    const trend_store::quantity shown[] = {trend_store::current_mA, trend_store::temperature_C, trend_store::power_mW};
    for (double span : spans) {
        std::vector<double> ms;
        for (int k = 0; k < repeats; ++k) {
            QElapsedTimer clock;
            clock.start();
            QVector<double> times;
            QVector<double> values;
            for (int c = 0; c < channels; ++c) {
                for (int q = 0; q < 3; ++q) {
                    store.series(c + 1, shown[q])->points(now - span, now, times, values);
                    QVector<QPointF> points(times.size());
                    for (int i = 0; i < times.size(); ++i)
                        points[i] = QPointF(times[i] * 1000.0, values[i]);
                    const lane& l = lanes[size_t(c * 3 + q)];
                    l.series->replace(points);
                    l.time->setRange(QDateTime::fromMSecsSinceEpoch(qint64((now - span) * 1000)),
                                     QDateTime::fromMSecsSinceEpoch(qint64(now * 1000)));
                    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
                    l.value->setRange(*lo - 0.1, *hi + 0.1);
                }
            }
            chart_box.grab();
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
        out << QStringLiteral("redraw Qt Charts, span %1 s: %2 ms for 10 channels (median of %3)\n")
                   .arg(span)
                   .arg(median(ms), 0, 'f', 1)
                   .arg(repeats);
    }
#endif
    return 0;
}
