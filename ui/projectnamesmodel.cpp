#include "projectnamesmodel.h"

#include "sessionlistmodel.h"

#include <algorithm>

namespace {

// UTF-16 units rearranged so that they compare like code points: surrogates
// (which encode code points above U+FFFF) move above U+E000..U+FFFF.
char32_t codePointOrderKey(char16_t unit)
{
    if (unit < 0xD800)
        return unit;
    return unit < 0xE000 ? unit + 0x2000 : unit - 0x800;
}

QStringList sortedPaths(const CustomNames &names)
{
    QStringList paths = names.keys();
    std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        return ProjectNamesModel::pathLessThan(a, b);
    });
    return paths;
}

} // namespace

ProjectNamesModel::ProjectNamesModel(SessionStore *store, SessionListModel *sessions,
                                     QObject *parent)
    : QAbstractListModel(parent), m_store(store), m_sessions(sessions)
{
    m_shown = stored();
    m_paths = sortedPaths(m_shown);
    m_edited = m_shown;
    m_isEmpty = m_shown.isEmpty();
    if (m_store)
        connect(m_store, &SessionStore::customNamesChanged, this,
                &ProjectNamesModel::storedNamesChanged);
}

bool ProjectNamesModel::pathLessThan(QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x != y)
            return codePointOrderKey(x) < codePointOrderKey(y);
    }
    return a.size() < b.size();
}

const CustomNames &ProjectNamesModel::stored() const
{
    static const CustomNames none;
    return m_store ? m_store->customNames() : none;
}

int ProjectNamesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant ProjectNamesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_paths.size())
        return {};
    const QString &path = m_paths.at(index.row());
    switch (role) {
    case PathRole:
        return path;
    case Qt::DisplayRole:
    case NameRole: {
        const auto edited = m_edited.constFind(path);
        return edited != m_edited.constEnd() ? *edited : stored().value(path);
    }
    }
    return {};
}

QHash<int, QByteArray> ProjectNamesModel::roleNames() const
{
    return {{PathRole, "path"}, {NameRole, "name"}};
}

void ProjectNamesModel::setName(int row, const QString &name)
{
    if (row < 0 || row >= m_paths.size())
        return;
    const QString &path = m_paths.at(row);
    const auto edited = m_edited.constFind(path);
    if (edited != m_edited.constEnd() && *edited == name)
        return;
    m_edited.insert(path, name);
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, {NameRole});
    updateFlags();
}

void ProjectNamesModel::clearName(int row)
{
    setName(row, QString());
}

void ProjectNamesModel::clearAll()
{
    CustomNames cleared;
    for (const QString &path : stored().keys())
        cleared.insert(path, QString());
    m_edited = cleared;
    allNamesChanged();
    updateFlags();
}

void ProjectNamesModel::apply()
{
    if (m_sessions)
        m_sessions->updateCustomNames(m_edited);
}

void ProjectNamesModel::reset()
{
    m_edited = stored();
    allNamesChanged();
    updateFlags();
}

void ProjectNamesModel::storedNamesChanged()
{
    // Rows come and go one by one, so the text field being typed in keeps
    // its place and its focus.
    const CustomNames &names = stored();
    const int before = count();
    for (int row = count() - 1; row >= 0; --row) {
        if (names.contains(m_paths.at(row)))
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_paths.removeAt(row);
        endRemoveRows();
    }
    for (auto it = names.begin(); it != names.end(); ++it) {
        const QString &path = it.key();
        const auto at =
            std::lower_bound(m_paths.begin(), m_paths.end(), path,
                             [](const QString &a, const QString &b) { return pathLessThan(a, b); });
        if (at != m_paths.end() && *at == path) {
            // A row that shows the stored name follows it.
            const int row = int(at - m_paths.begin());
            if (!m_edited.contains(path) && m_shown.value(path) != it.value())
                Q_EMIT dataChanged(index(row), index(row), {NameRole});
            continue;
        }
        const int row = int(at - m_paths.begin());
        beginInsertRows(QModelIndex(), row, row);
        m_paths.insert(row, path);
        endInsertRows();
    }
    m_shown = names;
    if (count() != before)
        Q_EMIT countChanged();
    updateFlags();
}

void ProjectNamesModel::allNamesChanged()
{
    if (!m_paths.isEmpty())
        Q_EMIT dataChanged(index(0), index(count() - 1), {NameRole});
}

void ProjectNamesModel::updateFlags()
{
    const bool canApply = m_edited != stored();
    const bool isEmpty = stored().isEmpty();
    if (canApply != m_canApply) {
        m_canApply = canApply;
        Q_EMIT canApplyChanged();
    }
    if (isEmpty != m_isEmpty) {
        m_isEmpty = isEmpty;
        Q_EMIT isEmptyChanged();
    }
}
