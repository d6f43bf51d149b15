#pragma once

#include <QString>

// What the server can be asked, one value per command of its tree.
enum class scpi_op {
    idn,
    cls,
    rst,
    opc,
    wai,
    esr,
    ese,
    stb,
    sre,
    tst,
    system_version,
    system_error,
    system_error_count,
    system_error_all,
    system_connected,
    outputs_all,
    name,
    type,
    present,
    measure_current,
    measure_temperature,
    measure_power,
    measure_voltage,
    measure_input,
    current,
    temperature,
    voltage,
    frequency,
    pulse_width,
    mode,
    burst_n,
    burst_m,
    output,
    fault,
    warning,
    board,
    alarm,
    system_alarm,
    alarm_acknowledge,
};

// One command of a line, as the parser understood it. error != 0 when it
// could not be understood (the header or the shape of its parameters).
struct scpi_command
{
    scpi_op op = scpi_op::idn;
    int channel = 0;  // 1..10 for the CHANnel<n> commands, else 0
    bool query = false;
    bool has_argument = false;
    QString argument; // trimmed
    int error = 0;
    QString error_detail;
};
