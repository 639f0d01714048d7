#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <optional>

// One <item> of an appcast feed (RSS 2.0 with the Sparkle namespace).
struct AppcastItem
{
    QString title;
    QString version;            // sparkle:version, the build version compared against ours
    QString shortVersionString; // sparkle:shortVersionString, the version shown to people
    QString channel;            // sparkle:channel; empty for the default channel
    QUrl releaseNotesLink;      // sparkle:releaseNotesLink
    QUrl link;
    QUrl enclosureUrl;
    QDateTime pubDate; // invalid when missing or unreadable

    QString displayVersion() const
    {
        return shortVersionString.isEmpty() ? version : shortVersionString;
    }
    // Where "Download" leads: the enclosure, else the item's web page.
    QUrl downloadUrl() const { return enclosureUrl.isValid() ? enclosureUrl : link; }
};

struct AppcastParseResult
{
    QList<AppcastItem> items; // in feed order
    QString error;            // empty when the feed was read
    bool ok() const { return error.isEmpty(); }
};

namespace Appcast {

// localhost or a loopback address.
bool isLoopbackHost(const QString &host);

inline constexpr QStringView sparkleNamespace =
    u"http://www.andymatuschak.org/xml-namespaces/sparkle";

// Reads a feed. Relative addresses are resolved against feedUrl; addresses
// that are not https (or http on a loopback host) are dropped, because they
// end up opened in the browser. Items without a version cannot be compared and are left out.
AppcastParseResult parse(const QByteArray &bytes, const QUrl &feedUrl = {});

// Negative, zero or positive as a is older than, the same as or newer than b.
// Dotted numeric segments compare as numbers, missing ones count as zero
// (1.10 > 1.9, 1.0 == 1.0.0). Whatever follows the numbers ("b2", "-rc.1")
// marks a pre-release, older than the bare numbers; two such suffixes compare
// run by run, digits as numbers and letters case-insensitively.
int compareVersions(const QString &a, const QString &b);

// The newest item on the default channel or one of the allowed channels,
// if it is newer than runningVersion.
std::optional<AppcastItem> newestUpdate(const QList<AppcastItem> &items,
                                        const QString &runningVersion,
                                        const QSet<QString> &allowedChannels);

} // namespace Appcast
