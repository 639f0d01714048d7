#include "sessionlistmodel.h"

#include "activitylogmodel.h"
#include "eventslog.h"
#include "modellog.h"
#include "permissionanswers.h"
#include "sessionstore.h"
#include "sessiontext.h"

#include <QUuid>
#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

SessionListModel::SessionListModel(SessionStore &store, QObject *parent)
    : QAbstractListModel(parent), m_store(store),
      m_preferences([] { return NotificationPolicy::Preferences(); }),
      m_costLedger(Usage::CostLedger::fromJson(store.costLedger()))
{
    restore();
    connect(&m_transcripts, &TranscriptFollower::refused, this, &SessionListModel::refused);
    connect(&m_store, &SessionStore::mutedChanged, this, [this] {
        if (!m_rows.isEmpty())
            Q_EMIT dataChanged(index(0), index(int(m_rows.size()) - 1), {MutedRole});
        Q_EMIT mutedProjectsChanged();
    });
    connect(&m_store, &SessionStore::customNamesChanged, this,
            &SessionListModel::mutedProjectsChanged);
    m_durationTimer.setInterval(durationRefreshMs);
    connect(&m_durationTimer, &QTimer::timeout, this, &SessionListModel::refreshDurations);
    m_durationTimer.start();
}

SessionListModel::~SessionListModel() = default;

void SessionListModel::setPreferences(std::function<NotificationPolicy::Preferences()> preferences)
{
    m_preferences = std::move(preferences);
}

void SessionListModel::restore()
{
    for (const Session &placeholder : m_store.placeholders(restoredLimit, wallClockNow()))
        m_rows.append(Row{placeholder, false, false, {}, {}, nullptr});
    if (!m_rows.isEmpty())
        qCInfo(lcModel, "🔄 Restored %lld instances from saved data", qlonglong(m_rows.size()));
}

int SessionListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QHash<int, QByteArray> SessionListModel::roleNames() const
{
    return {
        {SessionIdRole, "sessionId"},
        {DisplayNameRole, "displayName"},
        {ProjectPathRole, "projectPath"},
        {StatusLineRole, "statusLine"},
        {StatusColorRole, "statusColor"},
        {IsWorkingRole, "isWorking"},
        {IsExitedRole, "isExited"},
        {UnreadCountRole, "unreadCount"},
        {ExpandedRole, "expanded"},
        {EditingRole, "editing"},
        {EditedNameRole, "editedName"},
        {CanGoToTerminalRole, "canGoToTerminal"},
        {NoticeRole, "notice"},
        {RequestRole, "request"},
        {AnswersInTerminalRole, "answersInTerminal"},
        {BadgeRole, "badge"},
        {AgentMarkRole, "agentMark"},
        {AgentNameRole, "agentName"},
        {UsageRole, "usage"},
        {MutedRole, "muted"},
    };
}

QVariant SessionListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    const Session &s = row.session;
    switch (role) {
    case SessionIdRole:
        return s.id;
    case Qt::DisplayRole:
    case DisplayNameRole:
        return s.shownName();
    case ProjectPathRole:
        return s.projectPath;
    case StatusLineRole:
        return SessionText::statusLine(s, wallClockNow());
    case StatusColorRole:
        return int(s.statusColor());
    case IsWorkingRole:
        return s.status == SessionStatus::working;
    case IsExitedRole:
        return s.exited;
    case UnreadCountRole:
        return s.unreadEventCount;
    case CanGoToTerminalRole:
        return s.pid > 0 && !s.exited && !s.disconnected && s.terminalIsKnown();
    case AgentMarkRole:
        return agentMark(s.agent);
    case AgentNameRole:
        return agentName(s.agent);
    case UsageRole:
        return usageData(index.row());
    case MutedRole:
        return m_store.muted().contains(s.nameKey());
    case NoticeRole:
        return row.notice;
    case RequestRole:
        return requestData(s);
    case AnswersInTerminalRole:
        return PermissionAnswers::answersInTerminal(s);
    case BadgeRole:
        return s.exited         ? QStringLiteral("Exited")
               : s.disconnected ? QStringLiteral("Disconnected")
                                : QString();
    case ExpandedRole:
        return row.expanded;
    case EditingRole:
        return row.editing;
    case EditedNameRole:
        return row.editedName;
    }
    return {};
}

QString SessionListModel::subtitle() const
{
    return SessionText::subtitle(count());
}

int SessionListModel::exitedCount() const
{
    return int(std::count_if(m_rows.cbegin(), m_rows.cend(),
                             [](const Row &row) { return row.session.exited; }));
}

