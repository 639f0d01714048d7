// Claude Code's settings file as the user (or anything else) left it, put
// through installing and removing Tolvo's hooks.

#include "fuzzsupport.h"
#include "hookinstaller.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdint>

using Fuzz::check;
using HookInstaller::State;
using namespace Qt::StringLiterals;

namespace {

const QString prefix = u"/usr"_s;

// The settings as Qt's reader sees them, blank text as no settings, and every number outside
// strings as the string "#<its text>": Qt refuses numbers beyond a double, which JavaScript reads,
// and the comparisons below see whether each number kept the text it was written in.
QJsonValue settingsObject(const QByteArray &text)
{
    static const QRegularExpression token(
        uR"("(?:[^"\\]|\\.)*"|-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?)"_s,
        QRegularExpression::DotMatchesEverythingOption);
    const QString latin1 = QString::fromLatin1(text.trimmed().isEmpty() ? "{}" : text);
    QString quoted;
    qsizetype done = 0;
    for (const QRegularExpressionMatch &match : token.globalMatch(latin1)) {
        const QString found = match.captured();
        quoted += latin1.mid(done, match.capturedStart() - done) +
                  (found.startsWith(u'"') ? found : u"\"#"_s + found + u'"');
        done = match.capturedEnd();
    }
    const QJsonDocument document = QJsonDocument::fromJson((quoted + latin1.mid(done)).toLatin1());
    return document.isObject() ? document.object() : QJsonValue(QJsonValue::Undefined);
}

// Hooks as the user's: without Tolvo's entries, the matcher groups left without entries, and
// anything that holds nothing.
QJsonValue userHooks(const QJsonValue &value)
{
    if (HookInstaller::isTolvoCommand(value[u"command"].toString()))
        return QJsonValue::Undefined;
    const QJsonObject object = value.toObject();
    QJsonObject keptObject;
    QJsonArray keptArray;
    for (auto member = object.begin(); member != object.end(); ++member) {
        if (const QJsonValue kept = userHooks(*member); !kept.isUndefined())
            keptObject.insert(member.key(), kept);
    }
    for (const QJsonValue &item : value.toArray()) {
        if (const QJsonValue kept = userHooks(item); !kept.isUndefined())
            keptArray.append(kept);
    }
    if (value.isArray())
        return keptArray.isEmpty() ? QJsonValue::Undefined : QJsonValue(keptArray);
    const bool emptied = object[u"hooks"].isArray() && !keptObject.contains(u"hooks");
    if (value.isObject())
        return keptObject.isEmpty() || emptied ? QJsonValue::Undefined : QJsonValue(keptObject);
    return value;
}

// The user's own part of the settings.
QJsonObject userPart(const QJsonValue &settings)
{
    QJsonObject object = settings.toObject();
    object.insert(u"hooks"_s, userHooks(object.take(u"hooks")));
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const HookInstaller::Inspection inspection = HookInstaller::inspect(input, prefix);
    const HookInstaller::Edit installed = HookInstaller::install(input, prefix);
    const HookInstaller::Edit removed = HookInstaller::remove(input);
    const bool invalid = inspection.state == State::Invalid;
    check(installed.ok != invalid && removed.ok != invalid &&
              inspection.reason.isEmpty() != invalid,
          "valid settings can be edited; invalid ones are never rewritten, and say why");
    if (invalid)
        return 0;
    check(installed.changed == (inspection.state != State::Installed) &&
              (installed.changed || installed.text == input) &&
              (removed.changed || removed.text == input),
          "install changes what is not installed; an edit that changes nothing is the input");
    const HookInstaller::Edit again = HookInstaller::install(installed.text, prefix);
    check(again.ok && !again.changed && again.text == installed.text &&
              HookInstaller::inspect(installed.text, prefix).state == State::Installed,
          "install twice = once");
    const HookInstaller::Edit undone = HookInstaller::remove(installed.text);
    check(undone.ok && !HookInstaller::remove(removed.text).changed &&
              HookInstaller::inspect(undone.text, prefix).state == State::NotInstalled &&
              HookInstaller::inspect(removed.text, prefix).state == State::NotInstalled,
          "remove leaves nothing of Tolvo, also after install; remove twice = once");
    // What the installer accepts is JSON to any other reader too (Claude Code among them), or a
    // rewrite would drop what it misread; and no edit touches what is the user's.
    const QJsonValue before = settingsObject(input);
    check(before.isObject(), "accepted settings are JSON");
    for (const QByteArray &edited : {installed.text, removed.text, undone.text}) {
        const QJsonValue after = settingsObject(edited);
        check(after.isObject() && userPart(after) == userPart(before),
              "edits keep the user's settings and hooks, numbers with their text");
    }
    return 0;
}
