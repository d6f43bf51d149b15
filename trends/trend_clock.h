#pragma once

#include <QString>

// The time base of the trends: seconds since the epoch as the wall clock read
// at the first call, carried on by a monotonic clock, so that samples stay in
// order when the wall clock is stepped back (or forward) while the program runs.
// Times are shown in the local time zone, named with it.
namespace trend_clock {

double now();
// `t` in local time as `format` ("yyyy-MM-dd hh:mm:ss"), then the zone's
// abbreviation ("2026-12-06 22:11:05 CET").
QString local_text(double t, const QString& format);
// The local zone as the page names it: "CET (UTC+01:00)".
QString zone_text(double t);

} // namespace trend_clock
