#pragma once

#include "log_event.h"

#include <QWidget>

class QComboBox;
class QPushButton;
class QTableView;
class event_log;
class log_filter_model;
class log_table_model;

// The Log page: the events the log holds, newest at the bottom, filtered by
// channel and kind. New events are appended as they come; the view follows
// them while it is scrolled to the bottom and stays put when the user scrolled up.
class log_page : public QWidget
{
    Q_OBJECT

public:
    explicit log_page(event_log& log, QWidget* parent = nullptr);

    // Rows shown after filtering (for the status text and for tests).
    int visible_rows() const;

private:
    void sl_added(const log_event& event);
    void sl_filter_changed();
    void sl_clear_filters();

    log_table_model* model;
    log_filter_model* filter;
    QTableView* table;
    QComboBox* channel_box;
    QComboBox* kind_box;
    QPushButton* clear_button;
};
