#include "appcast.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestAppcast : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("channel"); // what the feed's channel holds
        QTest::addColumn<QString>("expected");   // the first item's fields, or the error
        QTest::newRow("elements; relative addresses resolved, others than web addresses dropped")
            << QByteArray("<item><s:version>120</s:version><s:channel>beta</s:channel>"
                          "<s:shortVersionString>1.2</s:shortVersionString><s:releaseNotesLink>"
                          "file:///etc/passwd</s:releaseNotesLink><link>/get</link>"
                          "<enclosure url=\"https://t.example/a.deb\"/></item>")
            << u"120|1.2|beta||https://f.example/get|https://t.example/a.deb"_s;
        QTest::newRow("items without a version left out; versions on the enclosure, elements win")
            << QByteArray("<item><title>none</title></item><item><s:version>8</s:version>"
                          "<enclosure s:version=\"7\" s:shortVersionString=\"0.7\"/></item>")
            << u"8|0.7||||"_s;
        QTest::newRow("trailing garbage")
            << QByteArray("<item><s:version>3</s:version></item></channel></rss><x/>")
            << u"the feed is not well-formed XML"_s;
    }

    void parse()
    {
        QFETCH(QByteArray, channel);
        QFETCH(QString, expected);
        const auto result = Appcast::parse("<rss xmlns:s=\"http://www.andymatuschak.org/"
                                           "xml-namespaces/sparkle\"><channel>" +
                                               channel + "</channel></rss>",
                                           QUrl(u"https://f.example/u/a.xml"_s));
        const AppcastItem i = result.items.value(0);
        const QStringList fields{i.version,         i.shortVersionString,
                                 i.channel,         i.releaseNotesLink.toString(),
                                 i.link.toString(), i.enclosureUrl.toString()};
        QCOMPARE(result.ok() ? fields.join(u'|') : result.error.section(u" ("_s, 0, 0), expected);
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
