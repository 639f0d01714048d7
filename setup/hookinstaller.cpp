#include "hookinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

using Json = nlohmann::ordered_json;

namespace {

// Settings are a few levels deep; the limit keeps the recursive dump and
// comparisons far away from the end of the stack on hostile input.
constexpr int maxNesting = 512;

bool nestedTooDeeply(const QByteArray &text)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNesting)
                return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

QString messageOf(const Json::exception &e)
{
    // Without the library's "[json.exception.parse_error.101] " tag.
    QString message = QString::fromUtf8(e.what());
    if (message.startsWith(u'['))
        message = message.mid(message.indexOf(u']') + 1).trimmed();
    return message;
}

struct Parsed
{
    std::optional<Json> root; // unset: refused
    QString reason;
};

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// The settings as an object whose "hooks", if there, is an object of events.
// `events` are the events Tolvo installs into: those must hold lists.
Parsed parseSettings(const QByteArray &text, const std::vector<std::string> &events)
{
    if (text.trimmed().isEmpty())
        return {Json::object(), {}};
    // The parser stops at a NUL as if the text ended there: what follows
    // would silently be dropped on the next write.
    if (text.contains('\0'))
        return {std::nullopt, QStringLiteral("contains a NUL character")};
    if (nestedTooDeeply(text))
        return {std::nullopt, QStringLiteral("is nested too deeply to be settings")};
    Json root;
    try {
        root = Json::parse(text.constBegin(), text.constEnd());
    } catch (const Json::exception &e) { // also numbers too large for a double
        return {std::nullopt, QStringLiteral("is not valid JSON: ") + messageOf(e)};
    }
    if (!root.is_object())
        return {std::nullopt, QStringLiteral("is not a JSON object")};
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
// installing give Claude Code exactly the same hooks.
struct Sections
{
    Json hooks;                      // event -> list of matcher groups
    std::vector<std::string> events; // in the configuration's order
    std::string command;             // the command every event runs
};

std::optional<Sections> tolvoSections(const QString &prefix)
{
    const QByteArray text = ('{' + HookConfiguration::hooksConfiguration(prefix) + '}').toUtf8();
    Json parsed = Json::parse(text.constBegin(), text.constEnd(), nullptr, false);
    if (parsed.is_discarded())
        return std::nullopt; // a prefix that cannot be written into a JSON string
    Sections sections;
    sections.hooks = std::move(parsed["hooks"]);
    for (const auto &[event, groups] : sections.hooks.items())
        sections.events.push_back(event);
    sections.command = sections.hooks.front()[0]["hooks"][0]["command"].get<std::string>();
    return sections;
}

const QString unusablePrefix =
    QStringLiteral("cannot hold Tolvo's hooks: the script path does not fit into JSON");

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
// leaves empty. With `keep`, the first Tolvo entry stays and runs `keep` instead.
// Returns how many Tolvo entries there were.
int pruneEvent(Json &groups, const std::string *keep)
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
                (*entry)["command"] = *keep;
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

QByteArray format(const Json &root)
{
    // Invalid UTF-8 cannot come out of the parser; replacing keeps dump() from throwing.
    const std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size())) + '\n';
}

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

QString scriptPathOf(const QString &command)
{
    static const QRegularExpression quoted(
        QStringLiteral(R"re("([^"]*tolvo\.sh)"|'([^']*tolvo\.sh)')re"));
    static const QRegularExpression bare(QStringLiteral(R"re((\S*tolvo\.sh))re"));
    QRegularExpressionMatch match = quoted.match(command);
    if (match.hasMatch())
        return match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    match = bare.match(command);
    return match.captured(1);
}

} // namespace

namespace HookInstaller {

bool isTolvoCommand(QStringView command)
{
    static const QRegularExpression script(
        QStringLiteral(R"re((?:^|[\s/"'=])tolvo\.sh(?:$|[\s"';&|)]))re"));
    return script.match(command).hasMatch();
}

Edit install(const QByteArray &settings, const QString &prefix)
{
    const std::optional<Sections> sections = tolvoSections(prefix);
    if (!sections)
        return refused(unusablePrefix);
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
        else if (pruneEvent(*groups, &sections->command) == 0)
            groups->push_back(sections->hooks[event].front());
    }
    return finish(settings, *parsed.root, root);
}

