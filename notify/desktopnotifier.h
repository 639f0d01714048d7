#pragma once

#include "notifier.h"

#include <QDBusConnection>
#include <QObject>

class QDBusPendingCall;

// Escapes the characters that notification-body markup gives a meaning to
// (&, < and >), so that text from a session is shown exactly as written.
QString escapeNotificationBody(const QString &body);

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus. All calls are
// asynchronous; their answers only ever write console lines.
class DesktopNotifier : public QObject, public Notifier
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    // Tests pass a private, a peer-to-peer or a disconnected bus.
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

    void requestPermission() override;
    void installDelegate() override;
    void sendNotification(const QString &title, const QString &body,
                          const QString &identifier) override;

    // False only once the server has said it shows bodies as plain text;
    // until its capabilities are known, bodies are escaped to be safe.
    bool escapesBody() const { return m_bodyMarkup != BodyMarkup::Unsupported; }

private:
    enum class BodyMarkup { Unknown, Supported, Unsupported };

    void learnCapabilities();
    void notify(const QString &title, const QString &body, const QString &identifier);
    QDBusPendingCall callServer(const QString &method, const QVariantList &arguments) const;
    template<typename Done> void whenFinished(const QDBusPendingCall &call, Done done);

    QDBusConnection m_bus;
    BodyMarkup m_bodyMarkup = BodyMarkup::Unknown;
};
