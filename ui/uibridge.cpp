#include "uibridge.h"

#include "activitylogmodel.h"
#include "hookconfiguration.h"
#include "instancelistmodel.h"
#include "instancemanager.h"
#include "notificationsettingslauncher.h"
#include "preferences.h"
#include "projectnamesmodel.h"
#include "rowtext.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QUrl>
#include <algorithm>

UiBridge::UiBridge(const Parts &parts, QObject *parent) : QObject(parent), m_parts(parts)
{
    Q_ASSERT(!s_instance);
    s_instance = this;
    connect(m_parts.manager, &InstanceManager::instanceCountChanged, this, [this] {
        Q_EMIT subtitleChanged();
        Q_EMIT contentStateChanged();
    });
    connect(m_parts.manager, &InstanceManager::hasReceivedFirstEventChanged, this,
            &UiBridge::contentStateChanged);
}

UiBridge::~UiBridge() = default;

UiBridge *UiBridge::create(QQmlEngine *, QJSEngine *)
{
    Q_ASSERT_X(s_instance, "UiBridge::create", "the bridge must exist before QML asks for it");
    QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
    return s_instance;
}

QString UiBridge::version() const
{
    return QStringLiteral(TOLVO_VERSION);
}

QString UiBridge::settingsDocumentationUrl()
{
    return QStringLiteral("https://code.claude.com/docs/en/settings");
}

QString UiBridge::contentState() const
{
    return contentState(m_parts.manager->hasReceivedFirstEvent(), m_parts.manager->instanceCount());
}

QString UiBridge::contentState(bool hasReceivedFirstEvent, int instanceCount)
{
    if (!hasReceivedFirstEvent && instanceCount == 0)
        return QStringLiteral("welcome");
    if (instanceCount == 0)
        return QStringLiteral("empty");
    return QStringLiteral("list");
}

QString UiBridge::subtitle() const
{
    return RowText::subtitle(m_parts.manager->instanceCount());
}

QString UiBridge::pinIcon(bool pinned)
{
    return pinned ? QStringLiteral("pin-fill") : QStringLiteral("pin");
}

QString UiBridge::pinToolTip(bool pinned)
{
    return pinned ? QStringLiteral("Unpin from top") : QStringLiteral("Pin to top");
}

QString UiBridge::hooksConfiguration() const
{
    return HookConfiguration::hooksConfiguration();
}

void UiBridge::copyHooksConfiguration() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(HookConfiguration::hooksConfiguration());
}

void UiBridge::openSettingsDocumentation() const
{
    openUrl(settingsDocumentationUrl());
}

void UiBridge::openUrl(const QString &address) const
{
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        QDesktopServices::openUrl(url);
}

void UiBridge::applyPinPreference() const
{
    const bool pinned = m_parts.preferences->isPinnedToTop();
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        auto *quick = qobject_cast<QQuickWindow *>(window);
        if (!quick || !quick->contentItem() || quick->contentItem()->childItems().isEmpty())
            continue;
        if (quick->flags().testFlag(Qt::WindowStaysOnTopHint) != pinned)
            quick->setFlag(Qt::WindowStaysOnTopHint, pinned);
        return;
    }
}

bool UiBridge::newWindowEnabled() const
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::none_of(windows.cbegin(), windows.cend(),
                        [](const QWindow *window) { return window->isVisible(); });
}

void UiBridge::newWindow()
{
    Q_EMIT mainWindowRequested();
}

int UiBridge::rowOf(const QString &instanceId) const
{
    const InstanceListModel *rows = m_parts.instances;
    for (int row = 0; row < rows->rowCount(); ++row)
        if (rows->data(rows->index(row), InstanceListModel::InstanceIdRole).toString() ==
            instanceId)
            return row;
    return -1;
}
