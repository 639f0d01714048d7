#pragma once

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>

// Items by object name (every item for a null name), through the visual tree:
// view delegates are not QObject children of their view, so findChild misses them.
inline QList<QQuickItem *> findItems(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    const auto children = root->childItems();
    for (QQuickItem *child : children) {
        if (name.isNull() || child->objectName() == name)
            found.append(child);
        found.append(findItems(child, name));
    }
    return found;
}

inline QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    const auto found = findItems(root, name);
    return found.isEmpty() ? nullptr : found.first();
}

// The visible top-level window with this title, if any.
inline QQuickWindow *windowTitled(const QString &title)
{
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->title() == title)
            return qobject_cast<QQuickWindow *>(w);
    return nullptr;
}
