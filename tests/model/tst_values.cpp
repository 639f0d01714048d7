#include "claudecodeinstance.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<QString>)

class TestValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusFromText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("status"); // -1: no status

        QTest::newRow("Off") << "Off" << int(InstanceStatus::off);
        QTest::newRow("Ready") << "Ready" << int(InstanceStatus::ready);
        QTest::newRow("Working") << "Working" << int(InstanceStatus::working);
        QTest::newRow("Waiting for Input") << "Waiting for Input" << int(InstanceStatus::waitingForInput);
        QTest::newRow("Error") << "Error" << int(InstanceStatus::error);
        QTest::newRow("lower-case ready") << "ready" << -1;
        QTest::newRow("lower-case i") << "Waiting for input" << -1;
        QTest::newRow("trailing space") << "Ready " << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void statusFromText()
    {
        QFETCH(QString, text);
        QFETCH(int, status);
        const auto parsed = instanceStatusFromText(text);
        QCOMPARE(parsed ? int(*parsed) : -1, status);
        if (parsed)
            QCOMPARE(statusText(*parsed), text);
    }

    void statusColor_data()
    {
        QTest::addColumn<std::optional<QString>>("last");
        QTest::addColumn<std::optional<QString>>("previous");
        QTest::addColumn<int>("color");
        const std::optional<QString> none;
        const auto t = [](const char *s) { return std::optional<QString>(QString::fromUtf8(s)); };

        QTest::newRow("no event yet") << none << t("Stop") << int(StatusColor::gray);
        QTest::newRow("Stop") << t("Stop") << t("PreToolUse") << int(StatusColor::green);
        QTest::newRow("Notification after PreToolUse") << t("Notification") << t("PreToolUse") << int(StatusColor::red);
        QTest::newRow("Notification after Stop") << t("Notification") << t("Stop") << int(StatusColor::green);
        QTest::newRow("Notification after prompt") << t("Notification") << t("UserPromptSubmit") << int(StatusColor::yellow);
        QTest::newRow("Notification first") << t("Notification") << none << int(StatusColor::yellow);
        QTest::newRow("PreToolUse") << t("PreToolUse") << none << int(StatusColor::yellow);
        QTest::newRow("lower-case stop") << t("stop") << none << int(StatusColor::yellow);
        QTest::newRow("lower-case pretooluse") << t("Notification") << t("pretooluse") << int(StatusColor::yellow);
    }
    void statusColor()
    {
        QFETCH(std::optional<QString>, last);
        QFETCH(std::optional<QString>, previous);
        QFETCH(int, color);
        ClaudeCodeInstance instance;
        instance.lastEventType = last;
        instance.previousEventType = previous;
        QCOMPARE(int(instance.statusColor()), color);
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("projectPath");
        QTest::addColumn<std::optional<QString>>("customName");
        QTest::addColumn<QString>("displayName");
        QTest::newRow("project name") << "/home/user/api" << std::optional<QString>() << "api";
        QTest::newRow("trailing slash") << "/home/user/api/" << std::optional<QString>() << "api";
        QTest::newRow("custom name") << "/home/user/api" << std::optional<QString>(QStringLiteral("Backend")) << "Backend";
        QTest::newRow("unknown") << "Unknown" << std::optional<QString>() << "Unknown";
    }
    void displayName()
    {
        QFETCH(QString, projectPath);
        QFETCH(std::optional<QString>, customName);
        QFETCH(QString, displayName);
        const auto instance = ClaudeCodeInstance::make(QStringLiteral("A"), 1, projectPath,
                                                       lastPathComponent(projectPath), customName);
        QCOMPARE(instance.displayName(), displayName);
    }

    // Every field takes part in equality and hashing: change each one in turn.
    void equalityCoversEveryField_data()
    {
        QTest::addColumn<int>("field");
        for (int field = 0; field < 15; ++field)
            QTest::addRow("field %d", field) << field;
    }
    void equalityCoversEveryField()
    {
        QFETCH(int, field);
        ClaudeCodeInstance a = ClaudeCodeInstance::make(QStringLiteral("A"), 7, QStringLiteral("/p"),
                                                        QStringLiteral("p"), std::nullopt);
        a.activityLog.append(ActivityEvent{QUuid::createUuid(), 1.5, QStringLiteral("Stop"), {}, {}, {}});
        ClaudeCodeInstance b = a;
        QCOMPARE(a, b);
        QCOMPARE(qHash(a), qHash(b));

        switch (field) {
        case 0: b.id = QStringLiteral("B"); break;
        case 1: b.pid = 8; break;
        case 2: b.projectPath = QStringLiteral("/q"); break;
        case 3: b.projectName = QStringLiteral("q"); break;
        case 4: b.customName = QString(); break; // present but empty differs from absent
        case 5: b.status = InstanceStatus::ready; break;
        case 6: b.lastActivity += 0.001; break;
        case 7: b.startTime += 0.001; break;
        case 8: b.currentTool = QStringLiteral("Bash"); break;
        case 9: b.lastPrompt = QStringLiteral("x"); break;
        case 10: b.activityLog.first().details = QStringLiteral("d"); break;
        case 11: b.unreadEventCount = 1; break;
        case 12: b.lastEventType = QStringLiteral("Stop"); break;
        case 13: b.previousEventType = QStringLiteral("Stop"); break;
        case 14: b.lastNonNotificationEvent = QStringLiteral("Stop"); break;
        }
        QVERIFY(a != b);
        QVERIFY(qHash(a) != qHash(b));
        QCOMPARE(a.id == b.id, field != 0); // identity is the id alone
    }

    void activityEntriesDifferingOnlyInIdAreUnequal()
    {
        const ActivityEvent a{QUuid::createUuid(), 2.0, QStringLiteral("PreToolUse"),
                              QStringLiteral("Bash"), QStringLiteral("ls"), QStringLiteral("{}")};
        ActivityEvent b = a;
        QCOMPARE(a, b);
        b.id = QUuid::createUuid();
        QVERIFY(a != b);
        QVERIFY(qHash(a) != qHash(b));
    }

    // Views hold copies; a copy must share the log rather than duplicate it.
    void copiesShareTheLog()
    {
        ClaudeCodeInstance a;
        a.activityLog.resize(10000);
        const ClaudeCodeInstance copy = a;
        QVERIFY(copy.activityLog.isSharedWith(a.activityLog));
        a.activityLog.append(ActivityEvent{});
        QCOMPARE(copy.activityLog.size(), 10000);
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "tst_values.moc"
