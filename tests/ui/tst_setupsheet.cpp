#include "appharness.h"
#include "hookconfiguration.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QPointer>

namespace {

const QString sheetTitle = QStringLiteral("Configure Claude Code");

QList<QQuickWindow *> visibleSheets()
{
    QList<QQuickWindow *> sheets;
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->title() == sheetTitle)
            sheets.append(qobject_cast<QQuickWindow *>(w));
    return sheets;
}

void showConfigure(QQuickWindow *main)
{
    QTest::keyClick(main, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
}

// The buttons of a popup that the user can see.
QList<QQuickItem *> visibleButtons(QQuickItem *root)
{
    QList<QQuickItem *> buttons;
    for (QQuickItem *item : AppHarness::findAll(root, QString()))
        if (item->inherits("QQuickAbstractButton") && item->isVisible())
            buttons.append(item);
    return buttons;
}

} // namespace

// Records the addresses the application hands to the desktop.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestSetupSheet : public QObject
{
    Q_OBJECT

    struct Sheet
    {
        AppHarness h;
        QQuickWindow *window = nullptr;

        bool open()
        {
            if (!h.start())
                return false;
            h.window->requestActivate();
            if (!QTest::qWaitForWindowActive(h.window))
                return false;
            showConfigure(h.window);
            return QTest::qWaitFor(
                [this] { return (window = AppHarness::windowTitled(sheetTitle)); });
        }
        QQuickItem *find(const QString &name) { return h.find(name, window->contentItem()); }
    };

private Q_SLOTS:
    void shortcutShowsOneSheetWithTheConfiguration()
    {
        Sheet s;
        QVERIFY(s.open());
        QCOMPARE(s.window->transientParent(), s.h.window);
        QCOMPARE(s.window->modality(), Qt::WindowModal);
        QCOMPARE(s.window->size(), QSize(600, 550));
        QCOMPARE(s.find(QStringLiteral("configurationText"))->property("text").toString(),
                 HookConfiguration::hooksConfiguration());

        // Asking again while the sheet is up leaves that one sheet in place.
        const QPointer<QQuickWindow> first = s.window;
        s.h.window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(s.h.window));
        showConfigure(s.h.window);
        QCoreApplication::processEvents();
        QCOMPARE(visibleSheets(), QList<QQuickWindow *>({first.data()}));
    }

    void copyReplacesClipboardAndAlertsOnce()
    {
        Sheet s;
        QVERIFY(s.open());
        QGuiApplication::clipboard()->setText(QStringLiteral("something the user copied before"));
        auto *alert = s.window->findChild<QObject *>(QStringLiteral("copiedAlert"));
        QVERIFY(alert);
        QCOMPARE(alert->property("visible").toBool(), false);

        // Twice: once the alert is closed, copying shows it again.
        for (int round = 0; round < 2; ++round) {
            AppHarness::click(s.find(QStringLiteral("copyButton")));
            QCOMPARE(QGuiApplication::clipboard()->text(), HookConfiguration::hooksConfiguration());
            QTRY_VERIFY(alert->property("opened").toBool());
            QCOMPARE(alert->property("title").toString(), QStringLiteral("Copied!"));
            QCOMPARE(s.window->property("copiedAlertMessage").toString(),
                     QStringLiteral("Hook configuration copied to clipboard"));
            auto *message = s.find(QStringLiteral("copiedAlertMessage"));
            QVERIFY(message && message->isVisible());
            QCOMPARE(message->property("text").toString(),
                     QStringLiteral("Hook configuration copied to clipboard"));

            auto *popup = qvariant_cast<QQuickItem *>(alert->property("contentItem"))->parentItem();
            const auto buttons = visibleButtons(popup);
            QCOMPARE(buttons.size(), 1);
            QCOMPARE(buttons.first()->property("text").toString(), QStringLiteral("OK"));
            AppHarness::click(buttons.first());
            QTRY_VERIFY(!alert->property("visible").toBool());
            QCOMPARE(s.window->property("showCopiedAlert").toBool(), false);
            QVERIFY(s.window->isVisible());
        }
    }

    void dismissal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << "close button";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("window manager") << "window manager";
    }
    void dismissal()
    {
        QFETCH(QString, how);
        Sheet s;
        QVERIFY(s.open());
        AppHarness::click(s.find(QStringLiteral("copyButton")));
        auto *alert = s.window->findChild<QObject *>(QStringLiteral("copiedAlert"));
        QTRY_VERIFY(alert->property("opened").toBool());
        QTest::keyClick(s.window, Qt::Key_Escape); // closes the alert only
        QTRY_VERIFY(!alert->property("visible").toBool());
        QVERIFY(s.window->isVisible());

        const QPointer<QQuickWindow> old = s.window;
        if (how == u"close button") {
            AppHarness::click(s.find(QStringLiteral("closeButton")));
        } else if (how == u"Escape") {
            QTest::keyClick(s.window, Qt::Key_Escape);
        } else {
            s.window->close();
        }
        QTRY_VERIFY(visibleSheets().isEmpty());
        QCOMPARE(s.h.window->property("showingConfigurationWindow").toBool(), false);

        // The next presentation is a new sheet with its alert state cleared.
        QTRY_VERIFY(!old);
        s.h.window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(s.h.window));
        showConfigure(s.h.window);
        QTRY_COMPARE(visibleSheets().size(), 1);
        QCOMPARE(visibleSheets().first()->property("showCopiedAlert").toBool(), false);
        QCOMPARE(visibleSheets().first()->property("copiedAlertMessage").toString(), QString());
    }

    void documentationOpensInTheBrowser()
    {
        UrlRecorder urls;
        Sheet s;
        QVERIFY(s.open());
        AppHarness::click(s.find(QStringLiteral("documentationButton")));
        QCOMPARE(urls.opened,
                 QList<QUrl>({QUrl(QStringLiteral("https://code.claude.com/docs/en/settings"))}));
    }
};

QTEST_MAIN(TestSetupSheet)
#include "tst_setupsheet.moc"
