// Claude Code's settings file as the user (or anything else) left it, put
// through installing and removing Tolvo's hooks.

#include "fuzzsupport.h"
#include "hookinstaller.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>

using Fuzz::check;
using namespace HookInstaller;

namespace {

const QString prefix = QStringLiteral("/usr");

// The settings without the hooks: the user's own, which no edit touches.
// Blank text is settings without keys; not an object is nullopt.
std::optional<QJsonObject> userSettings(const QByteArray &text)
{
    if (text.trimmed().isEmpty())
        return QJsonObject();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject settings = document.object();
    settings.remove(QStringLiteral("hooks"));
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const Inspection inspection = inspect(input, prefix);
    const Edit installed = install(input, prefix);
    const Edit removed = remove(input);
    if (inspection.state == State::Invalid) {
        check(!installed.ok && !removed.ok, "invalid settings are never rewritten");
        check(!inspection.reason.isEmpty(), "invalid settings say why");
        return 0;
    }
    check(installed.ok && removed.ok, "valid settings can be edited");
    check(installed.changed == (inspection.state != State::Installed),
          "install changes what is not installed");
    // What the installer accepts is JSON to any other reader (Claude Code
    // among them); otherwise a rewrite would drop what it misread.
    const auto before = userSettings(input);
    check(before.has_value(), "accepted settings are JSON");
    check(installed.changed || installed.text == input, "an unchanged install is the input");
    check(removed.changed || removed.text == input, "an unchanged remove is the input");
    check(userSettings(installed.text) == before && userSettings(removed.text) == before,
          "edits keep the user's settings");

    // Installing twice is installing once, and removing undoes it.
    check(inspect(installed.text, prefix).state == State::Installed, "installed inspects so");
    const Edit again = install(installed.text, prefix);
    check(again.ok && !again.changed && again.text == installed.text, "install twice = once");
    const Edit undone = remove(installed.text);
    check(undone.ok && userSettings(undone.text) == before, "remove after install gives JSON");
    check(inspect(undone.text, prefix).state == State::NotInstalled &&
              inspect(removed.text, prefix).state == State::NotInstalled,
          "nothing of Tolvo is left after remove");
    const Edit removedAgain = remove(removed.text);
    check(removedAgain.ok && !removedAgain.changed, "remove twice = once");
    return 0;
}
