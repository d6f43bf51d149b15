#include "sim_engine.h"

#include <algorithm>

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

namespace {

// Unread input beyond this is not a command any more.
constexpr int max_line_bytes = 4096;
// Output that the other side does not take is kept up to this size.
constexpr int max_pending_out = 1 << 20;
constexpr int max_recorded_lines = 200000;

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "t", 3 id digits, "8", 16 data digits, nothing else.
bool parse_frame(const QByteArray& line, uint32_t& id, uint8_t data[8])
{
    if (line.size() != 21 || line[0] != 't' || line[4] != '8')
        return false;
    id = 0;
    for (int k = 1; k <= 3; ++k) {
        const int v = hex_value(line[k]);
        if (v < 0)
            return false;
        id = id << 4 | uint32_t(v);
    }
    for (int k = 0; k < 8; ++k) {
        const int hi = hex_value(line[5 + 2 * k]);
        const int lo = hex_value(line[6 + 2 * k]);
        if (hi < 0 || lo < 0)
            return false;
        data[k] = uint8_t(hi << 4 | lo);
    }
    return true;
}

void append_hex(QByteArray& text, uint32_t value, int digits)
{
    static const char digit[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text.append(digit[(value >> shift) & 0xF]);
}

} // namespace

sim_engine::sim_engine(const sim_config& conf, QObject* parent)
    : QObject(parent), config(conf), replug_timer(this), reply_timer(this)
{
    reply_timer.setSingleShot(true);
    reply_timer.setTimerType(Qt::PreciseTimer);
    connect(&reply_timer, &QTimer::timeout, this, &sim_engine::send_due_replies);
    for (const sim_board_setup& setup : config.boards) {
        board_slot slot{sim_board(setup.type_code, setup.can_id), false};
        slot.board.set_settle_ms(config.settle_ms);
        slot.board.set_output_voltage(setup.output_voltage);
        slot.board.set_input_voltage(setup.input_voltage);
        slot.board.set_fault_flags(setup.fault_flags);
        for (const auto& reg : setup.registers)
            slot.board.set_register(reg.first, reg.second);
        if (!setup.registers.isEmpty())
            slot.board.settle();
        boards.push_back(slot);
    }
    if (config.link_path.isEmpty())
        config.link_path = sim_config::default_link_path();
    replug_timer.setSingleShot(true);
    connect(&replug_timer, &QTimer::timeout, this, &sim_engine::plug);
    clock.start();
}

sim_engine::~sim_engine()
{
    drop_notifiers();
}

bool sim_engine::plug()
{
    replug_timer.stop();
    drop_notifiers();
    if (!pty.open(config.link_path)) {
        error_text = pty.error();
        plugged = false;
        return false;
    }
    rx.clear();
    out.clear();
    adapter_open = false;
    read_notifier = std::make_unique<QSocketNotifier>(pty.master_fd(), QSocketNotifier::Read);
    connect(read_notifier.get(), &QSocketNotifier::activated, this, &sim_engine::on_readable);
    write_notifier = std::make_unique<QSocketNotifier>(pty.master_fd(), QSocketNotifier::Write);
    write_notifier->setEnabled(false);
    connect(write_notifier.get(), &QSocketNotifier::activated, this, &sim_engine::on_writable);
    plugged = true;
    emit plug_changed(true);
    return true;
}

void sim_engine::unplug(int replug_after_ms)
{
    replug_timer.stop();
    const bool was_plugged = pty.is_open();
    drop_notifiers();
    pty.close();
    plugged = false;
    adapter_open = false;
    out.clear();
    rx.clear();
    if (was_plugged)
        emit plug_changed(false);
    if (replug_after_ms >= 0)
        replug_timer.start(replug_after_ms);
}

void sim_engine::shutdown()
{
    unplug(-1);
}

void sim_engine::drop_notifiers()
{
    read_notifier.reset();
    write_notifier.reset();
}

sim_board* sim_engine::board(int can_id)
{
    for (board_slot& slot : boards)
        if (slot.board.can_id() == can_id)
            return &slot.board;
    return nullptr;
}

bool sim_engine::set_board_silent(int can_id, bool silent)
{
    for (board_slot& slot : boards) {
        if (slot.board.can_id() == can_id) {
            slot.silent = silent;
            return true;
        }
    }
    return false;
}

void sim_engine::on_readable()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(pty.master_fd(), chunk, sizeof chunk);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break; // EAGAIN: all read
        }
        rx.append(chunk, int(n));
    }
    int start = 0;
    for (int cr = rx.indexOf('\r'); cr >= 0; cr = rx.indexOf('\r', start)) {
        handle_line(rx.mid(start, cr + 1 - start));
        start = cr + 1;
    }
    rx.remove(0, start);
    if (rx.size() > max_line_bytes)
        rx.clear();
}

