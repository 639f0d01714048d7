#include "jsonstreamdecoder.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Objects as compact JSON; failures as "!" and the raw text, or "!<not UTF-8>".
QStringList render(const QList<JsonStreamItem> &items)
{
    QStringList out;
    for (const JsonStreamItem &item : items) {
        if (const auto *object = std::get_if<QJsonObject>(&item)) {
            out << QString::fromUtf8(QJsonDocument(*object).toJson(QJsonDocument::Compact));
            continue;
        }
        const auto &failure = std::get<JsonDecodeFailure>(item);
        if (failure.error.isEmpty())
            out << u"<failure without a message>"_s;
        else
            out << u"!"_s + failure.rawText.value_or(u"<not UTF-8>"_s);
    }
    return out;
}

} // namespace

class TestJsonStreamDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesReads_data()
    {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QStringList>("afterReads");
        QTest::addColumn<QStringList>("atEndOfFile");

        // One document per read, as a single hook writer produces it.
        QTest::newRow("one record")
            << QByteArrayList{"{\"a\":1}\n"} << QStringList{u"{\"a\":1}"_s} << QStringList{};
        QTest::newRow("one record, no line feed")
            << QByteArrayList{"{\"a\":1}"} << QStringList{u"{\"a\":1}"_s} << QStringList{};
        QTest::newRow("one document over several lines")
            << QByteArrayList{"{\n  \"a\": [\n    1\n  ]\n}\n"} << QStringList{u"{\"a\":[1]}"_s}
            << QStringList{};
        QTest::newRow("byte order mark before a document over several lines")
            << QByteArrayList{"\xEF\xBB\xBF{\n\"a\": 1\n}\n"} << QStringList{u"{\"a\":1}"_s}
            << QStringList{};
        QTest::newRow("array dropped")
            << QByteArrayList{"[1,2]\n"} << QStringList{} << QStringList{};

        // Several records in one read.
        QTest::newRow("two records in one read")
            << QByteArrayList{"{\"a\":1}\n{\"b\":2}\n"}
            << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s} << QStringList{};
        QTest::newRow("array between records")
            << QByteArrayList{"{\"a\":1}\n[3]\n{\"b\":2}\n"}
            << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s} << QStringList{};
        QTest::newRow("blank lines skipped")
            << QByteArrayList{"\n \n{\"a\":1}\n\r\n\t\n{\"b\":2}\n\n"}
            << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s} << QStringList{};

        // Records split over reads.
        QTest::newRow("record split over reads")
            << QByteArrayList{"{\"a\":", "\"x\"", "}\n"} << QStringList{u"{\"a\":\"x\"}"_s}
            << QStringList{};
        QTest::newRow("second record split")
            << QByteArrayList{"{\"a\":1}\n{\"b\"", ":2}\n"}
            << QStringList{u"{\"a\":1}"_s, u"{\"b\":2}"_s} << QStringList{};
        QTest::newRow("braces and quotes inside strings")
            << QByteArrayList{"{\"a\":\"}\\\"{[\"", ",\"b\":\"\\\\\"}\n"}
            << QStringList{u"{\"a\":\"}\\\"{[\",\"b\":\"\\\\\"}"_s} << QStringList{};
        QTest::newRow("UTF-8 sequence split over reads")
            << QByteArrayList{"{\"a\":\"\xe2\x82", "\xac\"}\n"} << QStringList{u"{\"a\":\"€\"}"_s}
            << QStringList{};
        QTest::newRow("unfinished last record waits for end of file")
            << QByteArrayList{"{\"a\":1}\n{\"b\":2}"} << QStringList{u"{\"a\":1}"_s}
            << QStringList{u"{\"b\":2}"_s};
        QTest::newRow("whitespace tail")
            << QByteArrayList{"{\"a\":1}\n  "} << QStringList{u"{\"a\":1}"_s} << QStringList{};

        // Failures: each bad line is one failure and the good ones survive.
        QTest::newRow("number") << QByteArrayList{"42\n"} << QStringList{u"!42"_s} << QStringList{};
        QTest::newRow("string") << QByteArrayList{"\"text\"\n"} << QStringList{u"!\"text\""_s}
                                << QStringList{};
        QTest::newRow("garbage between records")
            << QByteArrayList{"{\"a\":1}\nnot json\n{\"b\":2}\n"}
            << QStringList{u"{\"a\":1}"_s, u"!not json"_s, u"{\"b\":2}"_s} << QStringList{};
        QTest::newRow("record cut off at end of file")
            << QByteArrayList{"{\"a\":"} << QStringList{} << QStringList{u"!{\"a\":"_s};
        QTest::newRow("closed too often")
            << QByteArrayList{"{\"a\":1}}\n"} << QStringList{u"!{\"a\":1}}"_s} << QStringList{};
        QTest::newRow("not UTF-8") << QByteArrayList{"{\"a\":\"\xff\xfe\"}\n"}
                                   << QStringList{u"!<not UTF-8>"_s} << QStringList{};
        QTest::newRow("not UTF-8 between records")
            << QByteArrayList{"{\"a\":1}\n\xc0\x80\n{\"b\":2}\n"}
            << QStringList{u"{\"a\":1}"_s, u"!<not UTF-8>"_s, u"{\"b\":2}"_s} << QStringList{};
    }

    void decodesReads()
    {
        QFETCH(QByteArrayList, reads);
        QFETCH(QStringList, afterReads);
        QFETCH(QStringList, atEndOfFile);

        JsonStreamDecoder decoder;
        QList<JsonStreamItem> items;
        for (const QByteArray &read : reads)
            items += decoder.feed(read);
        QCOMPARE(render(items), afterReads);
        QCOMPARE(render(decoder.finish()), atEndOfFile);
        QCOMPARE(decoder.pendingBytes(), 0);

        // End of file starts afresh: nothing carries over into the next opening.
        QCOMPARE(render(decoder.feed("{\"next\":true}\n")), QStringList{u"{\"next\":true}"_s});
    }

    // A large record whose reads end on braces and quotes inside its string
    // decodes once, as one object; re-parsing the growing buffer on every
    // such read would take hours here.
    void largeRecordInSmallReads()
    {
        const int pieces = 200000;
        JsonStreamDecoder decoder;
        QList<JsonStreamItem> items = decoder.feed("{\"content\":\"");
        for (int i = 0; i < pieces; ++i) {
            items += decoder.feed("0123456789}");
            items += decoder.feed("{][\\\"");
        }
        QVERIFY(items.isEmpty());
        items += decoder.feed("\"}\n");
        QCOMPARE(items.size(), 1);
        QVERIFY(std::holds_alternative<QJsonObject>(items.first()));
        QCOMPARE(std::get<QJsonObject>(items.first()).value(u"content").toString().size(),
                 pieces * 15);
    }

    void overlongLineIsDropped()
    {
        JsonStreamDecoder decoder;
        QList<JsonStreamItem> items;
        items += decoder.feed("{\"a\":1}\n{\"big\":\"");
        const QByteArray filler(1024 * 1024, 'x');
        for (int i = 0; i < 15; ++i)
            items += decoder.feed(filler);
        QCOMPARE(render(items), QStringList{u"{\"a\":1}"_s});

        // One more read takes it past the limit: reported without its bytes.
        items = decoder.feed(filler);
        QCOMPARE(items.size(), 1);
        const auto *failure = std::get_if<JsonDecodeFailure>(&items.first());
        QVERIFY(failure);
        QVERIFY(!failure->error.isEmpty());
        QVERIFY(!failure->rawText);
        QCOMPARE(decoder.pendingBytes(), 0);

        // The rest of that line goes too; the records after it survive.
        items = decoder.feed(filler);
        items += decoder.feed("xx\"}\n{\"b\":2}\n");
        QCOMPARE(render(items), QStringList{u"{\"b\":2}"_s});
        QCOMPARE(render(decoder.finish()), QStringList{});
    }
};

QTEST_APPLESS_MAIN(TestJsonStreamDecoder)
#include "tst_jsonstreamdecoder.moc"
