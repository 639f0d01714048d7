#include "relayconnection.h"

#include "eventslog.h"
#include "intakelog.h"
#include "permissionhold.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cctype>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// What the relay writes before a record's bytes, and after them.
constexpr QByteArrayView itemStart = "{\"seq\":";
constexpr QByteArrayView recordMember = ",\"record\":";
constexpr qsizetype errorTextLimit = 300;

// One line for the user from text of the remote's: no control characters, bounded.
QString oneLine(QByteArrayView text)
{
    QString line = QString::fromUtf8(text);
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u' ';
    }
    line = line.trimmed();
    if (line.size() > errorTextLimit)
        line = line.left(errorTextLimit) + u'…';
    return line;
}

// A process id as the relay writes it, a decimal text; 0 when it is none.
qint64 pidOf(const QJsonValue &value)
{
    const std::optional<qint64> pid = parseProcessId(value.toString());
    return pid && *pid > 0 ? *pid : 0;
}

} // namespace

RelayConnection::RelayConnection(const QString &host, const QStringList &command, QObject *parent)
    : QObject(parent), m_host(host), m_command(command)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &RelayConnection::launch);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &RelayConnection::readLines);
    connect(&m_process, &QProcess::readyReadStandardError, this, &RelayConnection::readErrors);
    connect(&m_process, &QProcess::finished, this, &RelayConnection::ended);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            m_relayProblem = m_process.errorString();
            ended();
        }
    });
}

RelayConnection::~RelayConnection()
{
    stop();
}

void RelayConnection::start()
{
    m_stopped = false;
    if (m_process.state() == QProcess::NotRunning && !m_retry.isActive())
        launch();
}

void RelayConnection::stop()
{
    m_stopped = true;
    m_retry.stop();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        m_process.kill();
        m_process.waitForFinished(1000);
    }
    setState(State::disconnected);
}

void RelayConnection::setCommand(const QStringList &command)
{
    const bool started = !m_stopped;
    stop();
    m_command = command;
    m_retryMs = firstRetryMs;
    if (started)
        start();
}

void RelayConnection::launch()
{
    if (m_stopped || m_command.isEmpty())
        return;
    m_buffer.clear();
    m_skipping = false;
    m_lastError.clear();
    m_relayProblem.clear();
    setState(State::connecting);
    qCDebug(lcIntake).noquote() << "Connecting to" << m_host << "with" << m_command.first();
    m_process.start(m_command.first(), m_command.mid(1));
}

void RelayConnection::ended()
{
    if (m_process.state() != QProcess::NotRunning)
        return; // errorOccurred for a process that still runs
    readLines();
    readErrors();
    QString why = oneLine(m_relayProblem.isEmpty() ? m_lastError : m_relayProblem.toUtf8());
    if (why.isEmpty())
        why = QStringLiteral("the connection ended");
    qCInfo(lcIntake).noquote() << "Relay of" << m_host << "ended:" << why;
    setState(State::disconnected, why);
    if (m_stopped)
        return;
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, longestRetryMs);
}

void RelayConnection::readErrors()
{
    // The last line is the one that says why: keep a few kilobytes of it.
    m_lastError += m_process.readAllStandardError();
    if (m_lastError.endsWith('\n'))
        m_lastError.chop(1);
    const qsizetype lastLine = m_lastError.lastIndexOf('\n');
    if (lastLine >= 0)
        m_lastError.remove(0, lastLine + 1);
    if (m_lastError.size() > 4096)
        m_lastError.truncate(4096);
}

void RelayConnection::readLines()
{
    for (;;) {
        const QByteArray chunk = m_process.read(1 << 20);
        if (chunk.isEmpty())
            return;
        qsizetype from = 0;
        while (from < chunk.size()) {
            const qsizetype end = chunk.indexOf('\n', from);
            const QByteArrayView piece =
                QByteArrayView(chunk).sliced(from, (end < 0 ? chunk.size() : end) - from);
            if (!m_skipping) {
                if (m_buffer.size() + piece.size() > lineLimit) {
                    qCWarning(lcIntake).noquote()
                        << "Dropped a line over" << lineLimit << "bytes from" << m_host;
                    m_buffer.clear();
                    m_skipping = true;
                } else {
                    m_buffer.append(piece);
                }
            }
            if (end < 0)
                break;
            if (!m_skipping)
                take(std::exchange(m_buffer, {}));
            m_skipping = false;
            from = end + 1;
        }
    }
}

void RelayConnection::take(const QByteArray &line)
{
    if (line.startsWith(itemStart)) {
        qsizetype digits = itemStart.size();
        while (digits < line.size() && digits - itemStart.size() < 18 &&
               std::isdigit(static_cast<unsigned char>(line.at(digits))))
            ++digits;
        const qint64 seq = line.mid(itemStart.size(), digits - itemStart.size()).toLongLong();
        if (seq <= 0) {
            qCWarning(lcIntake).noquote() << "Dropped an item without its number from" << m_host;
            return;
        }
        takeItem(seq, line.sliced(digits));
        return;
    }
    const QJsonObject notice = QJsonDocument::fromJson(line).object();
    if (notice.isEmpty())
        qCWarning(lcIntake).noquote() << "Dropped a line that is no object from" << m_host;
    else
        takeNotice(notice);
}

