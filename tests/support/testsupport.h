#pragma once

#include "console.h"
#include "notifier.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
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
    ConsoleCapture() { Console::setSink([this](const QString &line) { QMutexLocker l(&m_mutex); m_lines.append(line); }); }
    ~ConsoleCapture() { Console::setSink({}); }
    QStringList lines() const { QMutexLocker l(&m_mutex); return m_lines; }
    void clear() { QMutexLocker l(&m_mutex); m_lines.clear(); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
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
    void requestPermission() override {}
    void installDelegate() override {}
    void sendNotification(const QString &title, const QString &body,
                          const QString &identifier) override
    {
        sent.append({title, body, identifier});
    }

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
