#include "sim_config.h"

#include "sim_board.h"

#include <QDir>
#include <QStringList>

bool sim_config::parse_board(const QString& text, sim_board_setup& setup, QString& error)
{
    const QStringList parts = text.split(':');
    if (parts.size() < 2 || parts.size() > 3) {
        error = QString("board \"%1\": expected TYPE:CANID").arg(text);
        return false;
    }
    setup = sim_board_setup{};
    setup.type_code = sim_board::type_code_from_name(parts[0]);
    if (setup.type_code == 0) {
        error = QString("board \"%1\": unknown type \"%2\"").arg(text, parts[0]);
        return false;
    }
    bool ok = false;
    setup.can_id = parts[1].toInt(&ok, 0);
    if (!ok || setup.can_id < 0 || setup.can_id > 255) {
        error = QString("board \"%1\": CAN ID must be 0 to 255").arg(text);
        return false;
    }
    if (parts.size() == 3) {
        for (const QString& item : parts[2].split(',', Qt::SkipEmptyParts)) {
            const QStringList kv = item.split('=');
            bool value_ok = false;
            const QString key = kv.value(0).trimmed();
            if (kv.size() == 2 && key == "out")
                setup.output_voltage = kv[1].toDouble(&value_ok);
            else if (kv.size() == 2 && key == "in")
                setup.input_voltage = kv[1].toDouble(&value_ok);
            else if (kv.size() == 2 && key == "faults")
                setup.fault_flags = kv[1].toInt(&value_ok, 0);
            else if (kv.size() == 2 && key.size() == 3 && key.startsWith('r')) {
                bool code_ok = false;
                const int code = key.mid(1).toInt(&code_ok, 16);
                const int32_t raw = kv[1].toInt(&value_ok, 0);
                value_ok = value_ok && code_ok && code > 0 && code < 0x80;
                setup.registers.append({code, raw});
            }
            if (!value_ok) {
                error = QString("board \"%1\": bad option \"%2\"").arg(text, item);
                return false;
            }
        }
    }
    return true;
}

QString sim_config::default_link_path()
{
    return QDir::tempPath() + "/corvane-sim/dev/ttyCAN0";
}
