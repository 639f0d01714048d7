#include "remotescripts.h"

#include "hookinstaller.h"
#include "remotehost.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace RemoteScripts {

namespace {

// The login shell may be csh or fish: so that each script reaches sh unchanged inside
// the single quotes of `sh -c '…'`, it is one line without single quotes or backslashes.
QString script(const QStringList &commands)
{
    const QString text = commands.join(u"; "_s);
    Q_ASSERT(!text.contains(u'\'') && !text.contains(u'\\') && !text.contains(u'\n'));
    return text;
}

QString helperVariable()
{
    return u"h="_s + RemoteHosts::helperPath;
}

QString settingsVariable()
{
    return u"f="_s + settingsPath;
}

QString echo(const char *line)
{
    return u"echo "_s + QLatin1String(line);
}

} // namespace

std::optional<QByteArray> after(const QByteArray &out, const char *line)
{
    const QByteArray whole = QByteArray(line) + '\n';
    if (out.startsWith(whole))
        return out.mid(whole.size());
    const qsizetype at = out.indexOf('\n' + whole);
    if (at < 0)
        return std::nullopt;
    return out.mid(at + 1 + whole.size());
}

QString shellCommand(const QString &script)
{
    return RemoteHosts::remoteScript(u"exec sh -c "_s + RemoteHosts::shellQuoted(script));
}

// The other steps need sha256sum too.
QString probe()
{
    return script(
        {u"set -e"_s,
         u"command -v sha256sum >/dev/null || { echo the remote has no sha256sum >&2; exit 1; }"_s,
         echo(probeLine), u"uname -s"_s, u"uname -m"_s, helperVariable(),
         u"if [ -f \"$h\" ]; then sha256sum < \"$h\"; else echo; fi"_s, u"pwd"_s, readSettings()});
}

// The helper is checked before it replaces the old one in one rename: a hook never
// starts half a helper, and a running relay keeps its own.
QString copyHelper()
{
    return script(
        {u"set -e"_s, helperVariable(), u"d=$(dirname \"$h\")"_s, u"t=\"$d/.tolvo-hook.$$\""_s,
         u"mkdir -p \"$d\""_s, u"trap \"rm -f -- $t\" EXIT"_s, u"IFS= read -r want"_s,
         u"cat > \"$t\""_s, u"chmod 755 \"$t\""_s, u"got=$(sha256sum < \"$t\")"_s,
         u"if [ \"${got%% *}\" != \"$want\" ]; then echo the helper arrived damaged >&2; exit 1; fi"_s,
         u"mv -f \"$t\" \"$h\""_s});
}

QString readSettings()
{
    return script(
        {settingsVariable(), u"if [ -e \"$f\" ]; then %1; cat -- \"$f\"; else %2; fi"_s.arg(
                                 echo(presentLine), echo(missingLine))});
}

// The relay would keep running a helper that is about to go; whether it stops is not
// worth failing over.
QString stopRelayAndReadSettings()
{
    return script(
        {helperVariable(),
         u"if [ -x \"$h\" ]; then \"$h\" --relay-stop </dev/null >/dev/null 2>&1 || true; fi"_s,
         readSettings()});
}

// The new file keeps the old one's mode, replaces it in one rename and goes where a
// symbolic link points (a dotfiles checkout); the copy before the first change is kept
// next to the settings' own name, as locally.
QString writeSettings()
{
    return script(
        {u"set -e"_s, settingsVariable(), u"b="_s + HookInstaller::backupPath(settingsPath),
         u"if [ -L \"$f\" ]; then f=$(readlink -f -- \"$f\"); fi"_s, u"IFS= read -r want"_s,
         u"if [ -e \"$f\" ]; then have=$(sha256sum < \"$f\"); have=${have%% *}; "
         u"else have=missing; fi"_s,
         u"if [ \"$have\" != \"$want\" ]; then echo it changed while Tolvo was writing it, "
         u"try again >&2; exit %1; fi"_s.arg(changedMeanwhile),
         u"mkdir -p -- \"$(dirname -- \"$f\")\""_s, u"t=\"$f.tolvo-new.$$\""_s,
         u"cleanup() { rm -f -- \"$t\"; }"_s, u"trap cleanup EXIT"_s,
         u"if [ -e \"$f\" ]; then cp -p -- \"$f\" \"$t\"; fi"_s, u"cat > \"$t\""_s,
         u"if [ -e \"$f\" ] && [ ! -e \"$b\" ]; then cp -p -- \"$f\" \"$b\"; %1; fi"_s.arg(
             echo(backupLine)),
         u"mv -f -- \"$t\" \"$f\""_s});
}

QString deleteHelper()
{
    return script({helperVariable(),
                   u"if [ -e \"$h\" ]; then rm -f -- \"$h\"; %1; fi"_s.arg(echo(deletedLine)),
                   u"rmdir -- \"$(dirname -- \"$h\")\" 2>/dev/null || true"_s});
}

} // namespace RemoteScripts
