#include "pushsettings.h"

#include "pushnotifier.h"

#include <QTime>

using namespace Qt::StringLiterals;

namespace {

QString stamped(const QString &text)
{
    return QTime::currentTime().toString(u"HH:mm:ss"_s) + u" \u2014 "_s + text;
}

} // namespace

PushSettings::PushSettings(PushNotifier &notifier, QObject *parent)
    : QObject(parent), m_notifier(notifier)
{
    connect(&notifier, &PushNotifier::delivered, this, [this](const QString &status) {
        m_lastSuccess = stamped(u"delivered ("_s + status + u')');
        Q_EMIT changed();
    });
    connect(&notifier, &PushNotifier::failed, this, [this](const QString &message) {
        m_lastError = stamped(message);
        Q_EMIT changed();
    });
    connect(&notifier.sender(), &PushSender::droppedChanged, this, &PushSettings::changed);
    connect(&notifier, &PushNotifier::tokenSaved, this, [this](const QString &problem) {
        m_tokenStatus = problem.isEmpty() ? u"The token is in the keyring."_s : problem;
        Q_EMIT changed();
    });
    connect(&notifier, &PushNotifier::tokenRemoved, this, [this](const QString &problem) {
        m_tokenStatus = problem.isEmpty() ? u"No token: pushes go without one."_s : problem;
        Q_EMIT changed();
    });
}

QString PushSettings::introduction()
{
    return u"While the desktop is idle or locked, each notice also goes to an ntfy server, "
           "which passes it on to the ntfy app on your phone. A permission request that waits "
           "is pushed after the minutes below even while you are at the desk. A push tells "
           "what waits and in which project; answer it at the desk."_s;
}

QString PushSettings::dropped() const
{
    const int count = m_notifier.sender().dropped();
    if (count == 0)
        return {};
    return count == 1 ? u"1 push dropped: too many were waiting"_s
                      : u"%1 pushes dropped: too many were waiting"_s.arg(count);
}

QString PushSettings::addressProblem(const QString &server, const QString &topic)
{
    QString problem;
    PushSender::publishUrl(server, topic, &problem);
    return problem;
}

void PushSettings::sendTest()
{
    m_notifier.sendTest();
}

void PushSettings::saveToken(const QString &token)
{
    m_tokenStatus = u"Saving…"_s;
    Q_EMIT changed();
    m_notifier.saveToken(token.trimmed());
}

void PushSettings::removeToken()
{
    m_notifier.removeToken();
}
