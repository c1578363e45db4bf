#include "models/keyed_list_model.h"

#include <QSet>

namespace velmor::models {

KeyedListModel::KeyedListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int KeyedListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant KeyedListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= count())
        return QVariant();
    if (role == EntryRole)
        return m_rows.at(index.row());
    if (role == KeyRole)
        return m_keys.at(index.row());
    return QVariant();
}

QHash<int, QByteArray> KeyedListModel::roleNames() const
{
    return { { EntryRole, "entry" }, { KeyRole, "key" } };
}

void KeyedListModel::setKeyName(const QString &name)
{
    if (name == m_keyName)
        return;
    m_keyName = name;
    emit keyNameChanged();
    // The rows held are known by the old key: start again.
    if (!m_rows.isEmpty())
        reset({});
}

QString KeyedListModel::keyOf(const QVariantMap &map) const
{
    return map.value(m_keyName).toString();
}

QVariantMap KeyedListModel::get(int row) const
{
    return row >= 0 && row < count() ? m_rows.at(row) : QVariantMap();
}

int KeyedListModel::indexOf(const QString &key) const
{
    if (!m_indexValid) {
        m_index.clear();
        m_index.reserve(m_keys.size());
        for (int i = 0; i < m_keys.size(); ++i)
            m_index.insert(m_keys.at(i), i);
        m_indexValid = true;
    }
    return m_index.value(key, -1);
}

void KeyedListModel::sync(const QVariantList &rows)
{
    QList<QVariantMap> maps;
    maps.reserve(rows.size());
    for (const QVariant &row : rows)
        maps.append(row.toMap());
    sync(maps);
}

void KeyedListModel::sync(const QList<QVariantMap> &input)
{
    Keyed wantedRows = keyed(input);
    const QList<QVariantMap> &rows = wantedRows.rows;
    const QList<QString> &keys = wantedRows.keys;
    const QSet<QString> &wanted = wantedRows.keySet;
    if (m_rows.isEmpty() || rows.isEmpty()) {
        // The rows are keyed already (a long list's first fill is the
        // sign-in's wait).
        if (!(m_rows.isEmpty() && rows.isEmpty()))
            resetKeyed(std::move(wantedRows));
        return;
    }
    // Rows whose key went, from the end so the rows before keep their place;
    // each run of neighbours in one removal.
    for (int i = count() - 1; i >= 0;) {
        if (wanted.contains(m_keys.at(i))) {
            --i;
            continue;
        }
        int first = i;
        while (first > 0 && !wanted.contains(m_keys.at(first - 1)))
            --first;
        remove(first, i - first + 1);
        i = first - 1;
    }
    // Every row still held is wanted: walk the wanted order, moving a held
    // row up to its place or inserting a new one there.
    QSet<QString> held(m_keys.cbegin(), m_keys.cend());
    for (int i = 0; i < rows.size(); ++i) {
        const QString &key = keys.at(i);
        if (i < count() && m_keys.at(i) == key) {
            replace(i, rows.at(i));
            continue;
        }
        if (!held.contains(key)) {
            // A run of new keys goes in with one insertion.
            int end = i + 1;
            while (end < rows.size() && !held.contains(keys.at(end)))
                ++end;
            insert(i, rows.mid(i, end - i));
            i = end - 1;
            continue;
        }
        int from = i + 1;
        while (m_keys.at(from) != key)
            ++from;
        move(from, i);
        replace(i, rows.at(i));
    }
}

void KeyedListModel::insert(int row, const QVariantMap &map)
{
    insert(row, QList<QVariantMap>{ map });
}

void KeyedListModel::insert(int row, const QList<QVariantMap> &maps)
{
    if (maps.isEmpty())
        return;
    row = qBound(0, row, count());
    const bool append = row == count();
    beginInsertRows(QModelIndex(), row, row + int(maps.size()) - 1);
    m_rows.insert(row, maps.size(), QVariantMap());
    m_keys.insert(row, maps.size(), QString());
    for (int i = 0; i < maps.size(); ++i) {
        m_rows[row + i] = maps.at(i);
        m_keys[row + i] = keyOf(maps.at(i));
        if (append && m_indexValid)
            m_index.insert(m_keys.at(row + i), row + i);
    }
    if (!append)
        forgetIndex();
    endInsertRows();
    emit countChanged();
    neighbourhoodChanged(row, row + int(maps.size()) - 1);
}

void KeyedListModel::replace(int row, const QVariantMap &map)
{
    if (row < 0 || row >= count() || m_rows.at(row) == map)
        return;
    const QString key = keyOf(map);
    if (key != m_keys.at(row)) {
        m_keys[row] = key;
        forgetIndex();
    }
    const QList<int> roles = changedRoles(m_rows.at(row), map);
    m_rows[row] = map;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, roles);
    neighbourhoodChanged(row, row);
}

QList<int> KeyedListModel::changedRoles(const QVariantMap &, const QVariantMap &) const
{
    return { EntryRole, KeyRole };
}

void KeyedListModel::remove(int row, int n)
{
    if (row < 0 || n <= 0 || row + n > count())
        return;
    beginRemoveRows(QModelIndex(), row, row + n - 1);
    m_rows.remove(row, n);
    m_keys.remove(row, n);
    forgetIndex();
    endRemoveRows();
    emit countChanged();
    // The rows that now meet at the gap.
    if (count() > 0)
        neighbourhoodChanged(qMin(row, count() - 1), qMin(row, count() - 1));
}

void KeyedListModel::move(int from, int to)
{
    if (from == to || from < 0 || to < 0 || from >= count() || to >= count())
        return;
    // Qt's destination is the row before which the moved row lands, counted
    // before the move.
    beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
    m_rows.move(from, to);
    m_keys.move(from, to);
    // Only the rows between the two places changed index.
    if (m_indexValid) {
        for (int i = qMin(from, to); i <= qMax(from, to); ++i)
            m_index.insert(m_keys.at(i), i);
    }
    endMoveRows();
    // Around the old place and the new one.
    neighbourhoodChanged(qMin(from, count() - 1), qMin(from, count() - 1));
    neighbourhoodChanged(to, to);
}

void KeyedListModel::reset(const QList<QVariantMap> &rows)
{
    resetKeyed(keyed(rows));
}

void KeyedListModel::resetKeyed(Keyed kept)
{
    const int before = count();
    beginResetModel();
    m_rows = std::move(kept.rows);
    m_keys = std::move(kept.keys);
    forgetIndex();
    endResetModel();
    if (count() != before)
        emit countChanged();
}

KeyedListModel::Keyed KeyedListModel::keyed(const QList<QVariantMap> &input) const
{
    Keyed out;
    out.rows.reserve(input.size());
    out.keys.reserve(input.size());
    for (const QVariantMap &map : input) {
        const QString key = keyOf(map);
        if (key.isEmpty() || out.keySet.contains(key))
            continue;
        out.keySet.insert(key);
        out.rows.append(map);
        out.keys.append(key);
    }
    return out;
}

void KeyedListModel::clear()
{
    if (!m_rows.isEmpty())
        reset({});
}

void KeyedListModel::neighbourhoodChanged(int, int)
{
}

} // namespace velmor::models
