// Cost of the 500 ms view refresh over ten live channel panels, shown on an
// offscreen window: once with readings that do not change between ticks, once
// with every reading changing before every tick. Prints medians.

#include "laser_object.h"
#include "panel_template.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

void feed(laser_object& o, int code, int32_t value)
{
    serial_message_struct sm;
    sm.data[0] = static_cast<uint32_t>(code);
    const auto raw = static_cast<uint32_t>(value);
    sm.data[4] = raw >> 24 & 0xFF;
    sm.data[5] = raw >> 16 & 0xFF;
    sm.data[6] = raw >> 8 & 0xFF;
    sm.data[7] = raw & 0xFF;
    o.handle_driver_message(sm);
}

// Every reading a board of any family reports, shifted by k.
void feed_readings(laser_object& o, int k)
{
    const int v = k % 50;
    feed(o, 0x90, 1);
    feed(o, 0xA2, 1);
    feed(o, 0x91, 500 + v);
    feed(o, 0x92, 250 + v);
    feed(o, 0x94, o.worker->device_type == 11 ? 400 : 30 + v); // DCDC: input voltage
    feed(o, 0x98, 800 + v);
    feed(o, 0x99, v % 2 ? 100 : 200);
    feed(o, 0xA3, 400 + v);
    feed(o, 0xA4, 0);
    feed(o, 0xA6, o.worker->device_type == 11 ? 100 + v : 0);
    feed(o, 0xB3, 2);
    feed(o, 0xB4, 1 + v);
    feed(o, 0xB5, 0);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QScrollArea area;
    auto* contents = new QWidget;
    auto* layout = new QVBoxLayout(contents);
    std::vector<std::unique_ptr<laser_object>> channels;
    const int types[10] = {8, 10, 11, 7, 6, 13, 8, 7, 6, 11};
    for (int i = 0; i < 10; ++i) {
        auto* panel = new QWidget(contents);
        build_laser_panel(panel, i + 1);
        layout->addWidget(panel);
        channels.push_back(std::make_unique<laser_object>(nullptr, 1, panel));
        channels.back()->name = QStringLiteral("LASER%1").arg(i + 1);
        feed(*channels.back(), 0xD0, types[i]);
    }
    area.setWidget(contents);
    area.setWidgetResizable(true);
    area.resize(1000, 4000);
    area.show();

    auto tick = [&] {
        for (auto& c : channels)
            c->view_update();
    };
    for (int k = 0; k < 20; ++k) { // setup and set-point adoption
        for (auto& c : channels)
            feed_readings(*c, 0);
        tick();
        app.processEvents();
    }

    const int rounds = 400;
    std::vector<double> unchanged, unchanged_with_paint, changing, changing_with_paint;
    QElapsedTimer t;
    for (int k = 0; k < rounds; ++k) {
        for (auto& c : channels)
            feed_readings(*c, 0);
        t.start();
        tick();
        unchanged.push_back(t.nsecsElapsed() / 1e3);
        app.processEvents();
        unchanged_with_paint.push_back(t.nsecsElapsed() / 1e3);
    }
    for (int k = 0; k < rounds; ++k) {
        for (auto& c : channels)
            feed_readings(*c, k + 1);
        t.start();
        tick();
        changing.push_back(t.nsecsElapsed() / 1e3);
        app.processEvents();
        changing_with_paint.push_back(t.nsecsElapsed() / 1e3);
    }

    // One line per case: name, median, max, median including the paint pass (µs).
    std::printf("# view_update over 10 live channels, %d ticks per case, microseconds\n", rounds);
    std::printf("unchanged median %.1f max %.1f with_paint %.1f\n", median(unchanged),
                *std::max_element(unchanged.begin(), unchanged.end()), median(unchanged_with_paint));
    std::printf("changing median %.1f max %.1f with_paint %.1f\n", median(changing),
                *std::max_element(changing.begin(), changing.end()), median(changing_with_paint));
    return 0;
}
