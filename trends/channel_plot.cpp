#include "channel_plot.h"

#include "channel_reading.h"
#include "trend_clock.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>

namespace {

// The readout takes a point this many pixels from the mouse at most.
constexpr int readout_pixels = 4;

QColor colour(trend_store::quantity q)
{
    static const QColor colours[] = {QColor(200, 0, 0), QColor(200, 0, 0), QColor(30, 79, 134), QColor(0, 140, 60),
                                     QColor(120, 60, 160), QColor(200, 120, 0), QColor(0, 140, 60), QColor(120, 60, 160)};
    return colours[q];
}

// Short enough for the height of a compact lane.
QString axis_label(trend_store::quantity q)
{
    const char* const names[] = {"I", "I", "T", "P", "U", "f", "Out", "In"};
    return QString::fromLatin1(names[q]) + QStringLiteral(" (") + trend_store::unit(q) + QLatin1Char(')');
}

} // namespace

channel_plot::channel_plot(QWidget* parent)
    : QWidget(parent)
    , title(new QLabel(this))
    , detail(new QLabel(this))
    , plot(new QCustomPlot(this))
{
    auto* info = new QVBoxLayout;
    info->setSpacing(0);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    // Names are shown as they are: no rich text, no line breaks.
    title->setTextFormat(Qt::PlainText);
    detail->setTextFormat(Qt::PlainText);
    title->setFixedWidth(info_width);
    detail->setFixedWidth(info_width);
    info->addWidget(title);
    info->addWidget(detail);
    info->addStretch(1);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 0, 1);
    row->setSpacing(4);
    row->addLayout(info);
    row->addWidget(plot, 1);
    plot->plotLayout()->clear();
    plot->setMouseTracking(true);
    // Never laid out at zero height: its paint buffer would be null.
    plot->setMinimumHeight(min_row_height);
    plot->setMinimumWidth(200);
    setMinimumHeight(min_row_height + 2);
    setMaximumHeight(3 * min_row_height);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

void channel_plot::build(const std::vector<trend_store::quantity>& quantities)
{
    shown = quantities;
    lanes.clear();
    plot->clearGraphs();
    plot->plotLayout()->clear();
    plot->plotLayout()->setColumnSpacing(6);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    for (trend_store::quantity q : quantities) {
        // An input voltage shares the output voltage's lane: same unit, compared at a glance.
        if (q == trend_store::input_voltage_V && !lanes.empty()
            && lanes.back().graphs.front().first == trend_store::output_voltage_V) {
            lanes.back().graphs.push_back({q, plot->addGraph(lanes.back().rect->axis(QCPAxis::atBottom),
                                                             lanes.back().rect->axis(QCPAxis::atLeft))});
            lanes.back().rect->axis(QCPAxis::atLeft)->setLabel(tr("Out/in (V)"));
            continue;
        }
        auto* rect = new QCPAxisRect(plot);
        rect->setAutoMargins(QCP::msLeft | QCP::msBottom);
        rect->setMargins(QMargins(0, 4, 4, 0));
        plot->plotLayout()->addElement(0, int(lanes.size()), rect);
        QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
        ticker->setTickCount(4);
        QCPAxis* time_axis = rect->axis(QCPAxis::atBottom);
        time_axis->setTicker(ticker);
        time_axis->setTickLabelFont(small);
        time_axis->setTickLabelPadding(2);
        QCPAxis* value_axis = rect->axis(QCPAxis::atLeft);
        value_axis->setLabel(axis_label(q));
        value_axis->setLabelFont(small);
        value_axis->setTickLabelFont(small);
        value_axis->setLabelPadding(1);
        value_axis->setTickLabelPadding(2);
        value_axis->ticker()->setTickCount(3);
        lanes.push_back({rect, {{q, plot->addGraph(time_axis, value_axis)}}});
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
    }
}

