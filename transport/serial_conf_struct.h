#pragma once

#include <QMetaType>
#include <QSerialPort>
#include <QString>
#include <cstdint>

// Port settings handed to the serial worker, by value, on each connection attempt.
struct serial_conf_struct
{
    QString port_name;
    int32_t baud_rate = 0;
    QSerialPort::DataBits data_bits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stop_bits = QSerialPort::OneStop;
    QSerialPort::FlowControl flow_control = QSerialPort::NoFlowControl;
};

Q_DECLARE_METATYPE(serial_conf_struct)
