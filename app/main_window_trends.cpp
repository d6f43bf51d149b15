// Trends: the history of every enabled channel, sampled with the panels'
// refresh, and the Trends page that plots it.
#include "MainWindow.h"

#include "channel_reading.h"
#include "main_window_form.h"
#include "trend_clock.h"
#include "trend_store.h"
#include "trends_page.h"

void MainWindow::setup_trends()
{
    trend_history = std::make_unique<trend_store>();
    trend_view = new trends_page(*trend_history, [this] { return enabled_readings(); }, ui->page_5);
    ui->trends_layout->addWidget(trend_view);
    connect(&trend_sample_timer, &QTimer::timeout, this, &MainWindow::sample_trends);
    trend_sample_timer.start(trends_page::redraw_ms);
}

void MainWindow::sample_trends()
{
    // A monotonic time base: a wall clock stepped back would put points out of order.
    trend_history->add(enabled_readings(), trend_clock::now());
}

void MainWindow::on_main_menu_butt_4_clicked()
{
    show_trends();
}
