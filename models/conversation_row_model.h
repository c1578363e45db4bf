// The sidebar's rows (ConversationList's maps, by "peer") with each value a
// row shows as a role of its own, typed as the row shows it: a new message
// changes a row's preview and time, and only the roles whose values changed
// are announced, so a view re-evaluates only what shows them. Read through
// the one "entry" role, every shown value was made again for each message
// (the whole map turned into a script object, and every value taken from it
// once more).
//
// Roles: "entry" and "key" (KeyedListModel), and the shown values below,
// named as in the map.
#pragma once

#include "models/keyed_list_model.h"

namespace velmor::models {

class ConversationRowModel : public KeyedListModel
{
    Q_OBJECT

public:
    explicit ConversationRowModel(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // A map's value as the row shows it: a text ("" when missing), a flag
    // (true only when it is true), a count or time (0 unless above 0), a
    // latency (-1 when missing or not a number of 0 or more), and the kind
    // of the last line ("text" when missing).
    static QVariant shown(const QVariantMap &map, int role);

protected:
    QList<int> changedRoles(const QVariantMap &before, const QVariantMap &after) const override;
};

} // namespace velmor::models
