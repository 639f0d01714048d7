#include "eventrules.h"

#include "textrules.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

namespace EventRules {

namespace {

// A member taken as text: its string value, else the raw details.
QString memberText(const QJsonObject &input, QStringView key, const QString &raw)
{
    const QJsonValue value = input.value(key);
    return value.isString() ? value.toString() : raw;
}

QString filePathDetails(const QJsonObject &input, const QString &raw,
                        const std::optional<QString> &workingDirectory)
{
    const QJsonValue filePath = input.value(u"file_path");
    if (!filePath.isString())
        return raw;
    const QString file = filePath.toString();
    if (!workingDirectory || !file.startsWith(*workingDirectory))
        return file;

    const QString path = QDir::cleanPath(file);
    const QString directory = QDir::cleanPath(*workingDirectory);
    QString relative = path;
    relative.replace(directory + u'/', QString());
    relative.replace(directory, QStringLiteral("."));
    return relative;
}

} // namespace

ToolDescription describeTool(const std::optional<QString> &tool,
                             const std::optional<QString> &details,
                             const std::optional<QString> &workingDirectory)
{
    if (!details)
        return {tool, details};
    const QJsonDocument document = QJsonDocument::fromJson(details->toUtf8());
    if (!document.isObject())
        return {tool, details};

    const QJsonObject input = document.object();
    const QString &raw = *details;
    const QString name = tool.value_or(QString());
    const bool hasTool = tool.has_value();

    struct Row
    {
        QStringView tool;
        QStringView displayName;
        QStringView member; // empty: no details; "*": the raw details
    };
    static constexpr Row rows[] = {
        {u"WebFetch", u"Fetch", u"url"},
        {u"TodoWrite", u"Update Todo", u""},
        {u"Grep", u"Grep", u"pattern"},
        {u"WebSearch", u"Web Search", u"query"},
        {u"TodoRead", u"Reading Todos", u""},
        {u"ExitPlanMode", u"Plan Accepted", u""},
        {u"NotebookRead", u"Reading Notebook", u"*"},
        {u"NotebookEdit", u"Editing Notebook", u"*"},
        {u"LS", u"LS", u"path"},
        {u"Glob", u"Glob", u"pattern"},
        {u"Bash", u"Bash", u"command"},
        {u"Task", u"Launching Agent", u"description"},
    };
    if (hasTool) {
        for (const Row &row : rows) {
            if (row.tool != name)
                continue;
            std::optional<QString> shown;
            if (row.member == u"*")
                shown = raw;
            else if (!row.member.isEmpty())
                shown = memberText(input, row.member, raw);
            return {row.displayName.toString(), shown};
        }
    }
    return {tool, filePathDetails(input, raw, workingDirectory)};
}

QString actionText(const ActivityEvent &last)
{
    using TextRules::arrow;
    const QString required = QStringLiteral("Action required: ");

    if (last.eventType == u"UserPromptSubmit" && last.details)
        return QStringLiteral("Working on: ") + *last.details;
    if (!last.toolName)
        return QStringLiteral("Notification");
    const QString &tool = *last.toolName;
    if (!last.details)
        return required + tool;
    const QString &details = *last.details;

    if (tool == u"Fetch") {
        if (const auto host = TextRules::urlHostOrText(details))
            return required + tool + arrow + *host;
    } else if (tool == u"Grep" || tool == u"Web Search" || tool == u"Glob") {
        return required + tool + arrow + u'"' + TextRules::shortened(details, 30) + u'"';
    } else if (tool == u"Bash") {
        return required + tool + arrow + TextRules::shortened(details, 40);
    } else if (tool == u"LS" || tool == u"Launching Agent") {
        return required + tool + arrow + details;
    } else if (tool == u"Update Todo") {
        return required + tool;
    }

    if (details.contains(u'/'))
        return required + tool + arrow + TextRules::lastSlashPiece(details).value_or(details);
    return required + tool;
}

QString notificationIdentifier(qint64 pid, const QString &kind, double secondsSince1970)
{
    // Shortest text that reads back as the same double; always with a fraction.
    QString seconds = QString::number(secondsSince1970, 'g', QLocale::FloatingPointShortest);
    if (!seconds.contains(u'.') && !seconds.contains(u'e'))
        seconds += QStringLiteral(".0");
    return QString::number(pid) + kind + seconds;
}

} // namespace EventRules
