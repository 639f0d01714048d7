#include "jsonstreamdecoder.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Objects as compact JSON (flagged when their bytes sit in a larger buffer); failures as "!" and
// the raw text, or "!<not UTF-8>".
QStringList render(const QList<JsonStreamItem> &items)
{
    QStringList out;
    for (const JsonStreamItem &item : items) {
        if (const auto *record = std::get_if<JsonRecord>(&item))
            out << QString::fromUtf8(QJsonDocument(record->object).toJson(QJsonDocument::Compact)) +
                       (record->bytes.capacity() > record->bytes.size() + 64 ? u"<buffer>"_s
                                                                             : u""_s);
        else if (const auto &failure = std::get<JsonDecodeFailure>(item); !failure.error.isEmpty())
            out << u"!"_s + failure.rawText.value_or(u"<not UTF-8>"_s);
    }
    return out;
}

} // namespace

class TestJsonStreamDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // reads: the bytes of each read, separated by "|"; decoded: what the reads give, "EOF",
    // then what end of file gives, separated by "|".
    void decodesReads_data()
    {
        QTest::addColumn<QByteArray>("reads");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("document over several lines after a BOM; braces and quotes in strings")
            << QByteArray("\xEF\xBB\xBF{\n  \"a\": \"}\\\"{[\",\n  \"b\": [\"\\\\\"]\n}\n")
            << u"{\"a\":\"}\\\"{[\",\"b\":[\"\\\\\"]}|EOF"_s;
        QTest::newRow("two records in one read; blank lines and an array between")
            << QByteArray("\n \n{\"a\":1}\n\r\n[3]\n\t\n{\"b\":2}\n\n")
            << u"{\"a\":1}|{\"b\":2}|EOF"_s;
        QTest::newRow("record split over reads, inside UTF-8 too; an unfinished one waits for EOF")
            << QByteArray("{\"a\":1}\n{\"b\"|:\"\xe2\x82|\xac\"}\n{\"c\":3}")
            << u"{\"a\":1}|{\"b\":\"€\"}|EOF|{\"c\":3}"_s;
        QTest::newRow("bad lines between records, one cut off at end of file")
            << QByteArray("{\"a\":1}\nnot json\n42\n{\"a\":1}}\n\xc0\x80\n{\"b\":2}\n{\"a\":")
            << u"{\"a\":1}|!not json|!42|!{\"a\":1}}|!<not UTF-8>|{\"b\":2}|EOF|!{\"a\":"_s;
        // Reads that end on braces and quotes inside a large record's string must not make the
        // decoder parse the growing buffer again each time.
        QTest::newRow("large record in small reads")
            << "{\"c\":\"" + QByteArray("0123456789}|{][\\\"|").repeated(200000) + "\"}\n"
            << u"{\"c\":\""_s + u"0123456789}{][\\\""_s.repeated(200000) + u"\"}|EOF"_s;
        const qsizetype limit = 16 * 1024 * 1024;
        QTest::newRow("16 MiB line") << "{\"a\":\"" + QByteArray(limit - 8, 'x') + "|\"}\n"
                                     << u"{\"a\":\""_s + QString(limit - 8, u'x') + u"\"}|EOF"_s;
        // Reported without its bytes, and dropped to its end.
        QTest::newRow("longer line")
            << "{\"a\":1}\n{\"a\":\"" + QByteArray(limit, 'x') + "|xx\"}\n{}\n"
            << u"{\"a\":1}|!<not UTF-8>|{}|EOF"_s;
    }

    void decodesReads()
    {
        QFETCH(QByteArray, reads);
        QFETCH(QString, decoded);
        JsonStreamDecoder decoder;
        QList<JsonStreamItem> items;
        for (const QByteArray &read : reads.split('|'))
            items += decoder.feed(read);
        QCOMPARE((render(items) << u"EOF"_s << render(decoder.finish())).join(u'|'), decoded);
        // Nothing carries over into the next opening of the pipe.
        QCOMPARE(render(decoder.feed("{}\n")), QStringList(u"{}"_s));
    }
};

QTEST_APPLESS_MAIN(TestJsonStreamDecoder)
#include "tst_jsonstreamdecoder.moc"
