#pragma once

// Shared pieces of the main window tests: a private working directory per test
// (settings.ini never leaks between tests), the simulated bus on a
// pseudo-terminal, frame lines as they appear on the wire, and the operator's
// hand on the configuration page and on question boxes.

#include "MainWindow.h"
#include "bus_simulator.h"
#include "main_window_form.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

namespace e2e {

// Runs the test body in a fresh temporary working directory.
class working_dir
{
public:
    working_dir() { QDir::setCurrent(dir.path()); }
    ~working_dir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }

private:
    QString previous = QDir::currentPath();
    QTemporaryDir dir;
};

// Data bytes of a frame line as sent to the adapter ("tIII8" + 16 hex digits + CR)
// addressed to can_id; empty for any other line.
inline QVector<int> frame_to(const QByteArray& line, int can_id)
{
    QVector<int> data;
    if (line.size() != 22 || line[0] != 't' || line[4] != '8' || line.mid(1, 3).toInt(nullptr, 16) != can_id)
        return data;
    for (int k = 0; k < 8; ++k)
        data << line.mid(5 + 2 * k, 2).toInt(nullptr, 16);
    return data;
}

// Codes of the frames addressed to can_id, in wire order.
inline QVector<int> codes_to(const QList<QByteArray>& lines, int can_id)
{
    QVector<int> codes;
    for (const QByteArray& line : lines) {
        if (!frame_to(line, can_id).isEmpty())
            codes << frame_to(line, can_id)[0];
    }
    return codes;
}

// Splits a code stream into polling passes, each beginning with 0xD0. Codes
// before the first 0xD0 belong to a pass begun before the recording, and the
// last pass may still be incomplete: both are dropped.
inline QVector<QVector<int>> complete_passes(const QVector<int>& codes)
{
    QVector<QVector<int>> passes;
    for (int code : codes) {
        if (code == 0xD0)
            passes.append(QVector<int>());
        if (!passes.isEmpty())
            passes.last() << code;
    }
    return passes.mid(0, passes.size() - 1);
}

// A simulated bus with the given boards (type code, CAN ID), readings settled at once.
inline std::unique_ptr<bus_simulator> start_bus(const QString& dir, const QList<QPair<int, int>>& boards,
                                                bool direct = false)
{
    static int count = 0;
    auto sim = std::make_unique<bus_simulator>();
    // A distinct name per simulator: the serial port library locks by name.
    sim->config.link_path =
        QDir(dir).filePath(QStringLiteral("dev/ttyE%1_%2").arg(QCoreApplication::applicationPid()).arg(++count));
    sim->config.direct_mode = direct;
    sim->config.settle_ms = 0;
    for (const auto& b : boards)
        sim->add_board(b.first, b.second);
    sim->start();
    return sim;
}

// Object name of a widget of channel slot 0..9: ("addr", 2) -> addr_3.
inline QString slot_name(const char* base, int slot)
{
    return QLatin1String(base) + (slot == 0 ? QString() : QStringLiteral("_%1").arg(slot + 1));
}

// Enables channel slots with the given CAN IDs and names on the configuration
// page, as an operator would type them, and applies.
inline void configure_channels(MainWindow& w, const QList<QPair<int, int>>& slot_and_id,
                               const QStringList& names = {})
{
    for (int i = 0; i < slot_and_id.size(); ++i) {
        const int slot = slot_and_id[i].first;
        w.findChild<QCheckBox*>(slot_name("dev_en", slot))->setChecked(true);
        w.findChild<QLineEdit*>(slot_name("addr", slot))->setText(QString::number(slot_and_id[i].second));
        w.findChild<QLineEdit*>(slot_name("edit_name", slot))->setText(names.value(i));
    }
    w.form()->pushButton->click();
}

// Answers the next modal box with `answer` whenever it appears, as long as the
// returned watcher lives (never beyond `texts`); its title and text go to `texts`.
[[nodiscard]] inline std::unique_ptr<QTimer> answer_next_question(QMessageBox::StandardButton answer,
                                                                  QStringList* texts = nullptr)
{
    auto poll = std::make_unique<QTimer>();
    QTimer* p = poll.get();
    QObject::connect(p, &QTimer::timeout, [p, answer, texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->button(answer))
            return; // not a question (a converter's flag box, say): left to the test
        p->stop();
        if (texts)
            *texts << box->windowTitle() << box->text();
        box->button(answer)->click();
    });
    poll->start(10);
    return poll;
}

} // namespace e2e
