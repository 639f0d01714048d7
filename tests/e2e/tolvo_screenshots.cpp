// Drives the real application through its states with the real hook pipeline
// and writes a PNG of each: `make screenshots` (Xvfb) writes build/screenshots/.

#include "activitylogmodel.h"
#include "application.h"
#include "hooksession.h"
#include "sessionlistmodel.h"
#include "quickitems.h"
#include "testsupport.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>
#include <QTest>

Q_IMPORT_QML_PLUGIN(TolvoPlugin)
using namespace Qt::StringLiterals;

static QString outputDir;

// The window with this title, once the rows (never moved here, so in list
// order) have made room for an open one.
static void shoot(const char *title, const char *name)
{
    QQuickWindow *window = nullptr;
    (void)QTest::qWaitFor([&] {
        if (!(window = windowTitled(QString::fromUtf8(title))))
            return false;
        const QList<QQuickItem *> rows = findItems(window->contentItem(), u"sessionRow"_s);
        for (qsizetype i = 1; i < rows.size(); ++i)
            if (rows[i - 1]->mapToScene({0, rows[i - 1]->height()}).y() >
                rows[i]->mapToScene({}).y())
                return false;
        return true;
    });
    QTest::qWait(400); // animations end
    const QString path = outputDir + u'/' + QLatin1String(name) + u".png"_s;
    if (!window || !window->grabWindow().save(path))
        qFatal("could not write %s", qPrintable(path));
    std::printf("wrote %s\n", qPrintable(path));
}

int main(int argc, char *argv[])
{
    TestHome home;
    QApplication app(argc, argv);
    QQuickStyle::setStyle(u"Fusion"_s);
    outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"screenshots"_s;
    QDir().mkpath(outputDir);
    Application tolvo;
    if (!tolvo.start())
        return 1;
    QQuickWindow *main = tolvo.mainWindow();
    main->resize(550, 860); // room for four rows, one of them open
    main->show();
    QCursor::setPos(main->screen(), {0, 0}); // hovering shows more
    shoot("Tolvo", "welcome");
    main->setProperty("showingConfigurationWindow", true);
    shoot("Configure Claude Code", "setup-sheet");
    main->setProperty("showingConfigurationWindow", false);

    // Four sessions: working, asking for permission, failed, done.
    const char *sessions[] = {
        "webshop UserPromptSubmit PreToolUse-Write PostToolUse-Write PreToolUse-Bash",
        "payments-api SessionStart-startup UserPromptSubmit PermissionRequest-Bash",
        "docs-site UserPromptSubmit StopFailure", "blog UserPromptSubmit PreToolUse-Bash Stop"};
    (void)QTest::qWaitFor([&] { return QFile::exists(home.tolvoPath() + u"/tolvo.pid"_s); });
    std::list<HookSession> claudes;
    for (const char *line : sessions) {
        const QStringList session = QString::fromLatin1(line).split(u' ');
        claudes.emplace_back(TestPaths::buildPrefix());
        for (const QString &input : session.mid(1))
            claudes.back().send(
                HookSession::fixture(input + u".json"_s, u"/home/user/code/"_s + session[0]));
    }
    SessionListModel &list = tolvo.sessions();
    if (!QTest::qWaitFor(
            [&] { return list.count() == 4 && list.session(3).activityLog.size() == 3; }))
        qFatal("the sessions did not arrive");

    // The working session's row open, with the raw record of its newest entry.
    list.setData(list.index(0), true, SessionListModel::ExpandedRole);
    auto *log = qobject_cast<ActivityLogModel *>(list.activityLog(0));
    log->setData(log->index(log->count() - 1), true, ActivityLogModel::JsonShownRole);
    shoot("Tolvo", "list");

    while (list.count() > 0)
        list.remove(0);
    shoot("Tolvo", "empty");
    return 0;
}
