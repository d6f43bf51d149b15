#include "log_page.h"

#include "event_log.h"
#include "log_table_model.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int channel_count = 10;
// Combo item data for "No channel" is channel 0; "All" is log_filter_model::any.
constexpr int no_channel = 0;

} // namespace

log_page::log_page(event_log& log, QWidget* parent)
    : QWidget(parent)
    , model(new log_table_model(log.memory_limit(), this))
    , filter(new log_filter_model(this))
    , table(new QTableView(this))
    , channel_box(new QComboBox(this))
    , kind_box(new QComboBox(this))
    , clear_button(new QPushButton(tr("Clear filters"), this))
{
    setObjectName(QStringLiteral("log_page"));
    table->setObjectName(QStringLiteral("log_table"));
    channel_box->setObjectName(QStringLiteral("log_channel_filter"));
    kind_box->setObjectName(QStringLiteral("log_kind_filter"));
    clear_button->setObjectName(QStringLiteral("log_clear_filters"));

    channel_box->addItem(tr("All channels"), log_filter_model::any);
    for (int ch = 1; ch <= channel_count; ++ch)
        channel_box->addItem(tr("Channel %1").arg(ch), ch);
    channel_box->addItem(tr("No channel"), no_channel);
    kind_box->addItem(tr("All kinds"), log_filter_model::any);
    for (int k = 0; k < log_kind_count; ++k)
        kind_box->addItem(log_kind_name(log_kind(k)), k);

    filter->setSourceModel(model);
    table->setModel(filter);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Fixed row heights and column widths: nothing is measured per row, which
    // keeps ten thousand rows cheap.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setColumnWidth(log_table_model::col_time, table->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) + 16);
    table->setColumnWidth(log_table_model::col_kind, table->fontMetrics().horizontalAdvance(QStringLiteral("connection")) + 16);
    table->setColumnWidth(log_table_model::col_channel, table->fontMetrics().horizontalAdvance(QStringLiteral("Channel")) + 16);
    table->setColumnWidth(log_table_model::col_origin, table->fontMetrics().horizontalAdvance(QStringLiteral("remote 255.255.255.255:65535")) + 16);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(tr("Show"), this));
    filters->addWidget(channel_box);
    filters->addWidget(kind_box);
    filters->addWidget(clear_button);
    filters->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table, 1);

    model->set_events(log.recent(log.memory_limit()));
    table->scrollToBottom();

    connect(&log, &event_log::sig_added, this, &log_page::sl_added);
    connect(channel_box, qOverload<int>(&QComboBox::currentIndexChanged), this, &log_page::sl_filter_changed);
    connect(kind_box, qOverload<int>(&QComboBox::currentIndexChanged), this, &log_page::sl_filter_changed);
    connect(clear_button, &QPushButton::clicked, this, &log_page::sl_clear_filters);
}

int log_page::visible_rows() const
{
    return filter->rowCount();
}

void log_page::sl_added(const log_event& event)
{
    QScrollBar* bar = table->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    model->append(event);
    if (following)
        table->scrollToBottom();
}

void log_page::sl_filter_changed()
{
    filter->set_filter(channel_box->currentData().toInt(), kind_box->currentData().toInt());
    table->scrollToBottom();
}

void log_page::sl_clear_filters()
{
    const QSignalBlocker block_channel(channel_box);
    const QSignalBlocker block_kind(kind_box);
    channel_box->setCurrentIndex(0);
    kind_box->setCurrentIndex(0);
    sl_filter_changed();
}