Edit remove(const QByteArray &settings)
{
    // Refuses exactly what install refuses; the events do not depend on the prefix.
    const Parsed parsed = parseSettings(settings, tolvoSections(QStringLiteral("/usr"))->events);
    if (!parsed.root)
        return refused(parsed.reason);
    Json root = *parsed.root;
    const auto hooks = root.find("hooks");
    if (hooks != root.end() && pruneAllEvents(*hooks, {}) > 0 && hooks->empty())
        root.erase(hooks);
    return finish(settings, *parsed.root, root);
}

Inspection inspect(const QByteArray &settings, const QString &prefix)
{
    Inspection inspection;
    const std::optional<Sections> sections = tolvoSections(prefix);
    if (!sections) {
        inspection.reason = unusablePrefix;
        return inspection;
    }
    const Parsed parsed = parseSettings(settings, sections->events);
    if (!parsed.root) {
        inspection.reason = parsed.reason;
        return inspection;
    }
    const QString ownScript = HookConfiguration::hookScriptPath(prefix);
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
    else if (!install(settings, prefix).changed)
        inspection.state = State::Installed;
    else if (!inspection.otherScriptPaths.isEmpty())
        inspection.state = State::OtherScriptPath;
    else
        inspection.state = State::Incomplete;
    if (inspection.state != State::OtherScriptPath)
        inspection.otherScriptPaths.clear();
    return inspection;
}

QString describe(const Inspection &inspection)
{
    switch (inspection.state) {
    case State::Invalid:
        return QStringLiteral("The settings file %1.").arg(inspection.reason);
    case State::NotInstalled:
        return QStringLiteral("Tolvo's hooks are not installed in Claude Code's settings.");
    case State::Installed:
        return QStringLiteral("Tolvo's hooks are installed: Claude Code reports to Tolvo.");
    case State::OtherScriptPath:
        return QStringLiteral("Tolvo's hooks are installed with another script path: %1. Install "
                              "again to use this copy of Tolvo.")
            .arg(inspection.otherScriptPaths.join(QStringLiteral(", ")));
    case State::Incomplete:
        return QStringLiteral(
            "Tolvo's hooks are partly installed: install again to complete them.");
    }
    return {};
}

// --- The settings file ---

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

QString shown(const QString &path)
{
    const QString home = QDir::homePath() + u'/';
    return path.startsWith(home) ? u'~' + path.mid(home.size() - 1) : path;
}

FileOutcome failed(const QString &message)
{
    return {false, false, message};
}

// Writes `edit` to `path` unless it was refused or changes nothing.
FileOutcome apply(const QString &path, const SettingsFile &file, const Edit &edit,
                  const QString &changedMessage, const QString &unchangedMessage)
{
    if (!edit.ok)
        return failed(
            QStringLiteral("%1 was not changed: the file %2.").arg(shown(path), edit.reason));
    if (!edit.changed)
        return {true, false, unchangedMessage.arg(shown(path))};
    const QString writeFailed = QStringLiteral("Could not write %1: %2").arg(shown(path));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return failed(writeFailed.arg(QStringLiteral("its folder cannot be created")));
    QString message = changedMessage.arg(shown(path));
    const QString backup = backupPath(path);
    if (file.exists && !QFileInfo::exists(backup)) {
        QFile original(path);
        if (!original.copy(backup))
            return failed(writeFailed.arg(QStringLiteral("no backup could be made: ") +
                                          original.errorString()));
        message += QStringLiteral(" The previous file is kept as %1.").arg(shown(backup));
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(edit.text) != edit.text.size() ||
        !out.commit())
        return failed(writeFailed.arg(out.errorString()));
    return {true, true, message};
}

} // namespace

QString defaultSettingsPath()
{
    return QDir::homePath() + QStringLiteral("/.claude/settings.json");
}

QString backupPath(const QString &settingsPath)
{
    return settingsPath + QStringLiteral(".tolvo-backup");
}

Inspection inspectFile(const QString &settingsPath, const QString &prefix)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return {State::Invalid, file.error, {}};
    return inspect(file.text, prefix);
}

FileOutcome installFile(const QString &settingsPath, const QString &prefix)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return apply(settingsPath, file, refused(file.error), {}, {});
    return apply(settingsPath, file, install(file.text, prefix),
                 QStringLiteral("Installed Tolvo's hooks in %1."),
                 QStringLiteral("Tolvo's hooks were already installed in %1."));
}

FileOutcome removeFile(const QString &settingsPath)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return apply(settingsPath, file, refused(file.error), {}, {});
    return apply(settingsPath, file, remove(file.text),
                 QStringLiteral("Removed Tolvo's hooks from %1."),
                 QStringLiteral("%1 has no Tolvo hooks to remove."));
}

} // namespace HookInstaller
