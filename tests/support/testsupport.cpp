#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

TestHome::TestHome() : m_oldHome(qgetenv("HOME")), m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
{
    qputenv("HOME", m_dir.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + QStringLiteral("/.config")).toUtf8());
    // Qt warns about a missing runtime directory; give it a private one.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = m_dir.path() + QStringLiteral("/.runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    }
}

TestHome::~TestHome()
{
    qputenv("HOME", m_oldHome);
    if (m_oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
}

namespace TestPaths {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace TestPaths

namespace Desktop {

QString run(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString instances()
{
    return run(binary("tolvoctl"), {QStringLiteral("status"), QStringLiteral("--json")});
}

bool Child::launchTolvo(const QStringList &arguments)
{
    start(binary("tolvo"), arguments);
    // Hooks find it by its pid file, which the listener writes last.
    const QString pidFile = QDir::homePath() + QStringLiteral("/.tolvo/tolvo.pid");
    return QTest::qWaitFor([&] { return !instances().isEmpty() && QFile::exists(pidFile); }, 20000);
}

bool Child::end(int signal)
{
    ::kill(pid_t(processId()), signal);
    return waitForFinished() && exitStatus() == NormalExit && exitCode() == 0;
}

Child::~Child()
{
    kill();
    waitForFinished();
}

QStringList notificationsSince(qsizetype &seen)
{
    run(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    const QString history = run(QStringLiteral("dunstctl"), {QStringLiteral("history")});
    const QJsonArray entries =
        QJsonDocument::fromJson(history.toUtf8())[u"data"].toArray().first().toArray();
    // Newest first. A replacement may reuse a closed one's id: count, not ids.
    QStringList shown;
    for (qsizetype i = 0; i < entries.size() - seen; ++i)
        shown.prepend(entries[i][u"summary"][u"data"].toString() + QStringLiteral(": ") +
                      entries[i][u"body"][u"data"].toString());
    seen = entries.size();
    return shown;
}

QStringList nextNotifications(qsizetype &seen)
{
    QStringList shown;
    (void)QTest::qWaitFor([&] { return !(shown = notificationsSince(seen)).isEmpty(); });
    return shown;
}

QString shownBody(QString body)
{
    if (body.contains(u'<') ||
        body.contains(QRegularExpression(QStringLiteral("&(?!(lt|gt|amp);)"))))
        return QStringLiteral("<markup>");
    return body.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
}

bool windowShown(const QString &title)
{
    const QString windows =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
    for (const QString &line : windows.split(u'\n').filter(u'"' + title + u'"')) {
        const QString id = line.trimmed().section(u' ', 0, 0);
        if (run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}).contains(u"IsViewable"))
            return true;
    }
    return false;
}

} // namespace Desktop

namespace Records {

QByteArray record(qint64 pid, const QString &event, const Text &cwd, const Text &tool,
                  const Text &details, const QJsonObject &extra)
{
    const auto value = [](const Text &text) { return text ? QJsonValue(*text) : QJsonValue(); };
    QJsonObject object = extra;
    object.insert(QStringLiteral("instance"), QString::number(pid));
    object.insert(QStringLiteral("event"), event);
    object.insert(QStringLiteral("tool"), value(tool));
    object.insert(QStringLiteral("details"), value(details));
    object.insert(QStringLiteral("working_directory"), value(cwd));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

HookEvent decode(const QByteArray &record)
{
    return std::get<HookEvent>(decodeHookRecord(record, 0));
}

HookEvent event(qint64 pid, const QString &event, const Text &cwd, const Text &tool,
                const Text &details, const QJsonObject &extra)
{
    return decode(record(pid, event, cwd, tool, details, extra));
}

QString toolInput(const QJsonObject &input)
{
    return QString::fromUtf8(QJsonDocument(input).toJson(QJsonDocument::Compact));
}

} // namespace Records
