#include "trend_clock.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cstdlib>

namespace trend_clock {

double now()
{
    static const qint64 wall_at_start = QDateTime::currentMSecsSinceEpoch();
    static QElapsedTimer since_start;
    if (!since_start.isValid())
        since_start.start();
    return (wall_at_start + since_start.nsecsElapsed() / 1000000.0) / 1000.0;
}

QString local_text(double t, const QString& format)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(t * 1000.0));
    return local.toString(format) + QLatin1Char(' ') + local.timeZoneAbbreviation();
}

QString zone_text(double t)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(t * 1000.0));
    const int offset_min = local.offsetFromUtc() / 60;
    const QChar sign = offset_min < 0 ? QLatin1Char('-') : QLatin1Char('+');
    return QStringLiteral("%1 (UTC%2%3:%4)")
        .arg(local.timeZoneAbbreviation(), sign)
        .arg(std::abs(offset_min) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(offset_min) % 60, 2, 10, QLatin1Char('0'));
}

} // namespace trend_clock
