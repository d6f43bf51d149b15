#include "history_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

void history_series::add(double t, double value)
{
    if (t < latest)
        return;
    // Nothing was sampled for a while (the program stalled, the clock jumped):
    // no line is drawn across the time nobody looked.
    if (t - latest > lim.hole_s && !fine.empty() && !std::isnan(fine.back().v))
        fine.push_back({latest, std::numeric_limits<double>::quiet_NaN()});
    latest = t;
    fine.push_back({t, value});
    while (!fine.empty() && (t - fine.front().t > lim.fine_s || fine.size() > lim.fine_max)) {
        fold(fine.front());
        fine.pop_front();
    }
    while (!coarse.empty() && t - (coarse.front().start + lim.bucket_s) > lim.keep_s)
        coarse.pop_front();
}

void history_series::fold(const sample& s)
{
    const double start = std::floor(s.t / lim.bucket_s) * lim.bucket_s;
    if (coarse.empty() || coarse.back().start != start)
        coarse.push_back(bucket{start});
    bucket& b = coarse.back();
    if (std::isnan(s.v)) {
        b.gap_t = s.t;
        return;
    }
    if (!b.any) {
        b.low = b.high = s;
        b.any = true;
        return;
    }
    if (s.v < b.low.v)
        b.low = s;
    if (s.v > b.high.v)
        b.high = s;
}

void history_series::points(double from, double to, QVector<double>& times, QVector<double>& values) const
{
    times.clear();
    values.clear();
    auto put = [&](const sample& s) {
        if (s.t >= from && s.t <= to) {
            times.append(s.t);
            values.append(s.v);
        }
    };
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const auto first = std::lower_bound(coarse.begin(), coarse.end(), from - lim.bucket_s,
                                        [](const bucket& b, double t) { return b.start < t; });
    for (auto b = first; b != coarse.end(); ++b) {
        // Extremes and a gap in the order they happened, so the line breaks where the board went.
        sample in_order[3];
        int n = 0;
        if (b->any) {
            in_order[n++] = b->low;
            if (b->high.t != b->low.t)
                in_order[n++] = b->high;
        }
        if (b->gap_t >= 0)
            in_order[n++] = {b->gap_t, nan};
        std::sort(in_order, in_order + n, [](const sample& a, const sample& c) { return a.t < c.t; });
        std::for_each(in_order, in_order + n, put);
    }
    const auto f = std::lower_bound(fine.begin(), fine.end(), from, [](const sample& s, double t) { return s.t < t; });
    for (auto s = f; s != fine.end() && s->t <= to; ++s)
        put(*s);
}
