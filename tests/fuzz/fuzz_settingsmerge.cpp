// Claude Code's settings file as the user (or anything else) left it, put
// through installing and removing Tolvo's hooks.

#include "fuzzcheck.h"
#include "hookinstaller.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using Fuzz::check;

namespace {

const QString prefix = QStringLiteral("/usr");

std::optional<QJsonObject> settingsObject(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
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
    check(undone.ok && (!undone.changed || settingsObject(undone.text)),
          "remove after install gives JSON");
    check(HookInstaller::inspect(undone.text, prefix).state == HookInstaller::State::NotInstalled,
          "nothing of Tolvo is left after remove");
    check(HookInstaller::inspect(removed.text, prefix).state == HookInstaller::State::NotInstalled,
          "nothing of Tolvo is left after remove");
    const HookInstaller::Edit removedAgain = HookInstaller::remove(removed.text);
    check(removedAgain.ok && !removedAgain.changed, "remove twice = once");
    return 0;
}
