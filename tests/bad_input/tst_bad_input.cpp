// Bad input the program survives without losing valid data: valid frame
// lines among every kind of broken one, and replies whose 32-bit values sit
// at the extremes on a channel panel (the sanitizer build catches overflowing
// conversions on the way).

#include "driver_type.h"
#include "laser_object.h"
#include "panel_template.h"
#include "pty_port.h"
#include "serial_fixture.h"

#include <QtWidgets>
#include <cmath>
#include <fcntl.h>
#include <random>
#include <unistd.h>

class tst_bad_input : public QObject
{
    Q_OBJECT

private slots:
    void mixed_stream_yields_exactly_the_valid_lines();
    void extreme_replies_show_as_numbers();
};

void tst_bad_input::mixed_stream_yields_exactly_the_valid_lines()
{
    std::mt19937 rng(4242u);
    const auto hex = [&](int n) {
        QByteArray d;
        while (d.size() < n)
            d += "0123456789abcdef"[rng() % 16];
        return d;
    };
    const QByteArray broken[] = {
        "t123801020304050607\r",                         // seven data bytes
        "t12g80102030405060708\r",                       // bad identifier digit
        "t12370102030405060708\r",                       // length digit 7
        "t12380102030405060zz8\r",                       // bad data digits
        "T1234567880102030405060708\r",                  // extended frame
        "r1238\rt\r\r\r\a\r",                            // remote frame, bare t, adapter answers
        "\x01\x80\xff z\x13" + QByteArray(300, 'y'),     // no line end at all
        "t" + QByteArray(1500, 'x') + "\r",              // longer than any tail kept
    };
    QByteArray stream;
    QList<QByteArray> expected;
    while (stream.size() < 64 * 1024) {
        if (rng() % 3 == 0) {
            stream += broken[rng() % std::size(broken)];
            continue;
        }
        const QByteArray line = hex(3) + "8" + hex(16);
        expected << "t" + line.toUpper() + "\r";
        const QByteArray stamp = rng() % 5 ? QByteArray() : hex(4); // an adapter timestamp
        stream += "t" + (rng() % 2 ? line : line.toUpper()) + stamp + "\r";
    }

    QTemporaryDir dir;
    pty_port pty;
    QVERIFY(pty.open(dir.filePath(QString("dev/ttyMIX%1").arg(QCoreApplication::applicationPid()))));
    window_side w;
    w.open(pty.link(), true);
    QTRY_COMPARE(w.events, QStringList{"connected"});
    // Uneven pieces, many beyond the tail bound: lines split across reads everywhere.
    ::fcntl(pty.master_fd(), F_SETFL, 0);
    for (int at = 0, piece = 0; at < stream.size(); at += piece) {
        piece = std::min(1 + int(rng() % 4000), stream.size() - at);
        QCOMPARE(::write(pty.master_fd(), stream.constData() + at, size_t(piece)), ssize_t(piece));
    }
    QTRY_COMPARE_WITH_TIMEOUT(w.records.size(), expected.size(), 20000);
    QTest::qWait(100);
    QCOMPARE(w.lines(), expected);
    QCOMPARE(w.events, QStringList{"connected"});
}

// Every reply code at the extremes, on a panel of every driver type and of
// type codes no board has: only numbers show, and the type holds.
void tst_bad_input::extreme_replies_show_as_numbers()
{
    const uint32_t extremes[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0u};
    const QRegularExpression non_number("\\b(nan|inf|infinity)\\b", QRegularExpression::CaseInsensitiveOption);
    const auto reply = [](int code, uint32_t v) { // from the channel's CAN ID, 5
        return serial_message_struct{0x100, {uint32_t(code), 5, 0, 0, v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}};
    };
    QStringList texts; // fault flags open a warning of their own: answer it, keep its text
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&texts] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            texts << box->text();
            box->accept();
        }
    });
    answerer.start(5);
    for (const int32_t type : {driver_type::cw, driver_type::precision_cw, driver_type::ps, driver_type::ns,
                               driver_type::soa_ns, driver_type::power_dcdc, INT32_MAX, INT32_MIN, -1, 0}) {
        QWidget panel;
        build_laser_panel(&panel, 2);
        laser_object channel(nullptr, 5, &panel);
        panel.show();
        texts.clear();
        channel.handle_driver_message(reply(0xD0, uint32_t(type)));
        const int32_t held = channel.worker->device_type.load();
        QVERIFY(driver_type::is_known(type) ? held == type : !driver_type::is_known(held));
        // Four passes give every code the same extreme, four mix them, so
        // limits and readings meet at opposite extremes too.
        for (int pass = 0; pass < 8; ++pass) {
            for (int code = 0x80; code <= 0xFF; ++code) {
                if (code != 0xD0)
                    channel.handle_driver_message(reply(code, extremes[pass < 4 ? pass : (code + pass) % 4]));
                channel.view_update();
            }
            QCoreApplication::processEvents();
            QStringList shown = texts;
            for (const QObject* o : panel.findChildren<QObject*>())
                for (const char* p : {"text", "title", "currentText"})
                    shown << o->objectName() + ": " + o->property(p).toString();
            for (const QDoubleSpinBox* s : panel.findChildren<QDoubleSpinBox*>())
                QVERIFY2(std::isfinite(s->value() + s->minimum() + s->maximum()), qPrintable(s->objectName()));
            const QStringList bad = shown.filter(non_number);
            QVERIFY2(bad.isEmpty(), qPrintable(QString("type %1 pass %2: ").arg(type).arg(pass) + bad.join("; ")));
            QCOMPARE(channel.worker->device_type.load(), held);
        }
        // All-ones fault words were among the values: the warning showed.
        QVERIFY(type != driver_type::power_dcdc || !texts.isEmpty());
        // A real type reported afterwards takes the panel over.
        channel.handle_driver_message(reply(0xD0, driver_type::ps));
        channel.view_update();
        QVERIFY(channel.ps_ns_widget->isVisibleTo(&panel));
    }
}

QTEST_MAIN(tst_bad_input)
#include "tst_bad_input.moc"
