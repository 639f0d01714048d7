#include "pushnotifier.h"

#include "awaywatch.h"
#include "defaultsstore.h"
#include "settingstable.h"

#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

PushNotifier::Config PushNotifier::config(const DefaultsStore &store)
{
    const auto value = [&store](const QString &key) {
        return Settings::value(store, *Settings::find(key));
    };
    return {value(Settings::pushEnabled).toBool(), value(Settings::pushServer).toString(),
            value(Settings::pushTopic).toString(), value(Settings::pushAfterMinutes).toInt()};
}

Push PushNotifier::pushOf(const SessionListModel::Notification &notification)
{
    const bool request = !notification.requestId.isEmpty();
    return {notification.title, notification.notice.body, notification.projectPath, request,
            request ? u"tolvo,permission"_s : u"tolvo,notice"_s};
}

PushNotifier::PushNotifier(const DefaultsStore &store, StillWaiting stillWaiting, QObject *parent)
    : PushNotifier([&store] { return config(store); }, {}, std::move(stillWaiting), parent)
{
    auto *watch = new AwayWatch(this);
    m_away = [watch](std::function<void(bool)> done) { watch->ask(std::move(done)); };
}

PushNotifier::PushNotifier(ConfigSource config, AwayQuestion away, StillWaiting stillWaiting,
                           QObject *parent)
    : QObject(parent), m_config(std::move(config)), m_away(std::move(away)),
      m_stillWaiting(std::move(stillWaiting))
{
    connect(&m_sender, &PushSender::delivered, this, &PushNotifier::delivered);
    connect(&m_sender, &PushSender::failed, this, &PushNotifier::failed);
    connect(&m_token, &PushToken::tokenRead, this,
            [this](const QString &token, const QString &problem) {
                if (m_tokenState != TokenState::Reading)
                    return; // a token saved meanwhile wins
                // Without the keyring's answer the pushes go without a token, and
                // the next one asks again.
                m_tokenState = problem.isEmpty() ? TokenState::Known : TokenState::Unknown;
                if (!problem.isEmpty())
                    Q_EMIT failed(problem + u" (sent without a token)"_s);
                m_sender.setToken(token);
                m_sender.setHeld(false);
            });
    connect(&m_token, &PushToken::tokenWritten, this, [this](const QString &problem) {
        if (problem.isEmpty()) {
            m_sender.setToken(m_savingToken);
            m_tokenState = TokenState::Known;
            m_sender.setHeld(false);
        }
        m_savingToken.clear();
        Q_EMIT tokenSaved(problem);
    });
    connect(&m_token, &PushToken::tokenRemoved, this, [this](const QString &problem) {
        if (problem.isEmpty()) {
            m_sender.setToken({});
            m_tokenState = TokenState::Known;
            m_sender.setHeld(false);
        }
        Q_EMIT tokenRemoved(problem);
    });
}

void PushNotifier::offer(const SessionListModel::Notification &notification)
{
    const Config config = m_config();
    if (!config.enabled)
        return;
    const Push push = pushOf(notification);
    const QString id = notification.requestId;
    if (!id.isEmpty() && !m_armed.contains(id)) {
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, id] { fire(id); });
        timer->start(config.afterMinutes * m_minuteMs);
        m_armed.insert(id, timer);
    }
    if (!id.isEmpty())
        m_armedPushes.insert(id, push);
    if (!m_away)
        return;
    m_away([guard = QPointer(this), id, push](bool away) {
        if (!guard || !away)
            return;
        // A request is pushed once: now, unless it ended or its minutes came first.
        if (!id.isEmpty() && !guard->m_armed.contains(id))
            return;
        guard->cancel(id);
        guard->deliver(push);
    });
}

void PushNotifier::cancel(const QString &requestId)
{
    if (QTimer *timer = m_armed.take(requestId))
        timer->deleteLater();
    m_armedPushes.remove(requestId);
}

void PushNotifier::fire(const QString &requestId)
{
    const Push push = m_armedPushes.value(requestId);
    cancel(requestId);
    if (m_stillWaiting && !m_stillWaiting(requestId))
        return;
    if (m_config().enabled)
        deliver(push);
}

void PushNotifier::deliver(const Push &push)
{
    const Config config = m_config();
    QString problem;
    if (PushSender::publishUrl(config.server, config.topic, &problem).isEmpty()) {
        Q_EMIT failed(problem); // before the keyring is asked for anything
        return;
    }
    if (m_tokenState == TokenState::Unknown) {
        m_tokenState = TokenState::Reading;
        m_sender.setHeld(true);
        m_token.read();
    }
    m_sender.send(config.server, config.topic, push);
}

void PushNotifier::sendTest()
{
    deliver({u"Tolvo"_s, u"A test push: notices reach this device."_s, {}, false, u"tolvo,test"_s});
}

void PushNotifier::saveToken(const QString &token)
{
    const QString problem = PushToken::problemWith(token);
    if (!problem.isEmpty()) {
        Q_EMIT tokenSaved(problem);
        return;
    }
    m_savingToken = token;
    m_token.write(token);
}

void PushNotifier::removeToken()
{
    m_token.remove();
}
