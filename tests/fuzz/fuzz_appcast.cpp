// The update feed as any server (or anyone on the way) may send it, and the
// version order that picks the update.

#include "appcast.h"
#include "fuzzsupport.h"

#include <QStringList>
#include <cstdint>

using Fuzz::check;

namespace {

bool isWebOrEmpty(const QUrl &url)
{
    return url.isEmpty() ||
           ((url.scheme() == u"http" || url.scheme() == u"https") && !url.host().isEmpty());
}

int order(const QString &a, const QString &b)
{
    const int c = Appcast::compareVersions(a, b);
    return (c > 0) - (c < 0);
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
        for (const AppcastItem &item : result.items)
            check(!item.channel.isEmpty() || order(item.version, update->version) <= 0,
                  "the update is the newest item");
    }

    // The first lines as bare versions too; the order must be total.
    const QList<QByteArray> lines = input.left(512).split('\n');
    for (qsizetype i = 0; i < qMin<qsizetype>(lines.size(), 4); ++i)
        versions.append(QString::fromUtf8(lines.at(i)));
    for (const QString &a : versions) {
        check(order(a, a) == 0, "a version equals itself");
        for (const QString &b : versions) {
            const int ab = order(a, b);
            check(ab == -order(b, a), "the order is antisymmetric");
            for (const QString &c : versions) {
                const int ac = order(a, c), bc = order(b, c);
                check((ab != bc || ac == ab) && (ab != 0 || ac == bc), "the order is transitive");
            }
        }
    }
    return 0;
}
