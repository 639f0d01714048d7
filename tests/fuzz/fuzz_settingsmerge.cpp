// Claude Code's settings file as the user (or anything else) left it, put
// through installing and removing Tolvo's hooks.

#include "fuzzsupport.h"
#include "hookinstaller.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>

using Fuzz::check;
using namespace HookInstaller;

// All but the hooks: the user's own settings, which no edit touches.
static std::optional<QJsonObject> userSettings(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (!text.trimmed().isEmpty() &&
        (error.error != QJsonParseError::NoError || !document.isObject()))
        return std::nullopt;
    QJsonObject settings = document.object();
    settings.remove(QStringLiteral("hooks"));
    return settings;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString prefix = QStringLiteral("/usr");
    const State state = inspect(input, prefix).state;
    const Edit installed = install(input, prefix), removed = remove(input);
    if (state == State::Invalid)
        return check(!installed.ok && !removed.ok && !inspect(input).reason.isEmpty(),
                     "invalid settings say why and are never rewritten"),
               0;
    // Accepted settings are JSON to any reader: a rewrite drops nothing misread.
    const auto before = userSettings(input);
    check(before && installed.ok && removed.ok, "accepted settings are JSON and can be edited");
    check(installed.changed == (state != State::Installed) &&
              (installed.changed || installed.text == input) &&
              (removed.changed || removed.text == input),
          "an edit that changes nothing hands back the input");
    check(userSettings(installed.text) == before && userSettings(removed.text) == before,
          "edits keep the user's settings");
    const Edit again = install(installed.text, prefix), undone = remove(installed.text);
    check(inspect(installed.text, prefix).state == State::Installed && again.ok && !again.changed &&
              again.text == installed.text,
          "install twice = install once");
    check(undone.ok && userSettings(undone.text) == before &&
              inspect(undone.text, prefix).state == State::NotInstalled &&
              inspect(removed.text, prefix).state == State::NotInstalled,
          "nothing of Tolvo is left after remove");
    check(!remove(removed.text).changed, "remove twice = remove once");
    return 0;
}
