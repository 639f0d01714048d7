// How hook events find their session (or make one, or revive a restored
// placeholder) and change it: the part of the session list that takes events.
#include "activitylogmodel.h"
#include "instancemanager.h"

#include <QUuid>

namespace {

QString orNil(const std::optional<QString> &text)
{
    return text.value_or(QStringLiteral("nil"));
}

} // namespace

void InstanceManager::handle(const HookEvent &event)
{
    qCDebug(lcEvents).noquote().nospace()
        << "🔍 handleHookEvent called with event: " << event.event << ", PID: " << event.pid
        << ", workingDirectory: " << orNil(event.workingDirectory);
    if (!m_hasReceivedFirstEvent) {
        m_hasReceivedFirstEvent = true;
        Q_EMIT hasReceivedFirstEventChanged();
    }

    int row = rowOfPid(event.pid);
    bool located = false; // the session is new, revived or moved to its directory
    if (row < 0) {
        const QString projectPath = event.workingDirectory.value_or(unknownProjectPath);
        qCDebug(lcEvents).noquote().nospace()
            << "✅ New Claude instance detected with PID " << event.pid << " at " << projectPath;
        qCDebug(lcEvents).noquote().nospace()
            << "   Full event data: event=" << event.event << ", tool=" << orNil(event.tool)
            << ", details=" << orNil(event.details);
        row = createSession(event.pid, projectPath);
        located = true;
    } else if (event.workingDirectory && m_rows.at(row).session.projectPath == unknownProjectPath) {
        learnDirectory(row, *event.workingDirectory);
        located = true;
    }

    Row &target = m_rows[row];
    target.notice.clear();
    EventRules::Applied applied = EventRules::apply(std::move(target.session), event,
                                                    wallClockNow(), m_preferences(), m_nextEntryId);
    target.session = std::move(applied.session);
    const QList<ActivityEvent> &log = target.session.activityLog;
    if (!log.isEmpty() && log.constLast().id == m_nextEntryId)
        ++m_nextEntryId;
    carryOut(row, applied.effects);
    if (target.log)
        target.log->logChanged();
    if (applied.changed || located)
        rowChanged(row);
}

int InstanceManager::createSession(qint64 pid, const QString &projectPath)
{
    const WallClockTime now = wallClockNow();
    // A live process in a restored directory takes the placeholder's place.
    for (int row = 0; row < count(); ++row) {
        const ClaudeCodeInstance &placeholder = m_rows.at(row).session;
        if (placeholder.projectPath != projectPath || !placeholder.isPlaceholder())
            continue;
        m_rows[row].session = ClaudeCodeInstance::make(
            placeholder.id, pid, projectPath, placeholder.projectName, placeholder.customName, now);
        qCDebug(lcEvents).noquote()
            << "♻️ Replaced restored instance with live instance for" << projectPath;
        m_store.record(m_rows.at(row).session);
        return row;
    }

    ClaudeCodeInstance session =
        ClaudeCodeInstance::make(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), pid,
                                 projectPath, lastPathComponent(projectPath), std::nullopt, now);
    session.customName = m_store.nameForNewSession(projectPath, session.projectName);

    const int row = count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(Row{session, false, false, {}, {}, nullptr});
    endInsertRows();
    Q_EMIT countChanged();
    saveOrder();
    if (projectPath != unknownProjectPath)
        m_store.record(session);
    return row;
}

void InstanceManager::learnDirectory(int row, const QString &directory)
{
    ClaudeCodeInstance &session = m_rows[row].session;
    session.projectPath = directory;
    session.projectName = lastPathComponent(directory);
    const auto name = m_store.customNames().constFind(directory);
    if (name != m_store.customNames().constEnd()) {
        session.customName = *name;
        qCDebug(lcEvents).noquote().nospace()
            << "🏷️ Applied saved custom name '" << *name << "' for " << directory;
    }
    m_store.record(session);
    qCDebug(lcEvents).noquote().nospace()
        << "📁 Updated project path for PID " << session.pid << " to " << directory;
}

void InstanceManager::carryOut(int row, const EventRules::Effects &effects)
{
    const ClaudeCodeInstance &session = m_rows.at(row).session;
    if (effects.followTranscript)
        m_transcripts.follow(session.id, *effects.followTranscript);
    else if (effects.stopFollowing)
        m_transcripts.stop(session.id);
    if (effects.notice) {
        Q_EMIT notificationRequested({session.id, session.pid,
                                      QStringLiteral("Claude Code - ") + session.displayName(),
                                      *effects.notice});
    }
}

void InstanceManager::refused(const QString &id)
{
    const int row = rowOfId(id);
    if (row < 0)
        return;
    m_rows[row].session = EventRules::refused(std::move(m_rows[row].session), wallClockNow());
    rowChanged(row);
}
