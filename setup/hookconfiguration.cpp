#include "hookconfiguration.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

namespace {

// Already escaped for a JSON string value: \" stands for a double quote.
constexpr QStringView commandPrefix =
    uR"(jq -c --arg pid \"$PPID\" '{instance: $pid, event: .hook_event_name, tool: (.tool_name // null), details: (.prompt // .compact_trigger // (.tool_input | tojson) // null), working_directory: .cwd}' | \")";

constexpr QStringView hookEvents[] = {u"UserPromptSubmit", u"PreToolUse",   u"PostToolUse", u"Stop",
                                      u"SubagentStop",     u"Notification", u"PreCompact"};

} // namespace

namespace HookConfiguration {

QString installPrefix()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

QString hookScriptPath(const QString &prefix)
{
    return prefix + QStringLiteral("/share/tolvo/tolvo.sh");
}

QString hookCommand(const QString &prefix)
{
    return commandPrefix.toString() + hookScriptPath(prefix) + QStringLiteral("\\\"");
}

QString hooksConfiguration(const QString &prefix)
{
    const QString command = hookCommand(prefix);
    QString text = QStringLiteral("\"hooks\": {\n");
    bool first = true;
    for (QStringView event : hookEvents) {
        if (!first)
            text += QStringLiteral(",\n");
        first = false;
        text += QStringLiteral("  \"") + event.toString() +
                QStringLiteral("\": [\n"
                               "    {\n"
                               "      \"matcher\": \"\",\n"
                               "      \"hooks\": [\n"
                               "        {\n"
                               "          \"type\": \"command\",\n"
                               "          \"command\": \"");
        text += command;
        text += QStringLiteral("\"\n"
                               "        }\n"
                               "      ]\n"
                               "    }\n"
                               "  ]");
    }
    text += QStringLiteral("\n}");
    return text;
}

} // namespace HookConfiguration
