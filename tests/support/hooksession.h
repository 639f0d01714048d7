#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

// One simulated Claude Code process: a long-lived shell that runs the real
// hook command (tolvo-hook "$PPID", the FIFO) once per event, so
// every event of the session carries the same $PPID, exactly as under Claude
// Code.
class HookSession
{
public:
    // `prefix` is the install prefix whose libexec/tolvo/tolvo-hook is used.
    // `agent`: the token another agent's hook command passes after "$PPID".
    // `arguments`: what the process's command line shows after the shell's
    // own ("app-server" for Codex's shared server).
    explicit HookSession(const QString &prefix, const QString &agent = {},
                         const QStringList &arguments = {});
    ~HookSession();

    qint64 pid() const { return m_shell.processId(); }

    // The hook command as sh runs it: '<prefix>/libexec/tolvo/tolvo-hook' "$PPID".
    static QString shellCommand(const QString &prefix);

    // Runs the hook command with `input` (a hook input object) on its standard
    // input and waits until the command has returned.
    bool send(const QJsonObject &input);
    // The same with the input's bytes exactly as given (which need not be
    // valid JSON or valid UTF-16 escapes).
    bool send(const QByteArray &input);

    // Starts the hook command with `input` and returns at once, as Claude Code
    // does with a hook that waits for an answer: the process that runs it
    // (tolvo-hook itself, sh having made way for it), and the file that gets
    // what it prints.
    struct Started
    {
        qint64 pid = 0;
        QString output;
    };
    Started start(const QJsonObject &input);

    // A fixture of the shared hook inputs, with its working directory replaced.
    static QJsonObject fixture(const QString &name, const QString &cwd = QString());

private:
    QString inputFile(const QByteArray &input);
    QByteArray command(const QByteArray &line);
    QTemporaryDir m_dir;
    QProcess m_shell;
    int m_sent = 0;
};
