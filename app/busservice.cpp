#include "busservice.h"

#include "applicationadaptor.h"
#include "permissionanswers.h"
#include "permissionhold.h"
#include "quietstate.h"
#include "sessionlistmodel.h"
#include "sessiontarget.h"
#include "sessiontext.h"
#include "singleinstance.h"
#include "tolvoadaptor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

QString sessionsJson(const SessionListModel &sessions, const QuietState *quiet)
{
    QJsonArray array;
    const WallClockTime now = wallClockNow();
    const QString allQuiet = quiet ? quiet->text() : QString();
    for (int row = 0; row < sessions.count(); ++row) {
        const Session &session = sessions.session(row);
        const bool muted = sessions.data(sessions.index(row), SessionListModel::MutedRole).toBool();
        QJsonArray requests;
        for (const WaitingRequest &request : session.requests) {
            requests.append(QJsonObject{
                {u"id"_s, request.id},
                {u"tool"_s, request.tool},
                {u"input"_s, QJsonDocument::fromJson(request.input.toUtf8()).object()},
                {u"text"_s, PermissionAnswers::requestText(request, session.projectPath)},
                {u"alwaysText"_s, PermissionAnswers::alwaysAllowText(request.suggestions)},
                {u"waitingSeconds"_s, qint64(now - request.since)},
            });
        }
        QJsonObject object{
            {u"id"_s, session.id},
            {u"host"_s, session.host},
            {u"agent"_s, agentToken(session.agent)},
            {u"agentSessionId"_s, session.agentSessionId},
            {u"pid"_s, session.pid},
            {u"projectPath"_s, session.projectPath},
            {u"displayName"_s, session.displayName()},
            {u"status"_s, statusToken(session.status)},
            {u"currentTool"_s,
             session.currentTool ? QJsonValue(*session.currentTool) : QJsonValue()},
            {u"statusLine"_s, SessionText::statusLine(session, now)},
            {u"statusSeconds"_s, qint64(now - session.statusSince)},
            {u"unreadCount"_s, session.unreadEventCount},
            {u"exited"_s, session.exited},
            {u"disconnected"_s, session.disconnected},
            {u"requests"_s, requests},
            {u"muted"_s, muted},
            {u"quiet"_s, !allQuiet.isEmpty() ? allQuiet
                         : muted             ? u"Muted"_s
                                             : QString()},
        };
        if (session.usage)
            object.insert(u"usage"_s, Usage::toJson(*session.usage));
        array.append(object);
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString checkedActivationToken(const QVariantMap &platformData)
{
    const QString token = platformData.value(u"activation-token"_s).toString();
    const bool printable = std::all_of(token.cbegin(), token.cend(), [](QChar c) {
        return c.unicode() > 0x20 && c.unicode() < 0x7f;
    });
    return token.size() <= 256 && printable ? token : QString();
}

BusService::BusService(SessionListModel &sessions,
                       std::function<void(const QVariantMap &)> activate, QObject *parent)
    : QObject(parent), m_sessions(sessions), m_activate(std::move(activate))
{
    new TolvoAdaptor(this);
    new ApplicationAdaptor(this);

    m_changeTimer.setSingleShot(true);
    m_changeTimer.setInterval(changeIntervalMs);
    connect(&m_changeTimer, &QTimer::timeout, this, &BusService::Changed);
    for (auto signal : {&SessionListModel::changed, &SessionListModel::usageChanged}) {
        connect(&sessions, signal, this, [this] {
            if (!m_changeTimer.isActive())
                m_changeTimer.start();
        });
    }
}

BusService::~BusService()
{
    if (m_bus.isConnected())
        m_bus.unregisterObject(SingleInstance::objectPath);
}

bool BusService::registerOn(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    m_bus = bus;
    if (m_bus.registerObject(SingleInstance::objectPath, this, QDBusConnection::ExportAdaptors))
        return true;
    m_bus = QDBusConnection(QString());
    return false;
}

void BusService::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    if (!m_changeTimer.isActive())
        m_changeTimer.start();
}

QString BusService::Sessions() const
{
    return sessionsJson(m_sessions, m_quiet);
}

QString BusService::Usage() const
{
    return QString::fromUtf8(QJsonDocument(m_sessions.usageJson()).toJson(QJsonDocument::Compact));
}

void BusService::setQuiet(QuietState *quiet)
{
    m_quiet = quiet;
    if (m_quiet) {
        connect(m_quiet, &QuietState::changed, this, [this] {
            if (!m_changeTimer.isActive())
                m_changeTimer.start();
        });
    }
}

QString BusService::Quiet() const
{
    QJsonObject quiet{{u"quiet"_s, false}, {u"reason"_s, QString()}, {u"text"_s, QString()}};
    if (m_quiet) {
        const Quiet::State state = m_quiet->state();
        quiet = {{u"quiet"_s, !m_quiet->token().isEmpty()},
                 {u"reason"_s, m_quiet->token()},
                 {u"text"_s, m_quiet->text()}};
        if (m_quiet->doNotDisturb())
            quiet.insert(u"until"_s, state.until >= Quiet::forever
                                         ? QJsonValue()
                                         : QJsonValue(qint64(std::ceil(state.until))));
    }
    return QString::fromUtf8(QJsonDocument(quiet).toJson(QJsonDocument::Compact));
}

QString BusService::SetQuiet(const QString &what)
{
    const std::optional<double> seconds = Quiet::durationSeconds(what);
    const std::optional<WallClockTime> until = seconds ? std::optional(wallClockNow() + *seconds)
                                               : what == u"on" || what == u"off"
                                                   ? Quiet::untilFor(what, wallClockNow())
                                                   : std::nullopt;
    if (!m_quiet || !until) {
        if (calledFromDBus())
            sendErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s,
                           u"Quiet is on, off or a span such as 1h, 30m or 1h30m, not "_s + what);
        return {};
    }
    m_quiet->setUntil(*until);
    return m_quiet->text().isEmpty() ? u"Notifications on"_s : m_quiet->text();
}

