#pragma once

#include "notifier.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

// Points HOME and XDG_CONFIG_HOME at a fresh temporary directory for the
// lifetime of the object, so that the event pipe and the defaults file of a
// test never touch the user's own.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    QString path() const { return m_dir.path(); }
    QString pipePath() const { return m_dir.path() + QStringLiteral("/.tolvo/events"); }
    QString defaultsPath() const { return m_dir.path() + QStringLiteral("/.config/tolvo/tolvo.ini"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
};

// Collects the console lines written while it exists.
class ConsoleCapture
{
public:
    ConsoleCapture();
    ~ConsoleCapture();
    QStringList lines() const;
    void clear();

private:
    struct State;
    State *m_state;
};

// Records notifications instead of showing them.
class RecordingNotifier : public Notifier
{
public:
    struct Sent
    {
        QString title;
        QString body;
        QString identifier;
    };
    void requestPermission() override { ++permissionRequests; }
    void installDelegate() override { ++delegateInstalls; }
    void sendNotification(const QString &title, const QString &body,
                          const QString &identifier) override
    {
        sent.append({title, body, identifier});
    }

    int permissionRequests = 0;
    int delegateInstalls = 0;
    QList<Sent> sent;
};

namespace TestPaths {
// The build tree, laid out like an install prefix.
inline QString buildPrefix() { return QStringLiteral(TOLVO_BUILD_PREFIX); }
inline QString fixture(const QString &name)
{
    return QStringLiteral(TOLVO_FIXTURES_DIR "/hook-inputs/") + name;
}
} // namespace TestPaths
