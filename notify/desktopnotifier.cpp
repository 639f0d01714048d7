#include "desktopnotifier.h"

#include "notifylog.h"
#include "permissionanswers.h"
#include "textrules.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString serverName = u"org.freedesktop.Notifications"_s;
const QString serverPath = u"/org/freedesktop/Notifications"_s;
const QString serverInterface = u"org.freedesktop.Notifications"_s;
const QString appId = QStringLiteral(TOLVO_APP_ID);

// Notifications go out a tenth of a second after they are raised.
constexpr int deliveryDelayMs = 100;

// The action a server invokes when the notification itself is clicked.
const QString defaultAction = u"default"_s;
const QString goToTerminalAction = u"go-to-terminal"_s;
// The answers' action keys are the words PermissionAnswers reads.
using PermissionAnswers::Answer;

QString describe(const QDBusError &error)
{
    return error.message().isEmpty() ? error.name() : error.message();
}

} // namespace

QString notificationText(const QString &text)
{
    QString carried = TextRules::shortened(text, notificationTextLimit);
    carried.replace(QChar(0), QChar::ReplacementCharacter);
    return carried;
}

QString escapeNotificationBody(const QString &body)
{
    QString escaped;
    escaped.reserve(body.size());
    for (const QChar c : body) {
        switch (c.unicode()) {
        case u'&':
            escaped += "&amp;"_L1;
            break;
        case u'<':
            escaped += "&lt;"_L1;
            break;
        case u'>':
            escaped += "&gt;"_L1;
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

template<typename Done> void DesktopNotifier::whenFinished(const QDBusPendingCall &call, Done done)
{
    // The watcher delivers the answer on this object's (the main) thread.
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher *finished) {
                done(*finished);
                finished->deleteLater();
            });
}

DesktopNotifier::DesktopNotifier(QObject *parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent)
{}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    learnCapabilities();
    // Signals are broadcast to every client: only the server's own count
    // (a peer-to-peer connection has no names, its one peer is the server).
    const QString sender = m_bus.interface() ? serverName : QString();
    m_bus.connect(sender, serverPath, serverInterface, u"ActionInvoked"_s, this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(sender, serverPath, serverInterface, u"NotificationClosed"_s, this,
                  SLOT(notificationClosed(uint, uint)));
    // Sent just before ActionInvoked by servers that hand out activation tokens.
    m_bus.connect(sender, serverPath, serverInterface, u"ActivationToken"_s, this,
                  SLOT(activationToken(uint, QString)));
}

void DesktopNotifier::sendNotification(const QString &title, const QString &body,
                                       const QString &identifier, const QString &distinction,
                                       const AnswerableRequest &request)
{
    QTimer::singleShot(deliveryDelayMs, Qt::PreciseTimer, this,
                       [this, identifier, notice = Waiting{title, body, distinction, request}] {
                           notify(identifier, notice);
                       });
}

void DesktopNotifier::withdraw(const QString &requestId)
{
    if (requestId.isEmpty())
        return;
    if (m_withdrawn.size() >= 256)
        m_withdrawn.clear();
    m_withdrawn.insert(requestId);
    for (auto it = m_shown.begin(); it != m_shown.end();) {
        if (it->requestId == requestId) {
            close(it.key());
            it = m_shown.erase(it);
        } else {
            ++it;
        }
    }
}

void DesktopNotifier::close(uint id)
{
    whenFinished(callServer(u"CloseNotification"_s, {id}), [](const QDBusPendingCall &call) {
        if (call.isError())
            qCDebug(lcNotify) << "closing failed:" << describe(call.error());
    });
}

void DesktopNotifier::learnCapabilities()
{
    whenFinished(callServer(u"GetCapabilities"_s, {}), [this](const QDBusPendingCall &call) {
        const QDBusPendingReply<QStringList> reply = call;
        if (reply.isError()) {
            // Bodies stay escaped; a missing server shows up in the other calls.
            qCDebug(lcNotify) << "capabilities unknown:" << describe(reply.error());
            return;
        }
        m_bodyMarkup = reply.value().contains(u"body-markup"_s) ? BodyMarkup::Supported
                                                                : BodyMarkup::Unsupported;
    });
}

void DesktopNotifier::notify(const QString &identifier, Waiting notice)
{
    if (m_withdrawn.contains(notice.request.id))
        return; // answered within the delivery delay
    const QString &title = notice.title;
    QString &body = notice.body;
    // One call per session on the bus at a time: the next one needs the id the
    // server gives this one to replace it. What comes meanwhile waits; only
    // the newest of it goes out.
    if (m_sending.contains(identifier)) {
        m_waiting.insert(identifier, notice);
        return;
    }
    m_sending.insert(identifier);
    uint replaces = 0;
    for (auto it = m_shown.cbegin(); it != m_shown.cend(); ++it) {
        if (it->identifier == identifier)
            replaces = it.key();
        else if (it->title == title && it->body == body && !notice.distinction.isEmpty())
            body += u'\n' + notice.distinction;
    }
    const QVariantMap hints{
        {u"sound-name"_s, u"message-new-instant"_s},
        {u"desktop-entry"_s, appId},
        {u"urgency"_s, QVariant::fromValue(uchar(1))}, // normal; the protocol wants a byte
    };
    QStringList actions{defaultAction, u"Show"_s};
    const QString requestId = notice.request.id;
    if (!requestId.isEmpty()) {
        actions << PermissionAnswers::word(Answer::allow) << u"Allow"_s;
        if (notice.request.offersAlwaysAllow)
            actions << PermissionAnswers::word(Answer::allowAlways) << u"Always allow"_s;
        actions << PermissionAnswers::word(Answer::deny) << u"Deny"_s;
    }
    actions << goToTerminalAction << u"Go to Terminal"_s;
    const QVariantList arguments{
        u"Tolvo"_s,
        replaces,
        appId, // icon name
        notificationText(title),
        escapesBody() ? escapeNotificationBody(notificationText(body)) : notificationText(body),
        actions,
        hints,
        -1, // the server's own expiry
    };
    whenFinished(callServer(u"Notify"_s, arguments), [=, this](const QDBusPendingCall &call) {
        m_sending.remove(identifier);
        if (call.isError()) {
            qCWarning(lcNotify).noquote()
                << "❌ Failed to send notification:" << describe(call.error());
        } else {
            const uint id = call.reply().arguments().value(0).toUInt();
            qCDebug(lcNotify) << "notification" << identifier << "has server id" << id;
            if (replaces != id)
                m_shown.remove(replaces);
            m_shown.insert(id, {identifier, title, body, {}, requestId});
            if (m_withdrawn.contains(requestId)) // answered while the call was on the bus
                withdraw(requestId);
        }
        if (const auto next = m_waiting.take(identifier); !next.title.isNull())
            notify(identifier, next);
    });
}

void DesktopNotifier::activationToken(uint id, const QString &token)
{
    const auto shown = m_shown.find(id);
    if (shown != m_shown.end())
        shown->activationToken = token.toLatin1();
}

void DesktopNotifier::actionInvoked(uint id, const QString &actionKey)
{
    // Ids of other applications' notifications come by as well.
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.cend())
        return;
    const Shown clicked = *shown;
    // Servers differ in whether a click also closes the notification; this
    // one has done its job either way.
    m_shown.erase(shown);
    close(id);
    if (actionKey == defaultAction)
        Q_EMIT activated(clicked.identifier);
    else if (actionKey == goToTerminalAction)
        Q_EMIT goToTerminalRequested(clicked.identifier, clicked.activationToken);
    else if (!clicked.requestId.isEmpty() && PermissionAnswers::answerOf(actionKey))
        Q_EMIT answerRequested(clicked.requestId, actionKey);
}

void DesktopNotifier::notificationClosed(uint id, uint)
{
    m_shown.remove(id);
}

QDBusPendingCall DesktopNotifier::callServer(const QString &method,
                                             const QVariantList &arguments) const
{
    // Without a bus the call fails like any other, through the same completion.
    if (!m_bus.isConnected()) {
        const QDBusError error = m_bus.lastError();
        return QDBusPendingCall::fromError(
            error.isValid() ? error
                            : QDBusError(QDBusError::Disconnected, u"Not connected to D-Bus"_s));
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(serverName, serverPath, serverInterface, method);
    message.setArguments(arguments);
    return m_bus.asyncCall(message);
}