int SessionListModel::rowWhere(const std::function<bool(const Session &)> &matches) const
{
    const auto found = std::find_if(m_rows.cbegin(), m_rows.cend(),
                                    [&](const Row &row) { return matches(row.session); });
    return found == m_rows.cend() ? -1 : int(found - m_rows.cbegin());
}

int SessionListModel::rowOfId(const QString &id) const
{
    return rowWhere([&](const Session &session) { return session.id == id; });
}

int SessionListModel::rowOfPid(qint64 pid) const
{
    return rowWhere([&](const Session &session) { return session.pid == pid; });
}

int SessionListModel::rowOf(const HookEvent &event) const
{
    const Agent agent = agentOfHook(event.agent);
    const bool bySessionId =
        !identifiedByProcess(agent) && event.sessionId && !event.sessionId->isEmpty();
    const int row = rowWhere([&](const Session &session) {
        return session.host == event.host && session.agent == agent &&
               (bySessionId ? session.agentSessionId == *event.sessionId
                            : session.pid == event.pid);
    });
    if (row >= 0 || !bySessionId || !clearKeepsRow(agent) || event.source != u"clear")
        return row;
    // The new session of a /clear goes on in the row of the old one.
    return rowWhere([&](const Session &session) {
        return session.host == event.host && session.agent == agent && session.pid == event.pid;
    });
}

void SessionListModel::countsChanged()
{
    const int exited = exitedCount();
    if (exited != m_exitedCount) {
        m_exitedCount = exited;
        Q_EMIT exitedCountChanged();
    }
    Q_EMIT changed();
}

void SessionListModel::rowChanged(int row, const QList<int> &roles)
{
    const QModelIndex changedIndex = index(row);
    Q_EMIT dataChanged(changedIndex, changedIndex, roles);
    countsChanged();
}

// The durations in the status lines grow by themselves.
void SessionListModel::refreshDurations()
{
    const WallClockTime now = wallClockNow();
    for (int row = 0; row < count(); ++row) {
        const Session &session = m_rows.at(row).session;
        if (SessionText::showsDuration(session) &&
            now - session.statusSince >= 60 - durationRefreshMs / 1000.0) {
            const QModelIndex changedIndex = index(row);
            Q_EMIT dataChanged(changedIndex, changedIndex, {StatusLineRole});
        }
    }
}

void SessionListModel::saveOrder()
{
    QStringList ids;
    ids.reserve(m_rows.size());
    for (const Row &row : std::as_const(m_rows))
        ids.append(row.session.id);
    m_store.setOrder(ids);
}

// ---- Logs -----------------------------------------------------------------------

QObject *SessionListModel::activityLog(int row)
{
    if (row < 0 || row >= count())
        return nullptr;
    Row &target = m_rows[row];
    if (!target.log)
        target.log = new ActivityLogModel(this, target.session.id);
    return target.log;
}

// ---- Events ---------------------------------------------------------------------

void SessionListModel::handle(const HookEvent &event)
{
    // An id stands for one waiting helper: a record that names one already
    // known (crafted, or sent twice) gets no say over it.
    if (event.requestId && waitingRequest(*event.requestId)) {
        qCWarning(lcModel, "Dropped a second record for a waiting request");
        HookEvent stripped = event;
        stripped.requestId.reset();
        handle(stripped);
        return;
    }
    qCDebug(lcEvents).noquote().nospace()
        << "🔍 Hook event " << event.event << ", PID: " << event.pid
        << ", workingDirectory: " << event.workingDirectory.value_or(u"nil"_s)
        << ", tool: " << event.tool.value_or(u"nil"_s);
    if (!m_hasReceivedFirstEvent) {
        m_hasReceivedFirstEvent = true;
        Q_EMIT hasReceivedFirstEventChanged();
    }

    int row = rowOf(event);
    bool located = false; // the session is new, revived or moved to its directory
    if (row < 0 && event.pid == 1 && agentOfHook(event.agent) != Agent::claudeCode) {
        // Its process had gone when the hook ran (Gemini CLI's last SessionEnd
        // comes after its exit).
        qCDebug(lcEvents) << "Dropped an event of an orphaned hook";
        return;
    }
    if (row >= 0 && event.kind == HookEventKind::sessionEnd && m_rows.at(row).session.exited)
        return; // an agent that says it twice
    if (row < 0) {
        const QString projectPath = event.workingDirectory.value_or(unknownProjectPath);
        qCDebug(lcEvents).noquote().nospace()
            << "✅ New Claude instance detected with PID " << event.pid << " at " << projectPath;
        row = createSession(event.pid, projectPath, event.host, agentOfHook(event.agent));
        located = true;
    } else if (event.workingDirectory && m_rows.at(row).session.projectPath == unknownProjectPath) {
        learnDirectory(row, *event.workingDirectory);
        located = true;
    }

    Row &target = m_rows[row];
    target.notice.clear();
    const bool reconnected = std::exchange(target.session.disconnected, false);
    EventRules::Applied applied =
        EventRules::apply(std::move(target.session), event, wallClockNow(), m_nextEntryId);
    target.session = std::move(applied.session);
    if (applied.shown)
        ++m_nextEntryId;
    carryOut(row, applied, event);
    if (event.kind == HookEventKind::statusLine && event.usage)
        tookUsage(row);
    if (target.log)
        target.log->logChanged();
    if (applied.changed || located || reconnected)
        rowChanged(row);
}

