#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QString>

class QSerialPort;

// The device subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)

// The link to the timing device: 9600 baud, 8N1, no flow control, DTR and RTS inactive.
// Everything runs on the user-interface thread; nothing here ever waits for the line.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    int PortNum() const { return m_portNum; }
    // Refused with "Can't perform this operation while port is open" while open.
    void setPortNum(int portNum);
    // The device path for PortNum: <installation folder>/COMn when it exists, else /dev/ttyS<n-1>
    // (\\.\COMn on Windows).
    QString DeviceName() const;

    // Raise AppError: "Specified device not found (%s).", "Can't open specified device %s (Error %d, %s)",
    // "Can't perform this operation while port is open".
    void OpenPort();
    // Flushes queued output, drops unread input. Safe inside an OnRxChar handler; no-op when closed.
    void ClosePort();
    // Queues text for sending; false (and nothing sent) on a closed port.
    bool SendText(const QString& text);
    // Everything received and not read yet; empty when none or closed. Never waits.
    QString ReadPending();
    bool isOpen() const;

signals:
    // New bytes arrived while open; Count is the number waiting. Unread bytes stay pending.
    void OnRxChar(QObject* Sender, int Count);
    // A read failure on an open port (the device vanished): reported once, then the port is closed.
    void portError(const QString& message);

private:
    void onReadyRead();
    void onPortError(int error);
    [[noreturn]] void throwOpenError(const QString& path, const QString& device);
    void configureOpenedLine();
    void drainOutput();

    // One QSerialPort for the object's lifetime: closing it inside its own readyRead is safe, deleting it is not.
    QSerialPort* m_port = nullptr;
    int m_portNum = 1;
    // Counts opens, so a handler that closes and reopens the port ends the current notification.
    quint64 m_openGeneration = 0;
    bool m_inNotification = false;
    bool m_opening = false;
    bool m_closing = false;
    // Bytes ReadPending handed out during the running OnRxChar handler.
    qint64 m_readInHandler = 0;
};
