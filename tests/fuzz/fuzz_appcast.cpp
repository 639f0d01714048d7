// The update feed as any server (or anyone on the way) may send it, and the
// order of versions that picks the update.

#include "appcast.h"
#include "fuzzsupport.h"

#include <QStringList>
#include <cstdint>

using Fuzz::check;

static int order(const QString &a, const QString &b)
{
    const int c = Appcast::compareVersions(a, b);
    return (c > 0) - (c < 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const AppcastParseResult feed =
        Appcast::parse(input, QUrl(QStringLiteral("https://e.org/a.xml")));
    check(feed.ok() || feed.items.isEmpty(), "a broken feed offers nothing");
    // The first versions of the feed and the first lines as bare versions.
    QStringList versions;
    for (const AppcastItem &item : feed.items.mid(0, 6)) {
        check(!item.version.isEmpty(), "every item has a version");
        versions.append(item.version);
        for (const QUrl &url : {item.link, item.enclosureUrl, item.releaseNotesLink})
            check(url.isEmpty() || ((url.scheme() == u"http" || url.scheme() == u"https") &&
                                    !url.host().isEmpty()),
                  "only web addresses are kept");
    }
    versions += QString::fromUtf8(input.left(512)).split(u'\n').mid(0, 4);
    for (const QString &a : versions) {
        for (const QString &b : versions) {
            const int ab = order(a, b);
            check(ab == -order(b, a) && (a != b || ab == 0), "the order is antisymmetric");
            for (const QString &c : versions) {
                const int ac = order(a, c), bc = order(b, c);
                check((ab != bc || ac == ab) && (ab != 0 || ac == bc), "the order is transitive");
            }
        }
    }
    return 0;
}
