#include "tooltable.h"

#include "textrules.h"

namespace ToolTable {

namespace {

constexpr Tool tools[] = {
    {u"WebFetch", u"Fetch", u"url", Style::host},
    {u"TodoWrite", u"Update Todo", u"", Style::nameOnly},
    {u"Grep", u"Grep", u"pattern", Style::quoted},
    {u"WebSearch", u"Web Search", u"query", Style::quoted},
    {u"TodoRead", u"Reading Todos", u"", Style::path},
    {u"ExitPlanMode", u"Plan Accepted", u"", Style::path},
    {u"NotebookRead", u"Reading Notebook", u"*", Style::path},
    {u"NotebookEdit", u"Editing Notebook", u"*", Style::path},
    {u"LS", u"LS", u"path", Style::whole},
    {u"Glob", u"Glob", u"pattern", Style::quoted},
    {u"Bash", u"Bash", u"command", Style::cut},
    {u"Task", u"Launching Agent", u"description", Style::whole},
    // Gemini CLI's shell tool, named as its own approval prompt names it.
    {u"run_shell_command", u"Shell", u"command", Style::cut},
};

using TextRules::arrow;

// The styles both texts describe alike; nullopt for host without a host,
// name only and path, which each text ends its own way.
std::optional<QString> commonSuffix(Style style, const QString &details)
{
    switch (style) {
    case Style::host:
        if (const auto host = TextRules::urlHostOrText(details))
            return arrow + *host;
        return std::nullopt;
    case Style::quoted:
        return arrow + u'"' + TextRules::shortened(details, 30) + u'"';
    case Style::cut:
        return arrow + TextRules::shortened(details, 40);
    case Style::whole:
        return arrow + details;
    case Style::nameOnly:
    case Style::path:
        break;
    }
    return std::nullopt;
}

} // namespace

const Tool *byHookName(QStringView hookName)
{
    for (const Tool &tool : tools) {
        if (tool.hookName == hookName)
            return &tool;
    }
    return nullptr;
}

Style styleOf(QStringView displayName)
{
    for (const Tool &tool : tools) {
        if (tool.displayName == displayName)
            return tool.style;
    }
    return Style::path;
}

QString statusSuffix(QStringView displayName, const QString &details)
{
    if (const auto suffix = commonSuffix(styleOf(displayName), details))
        return *suffix;
    if (const auto piece = TextRules::lastSlashPiece(details))
        return arrow + *piece;
    return {};
}

QString actionSuffix(QStringView displayName, const QString &details)
{
    const Style style = styleOf(displayName);
    if (const auto suffix = commonSuffix(style, details))
        return *suffix;
    if (style == Style::nameOnly || !details.contains(u'/'))
        return {};
    return arrow + TextRules::lastSlashPiece(details).value_or(details);
}

} // namespace ToolTable