QString BusService::Focus(const QString &target)
{
    const QJsonArray named = SessionTarget::named(
        QJsonDocument::fromJson(sessionsJson(m_sessions).toUtf8()).array(), target);
    if (named.size() > 1) {
        QStringList candidates;
        for (const QJsonValue &session : named)
            candidates.append(SessionTarget::candidateLine(session.toObject()));
        if (calledFromDBus())
            sendErrorReply(QString::fromLatin1(SessionTarget::ambiguousError),
                           candidates.join(u'\n'));
        return {};
    }
    if (named.isEmpty() || !m_focus)
        return {};
    QString problem;
    const QString name = m_focus(named.first().toObject().value(u"id").toString(), &problem);
    if (!problem.isEmpty()) {
        if (calledFromDBus())
            sendErrorReply(QString::fromLatin1(SessionTarget::noTerminalError), problem);
        return {};
    }
    return name;
}

void BusService::AddRemoteHost(const QString &name, const QString &transport)
{
    const QString problem = m_remotes.add ? m_remotes.add(name, transport) : u"not now"_s;
    if (!problem.isEmpty())
        sendErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s, problem);
}

void BusService::RemoveRemoteHost(const QString &name)
{
    if (m_remotes.remove)
        m_remotes.remove(name);
}

QString BusService::RemoteHosts() const
{
    return m_remotes.list ? m_remotes.list() : u"[]"_s;
}

QString BusService::Answer(const QString &target, const QString &answer, const QString &reason)
{
    const auto refuse = [this](const char *error, const QString &message) {
        if (calledFromDBus())
            sendErrorReply(QString::fromLatin1(error), message);
        return QString();
    };
    if (!PermissionAnswers::answerOf(answer))
        return refuse("org.freedesktop.DBus.Error.InvalidArgs",
                      u"The answer is one of allow, always and deny, not "_s + answer);
    QString id = target;
    if (!PermissionHold::isRequestId(target.toStdString())) {
        const QJsonArray named = SessionTarget::named(
            QJsonDocument::fromJson(sessionsJson(m_sessions).toUtf8()).array(), target);
        QStringList lines;
        for (const QJsonValue &session : named)
            lines.append(SessionTarget::candidateLine(session.toObject()));
        if (named.size() > 1)
            return refuse(SessionTarget::ambiguousError, lines.join(u'\n'));
        if (named.isEmpty())
            return refuse(SessionTarget::notWaitingError,
                          u"No request waits under the id, and no session has the name, "
                          "process id or id "_s +
                              target);
        const QJsonArray requests = named.first().toObject().value(u"requests").toArray();
        if (requests.isEmpty())
            return refuse(SessionTarget::notWaitingError,
                          lines.first() + u" has no request waiting"_s);
        if (requests.size() > 1) {
            lines.clear();
            for (const QJsonValue &request : requests)
                lines.append(request[u"id"].toString() + u"  "_s + request[u"text"].toString());
            return refuse(SessionTarget::ambiguousError, lines.join(u'\n'));
        }
        id = requests.first()[u"id"].toString();
    }
    if (!m_answer)
        return refuse(SessionTarget::notWaitingError, u"Tolvo cannot answer requests"_s);
    const Answered answered = m_answer(id, answer, reason);
    if (!answered.ok)
        return refuse(SessionTarget::notWaitingError, answered.message);
    return answered.message;
}

void BusService::Activate(const QVariantMap &platformData)
{
    m_activate(platformData);
}

// Tolvo opens no documents and has no actions; a request for either still
// means the user wants to see it.
void BusService::Open(const QStringList &, const QVariantMap &platformData)
{
    m_activate(platformData);
}

void BusService::ActivateAction(const QString &, const QVariantList &,
                                const QVariantMap &platformData)
{
    m_activate(platformData);
}
