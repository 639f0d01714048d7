#include "awaywatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int answerTimeoutMs = 1000;

} // namespace

bool AwayWatch::isAway(const Answers &answers)
{
    return answers.screenSaverActive.value_or(false) || answers.idle.value_or(false) ||
           answers.locked.value_or(false);
}

AwayWatch::AwayWatch(QObject *parent)
    : AwayWatch(QDBusConnection::sessionBus(), QDBusConnection::systemBus(), parent)
{}

AwayWatch::AwayWatch(const QDBusConnection &sessionBus, const QDBusConnection &systemBus,
                     QObject *parent)
    : QObject(parent), m_session(sessionBus), m_system(systemBus)
{}

void AwayWatch::ask(std::function<void(bool away)> done)
{
    struct Pending
    {
        Answers answers;
        int open = 2;
        std::function<void(bool)> done;
    };
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    const auto answered = [pending] {
        if (--pending->open == 0)
            pending->done(isAway(pending->answers));
    };
    const auto watch = [this, answered](const QDBusConnection &bus, const QDBusMessage &call,
                                        auto read) {
        // A bus that is not there fails the call at once: answer later all the same.
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, answerTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [answered, read](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    if (!finished->isError())
                        read(finished->reply().arguments());
                    answered();
                });
    };
    watch(m_session,
          QDBusMessage::createMethodCall(u"org.freedesktop.ScreenSaver"_s,
                                         u"/org/freedesktop/ScreenSaver"_s,
                                         u"org.freedesktop.ScreenSaver"_s, u"GetActive"_s),
          [pending](const QVariantList &arguments) {
              if (!arguments.isEmpty() && arguments.first().typeId() == QMetaType::Bool)
                  pending->answers.screenSaverActive = arguments.first().toBool();
          });
    QDBusMessage properties = QDBusMessage::createMethodCall(
        u"org.freedesktop.login1"_s, u"/org/freedesktop/login1/session/auto"_s,
        u"org.freedesktop.DBus.Properties"_s, u"GetAll"_s);
    properties << u"org.freedesktop.login1.Session"_s;
    watch(m_system, properties, [pending](const QVariantList &arguments) {
        if (arguments.isEmpty())
            return;
        const QVariantMap values = qdbus_cast<QVariantMap>(arguments.first());
        const auto hint = [&values](const QString &name) -> std::optional<bool> {
            const QVariant value = values.value(name);
            if (value.typeId() == QMetaType::Bool)
                return value.toBool();
            return std::nullopt;
        };
        pending->answers.idle = hint(u"IdleHint"_s);
        pending->answers.locked = hint(u"LockedHint"_s);
    });
}
