#pragma once

#include "application.h"
#include "quickitems.h"
#include "sessionlistmodel.h"
#include "settingstable.h"
#include "defaultsstore.h"
#include "testsupport.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

// The real application in a throwaway home, its main window on screen. Any
// warning fails the test (notifications, with no server, fail unheard).
struct AppHarness
{
    TestHome home;
    std::unique_ptr<Application> app;
    QQuickWindow *window = nullptr;

    bool start()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        // Without a server notifications fail; a listener's trouble shows in the window.
        QLoggingCategory::setFilterRules(
            QStringLiteral("tolvo.notify.warning=false\ntolvo.intake.warning=false"));
        app = std::make_unique<Application>();
        if (!app->start())
            return false;
        // Turns here take milliseconds: each is worth telling.
        app->defaults().setText(Settings::completedAfterSeconds, QStringLiteral("0"));
        window = app->mainWindow();
        window->show();
        return QTest::qWaitForWindowExposed(window);
    }
    bool restart() // the user quits Tolvo and starts it again
    {
        app.reset();
        return start();
    }

    SessionListModel &sessions() { return app->sessions(); }

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

    // Waits for the window with this title to take the keys and draw.
    static QQuickWindow *shownWindow(const QString &title)
    {
        QQuickWindow *w = nullptr;
        const bool shown = QTest::qWaitFor([&] { return (w = windowTitled(title)); });
        if (shown)
            w->requestActivate();
        return shown && QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == w; }) &&
                       settle(w)
                   ? w
                   : nullptr;
    }
    // Lets the layouts settle, so that clicks land where the user sees things.
    static bool settle(QQuickWindow *w)
    {
        QSignalSpy frames(w, &QQuickWindow::frameSwapped);
        w->update();
        return frames.wait();
    }

    // Clicks an item (its middle by default) as a user would: the nearest view that
    // holds it scrolls until it shows whole, no further than the view can scroll, and
    // it must lie whole in its window.
    static void click(QQuickItem *item, QPointF at = QPointF(-1, -1))
    {
        QVERIFY(item);
        QQuickItem *view = item->parentItem();
        while (view && !view->inherits("QQuickFlickable"))
            view = view->parentItem();
        const QRectF in = view ? item->mapRectToItem(view, item->boundingRect()) : QRectF();
        const qreal by = !view                          ? 0
                         : in.bottom() > view->height() ? in.bottom() - view->height()
                         : in.top() < 0                 ? in.top()
                                                        : 0;
        if (by != 0) {
            const auto number = [view](const char *name) { return view->property(name).toReal(); };
            view->setProperty("contentY", number("contentY") + by);
            QCOMPARE_LE(number("contentY"), number("originY") + number("contentHeight") +
                                                number("bottomMargin") - view->height());
        }
        QVERIFY(QRectF(QPointF(), item->window()->size())
                    .contains(item->mapRectToScene(item->boundingRect())));
        if (at.x() < 0)
            at = QPointF(item->width() / 2, item->height() / 2);
        QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier,
                          item->mapToScene(at).toPoint());
    }
};
