// Claude Code's settings file as the user (or anything else) left it, put
// through installing and removing Tolvo's hooks.

#include "fuzzsupport.h"
#include "hookinstaller.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using Fuzz::check;

namespace {

const QString prefix = QStringLiteral("/usr");

bool isJsonNumber(const QByteArray &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(\A-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?\z)"));
    return number.match(QString::fromLatin1(text)).hasMatch();
}

// Every number outside strings as the string "#<its text>": Qt's reader refuses numbers
// beyond a double, which JavaScript reads, and the comparisons below then see whether
// each number kept the text it was written in. Text that is no number stays as it is.
QByteArray numbersAsText(const QByteArray &text)
{
    QByteArray out;
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            qsizetype end = i + 1;
            while (end < text.size() && std::strchr("0123456789+-.eE", text[end]) && text[end])
                ++end;
            const QByteArray number = text.mid(i, end - i);
            out += isJsonNumber(number) ? "\"#" + number + '"' : number;
            i = end - 1;
            continue;
        }
        out += c;
    }
    return out;
}

std::optional<QJsonObject> settingsObject(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(numbersAsText(text), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// Everything but the hooks: the user's own settings, which no edit touches.
QJsonObject withoutHooks(QJsonObject settings)
{
    settings.remove(QStringLiteral("hooks"));
    return settings;
}

// The user's hooks, flattened: each entry that is not Tolvo's with its event and the rest
// of its matcher group, and whatever is not shaped like hooks as it is. Containers left
// empty do not show.
QJsonArray userHooks(const QJsonObject &settings)
{
    QJsonArray found;
    const QJsonObject hooks = settings.value(QStringLiteral("hooks")).toObject();
    for (auto event = hooks.begin(); event != hooks.end(); ++event) {
        if (!event->isArray()) {
            found.append(QJsonArray{event.key(), *event});
            continue;
        }
        for (const QJsonValue &group : event->toArray()) {
            QJsonObject rest = group.toObject();
            if (!group.isObject() || !rest.value(QStringLiteral("hooks")).isArray()) {
                found.append(QJsonArray{event.key(), group});
                continue;
            }
            const QJsonArray entries = rest.take(QStringLiteral("hooks")).toArray();
            for (const QJsonValue &entry : entries) {
                const QJsonValue command = entry.toObject().value(QStringLiteral("command"));
                if (!command.isString() || !HookInstaller::isTolvoCommand(command.toString()))
                    found.append(QJsonArray{event.key(), rest, entry});
            }
        }
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const HookInstaller::Inspection inspection = HookInstaller::inspect(input, prefix);
    const HookInstaller::Edit installed = HookInstaller::install(input, prefix);
    const HookInstaller::Edit removed = HookInstaller::remove(input);

    if (inspection.state == HookInstaller::State::Invalid) {
        check(!installed.ok && !removed.ok, "invalid settings are never rewritten");
        check(!inspection.reason.isEmpty(), "invalid settings say why");
        return 0;
    }
    check(installed.ok && removed.ok, "valid settings can be edited");
    check(installed.changed == (inspection.state != HookInstaller::State::Installed),
          "install changes what is not installed");

    // What the installer accepts is JSON to any other reader too (Claude Code
    // among them); otherwise a rewrite would silently drop what it misread.
    const auto before = input.trimmed().isEmpty() ? QJsonObject() : settingsObject(input);
    check(before.has_value(), "accepted settings are JSON");
    // An edit that changes nothing hands back the input, which may be blank.
    check(installed.changed || installed.text == input, "an unchanged install is the input");
    check(removed.changed || removed.text == input, "an unchanged remove is the input");
    const auto afterInstall = installed.changed ? settingsObject(installed.text) : before;
    const auto afterRemove = removed.changed ? settingsObject(removed.text) : before;
    check(afterInstall && afterRemove, "edits write JSON objects");
    check(withoutHooks(*afterInstall) == withoutHooks(*before), "install keeps user settings");
    check(withoutHooks(*afterRemove) == withoutHooks(*before), "remove keeps user settings");

    // Installing is idempotent and removing undoes it.
    check(HookInstaller::inspect(installed.text, prefix).state == HookInstaller::State::Installed,
          "installed settings inspect as installed");
    const HookInstaller::Edit again = HookInstaller::install(installed.text, prefix);
    check(again.ok && !again.changed && again.text == installed.text, "install twice = once");
    const HookInstaller::Edit undone = HookInstaller::remove(installed.text);
    const auto afterUndo = undone.changed ? settingsObject(undone.text) : afterInstall;
    check(undone.ok && afterUndo, "remove after install gives JSON");
    check(userHooks(*afterUndo) == userHooks(*before), "remove after install keeps user hooks");
    check(HookInstaller::inspect(undone.text, prefix).state == HookInstaller::State::NotInstalled,
          "nothing of Tolvo is left after remove");
    check(HookInstaller::inspect(removed.text, prefix).state == HookInstaller::State::NotInstalled,
          "nothing of Tolvo is left after remove");
    const HookInstaller::Edit removedAgain = HookInstaller::remove(removed.text);
    check(removedAgain.ok && !removedAgain.changed, "remove twice = once");
    return 0;
}