int SessionListModel::createSession(qint64 pid, const QString &projectPath, const QString &host,
                                    Agent agent)
{
    const WallClockTime now = wallClockNow();
    // A live process in a restored directory takes the placeholder's place.
    // Placeholders are of this machine: a remote's sessions come back with
    // its relay's replay.
    for (int row = 0; host.isEmpty() && agent == Agent::claudeCode && row < count(); ++row) {
        const Session &placeholder = m_rows.at(row).session;
        if (placeholder.projectPath != projectPath || !placeholder.isPlaceholder())
            continue;
        m_rows[row].session = Session::make(placeholder.id, pid, projectPath,
                                            placeholder.projectName, placeholder.customName, now);
        qCDebug(lcEvents).noquote()
            << "♻️ Replaced restored instance with live instance for" << projectPath;
        m_store.record(m_rows.at(row).session);
        return row;
    }

    Session session =
        Session::make(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), pid,
                      projectPath, lastPathComponent(projectPath), std::nullopt, now);
    session.host = host;
    session.agent = agent;
    session.customName = m_store.nameForNewSession(session.nameKey(), session.projectName);

    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(Row{session, false, false, {}, {}, nullptr});
    endInsertRows();
    Q_EMIT countChanged();
    saveOrder();
    if (projectPath != unknownProjectPath && host.isEmpty())
        m_store.record(session);
    return row;
}

void SessionListModel::learnDirectory(int row, const QString &directory)
{
    Session &session = m_rows[row].session;
    session.projectPath = directory;
    session.projectName = lastPathComponent(directory);
    const auto name = m_store.customNames().constFind(session.nameKey());
    if (name != m_store.customNames().constEnd())
        session.customName = *name;
    if (session.host.isEmpty())
        m_store.record(session);
    qCDebug(lcEvents).noquote().nospace()
        << "📁 Updated project path for PID " << session.pid << " to " << directory;
}

void SessionListModel::carryOut(int row, const EventRules::Applied &applied, const HookEvent &event)
{
    const Session &session = m_rows.at(row).session;
    // A remote's transcript is no file here: its relay follows it there.
    if (applied.followTranscript && session.host.isEmpty())
        m_transcripts.follow(session.id, *applied.followTranscript);
    else if (applied.stopFollowing)
        m_transcripts.stop(session.id);
    if (!applied.released.isEmpty())
        Q_EMIT requestsEnded(session.host, applied.released);
    if (auto notice = NotificationPolicy::decide(applied, event, m_preferences())) {
        using enum Quiet::NoticeKind;
        const Quiet::NoticeKind kind = event.kind == HookEventKind::stop          ? completed
                                       : event.kind == HookEventKind::stopFailure ? failed
                                       : event.kind == HookEventKind::notification &&
                                               event.notificationKind() == NotificationType::idle
                                           ? idle
                                           : request;
        Notification notification = notificationOf(session, notice->body, kind);
        if (event.requestId && waitingRequest(*event.requestId)) {
            notification.requestId = *event.requestId;
            notification.alwaysText =
                PermissionAnswers::alwaysAllowText(event.permissionSuggestions);
        }
        Q_EMIT notificationRequested(notification);
    }
}

void SessionListModel::refused(const QString &id)
{
    const int row = rowOfId(id);
    if (row < 0)
        return;
    if (m_rows.at(row).session.status == SessionStatus::waitingForInput)
        endRequests(m_rows[row].session); // the refusal settles what waits
    m_rows[row].session = EventRules::refused(std::move(m_rows[row].session), wallClockNow());
    rowChanged(row);
}
