#pragma once

#include "permissionhold.h"
#include "remotehost.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <functional>

class QProcess;
class QTimer;

// Sets a remote host up for Tolvo in one go, or takes Tolvo off it again: the hook
// helper at ~/.local/libexec/tolvo/tolvo-hook there, and Claude Code's settings there
// running it. Everything goes through the host's transport: each step is one run of it
// with a constant script, and file contents travel over its standard input and output
// only, so nothing the remote answers or the user typed ever becomes shell text. Every
// step is bounded in time and output. One operation at a time; the steps run on the
// event loop.
class RemoteSetup : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;      // every step was done
        bool reached = false; // the host answered at least once
        QStringList lines;    // one line for the user per step done, in order
        QString error;        // not ok: the step that failed and why, one line
    };

    explicit RemoteSetup(QObject *parent = nullptr);
    ~RemoteSetup() override;

    // The helper that is copied; by default the one that belongs to this program.
    void setLocalHelper(const QString &path);
    // See HookConfiguration::hooksConfiguration.
    void setHoldMinutes(int minutes);
    // How long one step may take before it is given up.
    void setStepTimeout(int milliseconds);

    // Copies the helper when the remote's differs and installs the hooks. Refused
    // when the remote is not a machine the local helper runs on.
    void add(const RemoteHost &host);
    // Stops the helper's relay, takes the hooks out and deletes the helper.
    void remove(const RemoteHost &host);
    // add() and remove() are ignored while this is true.
    bool isRunning() const { return m_running; }

    // add() or remove() run to their end in a local event loop, for tolvoctl.
    Result addAndWait(const RemoteHost &host);
    Result removeAndWait(const RemoteHost &host);

    // What `uname -m` says on this machine, which the local helper is built for.
    static QString localMachine();

Q_SIGNALS:
    // Each of Result::lines as soon as its step is done.
    void progress(const QString &line);
    void finished(const RemoteSetup::Result &result);

private:
    struct Output
    {
        bool ok = false;
        int exitCode = -1;
        QByteArray out;
        QString error; // why the step failed, one line
    };
    using Next = std::function<void(const Output &)>;

    Result wait(void (RemoteSetup::*start)(const RemoteHost &), const RemoteHost &host);
    bool begin(const RemoteHost &host);
    void run(const QString &script, const QByteArray &input, qint64 outputLimit, Next next);
    void stepDone();
    void say(const QString &line);
    void fail(const QString &line);
    void succeed();

    // Copies the helper when needed, then goes on with the settings the probe read.
    void probed(const Output &probe);
    // Reads the remote settings, edits them and writes them back when they change;
    // `install` puts the hooks in, else they are taken out. `attempt` counts the reads
    // that found the settings changed before they could be written.
    void editSettings(bool install, int attempt, const std::function<void()> &then);
    // The same, from the answer of a read.
    void settingsRead(bool install, int attempt, const QByteArray &answer,
                      const std::function<void()> &then);
    void deleteHelper();

    QString settingsShown() const;

    RemoteHost m_host;
    QString m_localHelper;
    int m_holdMinutes = PermissionHold::defaultMinutes;
    int m_stepTimeout = 30000;
    bool m_running = false;
    Result m_result;
    QByteArray m_helper; // the local helper's bytes, while adding
    QByteArray m_helperSum;
    QString m_remoteHome;

    QProcess *m_process = nullptr;
    QTimer *m_timer = nullptr;
    Next m_next;
    qint64 m_outputLimit = 0;
    QByteArray m_out;
    QByteArray m_err;
    QString m_stopped; // why the step was ended from here
};
