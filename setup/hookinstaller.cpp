#include "hookinstaller.h"

#include "settingsjson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

using Json = SettingsJson::Json;

namespace {

using SettingsJson::fromStd;
using SettingsJson::Parsed;

// The settings as an object whose "hooks", if there, is an object of events.
// `events` are the events Tolvo installs into: those must hold lists.
Parsed parseSettings(const QByteArray &text, const std::vector<std::string> &events)
{
    Parsed parsed = SettingsJson::parseObject(text);
    if (!parsed.root)
        return parsed;
    Json &root = *parsed.root;
    const auto hooks = root.find("hooks");
    if (hooks == root.end())
        return {std::move(root), {}};
    if (!hooks->is_object())
        return {std::nullopt, QStringLiteral("has a \"hooks\" value that is not an object")};
    for (const std::string &event : events) {
        const auto groups = hooks->find(event);
        if (groups != hooks->end() && !groups->is_array())
            return {std::nullopt, QStringLiteral("has a \"hooks\" entry \"%1\" that is not a list")
                                      .arg(fromStd(event))};
    }
    return {std::move(root), {}};
}

// The sections of the copy-and-paste configuration, so that both ways of
// installing give the agent exactly the same hooks.
struct Sections
{
    Json hooks;                      // event -> list of matcher groups
    std::vector<std::string> events; // in the configuration's order
};

// Unset when the prefix cannot hold hooks; `problem` then says why.
std::optional<Sections> tolvoSections(const QString &prefix, QString *problem, int holdMinutes,
                                      HookInstaller::Agent agent)
{
    const QString configuration = HookConfiguration::hooksConfiguration(prefix, holdMinutes, agent);
    if (configuration.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("cannot hold Tolvo's hooks: ") +
                       HookConfiguration::prefixProblem(prefix);
        return std::nullopt;
    }
    const QByteArray text = ('{' + configuration + '}').toUtf8();
    Json parsed = Json::parse(text.constBegin(), text.constEnd());
    Sections sections;
    sections.hooks = std::move(parsed["hooks"]);
    for (const auto &[event, groups] : sections.hooks.items())
        sections.events.push_back(event);
    return sections;
}

const Json *commandOf(const Json &entry)
{
    if (!entry.is_object())
        return nullptr;
    const auto command = entry.find("command");
    return command != entry.end() && command->is_string() ? &*command : nullptr;
}

bool isTolvoEntry(const Json &entry)
{
    const Json *command = commandOf(entry);
    return command &&
           HookInstaller::isTolvoCommand(fromStd(command->get_ref<const std::string &>()));
}

// A matcher group's list of hook entries, if it has one.
template<typename J> J *entriesOf(J &group)
{
    if (!group.is_object())
        return nullptr;
    const auto entries = group.find("hooks");
    return entries != group.end() && entries->is_array() ? &*entries : nullptr;
}

// Drops Tolvo's entries from one event's matcher groups, and each group that this
// leaves empty. With `keep` (Tolvo's entry for the event), the first Tolvo entry stays
// and takes its name, command and timeout. Returns how many Tolvo entries there were.
int pruneEvent(Json &groups, const Json *keep)
{
    int found = 0;
    for (auto group = groups.begin(); group != groups.end();) {
        Json *entries = entriesOf(*group);
        if (!entries) {
            ++group;
            continue;
        }
        bool removed = false;
        for (auto entry = entries->begin(); entry != entries->end();) {
            if (!isTolvoEntry(*entry)) {
                ++entry;
            } else if (found++ == 0 && keep) {
                for (const char *member : {"name", "command", "timeout"}) {
                    if (keep->contains(member))
                        (*entry)[member] = (*keep)[member];
                }
                ++entry;
            } else {
                entry = entries->erase(entry);
                removed = true;
            }
        }
        if (removed && entries->empty())
            group = groups.erase(group);
        else
            ++group;
    }
    return found;
}

// Removes Tolvo's entries from every event but those in `skip`, dropping events
// that this leaves empty. Returns how many entries there were.
int pruneAllEvents(Json &hooks, const std::vector<std::string> &skip)
{
    int found = 0;
    std::vector<std::string> emptied;
    for (auto &[event, groups] : hooks.items()) {
        if (!groups.is_array() || std::find(skip.begin(), skip.end(), event) != skip.end())
            continue;
        const int here = pruneEvent(groups, nullptr);
        if (here > 0 && groups.empty())
            emptied.push_back(event);
        found += here;
    }
    for (const std::string &event : emptied)
        hooks.erase(event);
    return found;
}

using SettingsJson::format;

HookInstaller::Edit finish(const QByteArray &input, const Json &before, const Json &after)
{
    HookInstaller::Edit edit;
    edit.ok = true;
    edit.changed = before != after;
    edit.text = edit.changed ? format(after) : input;
    return edit;
}

HookInstaller::Edit refused(const QString &reason)
{
    HookInstaller::Edit edit;
    edit.reason = reason;
    return edit;
}

// The first word of a shell command that names a tolvo.sh, after sh's quote removal:
// '/a/b'\''c/tolvo.sh' gives /a/b'c/tolvo.sh. Redirections, pipes, lists and
// substitutions end a word. Empty when there is none.
QString scriptPathOf(QStringView command)
{
    static constexpr QStringView ends = u"|;&()<>`";
    static constexpr QStringView escapedInDoubleQuotes = u"$`\"\\";
    const auto isScript = [](const QString &word) {
        return word == u"tolvo.sh" || word.endsWith(u"/tolvo.sh") || word == u"tolvo-hook" ||
               word.endsWith(u"/tolvo-hook");
    };
    QString word;
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (c == u'\'') {
            qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                close = n;
            word += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n &&
                    escapedInDoubleQuotes.contains(command[i + 1]))
                    ++i;
                word += command[i];
            }
        } else if (c == u'\\') {
            if (i + 1 < n)
                word += command[++i];
        } else if (c.isSpace() || ends.contains(c)) {
            if (isScript(word))
                return word;
            word.clear();
        } else {
            word += c;
        }
    }
    return isScript(word) ? word : QString();
}

