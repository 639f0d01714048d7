#include "session.h"

#include <array>

namespace {

struct StatusNames
{
    SessionStatus status;
    QStringView text;
    QStringView token;
};

constexpr std::array statusNames{
    StatusNames{SessionStatus::off, u"Off", u"off"},
    StatusNames{SessionStatus::ready, u"Ready", u"ready"},
    StatusNames{SessionStatus::working, u"Working", u"working"},
    StatusNames{SessionStatus::waitingForInput, u"Waiting for Input", u"waiting"},
    StatusNames{SessionStatus::failed, u"Failed", u"failed"},
};

const StatusNames &namesOf(SessionStatus status)
{
    return statusNames[size_t(status)];
}

} // namespace

QString statusText(SessionStatus status)
{
    return namesOf(status).text.toString();
}

QString statusToken(SessionStatus status)
{
    return namesOf(status).token.toString();
}

QString agentToken(Agent agent)
{
    switch (agent) {
    case Agent::claudeCode:
        return QStringLiteral("claude-code");
    case Agent::codex:
        return QStringLiteral("codex");
    case Agent::gemini:
        return QStringLiteral("gemini");
    }
    return {};
}

QString agentName(Agent agent)
{
    switch (agent) {
    case Agent::claudeCode:
        return QStringLiteral("Claude Code");
    case Agent::codex:
        return QStringLiteral("Codex");
    case Agent::gemini:
        return QStringLiteral("Gemini CLI");
    }
    return {};
}

Agent agentOfHook(const QString &token)
{
    if (token == u"codex")
        return Agent::codex;
    if (token == u"gemini")
        return Agent::gemini;
    return Agent::claudeCode;
}

bool identifiedByProcess(Agent agent)
{
    switch (agent) {
    case Agent::claudeCode:
        return true;
    case Agent::codex:  // every session's hooks run in one shared server
    case Agent::gemini: // /clear starts a new session in the same process
        return false;
    }
    return true;
}

QString agentMark(Agent agent)
{
    switch (agent) {
    case Agent::claudeCode:
        return QStringLiteral("Claude");
    case Agent::codex:
        return QStringLiteral("Codex");
    case Agent::gemini:
        return QStringLiteral("Gemini");
    }
    return {};
}

bool Session::terminalIsKnown() const
{
    return agent != Agent::codex || !terminal.isEmpty();
}

bool clearKeepsRow(Agent agent)
{
    return agent == Agent::gemini;
}

Session Session::make(const QString &id, qint64 pid, const QString &projectPath,
                      const QString &projectName, const std::optional<QString> &customName,
                      WallClockTime now)
{
    Session session;
    session.id = id;
    session.pid = pid;
    session.projectPath = projectPath;
    session.projectName = projectName;
    session.customName = customName;
    session.lastActivity = session.statusSince = now;
    return session;
}

QString Session::shownName() const
{
    return host.isEmpty() ? displayName() : displayName() + QStringLiteral(" · ") + host;
}

QString Session::nameKey() const
{
    return host.isEmpty() || projectPath == unknownProjectPath ? projectPath
                                                               : host + u':' + projectPath;
}

StatusColor Session::statusColor() const
{
    if (disconnected)
        return StatusColor::gray;
    switch (status) {
    case SessionStatus::ready:
        return StatusColor::green;
    case SessionStatus::working:
        return StatusColor::yellow;
    case SessionStatus::waitingForInput:
        return StatusColor::red;
    case SessionStatus::failed:
        return StatusColor::purple;
    case SessionStatus::off:
        break;
    }
    return StatusColor::gray;
}

QString lastPathComponent(const QString &path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(u'/'))
        view.chop(1);
    if (view == u"/")
        return QStringLiteral("/");
    const qsizetype slash = view.lastIndexOf(u'/');
    return view.mid(slash + 1).toString();
}
