// The update feed, as any server (or anyone between it and us) may send it,
// and the version order that picks the update.

#include "appcast.h"
#include "fuzzcheck.h"

#include <QList>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using Fuzz::check;

namespace {

bool isWebOrEmpty(const QUrl &url)
{
    return url.isEmpty() ||
           ((url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty());
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

// A total order: reflexive, antisymmetric and transitive.
void checkOrder(const QStringList &versions)
{
    for (const QString &a : versions) {
        check(Appcast::compareVersions(a, a) == 0, "a version equals itself");
        for (const QString &b : versions) {
            const int ab = sign(Appcast::compareVersions(a, b));
            check(ab == -sign(Appcast::compareVersions(b, a)), "the order is antisymmetric");
            for (const QString &c : versions) {
                const int bc = sign(Appcast::compareVersions(b, c));
                if (ab == bc && ab != 0)
                    check(sign(Appcast::compareVersions(a, c)) == ab, "the order is transitive");
                if (ab == 0)
                    check(sign(Appcast::compareVersions(a, c)) == bc, "equal versions rank alike");
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const AppcastParseResult result =
        Appcast::parse(input, QUrl(QStringLiteral("https://example.org/tolvo/appcast.xml")));

    check(result.ok() || result.items.isEmpty(), "a broken feed offers nothing");
    QStringList versions;
    for (const AppcastItem &item : result.items) {
        check(!item.version.isEmpty(), "every item has a version");
        check(isWebOrEmpty(item.link) && isWebOrEmpty(item.enclosureUrl) &&
                  isWebOrEmpty(item.releaseNotesLink),
              "only web addresses are kept");
        if (versions.size() < 6)
            versions.append(item.version);
    }
    if (const auto update = Appcast::newestUpdate(result.items, QStringLiteral("0.1.0"), {})) {
        check(update->channel.isEmpty(), "only the default channel without opting in");
        for (const AppcastItem &item : result.items) {
            if (item.channel.isEmpty())
                check(Appcast::compareVersions(item.version, update->version) <= 0,
                      "the update is the newest item");
        }
    }

    // The first lines as bare version strings, to reach the order directly.
    const QList<QByteArray> lines = input.left(512).split('\n');
    for (qsizetype i = 0; i < qMin<qsizetype>(lines.size(), 4); ++i)
        versions.append(QString::fromUtf8(lines.at(i)));
    checkOrder(versions);
    return 0;
}