// One word of a simple sh command after quote removal. `literal`: no expansion can change
// it, so that it is exactly what the program gets.
struct ShellWord
{
    QString text;
    bool literal = true;
};

// The words of `command` when it is one simple command of plain characters, quotes and
// escapes; none when it is anything more (a pipe, a list, a redirection, a substitution)
// or has a quote left open.
std::optional<QList<ShellWord>> simpleWords(QStringView command)
{
    static constexpr QStringView operators = u"|;&()<>\n`";
    static constexpr QStringView expanding = u"$*?[~#";
    static constexpr QStringView escapedInDoubleQuotes = u"$`\"\\";
    QList<ShellWord> words;
    std::optional<ShellWord> word;
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (c == u' ' || c == u'\t') {
            if (word)
                words.append(*std::exchange(word, std::nullopt));
            continue;
        }
        if (operators.contains(c))
            return std::nullopt;
        if (!word)
            word.emplace();
        if (c == u'\'') {
            const qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                return std::nullopt;
            word->text += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n &&
                    escapedInDoubleQuotes.contains(command[i + 1]))
                    ++i;
                else if (command[i] == u'$' || command[i] == u'`')
                    word->literal = false;
                word->text += command[i];
            }
            if (i >= n)
                return std::nullopt;
        } else if (c == u'\\') {
            if (i + 1 >= n || command[i + 1] == u'\n')
                return std::nullopt;
            word->text += command[++i];
        } else {
            if (expanding.contains(c))
                word->literal = false;
            word->text += c;
        }
    }
    if (word)
        words.append(*word);
    return words;
}

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

// Makes the status line Tolvo's, as far as it can be; returns the note for one it leaves.
QString shareStatusLine(Json &root, const QString &prefix)
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

// Gives the user's status line back; returns the note for one it leaves.
QString unshareStatusLine(Json &root)
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

} // namespace

