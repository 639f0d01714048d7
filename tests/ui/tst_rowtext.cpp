#include "rowtext.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> optional(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
}

double luminance(const QColor &c)
{
    const auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

} // namespace

class TestRowText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusLineText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QVariant>("tool");
        QTest::addColumn<QString>("lastType"); // empty: the log is empty
        QTest::addColumn<QVariant>("lastDetails");
        QTest::addColumn<QVariant>("lastNonNotification");
        QTest::addColumn<QString>("expected");

        const int working = int(InstanceStatus::working);
        const QVariant none;
        const QString x40(40, u'x'), y30(30, u'y'),
            pre = u"PreToolUse"_s, prompt = u"UserPromptSubmit"_s, arrow = u" \u2192 "_s;
        const auto row = [&](const char *name, int status, const QVariant &tool,
                             const QString &type, const QVariant &details, const QString &text) {
            QTest::newRow(name) << status << tool << type << details << QVariant(pre) << text;
        };

        row("off", int(InstanceStatus::off), none, {}, none, u"Waiting for events"_s);
        row("ready", int(InstanceStatus::ready), none, {}, none, u"Ready"_s);
        row("error", int(InstanceStatus::error), none, {}, none, u"Error"_s);
        row("waiting with tool", int(InstanceStatus::waitingForInput), u"Bash"_s, pre, u"ls"_s,
            u"Waiting for Input: Bash"_s);
        row("waiting without tool", int(InstanceStatus::waitingForInput), none, pre, none,
            u"Waiting for Input"_s);
        row("prompt of 40", working, none, prompt, x40, u"Prompted: "_s + x40);
        row("prompt of 41", working, none, prompt, x40 + u'z', u"Prompted: "_s + x40 + u"..."_s);
        row("prompt of 41 combined characters", working, none, prompt, u"e\u0301"_s.repeated(41),
            u"Prompted: "_s + u"e\u0301"_s.repeated(40) + u"..."_s);
        row("empty prompt", working, none, prompt, u""_s, u"Prompted: "_s);
        row("grep of 30", working, u"Grep"_s, pre, y30,
            u"Working: Grep"_s + arrow + u'"' + y30 + u'"');
        row("grep of 31", working, u"Grep"_s, pre, y30 + u'z',
            u"Working: Grep"_s + arrow + u'"' + y30 + u"...\""_s);
        row("bash of 41", working, u"Bash"_s, pre, x40 + u'z',
            u"Working: Bash"_s + arrow + x40 + u"..."_s);
        row("LS keeps the path", working, u"LS"_s, pre, u"/home/u/code"_s,
            u"Working: LS"_s + arrow + u"/home/u/code"_s);
        row("path ending in main.c/", working, u"Edit"_s, pre, u"src/main.c/"_s,
            u"Working: Edit"_s + arrow + u"main.c"_s);
        row("only slashes", working, u"Edit"_s, pre, u"///"_s, u"Working: Edit"_s);
        row("tool without details", working, u"Bash"_s, pre, none, u"Working: Bash"_s);
        row("fetch shows the host", working, u"Fetch"_s, pre, u"https://docs.example.org/a?b=1"_s,
            u"Working: Fetch"_s + arrow + u"docs.example.org"_s);
        row("fetch of no URL", working, u"Fetch"_s, pre, u"not a url/last piece"_s,
            u"Working: Fetch"_s + arrow + u"last piece"_s);
        row("cleared log, tool set", working, u"Bash"_s, {}, none, u"Working: Starting Tool"_s);
        QTest::newRow("cleared log, no history")
            << working << QVariant(u"Bash"_s) << QString() << none << none << u"Working"_s;
        QTest::newRow("after an agent finished")
            << working << none << u"SubagentStop"_s << none << QVariant(u"SubagentStop"_s)
            << u"Working: Agent Completed"_s;
    }

    void statusLineText()
    {
        QFETCH(int, status);
        QFETCH(QVariant, tool);
        QFETCH(QString, lastType);
        QFETCH(QVariant, lastDetails);
        QFETCH(QVariant, lastNonNotification);
        QFETCH(QString, expected);

        auto instance = ClaudeCodeInstance::make(u"ID"_s, 42, u"/p"_s, u"p"_s, std::nullopt);
        instance.status = InstanceStatus(status);
        instance.currentTool = optional(tool);
        instance.lastNonNotificationEvent = optional(lastNonNotification);
        if (!lastType.isEmpty()) {
            instance.activityLog.append({QUuid::createUuid(), 0, u"Stop"_s, {}, u"old"_s, {}});
            instance.activityLog.append(
                {QUuid::createUuid(), 1, lastType, {}, optional(lastDetails), {}});
        }
        QCOMPARE(RowText::statusLineText(instance), expected);
    }

    void eventNames_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("tool");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");

        const QVariant none, agent(u"Launching Agent"_s);
        QTest::newRow("prompt") << u"UserPromptSubmit"_s << none << u"Prompted"_s << u"Prompted"_s;
        QTest::newRow("agent starts")
            << u"PreToolUse"_s << agent << u"Starting Tool"_s << u"Launching Agent"_s;
        QTest::newRow("tool starts")
            << u"PreToolUse"_s << QVariant(u"Bash"_s) << u"Starting Tool"_s << u"Starting Tool"_s;
        QTest::newRow("agent finishes")
            << u"PostToolUse"_s << agent << u"Finished Tool"_s << u"Agent Completed"_s;
        QTest::newRow("subagent stops")
            << u"SubagentStop"_s << none << u"Agent Completed"_s << u"Agent Work Finished"_s;
        QTest::newRow("compacting")
            << u"PreCompact"_s << none << u"Compacting Context"_s << u"Compacting Context"_s;
        QTest::newRow("stop") << u"Stop"_s << agent << u"Completed"_s << u"Completed"_s;
        QTest::newRow("unknown stays") << u"stop"_s << none << u"stop"_s << u"stop"_s;
    }

    void eventNames()
    {
        QFETCH(QString, type);
        QFETCH(QVariant, tool);
        QFETCH(QString, label);
        QFETCH(QString, title);
        QCOMPARE(RowText::eventTypeLabel(type), label);
        QCOMPARE(RowText::eventTitle({QUuid::createUuid(), 0, type, optional(tool), {}, {}}),
                 title);
    }

    void logLineTexts_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVariant>("tool");
        QTest::addColumn<QVariant>("details");
        QTest::addColumn<QString>("toolText");
        QTest::addColumn<QString>("detailsText");

        const QVariant none;
        QTest::newRow("tool") << u"PreToolUse"_s << QVariant(u"Bash"_s) << QVariant(u"ls"_s)
                              << u"\u2022 Bash"_s << u"ls"_s;
        QTest::newRow("agent shows no tool")
            << u"PostToolUse"_s << QVariant(u"Launching Agent"_s) << none << QString() << QString();
        QTest::newRow("empty details")
            << u"Notification"_s << none << QVariant(u""_s) << QString() << QString();
        QTest::newRow("compacting names its trigger")
            << u"PreCompact"_s << none << QVariant(u"Compacting Context"_s) << QString()
            << u"Trigger: Compacting Context"_s;
    }

    void logLineTexts()
    {
        QFETCH(QString, type);
        QFETCH(QVariant, tool);
        QFETCH(QVariant, details);
        QFETCH(QString, toolText);
        QFETCH(QString, detailsText);
        const ActivityEvent entry{QUuid::createUuid(), 0, type, optional(tool),
                                  optional(details),   {}};
        QCOMPARE(RowText::logToolText(entry), toolText);
        QCOMPARE(RowText::logDetailsText(entry), detailsText);
    }

    void formattedJSON_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("expected");

        QTest::newRow("keys sorted at every level")
            << uR"([{"b": 1, "a": {"d": true, "c": null}}])"_s
            << u"[\n    {\n        \"a\": {\n            \"c\": null,\n            \"d\": true\n"
               u"        },\n        \"b\": 1\n    }\n]"_s;
        QTest::newRow("not JSON") << u"PID 42 said hello"_s << u"PID 42 said hello"_s;
        QTest::newRow("bare number") << u"42"_s << u"42"_s;
        QTest::newRow("trailing text") << uR"({"a": 1} more)"_s << uR"({"a": 1} more)"_s;
    }

    void formattedJSON()
    {
        QFETCH(QString, raw);
        QFETCH(QString, expected);
        QCOMPARE(RowText::formattedJSON(raw), expected);
    }

    void timeOfDayText_data()
    {
        // Run with TZ=UTC: 1700000000 is 2023-11-14 22:13:20.
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("time");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en_US, no zone") << u"en_US"_s << 1700000000.0 << u"10:13:20 PM"_s;
        QTest::newRow("fi_FI") << u"fi_FI"_s << 1700000000.0 << u"22.13.20"_s;
        QTest::newRow("fraction cut") << u"de_DE"_s << 1700000000.9996 << u"22:13:20"_s;
    }

    void timeOfDayText()
    {
        QFETCH(QString, locale);
        QFETCH(double, time);
        QFETCH(QString, expected);
        // Newer locale data puts a narrow no-break space before PM.
        QCOMPARE(RowText::timeOfDayText(time, QLocale(locale)).replace(u'\u202f', u' '), expected);
    }

    void subtitle()
    {
        QCOMPARE(RowText::subtitle(0), u"0 instances"_s);
        QCOMPARE(RowText::subtitle(1), u"1 instance"_s);
        QCOMPARE(RowText::subtitle(3), u"3 instances"_s);
    }

    void chevronPoints_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("endY");
        QTest::addColumn<double>("tipY");
        // In a 10 x 20 box: pointing down until halfway, flat at 0.75, up at 1.
        QTest::newRow("0") << 0.0 << 5.0 << 15.0;
        QTest::newRow("0.25") << 0.25 << 5.0 << 15.0;
        QTest::newRow("0.5") << 0.5 << 5.0 << 15.0;
        QTest::newRow("0.75") << 0.75 << 10.0 << 10.0;
        QTest::newRow("1") << 1.0 << 15.0 << 5.0;
    }

    void chevronPoints()
    {
        QFETCH(double, progress);
        QFETCH(double, endY);
        QFETCH(double, tipY);
        const auto points = RowText::chevronPoints(10, 20, progress);
        QCOMPARE(points[0], QPointF(0, endY));
        QCOMPARE(points[1], QPointF(5, tipY));
        QCOMPARE(points[2], QPointF(10, endY));
    }

    void statusColorsReadOnLightAndDark()
    {
        // At least 3:1 against white, a light gray and two dark gray windows.
        for (auto status :
             {StatusColor::gray, StatusColor::green, StatusColor::yellow, StatusColor::red}) {
            const double shade = luminance(RowText::statusColor(status)) + 0.05;
            for (const char *background : {"#ffffff", "#f6f5f4", "#353535", "#1e1e1e"}) {
                const double window = luminance(QColor(background)) + 0.05;
                QVERIFY2(std::max(shade, window) / std::min(shade, window) >= 3.0, background);
            }
        }
    }
};

QTEST_MAIN(TestRowText)
#include "tst_rowtext.moc"
