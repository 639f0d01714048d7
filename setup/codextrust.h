#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// Whether Codex will run Tolvo's hooks. Codex runs a hook from hooks.json only once the
// user trusted it: config.toml then holds a table [hooks.state."<key>"] with the hash of
// the hook's definition as "trusted_hash", where the key is "<absolute path of
// hooks.json>:<event in snake case>:<group index>:<hook index>". The hash is Codex's own
// and changes with its versions, so Tolvo never computes it and never writes trust: a
// hook without any trust entry is certainly untrusted, one with an entry may still be
// (its definition changed since), and after each change the user reviews them in Codex.
// config.toml is only ever read.
namespace CodexTrust {

// $CODEX_HOME/config.toml, ~/.codex/config.toml without it.
QString configPath();

// The trust keys of the Tolvo entries in `hooksText`, the content of `hooksPath`.
QStringList hookKeys(const QString &hooksPath, const QByteArray &hooksText);

// The hook keys that `configToml` gives a trusted hash, whatever the hash.
QSet<QString> trustedKeys(const QByteArray &configToml);

// One line for the user about Tolvo's hooks in `hooksPath` (read from disk with
// configPath()): empty when it holds none. `justChanged`: install just wrote them, so
// whatever trust there was no longer covers them.
QString note(const QString &hooksPath, bool justChanged);

} // namespace CodexTrust
