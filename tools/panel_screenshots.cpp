// Renders one channel panel per driver type, driven by decoded reply frames,
// to PNG files: panel_screenshots <output directory>.

#include "laser_object.h"
#include "panel_template.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <initializer_list>
#include <utility>

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

struct shot
{
    const char* file;
    int type;
    std::initializer_list<std::pair<int, int32_t>> replies;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));

    const shot shots[] = {
        {"cw.png", 8, {{0x90, 1}, {0x91, 1234}, {0x92, 253}, {0x94, 57}, {0xB7, 350}, {0xB6, 150},
                       {0xA5, 1500}, {0xA6, 0}, {0xB3, 2}}},
        {"precision_cw.png", 10, {{0x90, 1}, {0x91, 1234567}, {0x92, 252500}, {0x94, 12},
                                  {0xB7, 30000}, {0xB6, 20000}, {0xA5, 20000}, {0xA6, 0}, {0xB3, 2}}},
        {"power_dcdc.png", 11, {{0x90, 1}, {0x91, 820}, {0x92, 383}, {0xA6, 240}, {0x94, 480}, {0xB0, 0}}},
        {"ps.png", 7, {{0xA2, 1}, {0x98, 1234}, {0x92, 253}, {0x99, 100}, {0xB4, 3}, {0xB5, 2},
                       {0xA4, 3}, {0xA5, 2000}, {0xA6, 0}, {0xB7, 350}, {0xB6, 150}}},
        {"ns.png", 6, {{0xA2, 1}, {0x98, 456}, {0x92, 248}, {0x99, 100}, {0xA3, 1000}, {0xB4, 0},
                       {0xB5, 0}, {0xA4, 0}, {0xA5, 1000}, {0xA6, 0}, {0xB7, 350}, {0xB6, 150}}},
        {"power_dcdc_failure.png", 11, {{0x90, 1}, {0x91, 1050}, {0x92, 612}, {0xA6, 350}, {0x94, 400},
                                        {0xB0, 0x05}}},
        {"soa_ns.png", 13, {{0xA2, 0}, {0x98, 0}, {0x92, 251}, {0x99, 500}, {0xA3, 300}, {0xB4, 0},
                            {0xB5, 0}, {0xA4, 2}, {0xA5, 600}, {0xA6, 0}, {0xB7, 350}, {0xB6, 150}}},
    };

    // The main window is 997 pixels wide by default; a panel gets about that.
    const int panel_width = 980;
    // The flag box opens by itself on a flagged Power DCDC panel: answer it.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    answer.start(20);

    int channel = 1;
    for (const shot& s : shots) {
        QWidget panel;
        build_laser_panel(&panel, channel);
        laser_object object(nullptr, 1, &panel);
        object.name = QStringLiteral("LASER%1").arg(channel);
        ++channel;
        feed(object, 0xD0, s.type);
        for (const auto& r : s.replies)
            feed(object, r.first, r.second);
        panel.resize(panel_width, panel.sizeHint().height());
        panel.show();
        for (int tick = 0; tick < 10; ++tick) { // setup, adoption, then steady
            for (const auto& r : s.replies)
                feed(object, r.first, r.second);
            object.view_update();
            app.processEvents();
        }
        panel.resize(panel_width, panel.sizeHint().height());
        app.processEvents();
        const QString path = out.filePath(QString::fromLatin1(s.file));
        if (!panel.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
