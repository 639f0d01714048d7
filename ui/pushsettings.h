#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class PushNotifier;

// What Settings → Push shows of the pushes: the last delivery and the last
// error as the server told them, how many were dropped, what became of the
// token; and its buttons. The token goes straight to the keyring.
class PushSettings : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through App.push.")
    Q_PROPERTY(QString introduction READ introduction CONSTANT)
    Q_PROPERTY(QString lastSuccess READ lastSuccess NOTIFY changed)
    Q_PROPERTY(QString lastError READ lastError NOTIFY changed)
    Q_PROPERTY(QString dropped READ dropped NOTIFY changed)
    Q_PROPERTY(QString tokenStatus READ tokenStatus NOTIFY changed)

public:
    explicit PushSettings(PushNotifier &notifier, QObject *parent = nullptr);

    static QString introduction();
    QString lastSuccess() const { return m_lastSuccess; }
    QString lastError() const { return m_lastError; }
    QString dropped() const;
    QString tokenStatus() const { return m_tokenStatus; }

    // Why pushes cannot go to this server and topic; empty when they can.
    Q_INVOKABLE static QString addressProblem(const QString &server, const QString &topic);

    Q_INVOKABLE void sendTest();
    Q_INVOKABLE void saveToken(const QString &token);
    Q_INVOKABLE void removeToken();

Q_SIGNALS:
    void changed();

private:
    PushNotifier &m_notifier;
    QString m_lastSuccess;
    QString m_lastError;
    QString m_tokenStatus;
};
