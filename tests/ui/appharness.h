#pragma once

#include "application.h"
#include "instancemanager.h"
#include "quickitems.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>
#include <memory>

// The real application in a throwaway home with its main window on screen.
// Any warning (a QML binding error, a missing symbol) fails the test; there
// is no notification server, so notifications only fail, unheard.
// restart() is the user quitting Tolvo and starting it again.
struct AppHarness
{
    TestHome home;
    std::unique_ptr<Application> app;
    QQuickWindow *window = nullptr;

    bool start()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        QLoggingCategory::setFilterRules(QStringLiteral("tolvo.notify.warning=false"));
        app = std::make_unique<Application>();
        if (!app->start())
            return false;
        window = app->mainWindow();
        window->show();
        return QTest::qWaitForWindowExposed(window);
    }
    bool restart()
    {
        window = nullptr;
        app.reset();
        return start();
    }

    InstanceManager &sessions() { return app->sessions(); }

    // Hands one record to the session list as the event pipe does.
    void send(qint64 pid, const QString &event, const QString &directory,
              const Records::Text &tool = {}, const Records::Text &details = {})
    {
        sessions().handle(Records::event(pid, event, directory, tool, details));
        QCoreApplication::processEvents();
    }

    QQuickItem *find(const QString &name, QQuickItem *root = nullptr)
    {
        return findItem(root ? root : window->contentItem(), name);
    }

    // Clicks an item (its middle by default), as a user would.
    static void click(QQuickItem *item, QPointF at = QPointF(-1, -1))
    {
        QVERIFY(item);
        if (at.x() < 0)
            at = QPointF(item->width() / 2, item->height() / 2);
        QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier,
                          item->mapToScene(at).toPoint());
    }
};
