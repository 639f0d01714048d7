#include "appcast.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray feed(const QByteArray &items)
{
    return "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>" +
           items + "</channel></rss>";
}

} // namespace

class TestAppcast : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // the first item's fields, or "error: <part>"
        QTest::newRow("elements")
            << feed("<item><sparkle:version>120</sparkle:version><sparkle:channel>beta</sparkle:"
                    "channel><sparkle:shortVersionString>1.2</sparkle:shortVersionString>"
                    "<sparkle:releaseNotesLink>https://t.example/n</sparkle:releaseNotesLink>"
                    "<link>https://t.example/</link><enclosure url=\"https://t.example/a.deb\"/>"
                    "</item>")
            << u"120|1.2|beta|https://t.example/n|https://t.example/|https://t.example/a.deb"_s;
        QTest::newRow("items without a version left out; versions on the enclosure, elements win")
            << feed("<item><title>none</title></item><item><sparkle:version>8</sparkle:version>"
                    "<enclosure sparkle:version=\"7\" sparkle:shortVersionString=\"0.7\"/></item>")
            << u"8|0.7||||"_s;
        QTest::newRow("relative addresses resolved, others than web addresses dropped")
            << feed("<item><sparkle:version>2</sparkle:version><link>/get</link><sparkle:"
                    "releaseNotesLink>file:///etc/passwd</sparkle:releaseNotesLink>"
                    "<enclosure url=\"javascript:alert(1)\"/></item>")
            << u"2||||https://f.example/get|"_s;
        QTest::newRow("trailing garbage")
            << feed("<item><sparkle:version>3</sparkle:version></item>") + "</rss>"
            << u"error: not well-formed"_s;
    }

    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const auto result = Appcast::parse(bytes, QUrl(u"https://f.example/u/a.xml"_s));
        const AppcastItem i = result.items.value(0);
        const QStringList fields{i.version,         i.shortVersionString,
                                 i.channel,         i.releaseNotesLink.toString(),
                                 i.link.toString(), i.enclosureUrl.toString()};
        const QString actual = result.ok() ? fields.join(u'|') : u"error: "_s + result.error;
        QVERIFY2(actual == expected || (expected.startsWith(u"error: ") &&
                                        actual.contains(expected.mid(7)) && result.items.isEmpty()),
                 qPrintable(actual));
    }

    void compareVersions_data()
    {
        QTest::addColumn<QString>("comparison"); // "a < b", "a = b" or "a > b"
        for (const char *comparison :
             {"1.10 > 1.9", "1.0 = 1.0.0", "1.01 = 1.1",
              "1.184467440737095516160 > 1.18446744073709551615", "1.0b1 < 1.0",
              "2.0-beta.10 > 2.0-beta.9", "2.0rc1 > 2.0beta3", "2.0RC1 = 2.0rc1", "v1.2 = 1.2"})
            QTest::newRow(comparison) << QString::fromLatin1(comparison);
    }

    void compareVersions()
    {
        QFETCH(QString, comparison);
        const QStringList parts = comparison.split(u' ');
        const int order = parts[1] == u"<" ? -1 : parts[1] == u"=" ? 0 : 1;
        QCOMPARE(Appcast::compareVersions(parts[0], parts[2]), order);
        QCOMPARE(Appcast::compareVersions(parts[2], parts[0]), -order);
    }
};

QTEST_GUILESS_MAIN(TestAppcast)
#include "tst_appcast.moc"
