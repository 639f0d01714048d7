#include "rowtext.h"

#include <QTest>

using namespace Qt::StringLiterals;

static std::optional<QString> optional(const QString &text) // null: absent
{
    return text.isNull() ? std::nullopt : std::optional(text);
}

class TestRowText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusLineText_data()
    {
        QTest::addColumn<ClaudeCodeInstance>("instance");
        QTest::addColumn<QString>("expected");
        // `type` and `details` make the newest log entry; an empty type leaves the log empty.
        const auto row = [](const char *name, QString tool, QString type, QString details,
                            QString expected, QString history = u"PreToolUse"_s,
                            InstanceStatus status = InstanceStatus::working) {
            auto i = ClaudeCodeInstance::make(u"ID"_s, 42, u"/p"_s, u"p"_s, std::nullopt);
            i.status = status;
            i.currentTool = optional(tool);
            i.lastNonNotificationEvent = optional(history);
            if (!type.isEmpty())
                i.activityLog = {{QUuid(), 0, u"Stop"_s, {}, u"old"_s, {}},
                                 {QUuid(), 1, type, {}, optional(details), {}}};
            QTest::newRow(name) << i << expected;
        };
        const auto waiting = InstanceStatus::waitingForInput;
        const QString x40(40, u'x'), y30(30, u'y');
        const QString pre = u"PreToolUse"_s, ask = u"UserPromptSubmit"_s;
        row("off", {}, {}, {}, u"Waiting for events"_s, {}, InstanceStatus::off);
        row("waiting with tool", u"Bash"_s, pre, {}, u"Waiting for Input: Bash"_s, {}, waiting);
        row("waiting without tool", {}, pre, {}, u"Waiting for Input"_s, {}, waiting);
        row("prompt of 40", {}, ask, x40, u"Prompted: "_s + x40);
        row("prompt of 41", {}, ask, x40 + u'z', u"Prompted: "_s + x40 + u"..."_s);
        row("prompt of 41 combined characters", {}, ask, u"e\u0301"_s.repeated(41),
            u"Prompted: "_s + u"e\u0301"_s.repeated(40) + u"..."_s);
        row("grep of 30", u"Grep"_s, pre, y30, u"Working: Grep → \"%1\""_s.arg(y30));
        row("grep of 31", u"Grep"_s, pre, y30 + u'z', u"Working: Grep → \"%1...\""_s.arg(y30));
        row("bash of 41", u"Bash"_s, pre, x40 + u'z', u"Working: Bash → %1..."_s.arg(x40));
        row("LS keeps the path", u"LS"_s, pre, u"/home/u/code"_s, u"Working: LS → /home/u/code"_s);
        row("main.c/", u"Edit"_s, pre, u"src/main.c/"_s, u"Working: Edit → main.c"_s);
        row("only slashes", u"Edit"_s, pre, u"///"_s, u"Working: Edit"_s);
        row("fetch: host", u"Fetch"_s, pre, u"https://a.io/b?c=1"_s, u"Working: Fetch → a.io"_s);
        row("fetch, no URL", u"Fetch"_s, pre, u"no url/piece"_s, u"Working: Fetch → piece"_s);
        row("cleared log, tool set", u"Bash"_s, {}, {}, u"Working: Starting Tool"_s);
        row("cleared log, no history", u"Bash"_s, {}, {}, u"Working"_s, {});
    }

    void statusLineText()
    {
        QFETCH(ClaudeCodeInstance, instance);
        QTEST(RowText::statusLineText(instance), "expected");
    }

    void logLine_data()
    {
        QTest::addColumn<ActivityEvent>("entry");
        QTest::addColumn<QString>("expected"); // title | type label | tool text | details text
        const auto row =
            [](const char *name, QString type, QString tool, QString details, QString expected) {
                QTest::newRow(name)
                    << ActivityEvent{QUuid(), 0, type, optional(tool), optional(details), {}}
                    << expected;
            };
        const QString no, agent = u"Launching Agent"_s, pre = u"PreToolUse"_s;
        row("agent starts", pre, agent, no, u"Launching Agent|Starting Tool||"_s);
        row("tool", pre, u"LS"_s, u"."_s, u"Starting Tool|Starting Tool|• LS|."_s);
        row("agent done", u"PostToolUse"_s, agent, no, u"Agent Completed|Finished Tool||"_s);
        row("subagent", u"SubagentStop"_s, no, no, u"Agent Work Finished|Agent Completed||"_s);
        row("compacting", u"PreCompact"_s, no, u"auto"_s,
            u"Compacting Context|Compacting Context||Trigger: auto"_s);
        row("unknown stays", u"stop"_s, no, u""_s, u"stop|stop||"_s);
    }

    void logLine()
    {
        QFETCH(ActivityEvent, entry);
        const QStringList texts{RowText::eventTitle(entry),
                                RowText::eventTypeLabel(entry.eventType),
                                RowText::logToolText(entry), RowText::logDetailsText(entry)};
        QTEST(texts.join(u'|'), "expected");
    }

    void formatting()
    {
        // Keys sorted, below the top level too; anything but an object or array comes back as is.
        QCOMPARE(RowText::formattedJSON(uR"([{"b": 0, "a": 0}])"_s),
                 u"[\n    {\n        \"a\": 0,\n        \"b\": 0\n    }\n]"_s);
        QCOMPARE(RowText::formattedJSON(u"PID 42 said hello"_s), u"PID 42 said hello"_s);
        QCOMPARE(RowText::formattedJSON(u"42"_s), u"42"_s);
        // TZ=UTC: 1700000000 is 22:13:20. Newer locale data puts U+202F before PM.
        QCOMPARE(RowText::timeOfDayText(1700000000, QLocale(u"en_US"_s)).replace(u'\u202f', u' '),
                 u"10:13:20 PM"_s);
        QCOMPARE(RowText::timeOfDayText(1700000000.9996, QLocale(u"de_DE"_s)), u"22:13:20"_s);
        // The chevron in a 10 x 20 box points down until halfway and up at 1.
        using P = QPointF;
        QCOMPARE(RowText::chevronPoints(10, 20, 0), (std::array{P(0, 5), P(5, 15), P(10, 5)}));
        QCOMPARE(RowText::chevronPoints(10, 20, 0.25), RowText::chevronPoints(10, 20, 0));
        QCOMPARE(RowText::chevronPoints(10, 20, 1), (std::array{P(0, 15), P(5, 5), P(10, 15)}));
    }

    void statusColorsReadOnLightAndDark()
    {
        // At least 3:1 against white, a light gray and two dark gray windows.
        const auto luminance = [](const QColor &c) {
            const auto lin = [](double v) {
                return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF()) +
                   0.05;
        };
        for (int status = 0; status < 4; ++status) { // gray, green, yellow, red
            const double shade = luminance(RowText::statusColor(StatusColor(status)));
            for (const char *background : {"#ffffff", "#f6f5f4", "#353535", "#1e1e1e"}) {
                const double window = luminance(QColor(background));
                QVERIFY2(std::max(shade, window) / std::min(shade, window) >= 3.0, background);
            }
        }
    }
};

QTEST_MAIN(TestRowText)
#include "tst_rowtext.moc"
