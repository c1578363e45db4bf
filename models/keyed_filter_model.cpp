#include "models/keyed_filter_model.h"

#include "models/keyed_list_model.h"

namespace velmor::models {

KeyedFilterModel::KeyedFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    // Rows come and go with the source; the proxy keeps the source's order.
    setDynamicSortFilter(true);
    connect(this, &QAbstractItemModel::rowsInserted, this, &KeyedFilterModel::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &KeyedFilterModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &KeyedFilterModel::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &KeyedFilterModel::countChanged);
}

void KeyedFilterModel::setSource(QAbstractItemModel *source)
{
    if (source == sourceModel())
        return;
    setSourceModel(source);
    emit sourceChanged();
    emit countChanged();
}

void KeyedFilterModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    const QString needle = query.trimmed().toCaseFolded();
    emit queryChanged();
    if (needle == m_needle)
        return;
    m_needle = needle;
    invalidateFilter();
    emit countChanged();
}

void KeyedFilterModel::setFields(const QStringList &fields)
{
    if (fields == m_fields)
        return;
    m_fields = fields;
    emit fieldsChanged();
    invalidateFilter();
    emit countChanged();
}

QVariantMap KeyedFilterModel::get(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return data(index(row, 0), KeyedListModel::EntryRole).toMap();
}

bool KeyedFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_needle.isEmpty())
        return true;
    const QVariantMap map = sourceModel()->data(sourceModel()->index(sourceRow, 0, sourceParent),
                                                KeyedListModel::EntryRole).toMap();
    // The fields joined by spaces, so a query may run from one into the
    // next ("friends 0xfe": a name, then the start of an address).
    QStringList values;
    values.reserve(m_fields.size());
    for (const QString &field : m_fields)
        values.append(map.value(field).toString());
    return values.join(QLatin1Char(' ')).toCaseFolded().contains(m_needle);
}

} // namespace velmor::models
