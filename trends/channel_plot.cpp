#include "channel_plot.h"

#include "channel_reading.h"

#include <QDateTime>
#include <QLabel>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>

namespace {

constexpr int lane_height = 110;

QColor colour(trend_store::quantity q)
{
    static const QColor colours[] = {QColor(200, 0, 0), QColor(200, 0, 0), QColor(30, 79, 134), QColor(0, 140, 60),
                                     QColor(120, 60, 160), QColor(200, 120, 0), QColor(0, 140, 60), QColor(120, 60, 160)};
    return colours[q];
}

// Short enough for the height of a lane.
QString axis_label(trend_store::quantity q)
{
    const char* const names[] = {"Current", "Current", "Temp.", "Power", "Voltage", "Rate", "Output", "Input"};
    return QString::fromLatin1(names[q]) + QStringLiteral(" (") + trend_store::unit(q) + QLatin1Char(')');
}

} // namespace

channel_plot::channel_plot(QWidget* parent)
    : QWidget(parent)
    , title(new QLabel(this))
    , plot(new QCustomPlot(this))
    , readout(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 8);
    layout->setSpacing(2);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(plot);
    layout->addWidget(readout);
    readout->setText(QStringLiteral(" "));
    plot->plotLayout()->clear();
    // Never laid out at zero height: its paint buffer would be null.
    plot->setMinimumHeight(lane_height);
    connect(plot, &QCustomPlot::mouseMove, this, &channel_plot::mouse_moved);
}

void channel_plot::build(const std::vector<trend_store::quantity>& quantities)
{
    shown = quantities;
    lanes.clear();
    plot->clearGraphs();
    plot->plotLayout()->clear();
    auto* margins = new QCPMarginGroup(plot);
    for (trend_store::quantity q : quantities) {
        // An input voltage shares the output voltage's lane: same unit, compared at a glance.
        if (q == trend_store::input_voltage_V && !lanes.empty()
            && lanes.back().graphs.front().first == trend_store::output_voltage_V) {
            lanes.back().graphs.push_back({q, plot->addGraph(lanes.back().rect->axis(QCPAxis::atBottom),
                                                             lanes.back().rect->axis(QCPAxis::atLeft))});
            lanes.back().rect->axis(QCPAxis::atLeft)->setLabel(tr("Out / in (V)"));
            continue;
        }
        auto* rect = new QCPAxisRect(plot);
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        plot->plotLayout()->addElement(int(lanes.size()), 0, rect);
        QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
        rect->axis(QCPAxis::atBottom)->setTicker(ticker);
        QCPAxis* value_axis = rect->axis(QCPAxis::atLeft);
        value_axis->setLabel(axis_label(q));
        QFont small = value_axis->labelFont();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        value_axis->setLabelFont(small);
        value_axis->ticker()->setTickCount(3);
        lanes.push_back({rect, {{q, plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft))}}});
    }
    for (const lane& l : lanes) {
        for (const auto& g : l.graphs) {
            QPen pen(colour(g.first));
            // One pixel wide: a wider pen costs ten times more over a day of points.
            pen.setWidth(1);
            if (g.first == trend_store::input_voltage_V)
                pen.setStyle(Qt::DashLine);
            g.second->setPen(pen);
            g.second->setName(trend_store::title(g.first));
        }
        // Time labels only under the lowest lane.
        l.rect->axis(QCPAxis::atBottom)->setTickLabels(&l == &lanes.back());
    }
    plot->setMinimumHeight(std::max(1, int(lanes.size())) * lane_height + 20);
    plot->setMaximumHeight(plot->minimumHeight());
}

void channel_plot::show_history(const trend_store& store, const channel_reading& r, double from, double to)
{
    title->setText(tr("Channel %1: %2 (CAN ID %3)%4")
                       .arg(r.channel)
                       .arg(r.name.isEmpty() ? r.type_name : r.name)
                       .arg(r.can_id)
                       .arg(r.present ? QStringLiteral(", ") + r.type_name : tr(", no device")));
    const std::vector<trend_store::quantity> quantities = trend_store::family_quantities(r.type);
    // Without a device the plot keeps the lanes of the family it had.
    if (!quantities.empty() && quantities != shown)
        build(quantities);
    QVector<double> times;
    QVector<double> values;
    const double span = to - from;
    for (const lane& l : lanes) {
        double low = INFINITY;
        double high = -INFINITY;
        for (const auto& g : l.graphs) {
            const history_series* s = store.series(r.channel, g.first);
            times.clear();
            values.clear();
            if (s)
                s->points(from, to, times, values);
            g.second->setData(times, values, true);
            for (double v : values) {
                if (!std::isnan(v)) {
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
            }
        }
        QCPAxis* time_axis = l.rect->axis(QCPAxis::atBottom);
        time_axis->setRange(from, to);
        auto ticker = time_axis->ticker().staticCast<QCPAxisTickerDateTime>();
        ticker->setDateTimeFormat(span > 3 * 3600 ? QStringLiteral("hh:mm") : QStringLiteral("hh:mm:ss"));
        if (low > high)
            continue; // nothing yet: the axis stays as it was
        // A steady reading gets a band around it rather than a zero-height axis.
        const double pad = high > low ? (high - low) * 0.08 : std::max(0.05, std::fabs(high) * 0.01);
        l.rect->axis(QCPAxis::atLeft)->setRange(low - pad, high + pad);
    }
    // Not yet laid out: it draws itself when it gets its size.
    if (!plot->viewport().isEmpty())
        plot->replot(QCustomPlot::rpQueuedReplot);
}

QString channel_plot::readout_at(double t) const
{
    QStringList parts;
    for (const lane& l : lanes) {
        for (const auto& g : l.graphs) {
            const auto data = g.second->data();
            if (data->isEmpty())
                continue;
            auto it = data->findBegin(t, false);
            if (it != data->constBegin() && (it == data->constEnd() || std::fabs((it - 1)->key - t) < std::fabs(it->key - t)))
                --it;
            if (it == data->constEnd() || std::isnan(it->value))
                continue;
            parts << QStringLiteral("%1 %2 %3").arg(trend_store::title(g.first)).arg(it->value, 0, 'g', 6).arg(trend_store::unit(g.first));
        }
    }
    if (parts.isEmpty())
        return QString();
    const QString when = QDateTime::fromMSecsSinceEpoch(qint64(t * 1000)).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return when + QStringLiteral(":  ") + parts.join(QStringLiteral(",  "));
}

void channel_plot::mouse_moved(QMouseEvent* event)
{
    if (lanes.empty())
        return;
    const double t = lanes.front().rect->axis(QCPAxis::atBottom)->pixelToCoord(event->pos().x());
    const QString text = readout_at(t);
    readout->setText(text.isEmpty() ? QStringLiteral(" ") : text);
}
