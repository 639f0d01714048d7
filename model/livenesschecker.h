#pragma once

#include <QObject>
#include <QTimer>

class SessionListModel;

// Marks sessions exited whose process has gone without a word (crashed,
// killed, or from an older Claude Code that does not report its end).
class LivenessChecker : public QObject
{
    Q_OBJECT
public:
    static constexpr int intervalMs = 5000;

    explicit LivenessChecker(SessionListModel &sessions, QObject *parent = nullptr);

    void start();
    void checkNow();

    // Signal 0 only asks whether the process exists; EPERM means it does but
    // belongs to someone else.
    static bool processIsGone(qint64 pid);

private:
    SessionListModel &m_sessions;
    QTimer m_timer;
};
