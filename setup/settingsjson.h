#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

// Settings files as JSON documents that go back to text as the user wrote
// them where Tolvo did not change them: every number keeps its text
// (1.50, 1E5, 123456789012345678901234567890 and 1e400 stay as they are).
namespace SettingsJson {

using Json = nlohmann::ordered_json;

struct Parsed
{
    std::optional<Json> root; // unset: refused
    QString reason;           // completes "The settings file ...", e.g. "is not valid JSON: ..."
};

// An object, or the reason it cannot be one. Empty or blank text is an empty
// object; a NUL, nesting deeper than settings go, or anything but an object
// is refused. Never throws, whatever the text.
Parsed parseObject(const QByteArray &text);

// Two-space indent, numbers as written, a final line feed.
QByteArray format(const Json &root);

QString fromStd(const std::string &s);

// A hook or status-line entry's "command" when it is a string; nullptr otherwise.
const Json *commandOf(const Json &entry);

} // namespace SettingsJson
