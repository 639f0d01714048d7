// The settings file: read, edited as text, re-read just before it is
// replaced, so that a change made meanwhile by the agent or another tool is
// never written over.
#include "hookinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <functional>

namespace HookInstaller {

namespace {

struct SettingsFile
{
    bool exists = false;
    QByteArray text;
    QString error; // completes "The settings file ..."
};

SettingsFile readSettings(const QString &path)
{
    SettingsFile file;
    const QFileInfo info(path);
    if (!info.exists())
        return file;
    file.exists = true;
    if (info.isDir()) {
        file.error = QStringLiteral("is a folder");
        return file;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        file.error = QStringLiteral("cannot be read: ") + in.errorString();
        return file;
    }
    file.text = in.readAll();
    return file;
}

FileOutcome failed(const QString &message)
{
    return {false, false, message};
}

bool sameFile(const SettingsFile &a, const SettingsFile &b)
{
    return a.exists == b.exists && a.error.isEmpty() && b.error.isEmpty() && a.text == b.text;
}

// Keeps `text`, the file as Tolvo is about to replace it, at `backup` with the file's
// own permissions: it holds what the user wrote, secrets included.
bool writeBackup(const QString &path, const QString &backup, const QByteArray &text, QString *error)
{
    QFile out(backup);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::permissions(path))) {
        *error = out.errorString();
        return false;
    }
    if (out.write(text) != text.size() || !out.flush()) {
        *error = out.errorString();
        out.remove();
        return false;
    }
    return true;
}

// Reads the file, edits it and replaces it atomically, unless the edit was refused or
// changes nothing. Just before the replace the file is read once more: when it
// changed in the meantime the edit is done again on what it holds now, and when it
// changed once more nothing is written.
FileOutcome change(const QString &path, const std::function<Edit(const QByteArray &)> &edit,
                   const QString &changedMessage, const QString &unchangedMessage,
                   const BeforeReplace &beforeReplace)
{
    const QString writeFailed = QStringLiteral("Could not write %1: %2").arg(shownPath(path));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const SettingsFile file = readSettings(path);
        const Edit edited =
            file.error.isEmpty() ? edit(file.text) : Edit{false, file.error, false, {}, {}};
        if (!edited.ok)
            return failed(QStringLiteral("%1 was not changed: the file %2.")
                              .arg(shownPath(path), edited.reason));
        const QString note = edited.note.isEmpty() ? QString() : u' ' + edited.note;
        if (!edited.changed)
            return {true, false, unchangedMessage.arg(shownPath(path)) + note};
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return failed(writeFailed.arg(QStringLiteral("its folder cannot be created")));
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(edited.text) != edited.text.size())
            return failed(writeFailed.arg(out.errorString()));

        QString message = changedMessage.arg(shownPath(path)) + note;
        const QString backup = backupPath(path);
        const bool makeBackup = file.exists && !QFileInfo::exists(backup);
        if (makeBackup) {
            QString error;
            if (!writeBackup(path, backup, file.text, &error))
                return failed(writeFailed.arg(QStringLiteral("no backup could be made: ") + error));
            message += QStringLiteral(" The previous file is kept as %1.").arg(shownPath(backup));
        }
        if (beforeReplace)
            beforeReplace();
        if (!sameFile(readSettings(path), file)) {
            // Not Tolvo's first change after all; QSaveFile drops its copy.
            if (makeBackup)
                QFile::remove(backup);
            continue;
        }
        if (!out.commit())
            return failed(writeFailed.arg(out.errorString()));
        return {true, true, message};
    }
    return failed(QStringLiteral("Tolvo did not write %1: it changed while Tolvo was writing it; "
                                 "try again.")
                      .arg(shownPath(path)));
}

} // namespace

QString shownPath(const QString &path)
{
    const QString home = QDir::homePath() + u'/';
    return path.startsWith(home) ? u'~' + path.mid(home.size() - 1) : path;
}

QString defaultSettingsPath(Agent agent)
{
    switch (agent) {
    case Agent::codex: {
        const QString codexHome = qEnvironmentVariable("CODEX_HOME");
        return (QDir::isAbsolutePath(codexHome) ? QDir::cleanPath(codexHome)
                                                : QDir::homePath() + QStringLiteral("/.codex")) +
               QStringLiteral("/hooks.json");
    }
    case Agent::gemini:
        return QDir::homePath() + QStringLiteral("/.gemini/settings.json");
    case Agent::claudeCode:
        break;
    }
    return QDir::homePath() + QStringLiteral("/.claude/settings.json");
}

QString backupPath(const QString &settingsPath)
{
    return settingsPath + QStringLiteral(".tolvo-backup");
}

Inspection inspectFile(const QString &settingsPath, const QString &prefix, int holdMinutes,
                       Agent agent)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return {State::Invalid, file.error, {}};
    return inspect(file.text, prefix, holdMinutes, agent);
}

StatusLineInspection inspectStatusLineFile(const QString &settingsPath, const QString &prefix)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return {};
    return inspectStatusLine(file.text, prefix);
}

FileOutcome installFile(const QString &settingsPath, const QString &prefix,
                        const BeforeReplace &beforeReplace, int holdMinutes, Agent agent,
                        bool shareStatusLine)
{
    const QString problem = HookConfiguration::prefixProblem(prefix);
    if (!problem.isEmpty())
        return failed(
            QStringLiteral("%1 was not changed: %2.").arg(shownPath(settingsPath), problem));
    return change(
        settingsPath,
        [&](const QByteArray &text) {
            return install(text, prefix, holdMinutes, agent, shareStatusLine);
        },
        QStringLiteral("Installed Tolvo's hooks in %1."),
        QStringLiteral("Tolvo's hooks were already installed in %1."), beforeReplace);
}

FileOutcome removeFile(const QString &settingsPath, const BeforeReplace &beforeReplace, Agent agent)
{
    return change(
        settingsPath, [&](const QByteArray &text) { return remove(text, agent); },
        QStringLiteral("Removed Tolvo's hooks from %1."),
        QStringLiteral("%1 has no Tolvo hooks to remove."), beforeReplace);
}

QString projectStatusLineNote(const QString &directory, const QString &userSettings,
                              const QString &prefix)
{
    const QString user = QFileInfo(userSettings).canonicalFilePath();
    for (const char *name : {"settings.json", "settings.local.json"}) {
        const QString path = directory + QStringLiteral("/.claude/") + QLatin1String(name);
        if (!QFileInfo(path).isFile() || QFileInfo(path).canonicalFilePath() == user)
            continue;
        const StatusLineState state = inspectStatusLine(readSettings(path).text, prefix).state;
        if (state == StatusLineState::User || state == StatusLineState::NotCommand)
            return QStringLiteral("This project's .claude/%1 has a status line of its own: Claude "
                                  "Code shows it instead of Tolvo's, so sessions of this project "
                                  "show no usage.")
                .arg(QLatin1String(name));
    }
    return {};
}

} // namespace HookInstaller
