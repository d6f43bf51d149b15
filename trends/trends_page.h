#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

struct channel_reading;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class channel_plot;
class trend_store;

// The Trends page: a compact row per enabled channel over the chosen span,
// redrawn twice a second while the page is shown and never while it is
// hidden; only the rows scrolled into view are redrawn. The view follows the
// present ("Live") until the operator zooms (Ctrl+wheel) or pans (drag,
// Shift+wheel) the time axis; the plain wheel scrolls the page. One line
// above the rows reads out the values under the mouse.
class trends_page : public QWidget
{
    Q_OBJECT

public:
    using reading_source = std::function<std::vector<channel_reading>()>;
    static constexpr int redraw_ms = 500;

    // `source` gives the enabled channels' readings (names, types).
    trends_page(const trend_store& store, reading_source source, QWidget* parent = nullptr);

    // Spans offered: 1 min, 10 min, 1 h, 24 h (index into the list).
    void set_span(int index);
    // The span shown now (zoomed or chosen), in seconds.
    double span_s() const { return view_span; }
    // The time at the right edge of the plots (the trend clock's now while live).
    double view_end() const;
    bool live() const { return following; }
    // Brings the plots up to date; `all` also those scrolled out of view.
    void redraw(bool all = false);
    // Every plot of the page as one image (no readout in it).
    bool save_png(const QString& path);
    // Redraws so far (the page's cost is counted in them).
    int redraws() const { return redraw_count; }
    channel_plot* plot(int channel) const { return plots.at(size_t(channel - 1)); }
    QString readout() const;
    // The name "Save as PNG" suggests: the shown zone's time of now.
    static QString suggested_png_name(double t);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ask_and_save();
    void zoom(double factor, double around);
    void pan(double seconds);
    void go_live();
    void show_range(double from, double to);
    channel_plot* plot_of(QObject* chart) const;

    const trend_store& history;
    reading_source readings;
    QComboBox* span_combo = nullptr;  // children of this page
    QPushButton* live_button = nullptr;
    QPushButton* save_button = nullptr;
    QLabel* range_label = nullptr;
    QLabel* readout_label = nullptr;
    QLabel* empty_label = nullptr;
    QScrollArea* scroll = nullptr;
    QWidget* plots_box = nullptr;
    std::array<channel_plot*, 10> plots{};
    QTimer redraw_timer;
    QElapsedTimer since_redraw;
    int redraw_count = 0;
    bool following = true;
    double view_span = 600.0;
    double fixed_end = 0.0; // right edge while not live
    int drag_x = -1;        // where a drag began, -1 without one
};
