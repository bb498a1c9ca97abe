#pragma once

#include "device/serialport.h"

#include <QObject>
#include <QString>

// Collects everything a port receives, reading at each OnRxChar as the program's handlers do.
struct Receiver
{
    explicit Receiver(SerialPort& port)
    {
        QObject::connect(&port, &SerialPort::OnRxChar, &context, [this, &port] { text += port.ReadPending(); });
    }
    QObject context;
    QString text;
};
