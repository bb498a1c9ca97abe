#pragma once

#include "tools/sim/passages.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSocketNotifier;
class DeadlineTimer;

// The simulator's one logging category.
Q_DECLARE_LOGGING_CATEGORY(lcSim)

// The monotonic clock (CLOCK_MONOTONIC) in nanoseconds: the time base of the simulator's records.
qint64 monotonicNowNs();

// How the device answers a dialogue check "A": "B" at once, not at all, "B" after lateMs, or "B1".
enum class AnswerMode { Normal, Silent, Late, B1 };
// "normal", "silent", "late" or "b1".
std::optional<AnswerMode> answerModeFromText(const QString& text);

enum class DeviceState {
    Idle,
    StartLights, // after "R", counting down with "4", "3", "2", "1"
    Racing,      // after "E", sending passages until "X"
    Aligning,    // after "C", until "W"
};

struct ReceivedCommand
{
    char command = 0;
    qint64 monotonicNs = 0;
    QDateTime wallClock;
};

// One write() to the line.
struct SentBytes
{
    QByteArray bytes;
    qint64 monotonicNs = 0; // taken right before write()
    QDateTime wallClock;
};

// The timing device on a pseudo-terminal linked as COMn in a folder, so the real serial code talks to it.
// Driven by socket notifiers: it runs in the event loop of the thread it lives in (a test's own loop, or a
// QThread of its own). Call its methods from that thread; the record readers are safe from any thread.
class Simulator : public QObject
{
    Q_OBJECT
public:
    explicit Simulator(QObject* parent = nullptr);
    ~Simulator() override;

    // Behaviour; may change at any time, takes effect from the next "A" or "E".
    void setAnswerMode(AnswerMode mode) { m_answerMode = mode; }
    void setLateMs(int ms) { m_lateMs = ms; }
    // Generated passages (the default, five cars). Raises AppError on settings out of range.
    void setCars(const CarsSettings& settings);
    // Scripted passages instead of generated ones.
    void setScript(const QList<Passage>& passages);
    // Sends one byte per 9600-baud character time (1.04 ms) instead of all at once.
    void setPaced(bool paced) { m_paced = paced; }

    // Opens a pseudo-terminal and links it as <folder>/COM<port> (folder: the installation folder when empty).
    // A stale link to a pseudo-terminal is replaced; anything else there is left alone and raises AppError.
    void start(int port = 1, const QString& folder = QString());
    // closeDevice() and removes the link when it is still ours.
    void stop();
    // Closes the device end, as when a USB adapter is pulled: the program's open port hangs up. The link stays.
    void closeDevice();
    bool isRunning() const { return m_master >= 0; }
    QString linkPath() const { return m_linkPath; }
    QString ptyPath() const { return m_ptyPath; }

    // Sends bytes now, whatever the state (paced when asked).
    void sendNow(const QByteArray& bytes);

    DeviceState state() const { return m_state; }
    // Start lights turned green since "R", in the order their commands came.
    QList<int> greenLights() const { return m_greenLights; }

    // Everything received and sent since start() or clearRecords().
    QList<ReceivedCommand> commands() const;
    QByteArray commandText() const;
    QList<SentBytes> sent() const;
    QByteArray sentText() const;
    void clearRecords();

signals:
    void commandReceived(const ReceivedCommand& command);
    void bytesSent(const SentBytes& sent);

private:
    void readCommands();
    void handleCommand(char command, qint64 receivedNs);
    void startRace(qint64 startNs);
    void stopRace();
    void takeNextPassage();
    void sendDuePassages();
    void send(const QByteArray& bytes);
    // Returns the time taken right before the first write().
    qint64 writeNow(const QByteArray& bytes);
    void sendPaced();
    void placeLink(const QString& link);

    AnswerMode m_answerMode = AnswerMode::Normal;
    int m_lateMs = 1500;
    bool m_paced = false;
    CarsSettings m_cars;
    std::optional<QList<Passage>> m_script;

    int m_master = -1;
    // Held open so the master never reads EIO while the program has the port closed.
    int m_slave = -1;
    QString m_ptyPath;
    QString m_linkPath;
    QSocketNotifier* m_notifier = nullptr;
    std::unique_ptr<DeadlineTimer> m_passageTimer;
    std::unique_ptr<DeadlineTimer> m_paceTimer;
    // Drops late answers meant for a device that has since been closed.
    quint64 m_deviceGeneration = 0;

    DeviceState m_state = DeviceState::Idle;
    QList<int> m_greenLights;
    qint64 m_raceStartNs = 0;
    std::unique_ptr<PassageGenerator> m_generator;
    qsizetype m_scriptIndex = 0;
    std::optional<Passage> m_nextPassage;

    QByteArray m_pacedQueue;
    qint64 m_nextByteNs = 0;

    mutable QMutex m_recordsMutex;
    QList<ReceivedCommand> m_commands;
    QList<SentBytes> m_sent;
};
