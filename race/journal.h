#pragma once

#include "race/racerecord.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// The passage journal: while a race runs, every passage goes into a plain text file beside the race tables
// as it arrives, before the race window sees it, so that a race survives the program being killed or the
// machine losing power. One line a record:
//
//   QJ 1                                             format and version
//   R <Q|F> <heat> <round> <final> <minlap> <wall> <mono> <elapsed>   the race; "-" for a final not raced
//   C <ch> <last> <start> <awaiting> <finished>      a channel's timing state at the start signal
//   K <ch> <laps> <lap> <best> <total> <lap text> <best text> <total text>   a car's row at the start
//   T <stamp> <elapsed> [U]                          a race clock tick; U: the tick that found the time up
//   P|A|D <ch> <stamp>                               a passage of the device, added, taken back
//
// Times are day fractions written to 17 digits, stamps monotonic nanoseconds; a null value is "-" and
// texts are percent-encoded. Lines of other kinds are skipped, so the format can grow.
class PassageJournal
{
public:
    PassageJournal() = default;
    ~PassageJournal();
    PassageJournal(const PassageJournal&) = delete;
    PassageJournal& operator=(const PassageJournal&) = delete;

    // "passaggi.journal" in the program folder, beside the race tables.
    static QString defaultPath();

    // Starts the journal of a race at `path`, replacing any earlier one: the race and its starting values.
    // Raises IoError when the file cannot be written.
    void begin(const QString& path, const racerecord::RaceRecord& record);
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }

    // Each appends one line with a single write(), so that a killed process leaves whole lines behind. Safe
    // from any thread; never waits for the disk.
    void appendEvent(const racerecord::Event& event);
    void appendTick(const racerecord::Tick& tick, bool timeUp);

    // The race ended and its table is saved: the journal goes.
    void remove();
    // Closes the file and leaves it where it is.
    void close();

    // Reads a journal, keeping what a cut-short or damaged file still holds; none when it has no race line.
    static std::optional<racerecord::RaceRecord> read(const QString& path);

private:
    void appendLine(const QByteArray& line);
    void syncLoop();

    QString m_path;
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_dirty{false};
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_syncer;
};