namespace HookInstaller {

bool isTolvoCommand(QStringView command)
{
    return !scriptPathOf(command).isEmpty();
}

Edit install(const QByteArray &settings, const QString &prefix, int holdMinutes, Agent agent,
             bool shareStatusLine)
{
    QString problem;
    const std::optional<Sections> sections = tolvoSections(prefix, &problem, holdMinutes, agent);
    if (!sections)
        return refused(problem);
    const Parsed parsed = parseSettings(settings, sections->events);
    if (!parsed.root)
        return refused(parsed.reason);
    Json root = *parsed.root;
    if (!root.contains("hooks"))
        root["hooks"] = Json::object(); // a new key goes last
    Json &hooks = root["hooks"];
    pruneAllEvents(hooks, sections->events);
    for (const std::string &event : sections->events) {
        const auto groups = hooks.find(event);
        if (groups == hooks.end())
            hooks[event] = sections->hooks[event];
        else if (pruneEvent(*groups, &sections->hooks[event][0]["hooks"][0]) == 0)
            groups->push_back(sections->hooks[event].front());
    }
    const QString note =
        shareStatusLine && agent == Agent::claudeCode ? ::shareStatusLine(root, prefix) : QString();
    Edit edit = finish(settings, *parsed.root, root);
    edit.note = note;
    return edit;
}

Edit remove(const QByteArray &settings, Agent agent)
{
    // Refuses exactly what install refuses; the events do not depend on the prefix.
    const std::vector<std::string> events =
        tolvoSections(QStringLiteral("/usr"), nullptr, PermissionHold::defaultMinutes, agent)
            ->events;
    const Parsed parsed = parseSettings(settings, events);
    if (!parsed.root)
        return refused(parsed.reason);
    Json root = *parsed.root;
    const auto hooks = root.find("hooks");
    if (hooks != root.end() && pruneAllEvents(*hooks, {}) > 0 && hooks->empty())
        root.erase(hooks);
    const QString note = agent == Agent::claudeCode ? unshareStatusLine(root) : QString();
    Edit edit = finish(settings, *parsed.root, root);
    edit.note = note;
    return edit;
}

StatusLineInspection inspectStatusLine(const QByteArray &settings, const QString &prefix)
{
    const Parsed parsed = SettingsJson::parseObject(settings);
    if (!parsed.root)
        return {};
    return statusLineOf(*parsed.root, prefix);
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

Inspection inspect(const QByteArray &settings, const QString &prefix, int holdMinutes, Agent agent)
{
    Inspection inspection;
    const std::optional<Sections> sections =
        tolvoSections(prefix, &inspection.reason, holdMinutes, agent);
    if (!sections)
        return inspection;
    const Parsed parsed = parseSettings(settings, sections->events);
    if (!parsed.root) {
        inspection.reason = parsed.reason;
        return inspection;
    }
    const QString ownScript = HookConfiguration::hookHelperPath(prefix);
    bool anyTolvoEntry = false;
    const Json hooks = parsed.root->value("hooks", Json::object());
    for (const Json &groups : hooks) {
        if (!groups.is_array())
            continue;
        for (const Json &group : groups) {
            const Json *entries = entriesOf(group);
            if (!entries)
                continue;
            for (const Json &entry : *entries) {
                if (!isTolvoEntry(entry))
                    continue;
                anyTolvoEntry = true;
                const QString script =
                    scriptPathOf(fromStd(commandOf(entry)->get_ref<const std::string &>()));
                if (script != ownScript && !inspection.otherScriptPaths.contains(script))
                    inspection.otherScriptPaths.append(script);
            }
        }
    }
    if (!anyTolvoEntry)
        inspection.state = State::NotInstalled;
    else if (!install(settings, prefix, holdMinutes, agent, false).changed)
        inspection.state = State::Installed;
    else if (!inspection.otherScriptPaths.isEmpty())
        inspection.state = State::OtherScriptPath;
    else
        inspection.state = State::Incomplete;
    if (inspection.state != State::OtherScriptPath)
        inspection.otherScriptPaths.clear();
    return inspection;
}

QString describe(const Inspection &inspection, Agent agent)
{
    const QString name = ::agentName(agent);
    switch (inspection.state) {
    case State::Invalid:
        return QStringLiteral("The settings file %1.").arg(inspection.reason);
    case State::NotInstalled:
        return QStringLiteral("Tolvo's hooks are not installed in %1's settings.").arg(name);
    case State::Installed:
        return QStringLiteral("Tolvo's hooks are installed: %1 reports to Tolvo.").arg(name);
    case State::OtherScriptPath:
        if (std::all_of(inspection.otherScriptPaths.cbegin(), inspection.otherScriptPaths.cend(),
                        [](const QString &path) { return path.endsWith(u"/tolvo.sh"); }))
            return QStringLiteral("Tolvo's hooks are installed with an older command: install "
                                  "again to update them.");
        return QStringLiteral("Tolvo's hooks are installed with another helper path: %1. "
                              "Install again to use this copy of Tolvo.")
            .arg(inspection.otherScriptPaths.join(QStringLiteral(", ")));
    case State::Incomplete:
        return QStringLiteral(
            "Tolvo's hooks are partly installed: install again to complete them.");
    }
    return {};
}

} // namespace HookInstaller
