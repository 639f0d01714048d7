#include "remotesetup.h"

#include "hookinstaller.h"
#include "remotescripts.h"
#include "setuplog.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTimer>
#include <sys/utsname.h>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 helperLimit = 64 << 20;
constexpr qint64 settingsLimit = 8 << 20;
constexpr qint64 answerLimit = 64 << 10;
constexpr qsizetype errorLimit = 64 << 10;

QByteArray checksum(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString sizeText(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

// The last line of what a remote wrote to stderr, safe to show: no escape sequences,
// no endless line.
QString lastLine(const QByteArray &err)
{
    const QList<QByteArray> lines = err.trimmed().split('\n');
    QString line = QString::fromUtf8(lines.last().trimmed()).left(300);
    for (QChar &c : line) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return line;
}

} // namespace

RemoteSetup::RemoteSetup(QObject *parent)
    : QObject(parent), m_localHelper(HookConfiguration::hookHelperPath()), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_stopped = u"no answer within %1 s"_s.arg(m_stepTimeout / 1000);
        m_process->kill();
    });
}

RemoteSetup::~RemoteSetup()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

void RemoteSetup::setLocalHelper(const QString &path)
{
    m_localHelper = path;
}

void RemoteSetup::setHoldMinutes(int minutes)
{
    m_holdMinutes = minutes;
}

void RemoteSetup::setStepTimeout(int milliseconds)
{
    m_stepTimeout = milliseconds;
}

QString RemoteSetup::localMachine()
{
    utsname names{};
    return ::uname(&names) == 0 ? QString::fromLocal8Bit(names.machine) : QString();
}

bool RemoteSetup::begin(const RemoteHost &host)
{
    if (m_running)
        return false;
    m_running = true;
    m_host = host;
    m_result = {};
    m_remoteHome.clear();
    return true;
}

void RemoteSetup::add(const RemoteHost &host)
{
    if (!begin(host))
        return;
    // Results come from the event loop only, also when the first step fails at once.
    QTimer::singleShot(0, this, [this] {
        QFile file(m_localHelper);
        if (!file.open(QIODevice::ReadOnly))
            return fail(u"this Tolvo's helper %1 cannot be read: %2"_s.arg(m_localHelper,
                                                                           file.errorString()));
        if (file.size() > helperLimit)
            return fail(u"this Tolvo's helper %1 is larger than %2"_s.arg(m_localHelper,
                                                                          sizeText(helperLimit)));
        m_helper = file.readAll();
        m_helperSum = checksum(m_helper);
        run(RemoteScripts::probe(), {}, settingsLimit,
            [this](const Output &probe) { probed(probe); });
    });
}

void RemoteSetup::remove(const RemoteHost &host)
{
    if (!begin(host))
        return;
    QTimer::singleShot(0, this, [this] { editSettings(false, 0, [this] { deleteHelper(); }); });
}

RemoteSetup::Result RemoteSetup::addAndWait(const RemoteHost &host)
{
    return wait(&RemoteSetup::add, host);
}

RemoteSetup::Result RemoteSetup::removeAndWait(const RemoteHost &host)
{
    return wait(&RemoteSetup::remove, host);
}

RemoteSetup::Result RemoteSetup::wait(void (RemoteSetup::*start)(const RemoteHost &),
                                      const RemoteHost &host)
{
    if (m_running)
        return {false, false, {}, u"Tolvo is already setting up a host"_s};
    QEventLoop loop;
    Result result;
    const auto done = connect(this, &RemoteSetup::finished, &loop, [&](const Result &r) {
        result = r;
        loop.quit();
    });
    (this->*start)(host);
    loop.exec();
    disconnect(done);
    return result;
}

