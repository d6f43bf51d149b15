#pragma once

#include "scpi_error_queue.h"

#include <cstdint>

// One client's status, as IEEE 488.2 lays it out: the standard event status
// register (ESR) with its enable mask (ESE), the status byte computed from
// it and the error queue, and the service request enable mask (SRE).
class scpi_status
{
public:
    // Bits of the event status register.
    enum esr_bit : std::uint8_t {
        operation_complete = 0x01,
        query_error = 0x04,
        device_error = 0x08,
        execution_error = 0x10,
        command_error = 0x20,
    };
    // Bits of the status byte.
    enum stb_bit : std::uint8_t {
        error_available = 0x04,   // the error queue is not empty
        message_available = 0x10, // an answer waits to be read
        event_summary = 0x20,     // ESR & ESE
        service_request = 0x40,   // the other bits & SRE
    };

    scpi_error_queue errors;
    std::uint8_t enable_events = 0;  // *ESE
    std::uint8_t enable_service = 0; // *SRE, bit 6 always clear
    // Set by the server before a command runs: answers wait unread.
    bool output_waiting = false;

    // Queues the error and sets the ESR bit of its class.
    void error(int code, const QString& detail = QString());
    void event(std::uint8_t bits) { events |= bits; }
    // *ESR?: the register, cleared by the reading.
    int take_events();
    int status_byte() const;
    // *CLS: queue and events; the enable masks stay.
    void clear();

    // The ESR bit an error code sets: -1xx command, -2xx execution, -4xx
    // query error, -3xx and the device's own codes device-dependent.
    static std::uint8_t event_of(int code);

private:
    std::uint8_t events = 0;
};
