#include "permissionanswers.h"

#include "eventrules.h"
#include "tooltable.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace PermissionAnswers {

namespace {

struct Word
{
    Answer answer;
    QStringView word;
};
constexpr Word words[] = {
    {Answer::allow, u"allow"},
    {Answer::allowAlways, u"always"},
    {Answer::deny, u"deny"},
};

// What one suggestion allows, in words; empty for one that allows nothing.
QString allows(const QJsonObject &suggestion)
{
    const QString type = suggestion.value(u"type").toString();
    if (type == u"setMode") {
        const QString mode = suggestion.value(u"mode").toString();
        if (mode == u"acceptEdits")
            return u"edits"_s;
        if (mode == u"bypassPermissions")
            return u"every tool"_s;
        return mode.isEmpty() ? QString() : u"%1 mode"_s.arg(mode);
    }
    QStringList items;
    if (type == u"addDirectories") {
        for (const QJsonValue directory : suggestion.value(u"directories").toArray())
            items.append(u"access to "_s + directory.toString());
    } else if (type == u"addRules" || type == u"replaceRules") {
        if (suggestion.value(u"behavior").toString(u"allow"_s) != u"allow")
            return {};
        for (const QJsonValue value : suggestion.value(u"rules").toArray()) {
            const QJsonObject rule = value.toObject();
            const QString content = rule.value(u"ruleContent").toString();
            items.append(rule.value(u"toolName").toString() +
                         (content.isEmpty() ? QString() : u'(' + content + u')'));
        }
    }
    items.removeAll(QString());
    return items.join(u", "_s);
}

QString where(const QString &destination)
{
    if (destination == u"userSettings")
        return u"in every project"_s;
    if (destination == u"projectSettings" || destination == u"localSettings")
        return u"in this project"_s;
    return u"in this session"_s; // session, cliArg
}

} // namespace

std::optional<Answer> answerOf(QStringView word)
{
    for (const Word &row : words) {
        if (row.word == word)
            return row.answer;
    }
    return std::nullopt;
}

QString word(Answer answer)
{
    for (const Word &row : words) {
        if (row.answer == answer)
            return row.word.toString();
    }
    return {};
}

QByteArray decision(const WaitingRequest &request, Answer answer, const QString &reason)
{
    QJsonObject object;
    switch (answer) {
    case Answer::allowAlways:
        object.insert(u"updatedPermissions", request.suggestions);
        [[fallthrough]];
    case Answer::allow:
        object.insert(u"behavior", u"allow"_s);
        break;
    case Answer::deny:
        object.insert(u"behavior", u"deny"_s);
        object.insert(u"message", reason.trimmed().isEmpty() ? defaultDenyReason : reason);
        break;
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString alwaysAllowText(const QJsonArray &suggestions)
{
    // Grouped by where they apply, in the order they came.
    QStringList places;
    QHash<QString, QStringList> allowed;
    for (const QJsonValue value : suggestions) {
        const QJsonObject suggestion = value.toObject();
        const QString what = allows(suggestion);
        if (what.isEmpty())
            continue;
        const QString place = where(suggestion.value(u"destination").toString());
        if (!places.contains(place))
            places.append(place);
        allowed[place].append(what);
    }
    QStringList parts;
    for (const QString &place : std::as_const(places)) {
        QStringList items = allowed.value(place);
        const QString last = items.takeLast();
        parts.append((items.isEmpty() ? last : items.join(u", "_s) + u" and "_s + last) + u' ' +
                     place);
    }
    return parts.isEmpty() ? QString() : u"Always allow: "_s + parts.join(u"; "_s);
}

QString requestText(const WaitingRequest &request, const QString &workingDirectory)
{
    const EventRules::Shown shown =
        EventRules::describeTool(request.tool, request.input, workingDirectory);
    const QString tool = shown.tool.value_or(request.tool);
    if (!shown.details || shown.details->isEmpty())
        return tool;
    return tool + u": "_s + *shown.details;
}

QString answeredText(const WaitingRequest &request, Answer answer)
{
    return (answer == Answer::deny ? u"Denied: "_s : u"Allowed: "_s) + request.tool;
}

bool answersInTerminal(const Session &session)
{
    return session.asksInTerminal && session.status == SessionStatus::waitingForInput &&
           !session.exited;
}

} // namespace PermissionAnswers
