#include "hookevent.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTest>

class TestDecoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void processId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("pid"); // 0: invalid
        QTest::newRow("plain") << "4711" << qint64(4711);
        QTest::newRow("plus") << "+4711" << qint64(4711);
        QTest::newRow("minus") << "-1" << qint64(-1);
        QTest::newRow("leading zeros") << "0004711" << qint64(4711);
        QTest::newRow("min") << "-9223372036854775808" << std::numeric_limits<qint64>::min();
        QTest::newRow("one above max") << "9223372036854775808" << qint64(0);
        QTest::newRow("trailing space") << "4711 " << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("non-ASCII digit") << QString::fromUtf8("٤") << qint64(0);
    }
    void processId()
    {
        QFETCH(QString, text);
        QFETCH(qint64, pid);
        QCOMPARE(parseProcessId(text).value_or(0), pid);
    }

    void record_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("result"); // the console line, or "pid|tool|details|directory"

        const QString missing = QStringLiteral("⚠️ Invalid event format: missing required fields");
        const QJsonObject base{{"instance", "4711"}, {"event", "Stop"}};
        const auto with = [&](const char *key, const QJsonValue &value) {
            QJsonObject o = base;
            o.insert(QLatin1String(key), value);
            return o;
        };
        const QString own = QString::number(QCoreApplication::applicationPid());

        QTest::newRow("minimal") << base << "4711|-|-|-";
        QTest::newRow("empty object") << QJsonObject() << missing;
        QTest::newRow("null event") << with("event", QJsonValue::Null) << missing;
        QTest::newRow("numeric instance") << with("instance", 4711) << missing;
        QTest::newRow("bad pid") << with("instance", "47 11") << "⚠️ Invalid PID format: 47 11";
        QTest::newRow("unexpanded $PPID") << with("instance", "$PPID") << own + "|-|-|-";
        QTest::newRow("details text null") << with("details", "null") << "4711|-|null|-";
        QTest::newRow("details json null") << with("details", QJsonValue::Null) << "4711|-|-|-";
        QTest::newRow("numeric tool") << with("tool", 5) << "4711|-|-|-";
        QTest::newRow("directory") << with("working_directory", "/w") << "4711|-|-|/w";
        QTest::newRow("array directory") << with("working_directory", QJsonArray{"/w"}) << "4711|-|-|-";
    }
    void record()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, result);
        const auto decoded = decodeHookRecord(record, QCoreApplication::applicationPid());
        if (const auto *rejected = std::get_if<HookRecordRejected>(&decoded)) {
            QCOMPARE(rejected->consoleLine, result);
            return;
        }
        const HookEvent &e = std::get<HookEvent>(decoded);
        const auto text = [](const std::optional<QString> &t) { return t.value_or(QStringLiteral("-")); };
        QCOMPARE(QString::number(e.pid) + u'|' + text(e.tool) + u'|' + text(e.details) + u'|'
                     + text(e.workingDirectory),
                 result);
    }

    void rawJsonKeepsExtraMembers()
    {
        const QString raw = rawJsonText({{"instance", "1"}, {"event", "Stop"}, {"extra", true}});
        QVERIFY(raw.contains(QStringLiteral("\"extra\": true")) && raw.count(u'\n') > 3);
    }
};

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