void channel_plot::show_title(const channel_reading& r)
{
    // Built by concatenation: a name is text, never a format ("%1" stays "%1").
    full_title = QString::number(r.channel) + QStringLiteral(": ") + (r.name.isEmpty() ? r.type_name : r.name);
    const QString second = tr("CAN ID %1, ").arg(r.can_id) + (r.present ? r.type_name : tr("no device"));
    const QFontMetrics title_metrics(title->font());
    title->setText(title_metrics.elidedText(full_title, Qt::ElideRight, info_width));
    detail->setText(QFontMetrics(detail->font()).elidedText(second, Qt::ElideRight, info_width));
    title->setToolTip(full_title);
}

QString channel_plot::title_text() const
{
    return title->text();
}

void channel_plot::show_history(const trend_store& store, const channel_reading& r, double from, double to)
{
    show_title(r);
    const std::vector<trend_store::quantity> quantities = trend_store::family_quantities(r.type);
    // Without a device the plot keeps the lanes of the family it had.
    if (!quantities.empty() && quantities != shown)
        build(quantities);
    QVector<double> times;
    QVector<double> values;
    const double span = to - from;
    // The date only where the span needs it: the page names the day and the zone.
    const bool two_days = QDateTime::fromMSecsSinceEpoch(qint64(from * 1000)).date()
                          != QDateTime::fromMSecsSinceEpoch(qint64(to * 1000)).date();
    const QString format = two_days ? QStringLiteral("d MMM hh:mm")
                                    : span > 3 * 3600 ? QStringLiteral("hh:mm") : QStringLiteral("hh:mm:ss");
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
        time_axis->ticker().staticCast<QCPAxisTickerDateTime>()->setDateTimeFormat(format);
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

QString channel_plot::readout_at(double t, double tolerance_s) const
{
    QStringList parts;
    double at = t;
    double nearest = INFINITY;
    for (const lane& l : lanes) {
        for (const auto& g : l.graphs) {
            const auto data = g.second->data();
            auto it = data->findBegin(t, false);
            if (it != data->constBegin() && (it == data->constEnd() || std::fabs((it - 1)->key - t) < std::fabs(it->key - t)))
                --it;
            // Only a value that was there: no point near, or a gap, reads nothing.
            if (it == data->constEnd() || std::fabs(it->key - t) > tolerance_s || std::isnan(it->value))
                continue;
            if (std::fabs(it->key - t) < nearest) {
                nearest = std::fabs(it->key - t);
                at = it->key;
            }
            parts << trend_store::title(g.first) + QLatin1Char(' ') + QString::number(it->value, 'g', 7)
                         + QLatin1Char(' ') + trend_store::unit(g.first);
        }
    }
    if (parts.isEmpty())
        return QString();
    return full_title + QStringLiteral(", ") + trend_clock::local_text(at, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
           + QStringLiteral(":  ") + parts.join(QStringLiteral(",  "));
}

double channel_plot::time_at_pixel(int x) const
{
    for (const lane& l : lanes) {
        if (x <= l.rect->rect().right() || &l == &lanes.back())
            return l.rect->axis(QCPAxis::atBottom)->pixelToCoord(x);
    }
    return 0.0;
}

double channel_plot::seconds_per_pixel() const
{
    if (lanes.empty())
        return 0.0;
    const QCPAxis* axis = lanes.front().rect->axis(QCPAxis::atBottom);
    return axis->range().size() / std::max(1, axis->axisRect()->width());
}

QString channel_plot::readout_at_pixel(int x) const
{
    // The lane under the mouse decides the time; every lane shares the span.
    for (const lane& l : lanes) {
        const QRect r = l.rect->rect();
        if (x < r.left() || x > r.right())
            continue;
        const QCPAxis* axis = l.rect->axis(QCPAxis::atBottom);
        const double per_pixel = axis->range().size() / std::max(1, r.width());
        return readout_at(axis->pixelToCoord(x), readout_pixels * per_pixel);
    }
    return QString();
}
