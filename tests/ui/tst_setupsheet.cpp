#include "appharness.h"
#include "hookconfiguration.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QPointer>

const QString sheetTitle = QStringLiteral("Configure Claude Code");

static QList<QWindow *> visibleSheets()
{
    QList<QWindow *> sheets;
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->title() == sheetTitle)
            sheets.append(w);
    return sheets;
}

// The application with the sheet that Ctrl+Shift+K on the main window brings up.
struct Sheet
{
    AppHarness h;
    QQuickWindow *window = nullptr;

    bool show()
    {
        if (!h.window && !h.start())
            return false;
        h.window->requestActivate();
        if (!QTest::qWaitForWindowActive(h.window))
            return false;
        QTest::keyClick(h.window, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        return QTest::qWaitFor([this] { return (window = AppHarness::windowTitled(sheetTitle)); });
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
};

class TestSetupSheet : public QObject
{
    Q_OBJECT
    QList<QUrl> opened; // what the application handed to the browser

public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }

private Q_SLOTS:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void showsTheConfigurationOnce()
    {
        Sheet s;
        QVERIFY(s.show());
        QCOMPARE(s.find(QStringLiteral("configurationText"))->property("text").toString(),
                 HookConfiguration::hooksConfiguration());
        const QPointer<QQuickWindow> first = s.window;
        QVERIFY(s.show()); // asked again while it is up
        QCoreApplication::processEvents();
        QCOMPARE(visibleSheets(), QList<QWindow *>{first.data()});

        AppHarness::click(s.find(QStringLiteral("documentationButton")));
        QCOMPARE(opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://code.claude.com/docs/en/settings"))});
    }

    void copyAlertsThenEscapeCloses()
    {
        Sheet s;
        QVERIFY(s.show());
        auto *alert = s.window->findChild<QObject *>(QStringLiteral("copiedAlert"));
        // Closed by its OK button, then by Escape, which leaves the sheet up.
        for (bool escape : {false, true}) {
            QGuiApplication::clipboard()->setText(QStringLiteral("copied before"));
            AppHarness::click(s.find(QStringLiteral("copyButton")));
            QCOMPARE(QGuiApplication::clipboard()->text(), HookConfiguration::hooksConfiguration());
            QTRY_VERIFY(alert->property("opened").toBool());
            QCOMPARE(s.find(QStringLiteral("copiedAlertMessage"))->property("text").toString(),
                     QStringLiteral("Hook configuration copied to clipboard"));
            auto *popup = qvariant_cast<QQuickItem *>(alert->property("contentItem"))->parentItem();
            QList<QQuickItem *> buttons = findItems(popup, QString());
            buttons.removeIf([](QQuickItem *i) {
                return !i->inherits("QQuickAbstractButton") || !i->isVisible();
            });
            QCOMPARE(buttons.size(), 1);
            QCOMPARE(buttons.first()->property("text").toString(), QStringLiteral("OK"));
            if (escape)
                QTest::keyClick(s.window, Qt::Key_Escape);
            else
                AppHarness::click(buttons.first());
            QTRY_VERIFY(!alert->property("visible").toBool());
            QVERIFY(s.window->isVisible());
        }
        // With the alert gone, Escape closes the sheet; the shortcut makes a new one.
        QTest::keyClick(s.window, Qt::Key_Escape);
        QTRY_VERIFY(visibleSheets().isEmpty());
        QVERIFY(s.show());
    }
};

QTEST_MAIN(TestSetupSheet)
#include "tst_setupsheet.moc"
