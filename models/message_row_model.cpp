#include "models/message_row_model.h"

namespace velmor::models {

namespace {
const QString kKind = QStringLiteral("kind");
const QString kOutgoing = QStringLiteral("outgoing");
const QString kSenderAddress = QStringLiteral("senderAddress");
const QString kTs = QStringLiteral("ts");
} // namespace

MessageRowModel::MessageRowModel(QObject *parent)
    : KeyedListModel(parent)
{
    setKeyName(QStringLiteral("id"));
}

bool MessageRowModel::sameRun(const QVariantMap &a, const QVariantMap &b)
{
    const QString system = QStringLiteral("system");
    if (a.value(kKind).toString() == system || b.value(kKind).toString() == system)
        return false;
    if (a.value(kOutgoing).toBool() != b.value(kOutgoing).toBool())
        return false;
    return a.value(kSenderAddress).toString() == b.value(kSenderAddress).toString();
}

QVariant MessageRowModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    if (index.isValid() && row >= 0 && row < count()) {
        if (role == FirstInGroupRole)
            return row == 0 || !sameRun(at(row - 1), at(row));
        if (role == LastInGroupRole)
            return row + 1 == count() || !sameRun(at(row), at(row + 1));
    }
    return KeyedListModel::data(index, role);
}

QHash<int, QByteArray> MessageRowModel::roleNames() const
{
    QHash<int, QByteArray> names = KeyedListModel::roleNames();
    names.insert(FirstInGroupRole, "firstInGroup");
    names.insert(LastInGroupRole, "lastInGroup");
    return names;
}

int MessageRowModel::placeFor(qint64 ts) const
{
    // New messages are nearly always the newest: search from the end.
    int row = count();
    while (row > 0 && at(row - 1).value(kTs).toLongLong() > ts)
        --row;
    return row;
}

void MessageRowModel::neighbourhoodChanged(int first, int last)
{
    // A row's run marks depend on the rows on either side of it.
    const int from = qMax(0, first - 1);
    const int to = qMin(count() - 1, last + 1);
    if (from > to)
        return;
    emit dataChanged(index(from), index(to), { FirstInGroupRole, LastInGroupRole });
}

} // namespace velmor::models
