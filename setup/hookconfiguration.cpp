#include "hookconfiguration.h"

#include "hookeventkinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

namespace {

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control; // C0, DEL and C1
}

// The path with its control characters made visible, for a message.
QString visible(const QString &path)
{
    QString shown;
    for (QChar c : path) {
        if (isControl(c))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

// One word for sh: inside single quotes nothing is special, and a single quote
// itself is closed, escaped and reopened.
QString shellQuoted(QString word)
{
    word.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + word + u'\'';
}

using HookConfiguration::Agent;

// What an agent reads in its hooks file, as its CLI documents and the real CLIs showed.
struct AgentHooks
{
    std::vector<std::string_view> events; // in the configuration's order
    // The event whose hook the agent waits for before it shows its permission prompt.
    std::string_view holding;
    int timeoutUnitsPerSecond;
    const char *matcher; // nullptr: groups without one
    const char *name;    // nullptr: hooks without one; else shown while the hook runs
    // The hold its timeout covers whatever the user's bound; none: the user's.
    std::optional<int> boundMinutes = std::nullopt;
};

AgentHooks agentHooks(Agent agent)
{
    switch (agent) {
    case Agent::codex:
        // Every event the CLI reports but the two around each model request, which come
        // several times a turn and say nothing the others do not.
        return {{"SessionStart", "UserPromptSubmit", "PreToolUse", "PermissionRequest",
                 "PostToolUse", "PreCompact", "PostCompact", "Stop", "SessionEnd", "Interrupt",
                 "SubagentStart", "SubagentStop"},
                "PermissionRequest",
                1,
                nullptr,
                nullptr,
                // A changed hook is an untrusted one: the timeout covers every bound,
                // so that a new bound never asks for trust again.
                PermissionHold::longestMinutes};
    case Agent::gemini:
        // Not the model events: they carry the whole conversation on every request.
        return {{"SessionStart", "SessionEnd", "BeforeAgent", "AfterAgent", "BeforeTool",
                 "AfterTool", "Notification", "PreCompress"},
                "Notification",
                1000,
                "*",
                "tolvo"};
    case Agent::claudeCode:
        break;
    }
    AgentHooks claude{{}, "PermissionRequest", 1, "", nullptr};
    for (const HookEventKindRow &row : hookEventKinds) {
        if (row.installed)
            claude.events.push_back(row.wireName);
    }
    return claude;
}

} // namespace

namespace HookConfiguration {

QString agentWord(Agent agent)
{
    switch (agent) {
    case Agent::codex:
        return QStringLiteral("codex");
    case Agent::gemini:
        return QStringLiteral("gemini");
    case Agent::claudeCode:
        break;
    }
    return QStringLiteral("claude");
}

std::optional<Agent> agentNamed(QStringView token)
{
    for (Agent agent : {Agent::claudeCode, Agent::codex, Agent::gemini}) {
        if (token == agentWord(agent))
            return agent;
    }
    return std::nullopt;
}

QString installPrefix()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

QString prefixProblem(const QString &prefix)
{
    if (std::any_of(prefix.begin(), prefix.end(), isControl))
        return QStringLiteral("Tolvo's folder %1 contains a control character; move Tolvo to a "
                              "folder without one")
            .arg(visible(prefix));
    if (!prefix.startsWith(u'/'))
        return QStringLiteral("Tolvo's folder %1 is not an absolute path").arg(prefix);
    return {};
}

QString hookHelperPath(const QString &prefix)
{
    return prefix + QStringLiteral("/libexec/tolvo/tolvo-hook");
}

QString hookCommand(const QString &prefix, Agent agent)
{
    if (!prefixProblem(prefix).isEmpty())
        return {};
    const QString command = shellQuoted(hookHelperPath(prefix)) + QStringLiteral(" \"$PPID\"");
    return agent == Agent::claudeCode ? command : command + u' ' + agentWord(agent);
}

QString statusLineCommand(const QString &prefix, const std::optional<QString> &userCommand)
{
    if (!prefixProblem(prefix).isEmpty())
        return {};
    const QString command =
        shellQuoted(hookHelperPath(prefix)) + QStringLiteral(" --status-line \"$PPID\"");
    return userCommand ? command + u' ' + shellQuoted(*userCommand) : command;
}

QString hooksConfiguration(const QString &prefix, int holdMinutes, Agent agent)
{
    using Json = nlohmann::ordered_json;
    const QString command = hookCommand(prefix, agent);
    if (command.isEmpty())
        return {};
    const AgentHooks shape = agentHooks(agent);
    Json hook = Json::object();
    hook["type"] = "command";
    if (shape.name)
        hook["name"] = shape.name;
    hook["command"] = command.toStdString();
    Json events = Json::object();
    for (std::string_view event : shape.events) {
        Json entry = hook;
        if (event == shape.holding)
            entry["timeout"] = (std::clamp(shape.boundMinutes.value_or(holdMinutes),
                                           PermissionHold::shortestMinutes,
                                           PermissionHold::longestMinutes) *
                                    60 +
                                PermissionHold::timeoutMarginSeconds) *
                               shape.timeoutUnitsPerSecond;
        Json group = Json::object();
        if (shape.matcher)
            group["matcher"] = shape.matcher;
        group["hooks"] = Json::array({std::move(entry)});
        events[std::string(event)] = Json::array({std::move(group)});
    }
    Json document = Json::object();
    document["hooks"] = std::move(events);

    // The whole document is "{\n" + the section indented by two + "\n}".
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    const QStringList lines = QString::fromStdString(text.substr(2, text.size() - 4)).split(u'\n');
    QStringList section;
    for (const QString &line : lines)
        section.append(line.mid(2));
    return section.join(u'\n');
}

} // namespace HookConfiguration
