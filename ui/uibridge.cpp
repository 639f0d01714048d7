#include "uibridge.h"

#include "permissionanswers.h"
#include "preferences.h"
#include "sessionlistmodel.h"
#include "settingstable.h"

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
    connect(m_parts.sessions, &SessionListModel::countChanged, this,
            &UiBridge::contentStateChanged);
    connect(m_parts.sessions, &SessionListModel::hasReceivedFirstEventChanged, this,
            &UiBridge::contentStateChanged);
}

UiBridge::~UiBridge() = default;

UiBridge *UiBridge::create(QQmlEngine *, QJSEngine *)
{
    Q_ASSERT_X(s_instance, "UiBridge::create", "the bridge must exist before QML asks for it");
    QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
    return s_instance;
}

QAbstractItemModel *UiBridge::sessions() const
{
    return m_parts.sessions;
}

QString UiBridge::version() const
{
    return QStringLiteral(TOLVO_VERSION);
}

QString UiBridge::contentState() const
{
    return contentState(m_parts.sessions->hasReceivedFirstEvent(), m_parts.sessions->count());
}

QString UiBridge::contentState(bool hasReceivedFirstEvent, int sessionCount)
{
    if (!hasReceivedFirstEvent && sessionCount == 0)
        return QStringLiteral("welcome");
    if (sessionCount == 0)
        return QStringLiteral("empty");
    return QStringLiteral("list");
}

QColor UiBridge::statusColor(int color)
{
    // Each shade keeps at least 3:1 contrast against white, a light gray
    // window and a dark gray window, so one set serves both themes.
    switch (StatusColor(color)) {
    case StatusColor::green:
        return QColor(0x2B, 0x9C, 0x4A);
    case StatusColor::yellow:
        return QColor(0xB9, 0x83, 0x00);
    case StatusColor::red:
        return QColor(0xE5, 0x48, 0x3C);
    case StatusColor::purple:
        return QColor(0x9B, 0x59, 0xD0);
    case StatusColor::gray:
        break;
    }
    return QColor(0x8A, 0x8A, 0x8F);
}

QString UiBridge::pinIcon(bool pinned)
{
    return pinned ? QStringLiteral("pin-fill") : QStringLiteral("pin");
}

QString UiBridge::pinToolTip(bool pinned)
{
    return pinned ? QStringLiteral("Unpin from top") : QStringLiteral("Pin to top");
}

QStringList UiBridge::rowDensities()
{
    return Settings::find(Settings::rowDensity)->choices;
}

QString UiBridge::rowDensityLabel(const QString &density)
{
    if (density == u"comfortable")
        return QStringLiteral("Comfortable");
    if (density == u"compact")
        return QStringLiteral("Compact");
    return QStringLiteral("Automatic");
}

bool UiBridge::compactRows(const QString &density, int count, qreal availableHeight,
                           qreal comfortableRowHeight)
{
    if (density == u"comfortable" || density == u"compact")
        return density == u"compact";
    return availableHeight > 0 && count * comfortableRowHeight > availableHeight;
}

void UiBridge::openUrl(const QString &address) const
{
    const QUrl url(address, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty())
        QDesktopServices::openUrl(url);
}

void UiBridge::applyPinPreference() const
{
    const bool pinned = m_parts.preferences->value(Settings::isPinnedToTop).toBool();
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

void UiBridge::answer(const QString &requestId, const QString &answer, const QString &reason)
{
    Q_EMIT answerRequested(requestId, answer, reason);
}

QString UiBridge::defaultDenyReason()
{
    return PermissionAnswers::defaultDenyReason;
}

void UiBridge::goToTerminal(int row)
{
    if (row >= 0 && row < m_parts.sessions->count())
        Q_EMIT goToTerminalRequested(m_parts.sessions->session(row).id);
}

QString UiBridge::banner() const
{
    return m_receivingProblem.isEmpty()
               ? QString()
               : QStringLiteral("Not receiving events: ") + m_receivingProblem;
}

void UiBridge::setReceivingProblem(const QString &problem)
{
    if (problem == m_receivingProblem)
        return;
    m_receivingProblem = problem;
    Q_EMIT bannerChanged();
}

void UiBridge::reveal(const QString &sessionId)
{
    SessionListModel *sessions = m_parts.sessions;
    const int row = sessions->rowOfId(sessionId);
    if (row < 0)
        return;
    sessions->setData(sessions->index(row), true, SessionListModel::ExpandedRole);
    Q_EMIT revealRow(row);
}
