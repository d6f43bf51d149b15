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
class QMouseEvent;

// The trends of one channel: its name, one lane per reading of its family
// (voltages of a Power DCDC share one) over a common time axis, and a line
// under the plot that reads out the values under the mouse.
class channel_plot : public QWidget
{
    Q_OBJECT

public:
    explicit channel_plot(QWidget* parent = nullptr);

    // Shows the channel's history from `from` to `to` (seconds since the epoch),
    // each value axis scaled to what it shows.
    void show_history(const trend_store& store, const channel_reading& r, double from, double to);
    // The readout for a time (what the mouse points at); empty without data.
    QString readout_at(double t) const;
    QCustomPlot* chart() const { return plot; }

private:
    struct lane
    {
        QCPAxisRect* rect = nullptr;
        std::vector<std::pair<trend_store::quantity, QCPGraph*>> graphs;
    };
    void build(const std::vector<trend_store::quantity>& quantities);
    void mouse_moved(QMouseEvent* event);

    QLabel* title = nullptr;    // owned by this widget, as the two below
    QCustomPlot* plot = nullptr;
    QLabel* readout = nullptr;
    std::vector<trend_store::quantity> shown;
    std::vector<lane> lanes;
};
