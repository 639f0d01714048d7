#include "appcast.h"

#include <QHostAddress>
#include <QXmlStreamReader>

namespace {

bool isSparkle(const QXmlStreamReader &xml)
{
    return xml.namespaceUri() == Appcast::sparkleNamespace;
}

QString text(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
}

// Feed addresses are untrusted and end up in the browser: keep only https
// addresses (plain http only on this machine, where nothing crosses a network).
QUrl webUrl(const QString &text, const QUrl &base)
{
    if (text.isEmpty())
        return {};
    QUrl url(text);
    if (url.isRelative() && base.isValid())
        url = base.resolved(url);
    const QString scheme = url.scheme();
    const bool secure =
        scheme == u"https" || (scheme == u"http" && Appcast::isLoopbackHost(url.host()));
    if (!url.isValid() || !secure || url.host().isEmpty())
        return {};
    return url;
}

void readEnclosure(QXmlStreamReader &xml, const QUrl &base, AppcastItem &item,
                   QString &enclosureVersion, QString &enclosureShortVersion)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    if (!item.enclosureUrl.isValid())
        item.enclosureUrl =
            webUrl(attributes.value(QStringLiteral("url")).toString().trimmed(), base);
    const QString ns = Appcast::sparkleNamespace.toString();
    if (enclosureVersion.isEmpty())
        enclosureVersion = attributes.value(ns, QStringLiteral("version")).toString().trimmed();
    if (enclosureShortVersion.isEmpty())
        enclosureShortVersion =
            attributes.value(ns, QStringLiteral("shortVersionString")).toString().trimmed();
    xml.skipCurrentElement();
}

AppcastItem readItem(QXmlStreamReader &xml, const QUrl &base)
{
    AppcastItem item;
    QString enclosureVersion;
    QString enclosureShortVersion;
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (isSparkle(xml)) {
            if (name == u"version")
                item.version = text(xml);
            else if (name == u"shortVersionString")
                item.shortVersionString = text(xml);
            else if (name == u"channel")
                item.channel = text(xml);
            else if (name == u"releaseNotesLink" && !item.releaseNotesLink.isValid())
                item.releaseNotesLink = webUrl(text(xml), base);
            else
                xml.skipCurrentElement();
        } else if (!xml.namespaceUri().isEmpty()) {
            xml.skipCurrentElement();
        } else if (name == u"title") {
            item.title = text(xml);
        } else if (name == u"link") {
            item.link = webUrl(text(xml), base);
        } else if (name == u"pubDate") {
            item.pubDate = QDateTime::fromString(text(xml), Qt::RFC2822Date);
        } else if (name == u"enclosure") {
            readEnclosure(xml, base, item, enclosureVersion, enclosureShortVersion);
        } else {
            xml.skipCurrentElement();
        }
    }
    // The item's own elements win over the enclosure's attributes.
    if (item.version.isEmpty())
        item.version = enclosureVersion;
    if (item.shortVersionString.isEmpty())
        item.shortVersionString = enclosureShortVersion;
    return item;
}

