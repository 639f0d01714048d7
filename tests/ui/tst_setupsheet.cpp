#include "appharness.h"
#include "hookconfiguration.h"

#include <QClipboard>
#include <QSignalSpy>

const QString sheetTitle = QStringLiteral("Configure Claude Code");

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
        return QTest::qWaitFor([this] { return (window = windowTitled(sheetTitle)); });
    }
    QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
};

class TestSetupSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsTheConfigurationOnce()
    {
        Sheet s;
        QVERIFY(s.show());
        QCOMPARE(s.find(QStringLiteral("configurationText"))->property("text").toString(),
                 HookConfiguration::hooksConfiguration());
        QVERIFY(s.show()); // asked again while it is up
        QCoreApplication::processEvents();
        int sheets = 0;
        for (QWindow *w : QGuiApplication::topLevelWindows())
            sheets += w->isVisible() && w->title() == sheetTitle;
        QCOMPARE(sheets, 1);
    }

    // Copy puts the text on the clipboard and says so; the alert's one button, or Escape,
    // closes the alert and leaves the sheet up.
    void copyAlerts_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("OK") << false;
        QTest::newRow("Escape") << true;
    }
    void copyAlerts()
    {
        QFETCH(bool, escape);
        Sheet s;
        QVERIFY(s.show());
        QGuiApplication::clipboard()->setText(QStringLiteral("copied before"));
        AppHarness::click(s.find(QStringLiteral("copyButton")));
        QCOMPARE(QGuiApplication::clipboard()->text(), HookConfiguration::hooksConfiguration());
        auto *alert = s.window->findChild<QObject *>(QStringLiteral("copiedAlert"));
        QTRY_VERIFY(alert->property("opened").toBool());
        QCOMPARE(alert->property("title").toString(), QStringLiteral("Copied!"));
        auto *popup = qvariant_cast<QQuickItem *>(alert->property("contentItem"))->parentItem();
        QList<QQuickItem *> buttons = findItems(popup, QString());
        buttons.removeIf(
            [](QQuickItem *i) { return !i->inherits("QQuickAbstractButton") || !i->isVisible(); });
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons.first()->property("text").toString(), QStringLiteral("OK"));
        QSignalSpy closed(alert, SIGNAL(closed()));
        if (escape)
            QTest::keyClick(s.window, Qt::Key_Escape);
        else
            AppHarness::click(buttons.first());
        QTRY_COMPARE(closed.size(), 1);
        QVERIFY(windowTitled(sheetTitle) == s.window); // still up; s.window may dangle
    }
};

QTEST_MAIN(TestSetupSheet)
#include "tst_setupsheet.moc"