void RemoteSetup::probed(const Output &probe)
{
    if (!probe.ok)
        return fail(u"could not reach %1: %2"_s.arg(m_host.name, probe.error));
    m_result.reached = true;
    const QList<QByteArray> lines = RemoteScripts::after(probe.out, RemoteScripts::probeLine)
                                        .value_or(QByteArray())
                                        .split('\n');
    if (lines.size() < 5)
        return fail(u"%1 answered with something other than its system"_s.arg(m_host.name));
    const QString system = QString::fromUtf8(lines[0]);
    const QString machine = QString::fromUtf8(lines[1]);
    const QByteArray remoteSum = lines[2].split(' ').first();
    m_remoteHome = QString::fromUtf8(lines[3]);
    const QByteArray settings = lines.mid(4).join('\n');
    if (system != u"Linux")
        return fail(
            u"%1 runs %2; this Tolvo's helper is built for Linux"_s.arg(m_host.name, system));
    if (machine != localMachine())
        return fail(u"%1 is %2; this Tolvo's helper is built for %3"_s.arg(m_host.name, machine,
                                                                           localMachine()));
    const QString problem = HookConfiguration::prefixProblem(m_remoteHome + u"/.local"_s);
    if (!problem.isEmpty())
        return fail(u"cannot install hooks on %1: %2"_s.arg(m_host.name, problem));
    if (remoteSum == m_helperSum) {
        say(u"the helper on %1 is up to date"_s.arg(m_host.name));
        return settingsRead(true, 0, settings, [this] { succeed(); });
    }
    run(RemoteScripts::copyHelper(), m_helperSum + '\n' + m_helper, answerLimit,
        [this, settings](const Output &copy) {
            if (!copy.ok)
                return fail(u"could not copy the helper to %1: %2"_s.arg(m_host.name, copy.error));
            say(u"copied the helper (%1) to %2:~/%3"_s.arg(sizeText(m_helper.size()), m_host.name,
                                                           RemoteHosts::helperPath));
            settingsRead(true, 0, settings, [this] { succeed(); });
        });
}

void RemoteSetup::editSettings(bool install, int attempt, const std::function<void()> &then)
{
    const QString read =
        install ? RemoteScripts::readSettings() : RemoteScripts::stopRelayAndReadSettings();
    run(read, {}, settingsLimit, [=, this](const Output &current) {
        if (!current.ok)
            return fail(u"could not %1 %2: %3"_s.arg(install ? u"read"_s : u"reach"_s,
                                                     install ? settingsShown() : m_host.name,
                                                     current.error));
        m_result.reached = true;
        settingsRead(install, attempt, current.out, then);
    });
}

void RemoteSetup::settingsRead(bool install, int attempt, const QByteArray &answer,
                               const std::function<void()> &then)
{
    const std::optional<QByteArray> text = RemoteScripts::after(answer, RemoteScripts::presentLine);
    if (!text && !RemoteScripts::after(answer, RemoteScripts::missingLine))
        return fail(u"%1 answered with something other than its settings"_s.arg(m_host.name));
    const HookInstaller::Edit edit =
        install ? HookInstaller::install(text.value_or(QByteArray()), m_remoteHome + u"/.local"_s,
                                         m_holdMinutes)
                : HookInstaller::remove(text.value_or(QByteArray()));
    if (!edit.ok)
        return fail(u"%1 was not changed: the file %2"_s.arg(settingsShown(), edit.reason));
    if (!edit.changed) {
        say((install ? u"Tolvo's hooks were already installed in %1"_s
                     : u"%1 has no Tolvo hooks to remove"_s)
                .arg(settingsShown()));
        return then();
    }
    const QByteArray input = (text ? checksum(*text) : "missing") + '\n' + edit.text;
    run(RemoteScripts::writeSettings(), input, answerLimit, [=, this](const Output &written) {
        if (written.exitCode == RemoteScripts::changedMeanwhile && attempt == 0)
            return editSettings(install, attempt + 1, then);
        if (!written.ok)
            return fail(u"could not write %1: %2"_s.arg(settingsShown(), written.error));
        say((install ? u"hooks installed in %1"_s : u"hooks removed from %1"_s)
                .arg(settingsShown()));
        if (RemoteScripts::after(written.out, RemoteScripts::backupLine))
            say(u"the previous file is kept as %1"_s.arg(
                HookInstaller::backupPath(settingsShown())));
        then();
    });
}

