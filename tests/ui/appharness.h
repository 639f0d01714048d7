#pragma once

#include "instancemanager.h"
#include "quickitems.h"
#include "testsupport.h"
#include "zizovezovodavudovapp.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>

// The real application in a throwaway home with its main window on screen.
// Any warning (a QML binding error, a missing symbol) fails the test.
struct AppHarness
{
    TestHome home;
    ConsoleCapture console;
    ZizoveZovoDavudovApp app;
    QQuickWindow *window = nullptr;

    bool start()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        if (!app.start())
            return false;
        window = app.mainWindow();
        window->show();
        return QTest::qWaitForWindowExposed(window);
    }

    InstanceManager &manager() { return app.instanceManager(); }

    // Delivers one record the way the event pipe does and lets it apply.
    void send(qint64 pid, const QString &event, const QString &directory,
              const QString &tool = {}, const QString &details = {})
    {
        QJsonObject record{{"event", event}, {"instance", QString::number(pid)},
                           {"working_directory", directory}};
        if (!tool.isNull())
            record.insert(QStringLiteral("tool"), tool);
        if (!details.isNull())
            record.insert(QStringLiteral("details"), details);
        manager().didReceiveEvent(record);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    QString idOf(qint64 pid)
    {
        for (const ClaudeCodeInstance &i : manager().instances())
            if (i.pid == pid)
                return i.id;
        return {};
    }

    QQuickItem *find(const QString &name, QQuickItem *root = nullptr)
    {
        return findItem(root ? root : window->contentItem(), name);
    }

    // Clicks the middle of an item, as a user would.
    static void click(QQuickItem *item, QPointF at = QPointF(-1, -1))
    {
        QVERIFY(item);
        if (at.x() < 0)
            at = QPointF(item->width() / 2, item->height() / 2);
        QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier,
                          item->mapToScene(at).toPoint());
    }
};
