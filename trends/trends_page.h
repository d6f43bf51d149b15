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
class QVBoxLayout;
class channel_plot;
class trend_store;

// The Trends page: a plot per enabled channel over the chosen span, redrawn
// twice a second while the page is shown and never while it is hidden; only
// the plots scrolled into view are redrawn.
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
    double span_s() const;
    // Brings the plots up to date; `all` also those scrolled out of view.
    void redraw(bool all = false);
    // Every plot of the page as one image.
    bool save_png(const QString& path);
    // Redraws so far (the page's cost is counted in them).
    int redraws() const { return redraw_count; }
    channel_plot* plot(int channel) const { return plots.at(size_t(channel - 1)); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ask_and_save();

    const trend_store& history;
    reading_source readings;
    QComboBox* span_combo = nullptr;  // children of this page
    QPushButton* save_button = nullptr;
    QLabel* empty_label = nullptr;
    QWidget* plots_box = nullptr;
    std::array<channel_plot*, 10> plots{};
    QTimer redraw_timer;
    QElapsedTimer since_redraw;
    int redraw_count = 0;
};
