#include "hookinstaller.h"

#include "settingsjson.h"
#include "shellwords.h"
#include "statuslinesettings.h"

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

using SettingsJson::commandOf;
using ShellWords::scriptPathOf;
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
        shareStatusLine && agent == Agent::claudeCode ? StatusLineSettings::share(root, prefix) : QString();
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
    const QString note = agent == Agent::claudeCode ? StatusLineSettings::unshare(root) : QString();
    Edit edit = finish(settings, *parsed.root, root);
    edit.note = note;
    return edit;
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
