#pragma once

#include "hookevent.h"

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

// Points HOME and XDG_CONFIG_HOME at a fresh temporary directory for the
// lifetime of the object, so that the event pipe and the settings of a test
// never touch the user's own.
class TestHome
{
public:
    TestHome();
    ~TestHome();
    QString path() const { return m_dir.path(); }
    QString tolvoPath() const { return m_dir.path() + QStringLiteral("/.tolvo"); }
    QString pipePath() const { return tolvoPath() + QStringLiteral("/events"); }
    QString configPath() const { return m_dir.path() + QStringLiteral("/.config/tolvo"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
};

namespace TestPaths {
// The build tree, laid out like an install prefix.
inline QString buildPrefix()
{
    return QStringLiteral(TOLVO_BUILD_PREFIX);
}
inline QString fixture(const QString &name)
{
    return QStringLiteral(TOLVO_FIXTURES_DIR "/hook-inputs/") + name;
}
// A file's bytes; null when it cannot be read.
QByteArray readFile(const QString &path);
// Writes a whole file, making its folder first.
bool writeFile(const QString &path, const QByteArray &bytes);
} // namespace TestPaths

namespace Desktop {
// A program of the build: "tolvo", "tolvoctl".
inline QString binary(const char *name)
{
    return TestPaths::buildPrefix() + QStringLiteral("/bin/") + QLatin1String(name);
}
// Runs a program to its end; its standard output, trimmed.
QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr);
// What the running Tolvo tells scripts (tolvoctl status --json); empty while none answers.
QString instances();
// A process that goes with its owner.
struct Child : QProcess
{
    // Starts the real binary in the current home and waits until hooks reach it.
    bool launchTolvo(const QStringList &arguments = {});
    // True when Tolvo ended cleanly on the signal, as a session manager ends it.
    bool end(int signal);
    ~Child() override;
};
// "summary: body" (the body as sent) of each notification the server (dunst)
// has shown beyond the `seen` first ones, oldest first; moves `seen` on. Its
// history holds closed notifications only, so those on screen are closed.
QStringList notificationsSince(qsizetype &seen);
// The same, once there is at least one (or after five seconds).
QStringList nextNotifications(qsizetype &seen);
// What a server that reads bodies as markup shows of one, provided its only
// markup is the escapes of <, > and &; else "<markup>".
QString shownBody(QString body);
// Whether a top-level window with this title is on screen (X11); a tray
// icon or a hidden leader window of the same name does not count.
bool windowShown(const QString &title);
} // namespace Desktop

namespace Records {
using Text = std::optional<QString>;

// A record as the hook command writes it, with `extra` members added.
QByteArray record(qint64 pid, const QString &event, const Text &cwd, const Text &tool = {},
                  const Text &details = {}, const QJsonObject &extra = {});
// The same, decoded as the listener does.
HookEvent event(qint64 pid, const QString &event, const Text &cwd, const Text &tool = {},
                const Text &details = {}, const QJsonObject &extra = {});
HookEvent decode(const QByteArray &record);
// A tool input as the hook command turns it into details.
QString toolInput(const QJsonObject &input);
} // namespace Records
