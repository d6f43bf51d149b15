#include "log_table_model.h"

namespace {

// Rows dropped at once when the limit is passed, as a share of the limit.
constexpr int trim_share = 10;

} // namespace

log_table_model::log_table_model(int row_limit, QObject* parent)
    : QAbstractTableModel(parent)
    , limit(qMax(1, row_limit))
{
}

void log_table_model::set_events(const std::vector<log_event>& list)
{
    beginResetModel();
    const size_t skip = list.size() > size_t(limit) ? list.size() - size_t(limit) : 0;
    rows.assign(list.begin() + std::ptrdiff_t(skip), list.end());
    endResetModel();
}

void log_table_model::append(const log_event& event)
{
    const int n = int(rows.size());
    if (n >= limit + qMax(1, limit / trim_share)) {
        const int drop = n - limit + 1;
        beginRemoveRows(QModelIndex(), 0, drop - 1);
        rows.erase(rows.begin(), rows.begin() + drop);
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), int(rows.size()), int(rows.size()));
    rows.push_back(event);
    endInsertRows();
}

int log_table_model::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int log_table_model::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : column_count;
}

QVariant log_table_model::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows.size()))
        return QVariant();
    const log_event& e = rows[size_t(index.row())];
    if (role == kind_role)
        return int(e.kind);
    if (role == channel_role)
        return e.channel;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    switch (index.column()) {
    case col_time:
        return e.utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    case col_kind:
        return log_kind_name(e.kind);
    case col_channel:
        return e.channel > 0 ? QVariant(e.channel) : QVariant(QString());
    case col_origin:
        return e.origin;
    case col_text:
        return e.text;
    }
    return QVariant();
}

QVariant log_table_model::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case col_time: return tr("Time");
    case col_kind: return tr("Kind");
    case col_channel: return tr("Channel");
    case col_origin: return tr("Origin");
    case col_text: return tr("Event");
    }
    return QVariant();
}

void log_filter_model::set_filter(int channel_wanted, int kind_wanted)
{
    channel = channel_wanted;
    kind = kind_wanted;
    invalidateFilter();
}

bool log_filter_model::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const
{
    const QModelIndex index = sourceModel()->index(source_row, 0, source_parent);
    if (channel != any && index.data(log_table_model::channel_role).toInt() != channel)
        return false;
    return kind == any || index.data(log_table_model::kind_role).toInt() == kind;
}
