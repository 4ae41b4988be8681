#pragma once

#include <QMutex>
#include <QObject>
#include <QStringList>

#include <array>

// The one place that counts what went wrong since the program started: files that could not
// be written, folders that could not be made, images or sets that could not be loaded, slices
// that could not be reconstructed, runs stopped before their end, mistakes in command lines.
// The exit status of an unattended run, the window's status line and the console all read
// it, so a failure is recorded once, where it happens, from any thread.
class Failures : public QObject
{
    Q_OBJECT
public:
    enum Kind { FileWrite, Folder, Load, Slice, RunStopped, Command, Memory, Other, KindCount };
    Q_ENUM(Kind)

    static Failures &instance();

    // Thread-safe. `message` is the complete text the user reads (it names the file, the
    // slice or the line); it is also written to the debug log unless `alreadyLogged`.
    void record(Kind kind, const QString &message, bool alreadyLogged = false);

    int count() const;
    int count(Kind kind) const;
    QString last() const;
    // The most recent messages, oldest first (bounded, so a run of a million failures does
    // not grow without end).
    QStringList messages() const;
    // Forgets everything (tests; a fresh start).
    void reset();

signals:
    // Emitted on the recording thread; connect with a queued connection to reach the GUI.
    void recorded(int kind, const QString &message);

private:
    Failures() = default;
    mutable QMutex mutex;
    std::array<int, KindCount> counts {};
    QStringList recent;
};

// Shorthand for Failures::instance().record(kind, message).
void recordFailure(Failures::Kind kind, const QString &message, bool alreadyLogged = false);
