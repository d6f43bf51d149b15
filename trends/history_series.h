#pragma once

#include <QVector>
#include <cmath>
#include <cstddef>
#include <deque>

// The history of one quantity of one channel over a day, in bounded memory:
// the last hour as sampled, older data in fixed buckets that keep the
// minimum and the maximum of what fell into them (and when), so a spike of
// one sample stays visible at any zoom. A NaN sample is a gap (no device).
class history_series
{
public:
    struct limits
    {
        double fine_s = 3600.0;   // kept as sampled
        size_t fine_max = 14400;  // samples kept as sampled at most (a faster source folds earlier)
        double bucket_s = 30.0;   // width of an older bucket
        double keep_s = 86400.0;  // nothing older is kept
        double hole_s = 5.0;      // samples further apart have a gap between them
    };

    history_series() = default;
    explicit history_series(const limits& l) : lim(l) {}

    // A sample at time t (seconds); one before the latest is dropped, so the
    // points stay in time order whatever the caller's clock did.
    void add(double t, double value);
    // Every kept point with from <= time <= to, in time order: bucket extremes, then samples.
    void points(double from, double to, QVector<double>& times, QVector<double>& values) const;
    // Points kept, for the memory bound.
    size_t size() const { return fine.size() + 2 * coarse.size(); }

private:
    struct sample
    {
        double t;
        double v;
    };
    struct bucket
    {
        double start;
        sample low{0.0, 0.0};
        sample high{0.0, 0.0};
        bool any = false;   // holds a number, not only gaps
        double gap_t = -1;  // time of a gap inside it, if any
    };
    double latest = -INFINITY;
    void fold(const sample& s);

    limits lim;
    std::deque<sample> fine;
    std::deque<bucket> coarse;
};