void sim_engine::handle_line(const QByteArray& line)
{
    ++lines_received;
    if (config.record_lines) {
        if (recorded.size() < max_recorded_lines)
            recorded.append(line);
        emit line_received(line);
    }
    const QByteArray body = line.left(line.size() - 1);
    uint32_t frame_id = 0;
    uint8_t data[8];
    const bool is_frame = parse_frame(body, frame_id, data);

    if (config.direct_mode) {
        // A board on its own cable knows no adapter commands.
        if (is_frame)
            route_frame(frame_id, data);
        return;
    }
    if (body.size() == 2 && body[0] == 'S' && body[1] >= '0' && body[1] <= '8') {
        send("\r");
    } else if (body == "O") {
        adapter_open = true;
        send("\r");
    } else if (body == "C") {
        adapter_open = false;
        send("\r");
    } else if (is_frame && adapter_open) {
        send("z\r");
        route_frame(frame_id, data);
    } else {
        send("\a"); // what an SLCAN adapter answers to anything it refuses
    }
}

void sim_engine::route_frame(uint32_t frame_id, const uint8_t data[8])
{
    ++frames_forwarded;
    const int64_t now = clock.elapsed();
    for (board_slot& slot : boards) {
        const int id = slot.board.can_id();
        const bool addressed = config.direct_mode || int(frame_id) == id
                               || int(frame_id) == sim_board::broadcast_can_id;
        if (!addressed || slot.silent)
            continue;
        uint8_t reply[8];
        if (slot.board.handle(data, now, reply)) {
            if (config.reply_delay_ms > 0) {
                delayed_replies.append({now + config.reply_delay_ms, reply_line(slot.board.can_id(), reply)});
                if (!reply_timer.isActive())
                    reply_timer.start(config.reply_delay_ms);
            } else {
                send(reply_line(slot.board.can_id(), reply));
            }
            ++replies_sent;
        }
    }
}

QByteArray sim_engine::reply_line(int can_id, const uint8_t data[8])
{
    QByteArray line;
    line.reserve(27);
    line.append('t');
    append_hex(line, uint32_t(can_id), 3);
    line.append('8');
    for (int k = 0; k < 8; ++k)
        append_hex(line, data[k], 2);
    if (config.timestamps) {
        timestamp_ms = uint16_t(clock.elapsed() % 60000);
        append_hex(line, timestamp_ms, 4);
    }
    line.append('\r');
    return line;
}

void sim_engine::send(const QByteArray& bytes)
{
    if (!pty.is_open())
        return;
    if (out.size() + bytes.size() > max_pending_out) {
        bytes_dropped += quint64(bytes.size());
        return;
    }
    out.append(bytes);
    flush_out();
}

void sim_engine::flush_out()
{
    int done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(pty.master_fd(), out.constData() + done, size_t(out.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += int(n);
    }
    out.remove(0, done);
    if (write_notifier)
        write_notifier->setEnabled(!out.isEmpty());
}

void sim_engine::on_writable()
{
    flush_out();
}

int sim_engine::send_garbage(int random_bytes)
{
    QByteArray junk;
    std::uniform_int_distribution<int> byte(0, 255);
    for (int k = 0; k < random_bytes; ++k)
        junk.append(char(byte(rng)));
    junk.append('\r');
    static const char* const malformed[] = {
        "t12\r",                          // short
        "t1234DEADBEEF\r",                // four data bytes
        "t1238GG00000000000000\r",        // not hex
        "t12380000000000000\r",           // fifteen digits
        "T1234567880102030405060708\r",   // extended frame
        "r1238\r",                        // remote frame
        "t 1238000000000000000\r",        // blank inside
        "\a\a\r",                         // adapter refusals
        "z\r",
    };
    for (const char* line : malformed)
        junk.append(line);
    send(junk);
    return junk.size();
}

int sim_engine::send_reply_burst(int can_id, int count)
{
    sim_board* b = board(can_id);
    if (!b || count <= 0)
        return 0;
    QByteArray burst;
    const int64_t now = clock.elapsed();
    int sent = 0;
    for (int code = 0x80; sent < count; code = code == 0xFF ? 0x80 : code + 1) {
        const uint8_t request[8] = {uint8_t(code), 0, 0, 0, 0, 0, 0, 0};
        uint8_t reply[8];
        if (b->handle(request, now, reply)) {
            burst.append(reply_line(b->can_id(), reply));
            ++sent;
        }
    }
    replies_sent += quint64(sent);
    send(burst);
    return sent;
}

void sim_engine::send_due_replies()
{
    const qint64 now = clock.elapsed();
    while (!delayed_replies.isEmpty() && delayed_replies.first().first <= now)
        send(delayed_replies.takeFirst().second); // one write each
    if (!delayed_replies.isEmpty())
        reply_timer.start(int(std::max<qint64>(0, delayed_replies.first().first - now)));
}