// Digits compared as numbers of any length, without converting them.
int compareDigits(QStringView a, QStringView b)
{
    while (a.startsWith(u'0'))
        a = a.mid(1);
    while (b.startsWith(u'0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

struct SplitVersion
{
    QList<QStringView> numbers;
    QStringView suffix;
};

SplitVersion split(QStringView version)
{
    version = version.trimmed();
    if (version.size() > 1 && (version[0] == u'v' || version[0] == u'V') && version[1].isDigit())
        version = version.mid(1);
    qsizetype end = 0;
    while (end < version.size() && (version[end].isDigit() || version[end] == u'.'))
        ++end;
    SplitVersion result;
    for (QStringView part : version.left(end).split(u'.'))
        result.numbers.append(part);
    result.suffix = version.mid(end);
    return result;
}

// Runs of digits and runs of letters; everything else only separates runs.
QList<QStringView> runs(QStringView text)
{
    QList<QStringView> result;
    qsizetype i = 0;
    while (i < text.size()) {
        if (!text[i].isLetterOrNumber()) {
            ++i;
            continue;
        }
        const bool digits = text[i].isDigit();
        qsizetype j = i;
        while (j < text.size() && text[j].isLetterOrNumber() && text[j].isDigit() == digits)
            ++j;
        result.append(text.mid(i, j - i));
        i = j;
    }
    return result;
}

int compareSuffixes(QStringView a, QStringView b)
{
    const QList<QStringView> left = runs(a);
    const QList<QStringView> right = runs(b);
    for (qsizetype i = 0; i < qMin(left.size(), right.size()); ++i) {
        const bool leftDigits = left[i][0].isDigit();
        const bool rightDigits = right[i][0].isDigit();
        int order = 0;
        if (leftDigits != rightDigits)
            order = leftDigits ? 1 : -1;
        else if (leftDigits)
            order = compareDigits(left[i], right[i]);
        else
            order = left[i].compare(right[i], Qt::CaseInsensitive);
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

} // namespace

namespace Appcast {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

AppcastParseResult parse(const QByteArray &bytes, const QUrl &feedUrl)
{
    AppcastParseResult result;
    if (bytes.trimmed().isEmpty()) {
        result.error = QStringLiteral("the feed is empty");
        return result;
    }
    QXmlStreamReader xml(bytes);
    const bool hasRoot = xml.readNextStartElement();
    if (hasRoot && (xml.name() != u"rss" || !xml.namespaceUri().isEmpty())) {
        result.error = QStringLiteral("the feed is not an RSS document");
        return result;
    }
    bool sawChannel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"channel" || !xml.namespaceUri().isEmpty()) {
            xml.skipCurrentElement();
            continue;
        }
        sawChannel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item" || !xml.namespaceUri().isEmpty()) {
                xml.skipCurrentElement();
                continue;
            }
            AppcastItem item = readItem(xml, feedUrl);
            if (!item.version.isEmpty())
                result.items.append(std::move(item));
        }
    }
    // Read to the end so that a cut-off or trailing-garbage document counts as broken.
    while (!xml.atEnd() && !xml.hasError())
        xml.readNext();
    if (xml.hasError()) {
        result.items.clear();
        result.error = QStringLiteral("the feed is not well-formed XML (line %1, column %2): %3")
                           .arg(xml.lineNumber())
                           .arg(xml.columnNumber())
                           .arg(xml.errorString());
    } else if (!sawChannel) {
        result.error = QStringLiteral("the feed has no channel");
    }
    return result;
}

int compareVersions(const QString &a, const QString &b)
{
    const SplitVersion left = split(a);
    const SplitVersion right = split(b);
    const qsizetype count = qMax(left.numbers.size(), right.numbers.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QStringView l = i < left.numbers.size() ? left.numbers[i] : QStringView();
        const QStringView r = i < right.numbers.size() ? right.numbers[i] : QStringView();
        if (const int order = compareDigits(l, r); order != 0)
            return order < 0 ? -1 : 1;
    }
    if (left.suffix.isEmpty() != right.suffix.isEmpty())
        return left.suffix.isEmpty() ? 1 : -1;
    return compareSuffixes(left.suffix, right.suffix);
}

std::optional<AppcastItem> newestUpdate(const QList<AppcastItem> &items,
                                        const QString &runningVersion,
                                        const QSet<QString> &allowedChannels)
{
    const AppcastItem *newest = nullptr;
    for (const AppcastItem &item : items) {
        if (!item.channel.isEmpty() && !allowedChannels.contains(item.channel))
            continue;
        if (!newest || compareVersions(item.version, newest->version) > 0)
            newest = &item;
    }
    if (!newest || compareVersions(newest->version, runningVersion) <= 0)
        return std::nullopt;
    return *newest;
}

} // namespace Appcast
