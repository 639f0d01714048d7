#include "livenesschecker.h"

#include "sessionlistmodel.h"

#include <cerrno>
#include <limits>
#include <signal.h>

LivenessChecker::LivenessChecker(SessionListModel &sessions, QObject *parent)
    : QObject(parent), m_sessions(sessions)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LivenessChecker::checkNow);
}

void LivenessChecker::start()
{
    m_timer.start();
    checkNow();
}

void LivenessChecker::checkNow()
{
    for (int row = 0; row < m_sessions.count(); ++row) {
        const Session &session = m_sessions.session(row);
        // A remote's processes are not this machine's: its relay watches them.
        if (!session.exited && session.host.isEmpty() && session.pid > 0 &&
            processIsGone(session.pid))
            m_sessions.markExited(row);
    }
}

bool LivenessChecker::processIsGone(qint64 pid)
{
    // A pid beyond pid_t names no process, and must not be narrowed into one
    // (or into a process group).
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return true;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}
