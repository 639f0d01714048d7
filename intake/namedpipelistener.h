#pragma once

#include "hookevent.h"

#include <QObject>
#include <QString>
#include <memory>

// Owns the FIFO ~/.tolvo/events through which hook commands reach Tolvo.
//
// Reading, framing and decoding happen on a thread of its own
// ("com.tolvo.namedpipe"); each valid record leaves that thread once, as the
// eventReceived signal, which a receiver on the main thread gets queued, in
// arrival order. While the pipe cannot be set up (the folder belongs to
// someone else, a folder sits where the pipe goes, ...) the thread tries
// again with growing pauses, and problem() says why no events arrive.
//
// While it listens, ~/.tolvo/tolvo.pid holds "<pid> <comm>" of this process,
// which is how the hook script tells in a few built-ins that Tolvo runs.
class NamedPipeListener : public QObject
{
    Q_OBJECT
public:
    explicit NamedPipeListener(QObject *parent = nullptr);
    // `directory` stands in for ~/.tolvo.
    explicit NamedPipeListener(const QString &directory, QObject *parent = nullptr);
    ~NamedPipeListener() override; // stops first

    QString pipePath() const { return m_directory + QStringLiteral("/events"); }

    // Returns at once; the FIFO is created and opened on the reading thread.
    void start();
    // Returns promptly, also while the thread waits between attempts; the
    // FIFO and the pid file are gone afterwards.
    void stop();

    // Empty while events can arrive; otherwise one sentence that says why
    // not. Follows problemChanged on the listener's own thread.
    QString problem() const { return m_problem; }

    // The pauses between attempts: first, then doubled up to the limit.
    static constexpr int firstRetryMs = 1000;
    static constexpr int longestRetryMs = 30000;

Q_SIGNALS:
    // Emitted on the reading thread.
    void eventReceived(const HookEvent &event);
    // Emitted on the reading thread; empty when the trouble is over.
    void problemChanged(const QString &problem);

private:
    struct Worker;
    QString m_directory;
    QString m_problem;
    std::unique_ptr<Worker> m_worker;
};