// `rest`: the item after its number, starting with the comma.
void RelayConnection::takeItem(qint64 seq, const QByteArray &rest)
{
    if (m_state != State::connected) {
        qCWarning(lcIntake).noquote() << "Dropped an item before the greeting from" << m_host;
        return;
    }
    if (seq <= m_lastSeq)
        return; // seen before this connection
    m_lastSeq = seq;
    if (rest.startsWith(recordMember) && rest.endsWith('}')) {
        const QByteArray record =
            rest.sliced(recordMember.size(), rest.size() - recordMember.size() - 1);
        auto decoded = decodeHookRecord(record, 0);
        if (auto *rejected = std::get_if<HookRecordRejected>(&decoded)) {
            qCDebug(lcEvents).noquote() << m_host << rejected->consoleLine;
            return;
        }
        HookEvent event = std::get<HookEvent>(std::move(decoded));
        if (event.pid <= 0)
            return; // a remote's sessions are told apart by their processes there
        event.host = m_host;
        // Helpers that waited were let go when the last desktop went away:
        // a replayed request shows, but nothing answers it from here.
        if (m_replaying) {
            event.requestId.reset();
            event.helperPid = 0;
        }
        Q_EMIT eventReceived(event);
        return;
    }
    const QJsonObject item = QJsonDocument::fromJson("{\"seq\":0" + rest).object();
    if (const qint64 pid = pidOf(item.value(u"exited")))
        Q_EMIT exited(m_host, pid);
    else if (const qint64 pid = pidOf(item.value(u"refused")))
        Q_EMIT refused(m_host, pid);
    else
        qCWarning(lcIntake).noquote() << "Dropped an item not understood from" << m_host;
}

void RelayConnection::takeNotice(const QJsonObject &notice)
{
    const QString kind = notice.value(u"relay").toString();
    if (kind == u"hello") {
        if (notice.value(u"version").toInt() != 1) {
            m_relayProblem = u"the helper on "_s + m_host +
                             u" is of another version of Tolvo: set the host up again"_s;
            m_process.kill();
            return;
        }
        const QString epoch = notice.value(u"epoch").toString().left(64);
        if (epoch != m_epoch) {
            m_epoch = epoch;
            m_lastSeq = 0;
        }
        m_retryMs = firstRetryMs;
        m_replaying = true;
        setState(State::connected);
        sendHold();
        return;
    }
    if (m_state != State::connected) {
        if (kind == u"error")
            m_relayProblem = notice.value(u"message").toString();
        return;
    }
    const QString request = notice.value(u"request").toString();
    if (kind == u"replayed") {
        m_replaying = false;
        QList<qint64> live;
        const QJsonArray pids = notice.value(u"live").toArray();
        for (qsizetype i = 0; i < pids.size() && i < 4096; ++i) {
            if (const qint64 pid = pidOf(pids.at(i)))
                live.append(pid);
        }
        Q_EMIT replayed(m_host, live);
    } else if (kind == u"ended" && PermissionHold::isRequestId(request.toStdString())) {
        Q_EMIT requestEnded(m_host, request);
    } else if (kind == u"answered" && PermissionHold::isRequestId(request.toStdString())) {
        Q_EMIT answered(m_host, request, notice.value(u"delivered").toBool());
    } else if (kind == u"focused") {
        Q_EMIT focused(m_host, pidOf(notice.value(u"instance")), notice.value(u"ok").toBool(),
                       oneLine(notice.value(u"message").toString().toUtf8()));
    } else if (kind == u"replaced") {
        m_relayProblem = u"another Tolvo connected to "_s + m_host;
        m_retryMs = longestRetryMs;
    } else if (kind == u"error") {
        m_relayProblem = notice.value(u"message").toString();
    }
}

void RelayConnection::setState(State state, const QString &message)
{
    if (state == m_state && message == m_message)
        return;
    m_state = state;
    m_message = message;
    Q_EMIT stateChanged();
}

bool RelayConnection::send(const QJsonObject &command)
{
    if (m_state != State::connected)
        return false;
    const QByteArray line = QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n';
    return m_process.write(line) == line.size();
}

void RelayConnection::setHold(const PermissionHold::Bound &bound)
{
    m_hold = bound;
    m_hold.seconds = std::clamp(bound.seconds, 0L, 3600L);
    sendHold();
}

// A relay of an earlier version reads only the seconds, and holds Claude
// Code's requests with them.
void RelayConnection::sendHold()
{
    QJsonArray agents;
    if (m_hold.claude)
        agents.append(QString::fromLatin1(PermissionHold::claudeWord));
    if (m_hold.codex)
        agents.append(QString::fromLatin1(PermissionHold::codexWord));
    send({{u"hold"_s, qint64(m_hold.seconds)}, {u"agents"_s, agents}});
}

bool RelayConnection::answer(const QString &requestId, const QByteArray &decision)
{
    return send(
        {{u"answer"_s, requestId}, {u"decision"_s, QJsonDocument::fromJson(decision).object()}});
}

void RelayConnection::release(const QString &requestId)
{
    send({{u"release"_s, requestId}});
}

bool RelayConnection::focus(qint64 pid)
{
    return send({{u"focus"_s, QString::number(pid)}});
}
