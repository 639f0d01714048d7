#include "hookconfiguration.h"

#include "hookeventkinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <algorithm>
#include <nlohmann/json.hpp>

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

} // namespace

namespace HookConfiguration {

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

QString hookCommand(const QString &prefix)
{
    if (!prefixProblem(prefix).isEmpty())
        return {};
    return shellQuoted(hookHelperPath(prefix)) + QStringLiteral(" \"$PPID\"");
}

QString hooksConfiguration(const QString &prefix, int holdMinutes)
{
    using Json = nlohmann::ordered_json;
    const QString command = hookCommand(prefix);
    if (command.isEmpty())
        return {};
    Json hook = Json::object();
    hook["type"] = "command";
    hook["command"] = command.toStdString();
    Json events = Json::object();
    for (const HookEventKindRow &row : hookEventKinds) {
        if (!row.installed)
            continue;
        Json entry = hook;
        if (row.kind == HookEventKind::permissionRequest)
            entry["timeout"] = std::clamp(holdMinutes, PermissionHold::shortestMinutes,
                                          PermissionHold::longestMinutes) *
                                   60 +
                               PermissionHold::timeoutMarginSeconds;
        Json group = Json::object();
        group["matcher"] = "";
        group["hooks"] = Json::array({std::move(entry)});
        events[std::string(row.wireName)] = Json::array({std::move(group)});
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
