// A list of rows for a view, each row a map known by one of its values
// (keyName: "id", "peer", "stableId" ...). Every change names the rows it
// touches, so a view keeps the delegates, the scroll position and the focus
// of every other row, and the cost of a change does not grow with the list.
//
// A view's delegate reads the whole map through the role "entry" and its
// key through "key".
#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::models {

class KeyedListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString keyName READ keyName WRITE setKeyName NOTIFY keyNameChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { EntryRole = Qt::UserRole + 1, KeyRole, FirstExtraRole };

    explicit KeyedListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString keyName() const { return m_keyName; }
    void setKeyName(const QString &name);
    int count() const { return int(m_rows.size()); }

    // The row's map (empty out of range), and the row of a key (-1 when
    // the model has none).
    Q_INVOKABLE QVariantMap get(int row) const;
    Q_INVOKABLE int indexOf(const QString &key) const;
    const QVariantMap &at(int row) const { return m_rows.at(row); }
    QString keyAt(int row) const { return m_keys.at(row); }

    // Makes the model hold `rows` in their order with as few changes as
    // possible: kept keys keep their rows (moved when their place changed,
    // redrawn only when their map changed), new keys are inserted, missing
    // ones removed. Rows without a key, or repeating one, are left out.
    Q_INVOKABLE void sync(const QVariantList &rows);
    void sync(const QList<QVariantMap> &rows);

    // Single changes, for callers that know what changed.
    void insert(int row, const QVariantMap &map);
    void insert(int row, const QList<QVariantMap> &maps);
    // Redraws the row only when the map differs.
    void replace(int row, const QVariantMap &map);
    void remove(int row, int count = 1);
    // Moves one row to `to` (its index once moved).
    void move(int from, int to);
    // Replaces everything at once (one reset, no per-row signals).
    void reset(const QList<QVariantMap> &rows);
    Q_INVOKABLE void clear();

signals:
    void keyNameChanged();
    void countChanged();

protected:
    // Rows [first, last] were inserted, changed or are the neighbours of a
    // removal or move: a model whose rows depend on their neighbours
    // (message grouping) redraws what else that changes.
    virtual void neighbourhoodChanged(int first, int last);
    // The roles a row's new map changes, announced by replace(): "entry"
    // and "key"; a model with roles of its own adds those whose values differ.
    virtual QList<int> changedRoles(const QVariantMap &before, const QVariantMap &after) const;
    QString keyOf(const QVariantMap &map) const;

private:
    // The rows that have a key, the first of each key only, with their keys.
    struct Keyed {
        QList<QVariantMap> rows;
        QList<QString> keys;
        QSet<QString> keySet;
    };
    Keyed keyed(const QList<QVariantMap> &input) const;
    // reset() of rows already keyed.
    void resetKeyed(Keyed kept);
    void forgetIndex() { m_indexValid = false; }

    QString m_keyName = QStringLiteral("id");
    QList<QVariantMap> m_rows;
    QList<QString> m_keys;
    // Key to row, rebuilt on the first look-up after a change that shifted
    // rows; appending keeps it.
    mutable QHash<QString, int> m_index;
    mutable bool m_indexValid = true;
};

} // namespace velmor::models
