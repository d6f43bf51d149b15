#pragma once

#include "trend_store.h"

#include <QWidget>
#include <utility>
#include <vector>

struct channel_reading;
class QCPAxisRect;
class QCPGraph;
class QCustomPlot;
class QLabel;

// The trends of one channel as one compact row: its number, name, CAN ID and
// type on the left, then one lane per reading of its family side by side
// (voltages of a Power DCDC share one), all over the same time span.
class channel_plot : public QWidget
{
    Q_OBJECT

public:
    static constexpr int info_width = 200;
    static constexpr int min_row_height = 78;

    explicit channel_plot(QWidget* parent = nullptr);

    // Shows the channel's history from `from` to `to` (seconds on the trend
    // clock), each value axis scaled to what it shows.
    void show_history(const trend_store& store, const channel_reading& r, double from, double to);
    // The values at time `t` of every lane that has a point within `tolerance_s`
    // of it, with that point's time; empty where no data is that near.
    QString readout_at(double t, double tolerance_s) const;
    // The readout for the pixel column `x` of the plot (a few pixels' tolerance).
    QString readout_at_pixel(int x) const;
    // Time at the pixel column `x`, and seconds per pixel of the time axis.
    double time_at_pixel(int x) const;
    double seconds_per_pixel() const;
    QCustomPlot* chart() const { return plot; }
    QString title_text() const;

private:
    struct lane
    {
        QCPAxisRect* rect = nullptr;
        std::vector<std::pair<trend_store::quantity, QCPGraph*>> graphs;
    };
    void build(const std::vector<trend_store::quantity>& quantities);
    void show_title(const channel_reading& r);

    QLabel* title = nullptr;    // owned by this widget, as the two below
    QLabel* detail = nullptr;
    QCustomPlot* plot = nullptr;
    QString full_title;
    std::vector<trend_store::quantity> shown;
    std::vector<lane> lanes;
};
