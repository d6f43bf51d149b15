// Replies whose 32-bit values sit at the extremes, for every reply code, fed
// to a channel of every driver type and shown on a real channel panel: the
// view must stay finite and readable (the sanitizer build catches undefined
// behaviour on the way, such as overflowing conversions).

#include "driver_type.h"
#include "laser_object.h"
#include "panel_template.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <cmath>

namespace {

constexpr int own_can_id = 5;
constexpr int device_type_code = 0xD0;
const uint32_t extremes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0u};

serial_message_struct reply(int code, uint32_t raw)
{
    serial_message_struct sm{};
    sm.id = 0x100;
    sm.data[0] = uint32_t(code);
    sm.data[1] = own_can_id;
    sm.data[4] = raw >> 24 & 0xFF;
    sm.data[5] = raw >> 16 & 0xFF;
    sm.data[6] = raw >> 8 & 0xFF;
    sm.data[7] = raw & 0xFF;
    return sm;
}

// Every text the panel shows (and every message box it opened) that reads
// as a non-number; empty when there is none.
QStringList non_numbers(const QWidget& panel, const QStringList& box_texts)
{
    static const QRegularExpression bad(QStringLiteral("\\b(nan|inf|infinity)\\b"),
                                        QRegularExpression::CaseInsensitiveOption);
    QStringList found;
    auto check = [&](const QObject* w, const QString& text) {
        if (bad.match(text).hasMatch())
            found << w->objectName() + QStringLiteral(": ") + text;
    };
    for (const QLabel* w : panel.findChildren<QLabel*>())
        check(w, w->text());
    for (const QAbstractButton* w : panel.findChildren<QAbstractButton*>())
        check(w, w->text());
    for (const QGroupBox* w : panel.findChildren<QGroupBox*>())
        check(w, w->title());
    for (const QComboBox* w : panel.findChildren<QComboBox*>())
        check(w, w->currentText());
    for (const QTabWidget* w : panel.findChildren<QTabWidget*>())
        for (int i = 0; i < w->count(); ++i)
            check(w, w->tabText(i));
    for (const QProgressBar* w : panel.findChildren<QProgressBar*>())
        check(w, w->text());
    for (const QDoubleSpinBox* w : panel.findChildren<QDoubleSpinBox*>()) {
        check(w, w->text());
        if (!std::isfinite(w->value()) || !std::isfinite(w->minimum()) || !std::isfinite(w->maximum()))
            found << w->objectName() + QStringLiteral(": value or range not finite");
    }
    for (const QString& text : box_texts)
        if (bad.match(text).hasMatch())
            found << QStringLiteral("message box: ") + text;
    return found;
}

} // namespace

class test_extreme_values : public QObject
{
    Q_OBJECT

private slots:
    void extreme_values_of_every_reply_code_show_as_numbers_data();
    void extreme_values_of_every_reply_code_show_as_numbers();
    void extreme_device_type_codes_are_survived();
};

void test_extreme_values::extreme_values_of_every_reply_code_show_as_numbers_data()
{
    QTest::addColumn<int>("type");
    for (int type : {driver_type::cw, driver_type::precision_cw, driver_type::ps, driver_type::ns,
                     driver_type::soa_ns, driver_type::power_dcdc})
        QTest::newRow(qPrintable(driver_type::name(type))) << type;
}

void test_extreme_values::extreme_values_of_every_reply_code_show_as_numbers()
{
    QFETCH(int, type);
    QWidget panel;
    build_laser_panel(&panel, 2);
    laser_object channel(nullptr, own_can_id, &panel);
    QVERIFY(channel.bound());
    panel.show();

    // Fault flags open a modal warning on their own; answer it and keep its text.
    QStringList box_texts;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&box_texts] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box_texts << box->text();
            box->accept();
        }
    });
    answerer.start(5);

    channel.handle_driver_message(reply(device_type_code, uint32_t(type)));
    channel.view_update();
    QCOMPARE(channel.worker->device_type.load(), type);

    // The first four passes give every code the same extreme, the next four
    // mix them, so limits and readings meet at opposite extremes too.
    for (int pass = 0; pass < 8; ++pass) {
        for (int code = 0x80; code <= 0xFF; ++code) {
            if (code == device_type_code)
                continue;
            const uint32_t raw = pass < 4 ? extremes[pass] : extremes[(code + pass) % 4];
            channel.handle_driver_message(reply(code, raw));
            channel.view_update();
        }
        channel.view_update();
        QCoreApplication::processEvents();
        const QStringList found = non_numbers(panel, box_texts);
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("pass %1: ").arg(pass) + found.join(QStringLiteral("; "))));
        QCOMPARE(channel.worker->device_type.load(), type);
    }
    // All-ones fault words were among the values: the warning must have shown.
    if (type == driver_type::power_dcdc)
        QVERIFY(!box_texts.isEmpty());
}

void test_extreme_values::extreme_device_type_codes_are_survived()
{
    QWidget panel;
    build_laser_panel(&panel, 1);
    laser_object channel(nullptr, own_can_id, &panel);
    QVERIFY(channel.bound());
    panel.show();
    for (uint32_t raw : extremes) {
        channel.handle_driver_message(reply(device_type_code, raw));
        channel.view_update();
        for (int code = 0x80; code <= 0xFF; ++code) {
            if (code != device_type_code)
                channel.handle_driver_message(reply(code, raw));
        }
        channel.view_update();
        const QStringList found = non_numbers(panel, {});
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral("; "))));
        QVERIFY(!driver_type::is_known(channel.worker->device_type.load()));
    }
    // A real type reported afterwards still takes over the panel.
    channel.handle_driver_message(reply(device_type_code, driver_type::ps));
    channel.view_update();
    QCOMPARE(channel.worker->device_type.load(), driver_type::ps);
    QVERIFY(channel.ps_ns_widget->isVisibleTo(&panel));
}

QTEST_MAIN(test_extreme_values)
#include "test_extreme_values.moc"
