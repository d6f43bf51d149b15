#include "can_frame_codec.h"

#include "rx_line_cutter.h"

namespace {

constexpr int data_bytes = 8;

} // namespace

can_frame_verdict frame_to_record(const QCanBusFrame& frame, serial_message_struct& msg)
{
    if (!frame.isValid())
        return can_frame_verdict::invalid;
    switch (frame.frameType()) {
    case QCanBusFrame::DataFrame:
        break;
    case QCanBusFrame::RemoteRequestFrame:
        return can_frame_verdict::remote;
    case QCanBusFrame::ErrorFrame:
        return can_frame_verdict::error_frame;
    default:
        return can_frame_verdict::invalid;
    }
    if (frame.hasFlexibleDataRateFormat())
        return can_frame_verdict::flexible_data_rate;
    if (frame.hasExtendedFrameFormat())
        return can_frame_verdict::extended_id;
    const QByteArray payload = frame.payload();
    if (payload.size() != data_bytes)
        return can_frame_verdict::wrong_length;
    msg.id = frame.frameId();
    for (int k = 0; k < data_bytes; ++k)
        msg.data[k] = uint8_t(payload.at(k));
    return can_frame_verdict::taken;
}

bool line_to_frame(const char* line, int len, QCanBusFrame& frame)
{
    if (len > 0 && line[len - 1] == '\r')
        --len;
    serial_message_struct msg;
    if (len != rx_line_min_length || !scan_rx_line(line, len, msg))
        return false;
    frame = record_to_frame(msg);
    return true;
}

QCanBusFrame record_to_frame(const serial_message_struct& msg)
{
    QByteArray payload(data_bytes, '\0');
    for (int k = 0; k < data_bytes; ++k)
        payload[k] = char(msg.data[k]);
    return QCanBusFrame(msg.id, payload);
}
