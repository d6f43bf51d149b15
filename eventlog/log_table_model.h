#pragma once

#include "log_event.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <deque>
#include <vector>

// The log's events as table rows, oldest first. Rows are appended one by one;
// past the limit the oldest are dropped in blocks, so that a full log does not
// shift every row of the view at each new event.
class log_table_model : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum column { col_time, col_kind, col_channel, col_origin, col_text, column_count };
    // The event's kind and channel as numbers, for the filters.
    static constexpr int kind_role = Qt::UserRole;
    static constexpr int channel_role = Qt::UserRole + 1;

    explicit log_table_model(int limit, QObject* parent = nullptr);

    void set_events(const std::vector<log_event>& list);
    void append(const log_event& event);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::deque<log_event> rows;
    int limit;
};

// Shows the rows of one channel (or of none, -1 for all) and of one kind
// (-1 for all).
class log_filter_model : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    static constexpr int any = -1;

    using QSortFilterProxyModel::QSortFilterProxyModel;

    void set_filter(int channel, int kind);

protected:
    bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

private:
    int channel = any;
    int kind = any;
};
