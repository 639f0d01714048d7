#include "hookevent.h"

#include <QJsonArray>
#include <QTest>

#include <limits>

class TestDecoding : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void processId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("pid");
        QTest::newRow("plain") << "4711" << true << qint64(4711);
        QTest::newRow("plus") << "+4711" << true << qint64(4711);
        QTest::newRow("minus") << "-1" << true << qint64(-1);
        QTest::newRow("leading zeros") << "0004711" << true << qint64(4711);
        QTest::newRow("max") << "9223372036854775807" << true << std::numeric_limits<qint64>::max();
        QTest::newRow("min") << "-9223372036854775808" << true << std::numeric_limits<qint64>::min();
        QTest::newRow("one above max") << "9223372036854775808" << false << qint64(0);
        QTest::newRow("one below min") << "-9223372036854775809" << false << qint64(0);
        QTest::newRow("trailing space") << "4711 " << false << qint64(0);
        QTest::newRow("leading space") << " 4711" << false << qint64(0);
        QTest::newRow("empty") << "" << false << qint64(0);
        QTest::newRow("sign only") << "-" << false << qint64(0);
        QTest::newRow("two signs") << "+-1" << false << qint64(0);
        QTest::newRow("hex") << "0x10" << false << qint64(0);
        QTest::newRow("arabic-indic digit") << QString::fromUtf8("٤") << false << qint64(0);
        QTest::newRow("unexpanded variable") << "$PPID" << false << qint64(0);
    }
    void processId()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(qint64, pid);
        const auto parsed = parseProcessId(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, pid);
    }

    void record_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("rejection"); // empty: accepted
        QTest::addColumn<qint64>("pid");
        QTest::addColumn<QString>("tool");      // "<absent>" for none
        QTest::addColumn<QString>("details");
        QTest::addColumn<QString>("workingDirectory");

        const QString missing = QStringLiteral("⚠️ Invalid event format: missing required fields");
        const QString absent = QStringLiteral("<absent>");
        const QJsonObject base{{"instance", "4711"}, {"event", "Stop"}};
        const auto with = [&](const char *key, const QJsonValue &value) {
            QJsonObject o = base;
            o.insert(QLatin1String(key), value);
            return o;
        };
        const auto without = [&](const char *key) {
            QJsonObject o = base;
            o.remove(QLatin1String(key));
            return o;
        };

        QTest::newRow("minimal") << base << QString() << qint64(4711) << absent << absent << absent;
        QTest::newRow("empty object") << QJsonObject() << missing << qint64(0) << absent << absent << absent;
        QTest::newRow("no event") << without("event") << missing << qint64(0) << absent << absent << absent;
        QTest::newRow("null event") << with("event", QJsonValue::Null) << missing << qint64(0) << absent << absent << absent;
        QTest::newRow("no instance") << without("instance") << missing << qint64(0) << absent << absent << absent;
        QTest::newRow("numeric instance") << with("instance", 4711) << missing << qint64(0) << absent << absent << absent;
        QTest::newRow("bad pid") << with("instance", "47 11") << QStringLiteral("⚠️ Invalid PID format: 47 11")
                                 << qint64(0) << absent << absent << absent;
        QTest::newRow("unexpanded $PPID") << with("instance", "$PPID") << QString()
                                          << QCoreApplication::applicationPid() << absent << absent << absent;
        QTest::newRow("details text null") << with("details", "null") << QString() << qint64(4711) << absent << "null" << absent;
        QTest::newRow("details json null") << with("details", QJsonValue::Null) << QString() << qint64(4711) << absent << absent << absent;
        QTest::newRow("numeric tool") << with("tool", 5) << QString() << qint64(4711) << absent << absent << absent;
        QTest::newRow("tool") << with("tool", "Bash") << QString() << qint64(4711) << "Bash" << absent << absent;
        QTest::newRow("directory") << with("working_directory", "/w") << QString() << qint64(4711) << absent << absent << "/w";
        QTest::newRow("array directory") << with("working_directory", QJsonArray{"/w"}) << QString() << qint64(4711)
                                         << absent << absent << absent;
    }
    void record()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, rejection);
        QFETCH(qint64, pid);
        QFETCH(QString, tool);
        QFETCH(QString, details);
        QFETCH(QString, workingDirectory);

        const auto decoded = decodeHookRecord(record, QCoreApplication::applicationPid());
        if (!rejection.isEmpty()) {
            QVERIFY(std::holds_alternative<HookRecordRejected>(decoded));
            QCOMPARE(std::get<HookRecordRejected>(decoded).consoleLine, rejection);
            return;
        }
        QVERIFY(std::holds_alternative<HookEvent>(decoded));
        const HookEvent &event = std::get<HookEvent>(decoded);
        const auto text = [](const std::optional<QString> &t) { return t.value_or(QStringLiteral("<absent>")); };
        QCOMPARE(event.pid, pid);
        QCOMPARE(text(event.tool), tool);
        QCOMPARE(text(event.details), details);
        QCOMPARE(text(event.workingDirectory), workingDirectory);
    }

    void rawJsonKeepsExtraMembers()
    {
        const QJsonObject record{{"instance", "1"}, {"event", "Stop"}, {"extra", QJsonObject{{"deep", true}}}};
        const QString raw = rawJsonText(record);
        QVERIFY(raw.contains(QStringLiteral("\"extra\"")));
        QVERIFY(raw.count(u'\n') > 3); // pretty-printed over several lines
    }
};

QTEST_GUILESS_MAIN(TestDecoding)
#include "tst_decoding.moc"