void RemoteSetup::deleteHelper()
{
    run(RemoteScripts::deleteHelper(), {}, answerLimit, [this](const Output &deleted) {
        if (!deleted.ok)
            return fail(u"could not delete the helper on %1: %2"_s.arg(m_host.name, deleted.error));
        say((RemoteScripts::after(deleted.out, RemoteScripts::deletedLine)
                 ? u"deleted the helper on %1"_s
                 : u"%1 had no helper to delete"_s)
                .arg(m_host.name));
        succeed();
    });
}

QString RemoteSetup::settingsShown() const
{
    return m_host.name + u":~/"_s + RemoteScripts::settingsPath;
}

void RemoteSetup::say(const QString &line)
{
    qCDebug(lcSetup).noquote() << m_host.name << line;
    m_result.lines.append(line);
    Q_EMIT progress(line);
}

void RemoteSetup::fail(const QString &line)
{
    qCDebug(lcSetup).noquote() << m_host.name << line;
    m_result.error = line;
    m_result.ok = false;
    m_running = false;
    m_helper.clear();
    Q_EMIT finished(m_result);
}

void RemoteSetup::succeed()
{
    m_result.ok = true;
    m_running = false;
    m_helper.clear();
    Q_EMIT finished(m_result);
}

void RemoteSetup::run(const QString &script, const QByteArray &input, qint64 outputLimit, Next next)
{
    const QStringList command =
        RemoteHosts::commandLine(m_host.transport, RemoteScripts::shellCommand(script));
    if (command.isEmpty())
        return next({false, -1, {}, u"the transport names no command"_s});
    m_out.clear();
    m_err.clear();
    m_stopped.clear();
    m_outputLimit = outputLimit;
    m_next = std::move(next);
    m_process = new QProcess(this);
    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_out += m_process->readAllStandardOutput();
        if (m_out.size() > m_outputLimit && m_stopped.isEmpty()) {
            m_stopped = u"%1 sent more than %2"_s.arg(m_host.name, sizeText(m_outputLimit));
            m_process->kill();
        }
    });
    connect(m_process, &QProcess::readyReadStandardError, this,
            [this] { m_err = (m_err + m_process->readAllStandardError()).right(errorLimit); });
    connect(m_process, &QProcess::finished, this, &RemoteSetup::stepDone);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            stepDone();
    });
    m_timer->start(m_stepTimeout);
    qCDebug(lcSetup).noquote() << "running" << command.first() << "for" << m_host.name;
    QProcess *const process = m_process;
    process->start(command.first(), command.mid(1));
    if (m_process != process) // it could not start, and the next step has already run
        return;
    process->write(input);
    process->closeWriteChannel();
}

void RemoteSetup::stepDone()
{
    m_timer->stop();
    QProcess *const process = std::exchange(m_process, nullptr);
    process->disconnect(this);
    process->deleteLater();
    m_out += process->readAllStandardOutput();
    m_err += process->readAllStandardError();
    Output output{false, process->exitCode(), m_out.left(m_outputLimit), {}};
    if (!m_stopped.isEmpty())
        output.error = m_stopped;
    else if (process->error() == QProcess::FailedToStart)
        output.error =
            u"%1 cannot be started: %2"_s.arg(process->program(), process->errorString());
    else if (!m_err.trimmed().isEmpty() &&
             (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0))
        output.error = lastLine(m_err);
    else if (process->exitStatus() != QProcess::NormalExit)
        output.error = u"%1 ended on a signal"_s.arg(process->program());
    else if (process->exitCode() != 0)
        output.error =
            u"%1 ended with exit code %2"_s.arg(process->program()).arg(process->exitCode());
    else
        output.ok = true;
    if (process->exitStatus() != QProcess::NormalExit)
        output.exitCode = -1;
    std::exchange(m_next, {})(output);
}
