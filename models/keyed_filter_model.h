// The rows of a KeyedListModel whose fields contain a query, in the source's
// order (the sidebar's search). Changes of the source reach the view row by
// row; only a new query filters the whole list again.
#pragma once

#include <QSortFilterProxyModel>
#include <QStringList>
#include <QVariantMap>

namespace velmor::models {

class KeyedFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    // The source (a KeyedListModel or a model with its "entry" role).
    Q_PROPERTY(QAbstractItemModel *source READ sourceModel WRITE setSource NOTIFY sourceChanged)
    // Shown are the rows whose `fields`, joined by spaces, contain the
    // query (trimmed, without regard to case); a blank query shows every row.
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QStringList fields READ fields WRITE setFields NOTIFY fieldsChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    explicit KeyedFilterModel(QObject *parent = nullptr);

    void setSource(QAbstractItemModel *source);
    QString query() const { return m_query; }
    void setQuery(const QString &query);
    QStringList fields() const { return m_fields; }
    void setFields(const QStringList &fields);
    int count() const { return rowCount(); }

    Q_INVOKABLE QVariantMap get(int row) const;

signals:
    void sourceChanged();
    void queryChanged();
    void fieldsChanged();
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_query;
    QString m_needle; // trimmed, folded
    QStringList m_fields;
};

} // namespace velmor::models
