#include "appcast.h"

#include <QTest>

namespace {

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:sparkle=\"http://"
           "www.andymatuschak.org/xml-namespaces/sparkle\"><channel><title>Tolvo</title>" +
           items + "</channel></rss>";
}

// The fields of an item joined by '|', so that a table row can state them on one line.
QString fields(const AppcastItem &item)
{
    return QStringList{item.title,
                       item.version,
                       item.shortVersionString,
                       item.channel,
                       item.releaseNotesLink.toString(),
                       item.link.toString(),
                       item.enclosureUrl.toString(),
                       item.pubDate.toUTC().toString(Qt::ISODate)}
        .join(u'|');
}

AppcastItem item(const QString &version, const QString &channel = {})
{
    AppcastItem result;
    result.version = version;
    result.channel = channel;
    return result;
}

} // namespace

class TestAppcast : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>(
            "expected"); // the first item's fields, or "error: " and part of it

        QTest::newRow("elements")
            << feed("<item><title> Tolvo 1.2 </title><sparkle:version>120</sparkle:version>"
                    "<pubDate>Tue, 04 Mar 2025 10:00:00 +0100</pubDate>"
                    "<sparkle:shortVersionString>1.2</sparkle:shortVersionString>"
                    "<sparkle:releaseNotesLink>https://t.example/n</sparkle:releaseNotesLink>"
                    "<link>https://t.example/</link><enclosure url=\"https://t.example/a.deb\" "
                    "length=\"10\" type=\"application/octet-stream\"/></item>")
            << "Tolvo 1.2|120|1.2||https://t.example/n|https://t.example/|https://t.example/a.deb|"
               "2025-03-04T09:00:00Z";
        QTest::newRow("versions on the enclosure")
            << feed("<item><enclosure url=\"https://t.example/a.deb\" sparkle:version=\"7\" "
                    "sparkle:shortVersionString=\"0.7\"/></item>")
            << "|7|0.7||||https://t.example/a.deb|";
        QTest::newRow("elements win over the enclosure")
            << feed("<item><sparkle:version>8</sparkle:version>"
                    "<enclosure url=\"https://t.example/a.deb\" sparkle:version=\"7\"/></item>")
            << "|8|||||https://t.example/a.deb|";
        QTest::newRow("item channel is not the feed channel")
            << feed("<item><sparkle:version>2</sparkle:version>"
                    "<sparkle:channel>beta</sparkle:channel></item>")
            << "|2||beta||||";
        QTest::newRow("relative addresses resolve against the feed")
            << feed("<item><sparkle:version>2</sparkle:version><link>/get</link>"
                    "<sparkle:releaseNotesLink>n/2.html</sparkle:releaseNotesLink></item>")
            << "|2|||https://f.example/u/n/2.html|https://f.example/get||";
        QTest::newRow("addresses that are not web addresses are dropped")
            << feed("<item><sparkle:version>2</sparkle:version><link>file:///etc/passwd</link>"
                    "<enclosure url=\"javascript:alert(1)\"/></item>")
            << "|2||||||";
        QTest::newRow("items without a version are left out")
            << feed("<item><title>none</title></item><item><sparkle:version>3</sparkle:version>"
                    "</item>")
            << "|3||||||";
        QTest::newRow("no items") << feed({}) << "";
        QTest::newRow("cut off") << feed("<item><sparkle:version>3</sparkle:version>").left(150)
                                 << "error: not well-formed";
        QTest::newRow("undeclared prefix")
            << QByteArray("<rss><channel><item><sparkle:version>3</sparkle:version></item>"
                          "</channel></rss>")
            << "error: not well-formed";
        QTest::newRow("trailing garbage")
            << feed("<item><sparkle:version>3</sparkle:version></item>") + "</rss>"
            << "error: not well-formed";
        QTest::newRow("empty") << QByteArray(" \n") << "error: the feed is empty";
        QTest::newRow("html page")
            << QByteArray("<html><body>Not here</body></html>") << "error: not an RSS document";
        QTest::newRow("rss without channel") << QByteArray("<rss/>") << "error: no channel";
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);

        const auto result =
            Appcast::parse(bytes, QUrl(QStringLiteral("https://f.example/u/a.xml")));
        if (expected.startsWith(QStringLiteral("error: "))) {
            QVERIFY2(result.error.contains(expected.mid(7)), qPrintable(result.error));
            QVERIFY(result.items.isEmpty());
        } else {
            QVERIFY2(result.ok(), qPrintable(result.error));
            QCOMPARE(result.items.isEmpty() ? QString() : fields(result.items.first()), expected);
        }
    }

    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");

        QTest::newRow("segments are numbers") << "1.10"
                                              << "1.9" << 1;
        QTest::newRow("missing segments are zero") << "1.0"
                                                   << "1.0.0" << 0;
        QTest::newRow("extra non-zero segment") << "1.0"
                                                << "1.0.1" << -1;
        QTest::newRow("leading zeros") << "1.01"
                                       << "1.1" << 0;
        QTest::newRow("beyond 64 bits") << "1.184467440737095516160"
                                        << "1.18446744073709551615" << 1;
        QTest::newRow("pre-release before release") << "1.0b1"
                                                    << "1.0" << -1;
        QTest::newRow("pre-release after the previous release") << "1.1-beta"
                                                                << "1.0" << 1;
        QTest::newRow("pre-release numbers") << "2.0-beta.10"
                                             << "2.0-beta.9" << 1;
        QTest::newRow("pre-release names") << "2.0rc1"
                                           << "2.0beta3" << 1;
        QTest::newRow("pre-release case") << "2.0RC1"
                                          << "2.0rc1" << 0;
        QTest::newRow("leading v") << "v1.2"
                                   << "1.2" << 0;
        QTest::newRow("empty is zero") << ""
                                       << "0" << 0;
    }

    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(Appcast::compareVersions(a, b), order);
        QCOMPARE(Appcast::compareVersions(b, a), -order);
    }

    void newestUpdate_data()
    {
        QTest::addColumn<QList<AppcastItem>>("items");
        QTest::addColumn<QStringList>("allowed");
        QTest::addColumn<QString>("offered"); // empty: nothing to offer

        QTest::newRow("newest, not first")
            << QList{item("1.1"), item("1.3"), item("1.2")} << QStringList() << "1.3";
        QTest::newRow("same as running") << QList{item("1.0.0")} << QStringList() << "";
        QTest::newRow("older than running") << QList{item("0.9")} << QStringList() << "";
        QTest::newRow("other channel ignored")
            << QList{item("1.1"), item("2.0", "beta")} << QStringList() << "1.1";
        QTest::newRow("only other channels") << QList{item("2.0", "beta")} << QStringList() << "";
        QTest::newRow("allowed channel")
            << QList{item("1.1"), item("2.0", "beta")} << QStringList{"beta"} << "2.0";
    }

    void newestUpdate()
    {
        QFETCH(QList<AppcastItem>, items);
        QFETCH(QStringList, allowed);
        QFETCH(QString, offered);
        const auto update = Appcast::newestUpdate(items, QStringLiteral("1.0"),
                                                  QSet<QString>(allowed.begin(), allowed.end()));
        QCOMPARE(update ? update->version : QString(), offered);
    }
};

QTEST_GUILESS_MAIN(TestAppcast)
#include "tst_appcast.moc"
