#include "statuslinesettings.h"

#include "hookconfiguration.h"
#include "shellwords.h"

namespace StatusLineSettings {

using HookInstaller::StatusLineInspection;
using HookInstaller::StatusLineState;
using SettingsJson::commandOf;
using SettingsJson::fromStd;
using SettingsJson::Json;
using ShellWords::ShellWord;
using ShellWords::scriptPathOf;
using ShellWords::simpleWords;

namespace {

// A status-line command that runs Tolvo's helper.
struct TolvoStatusLine
{
    bool readable = false; // the helper, --status-line, "$PPID" and at most the user's command
    std::optional<QString> userCommand;
};

bool isHelperWord(const ShellWord &word)
{
    return word.literal && (word.text == u"tolvo-hook" || word.text.endsWith(u"/tolvo-hook"));
}

// Set when `command` runs Tolvo's helper for the status line. A user's command that is
// itself Tolvo's gives its own user's command, so that nothing is wrapped twice.
std::optional<TolvoStatusLine> tolvoStatusLine(QStringView command)
{
    const std::optional<QList<ShellWord>> words = simpleWords(command);
    if (!words) {
        // Not as install writes it, but it may still run the helper: hands off.
        if (!scriptPathOf(command).isEmpty() && command.contains(u"--status-line"))
            return TolvoStatusLine{};
        return std::nullopt;
    }
    if (words->size() < 2 || !isHelperWord((*words)[0]) || (*words)[1].text != u"--status-line")
        return std::nullopt;
    TolvoStatusLine line;
    line.readable = words->size() <= 4 && words->size() >= 3 && (*words)[1].literal &&
                    (*words)[2].text == u"$PPID" && (words->size() == 3 || (*words)[3].literal);
    if (line.readable && words->size() == 4) {
        line.userCommand = (*words)[3].text;
        if (const auto inner = tolvoStatusLine(*line.userCommand); inner && inner->readable)
            line.userCommand = inner->userCommand;
    }
    return line;
}

using HookInstaller::StatusLineInspection;
using HookInstaller::StatusLineState;

StatusLineInspection statusLineOf(const Json &root, const QString &prefix)
{
    const auto entry = root.find("statusLine");
    if (entry == root.end())
        return {StatusLineState::Absent, {}, {}};
    const auto notCommand = [](const QString &reason) {
        return StatusLineInspection{StatusLineState::NotCommand, {}, reason};
    };
    if (!entry->is_object())
        return notCommand(QStringLiteral("is not an object"));
    const auto type = entry->find("type");
    if (type == entry->end() || *type != "command")
        return notCommand(type != entry->end() && type->is_string()
                              ? QStringLiteral("is of type \"%1\"")
                                    .arg(fromStd(type->get_ref<const std::string &>()))
                              : QStringLiteral("is not of type \"command\""));
    const Json *command = commandOf(*entry);
    if (!command)
        return notCommand(QStringLiteral("has no command"));
    const QString text = fromStd(command->get_ref<const std::string &>());
    const std::optional<TolvoStatusLine> tolvo = tolvoStatusLine(text);
    if (!tolvo)
        return {StatusLineState::User, text, {}};
    if (!tolvo->readable)
        return {StatusLineState::Unreadable, {}, {}};
    const bool current = text == HookConfiguration::statusLineCommand(prefix, tolvo->userCommand);
    return {current ? StatusLineState::Installed : StatusLineState::OtherHelper,
            tolvo->userCommand,
            {}};
}

QString unreadableNote()
{
    return QStringLiteral("The status line runs Tolvo's helper with a command Tolvo cannot read "
                          "back, so Tolvo leaves it as it is: edit \"statusLine\" in the settings "
                          "yourself.");
}

// The command as one line: control characters shown as \xNN.
QString shownCommand(const QString &command)
{
    QString shown;
    for (QChar c : command) {
        if (c.category() == QChar::Other_Control)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace

QString share(Json &root, const QString &prefix)
{
    const StatusLineInspection line = statusLineOf(root, prefix);
    const QString command = HookConfiguration::statusLineCommand(prefix, line.userCommand);
    switch (line.state) {
    case StatusLineState::Absent:
        root["statusLine"] = {{"type", "command"}, {"command", command.toStdString()}};
        return {};
    case StatusLineState::User:
    case StatusLineState::Installed:
    case StatusLineState::OtherHelper:
        root["statusLine"]["command"] = command.toStdString();
        return {};
    case StatusLineState::Unreadable:
        return unreadableNote();
    case StatusLineState::NotCommand:
    case StatusLineState::Invalid:
        break;
    }
    return HookInstaller::describe(line);
}

QString unshare(Json &root)
{
    const StatusLineInspection line = statusLineOf(root, QStringLiteral("/usr"));
    switch (line.state) {
    case StatusLineState::Installed:
    case StatusLineState::OtherHelper:
        if (line.userCommand)
            root["statusLine"]["command"] = line.userCommand->toStdString();
        else
            root.erase("statusLine");
        return {};
    case StatusLineState::Unreadable:
        return unreadableNote();
    default:
        return {};
    }
}

HookInstaller::StatusLineInspection inspect(const Json &root, const QString &prefix)
{
    return statusLineOf(root, prefix);
}

} // namespace StatusLineSettings

namespace HookInstaller {

using StatusLineSettings::shownCommand;
using StatusLineSettings::unreadableNote;

StatusLineInspection inspectStatusLine(const QByteArray &settings, const QString &prefix)
{
    const SettingsJson::Parsed parsed = SettingsJson::parseObject(settings);
    if (!parsed.root)
        return {};
    return StatusLineSettings::inspect(*parsed.root, prefix);
}

QString describe(const StatusLineInspection &inspection)
{
    const QString yours =
        inspection.userCommand
            ? QStringLiteral(" It keeps your own: %1").arg(shownCommand(*inspection.userCommand))
            : QString();
    switch (inspection.state) {
    case StatusLineState::Invalid:
        break;
    case StatusLineState::Absent:
        return QStringLiteral("Tolvo's status line is not installed: sessions show no usage.");
    case StatusLineState::User:
        return QStringLiteral("Tolvo's status line is not installed: sessions show no usage. "
                              "Installing keeps your own: %1")
            .arg(shownCommand(*inspection.userCommand));
    case StatusLineState::Installed:
        return QStringLiteral("Tolvo's status line is installed: sessions show usage.") + yours;
    case StatusLineState::OtherHelper:
        return QStringLiteral("Tolvo's status line runs another copy of Tolvo's helper: install "
                              "again to update it.") +
               yours;
    case StatusLineState::Unreadable:
        return unreadableNote();
    case StatusLineState::NotCommand:
        return QStringLiteral("Sessions show no usage: the status line in the settings %1, so "
                              "Tolvo leaves it alone.")
            .arg(inspection.reason);
    }
    return {};
}

} // namespace HookInstaller
