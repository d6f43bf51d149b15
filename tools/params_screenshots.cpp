// Renders the device parameters window for a CW and a PS board into PNG files
// (first argument: output folder). Run with QT_QPA_PLATFORM=offscreen.
#include "laser_object.h"
#include "laser_params.h"
#include "laser_worker.h"
#include "panel_template.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <memory>
#include <utility>
#include <vector>

namespace {

void reply(laser_object& channel, int code, int32_t value)
{
    serial_message_struct sm;
    sm.data[0] = static_cast<uint32_t>(code);
    sm.data[1] = static_cast<uint32_t>(channel.can_id);
    const auto u = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k)
        sm.data[4 + k] = (u >> (24 - 8 * k)) & 0xFF;
    channel.handle_driver_message(sm);
}

bool render(const QString& file, const QString& name,
            const std::vector<std::pair<int, int32_t>>& replies)
{
    QWidget container;
    build_laser_panel(&container, 1);
    laser_object channel(nullptr, 3, &container);
    channel.name = name;
    for (const auto& r : replies)
        reply(channel, r.first, r.second);

    laser_params window;
    window.active = true;
    window.laser = &channel;
    window.fill_editors();
    window.show();
    // A few refreshes: the size follows the rows shown one refresh later.
    for (int i = 0; i < 3; ++i) {
        window.view_update_timer_slot();
        QApplication::processEvents();
    }
    return window.grab().save(file);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const bool cw = render(out.filePath("laser_params_cw.png"), "Seed laser",
                           {{0xD0, 8}, {0xD1, 3}, {0x96, 10000}, {0x95, 3950}, {0x97, 125},
                            {0xB7, 350}, {0xB6, 150}, {0xA5, 1500}, {0xA6, 0}, {0xB3, 25}});
    const bool ps = render(out.filePath("laser_params_ps.png"), "Pump",
                           {{0xD0, 7}, {0xD1, 4}, {0x96, 10000}, {0x95, 3380}, {0x97, 35},
                            {0xA5, 4500}, {0xA6, 0}, {0xB7, 400}, {0xB6, 100}});
    return cw && ps ? 0 : 1;
}
