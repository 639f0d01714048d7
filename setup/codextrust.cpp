#include "codextrust.h"

#include "hookinstaller.h"
#include "settingsjson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {

using SettingsJson::fromStd;
using SettingsJson::Json;

// "PermissionRequest" -> "permission_request", as Codex names events in trust keys.
QString snakeCase(const QString &event)
{
    QString snake;
    for (const QChar c : event) {
        if (c.isUpper() && !snake.isEmpty())
            snake += u'_';
        snake += c.toLower();
    }
    return snake;
}

// A TOML dotted key from `at` on: bare, "basic" (with escapes) or 'literal' parts with
// dots between them. `at` ends after the key and the spaces following it. An empty list
// when the text holds no key there.
QStringList keyPath(QStringView line, qsizetype &at)
{
    QStringList parts;
    const auto skipSpaces = [&] {
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t'))
            ++at;
    };
    for (;;) {
        skipSpaces();
        if (at >= line.size())
            return {};
        QString part;
        const QChar open = line[at];
        if (open == u'"' || open == u'\'') {
            for (++at; at < line.size() && line[at] != open; ++at) {
                if (open == u'"' && line[at] == u'\\' && at + 1 < line.size()) {
                    const QChar escaped = line[++at];
                    if (escaped == u'u' || escaped == u'U') {
                        const qsizetype digits = escaped == u'u' ? 4 : 8;
                        const char32_t code = line.mid(at + 1, digits).toUInt(nullptr, 16);
                        part += QString::fromUcs4(&code, 1);
                        at += digits;
                        continue;
                    }
                    static constexpr QStringView from = u"btnfr", to = u"\b\t\n\f\r";
                    const qsizetype which = from.indexOf(escaped);
                    part += which >= 0 ? to[which] : escaped;
                } else {
                    part += line[at];
                }
            }
            if (at >= line.size())
                return {};
            ++at;
        } else {
            while (at < line.size() &&
                   (line[at].isLetterOrNumber() || line[at] == u'_' || line[at] == u'-'))
                part += line[at++];
            if (part.isEmpty())
                return {};
        }
        parts.append(part);
        skipSpaces();
        if (at >= line.size() || line[at] != u'.')
            return parts;
        ++at;
    }
}

} // namespace

namespace CodexTrust {

QString configPath()
{
    return QFileInfo(HookInstaller::defaultSettingsPath(HookInstaller::Agent::codex)).path() +
           QStringLiteral("/config.toml");
}

QStringList hookKeys(const QString &hooksPath, const QByteArray &hooksText)
{
    const SettingsJson::Parsed parsed = SettingsJson::parseObject(hooksText);
    if (!parsed.root)
        return {};
    const Json hooks = parsed.root->value("hooks", Json::object());
    if (!hooks.is_object())
        return {};
    const QString path = QFileInfo(hooksPath).absoluteFilePath();
    QStringList keys;
    for (const auto &[event, groups] : hooks.items()) {
        if (!groups.is_array())
            continue;
        for (size_t g = 0; g < groups.size(); ++g) {
            const Json entries = groups[g].is_object() ? groups[g].value("hooks", Json()) : Json();
            if (!entries.is_array())
                continue;
            for (size_t h = 0; h < entries.size(); ++h) {
                const Json &entry = entries[h];
                if (entry.is_object() && entry.contains("command") &&
                    entry["command"].is_string() &&
                    HookInstaller::isTolvoCommand(
                        fromStd(entry["command"].get_ref<const std::string &>())))
                    keys.append(QStringLiteral("%1:%2:%3:%4")
                                    .arg(path, snakeCase(fromStd(event)))
                                    .arg(g)
                                    .arg(h));
            }
        }
    }
    return keys;
}

QSet<QString> trustedKeys(const QByteArray &configToml)
{
    QSet<QString> trusted;
    QStringList table; // the key path of the current [table]
    for (const QString &line : QString::fromUtf8(configToml).split(u'\n')) {
        const QString text = line.trimmed();
        qsizetype at = 0;
        QStringList path;
        if (text.startsWith(u"[[")) {
            table = {QString()}; // an array of tables: nothing of hooks.state
            continue;
        }
        if (text.startsWith(u'[')) {
            at = 1;
            table = keyPath(text, at);
            continue;
        }
        path = table + keyPath(text, at);
        if (path.size() == table.size() || at >= text.size() || text[at] != u'=')
            continue;
        const QString value = text.mid(at + 1);
        if (path.size() < 3 || path[0] != u"hooks" || path[1] != u"state")
            continue;
        // [hooks.state."KEY"] trusted_hash = "…", or an inline table under [hooks.state].
        if ((path.size() == 4 && path[3] == u"trusted_hash") ||
            (path.size() == 3 && value.contains(u"trusted_hash")))
            trusted.insert(path[2]);
    }
    return trusted;
}

QString note(const QString &hooksPath, bool justChanged)
{
    QFile hooks(hooksPath);
    const QStringList keys =
        hooks.open(QIODevice::ReadOnly) ? hookKeys(hooksPath, hooks.readAll()) : QStringList();
    if (keys.isEmpty())
        return {};
    QFile config(configPath());
    const QSet<QString> trusted =
        config.open(QIODevice::ReadOnly) ? trustedKeys(config.readAll()) : QSet<QString>();
    const bool untrusted = std::any_of(keys.cbegin(), keys.cend(),
                                       [&](const QString &key) { return !trusted.contains(key); });
    if (justChanged || untrusted)
        return QStringLiteral("Codex runs them only once you trust them: start codex and choose "
                              "\"Trust all and continue\" in its \"Hooks need review\" dialog (or "
                              "review them under /hooks).");
    return QStringLiteral("Codex trusted hooks at these places before, but Tolvo cannot tell "
                          "whether it was these: if codex says \"Hooks need review\", trust them "
                          "there.");
}

} // namespace CodexTrust
