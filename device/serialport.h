#pragma once

#include "device/monotonic.h"

#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QThread;
class SerialLine;
struct ReceiveQueue;

// The device subsystem's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)

// One received byte and when it arrived, on the monotonicNs() clock.
struct StampedByte
{
    char byte;
    qint64 stampNs;
};

// The link to the timing device: 9600 baud, 8N1, no flow control, DTR and RTS inactive.
// The line itself runs on a thread of its own, so a busy user-interface thread (repaint, printing, a modal box)
// neither delays the arrival stamps nor stalls the device. Everything public is called from the object's thread
// and its signals are emitted there; only the arrival sink runs on the line's thread.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    using ArrivalSink = std::function<void(const StampedByte&)>;

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
    // Queues text for sending, in order; false (and nothing sent) on a closed port. Never waits for the line.
    bool SendText(const QString& text);
    // Everything received and not read yet; empty when none or closed. Never waits.
    QString ReadPending();
    // The same bytes as ReadPending, each with its arrival stamp; either call takes them.
    QList<StampedByte> ReadPendingStamped();
    // Whether the port is open as this thread sees it: a vanished device closes it just before portError.
    bool isOpen() const { return m_open; }

    // Called on the line's thread for each byte as it arrives, before it is pending and before OnRxChar.
    // An empty sink removes it; once this returns, the old sink is not running and is never called again.
    // The sink must be quick and must not wait for this object's thread (that thread may be waiting here).
    void setArrivalSink(ArrivalSink sink);

signals:
    // New bytes arrived while open; Count is the number waiting. Unread bytes stay pending.
    void OnRxChar(QObject* Sender, int Count);
    // A read failure on an open port (the device vanished): reported once, then the port is closed.
    void portError(const QString& message);

private:
    friend class SerialLine;

    void startLine();
    void onBytesArrived();
    void onLineFailed(quint64 generation, const QString& message);
    void dropPendingInput();

    QThread* m_thread = nullptr;
    // Lives on m_thread from its first open to the destructor.
    SerialLine* m_line = nullptr;
    // Shared with the line: received bytes and the sink.
    std::unique_ptr<ReceiveQueue> m_queue;
    int m_portNum = 1;
    bool m_open = false;
    // Counts opens, so a handler that closes and reopens the port ends the current notification.
    quint64 m_openGeneration = 0;
    bool m_inNotification = false;
    // Bytes received this session that an OnRxChar has announced.
    quint64 m_announced = 0;
};
