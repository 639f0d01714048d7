#include "hooksession.h"

#include "hookconfiguration.h"
#include "testsupport.h"

#include <QFile>
#include <QJsonDocument>

HookSession::HookSession(const QString &prefix, const QString &agent, const QStringList &arguments)
{
    QString command = shellCommand(prefix);
    if (!agent.isEmpty())
        command += u' ' + agent;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOOK_COMMAND"), command);
    m_shell.setProcessEnvironment(env);
    m_shell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList shell{
        QStringLiteral("-c"),
        QStringLiteral("while IFS= read -r f; do case $f in "
                       "\\&*) f=${f#?}; sh -c \"$HOOK_COMMAND\" < \"$f\" > \"$f.out\" & "
                       "echo $!;; "
                       "*) sh -c \"$HOOK_COMMAND\" < \"$f\"; echo done;; esac; done"),
        QStringLiteral("session")};
    m_shell.start(QStringLiteral("/bin/sh"), shell + arguments);
    m_shell.waitForStarted();
}

HookSession::~HookSession()
{
    m_shell.closeWriteChannel();
    if (!m_shell.waitForFinished(3000))
        m_shell.kill();
}

bool HookSession::send(const QJsonObject &input)
{
    return send(QJsonDocument(input).toJson(QJsonDocument::Compact));
}

QString HookSession::inputFile(const QByteArray &input)
{
    const QString path = m_dir.filePath(QStringLiteral("input-%1.json").arg(m_sent++));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
        return {};
    return path;
}

QByteArray HookSession::command(const QByteArray &line)
{
    m_shell.write(line + '\n');
    while (!m_shell.canReadLine()) {
        // A megabyte takes its time on a busy machine.
        if (!m_shell.waitForReadyRead(30000))
            return {};
    }
    return m_shell.readLine().trimmed();
}

bool HookSession::send(const QByteArray &input)
{
    const QString path = inputFile(input);
    return !path.isEmpty() && command(path.toUtf8()) == "done";
}

HookSession::Started HookSession::start(const QJsonObject &input)
{
    const QString path = inputFile(QJsonDocument(input).toJson(QJsonDocument::Compact));
    if (path.isEmpty())
        return {};
    return {command('&' + path.toUtf8()).toLongLong(), path + QStringLiteral(".out")};
}

QString HookSession::shellCommand(const QString &prefix)
{
    return HookConfiguration::hookCommand(prefix);
}

QJsonObject HookSession::fixture(const QString &name, const QString &cwd)
{
    QFile file(TestPaths::fixture(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    QJsonObject input = QJsonDocument::fromJson(file.readAll()).object();
    if (!cwd.isEmpty()) {
        const QString old = input.value(u"cwd").toString();
        input.insert(QStringLiteral("cwd"), cwd);
        // Tool inputs name files inside the project; keep them there.
        QByteArray text = QJsonDocument(input).toJson(QJsonDocument::Compact);
        text.replace(old.toUtf8(), cwd.toUtf8());
        input = QJsonDocument::fromJson(text).object();
    }
    return input;
}
