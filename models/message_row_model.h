// The rows of a message list: message maps by "id", oldest first, each
// also saying whether it opens and whether it closes a run of messages from
// one sender (the bubbles of a run share tight inner corners, the name
// shows on the first and the avatar on the last).
//
// Roles: "entry" (the map), "key", "firstInGroup", "lastInGroup".
#pragma once

#include "models/keyed_list_model.h"

namespace velmor::models {

class MessageRowModel : public KeyedListModel
{
    Q_OBJECT

public:
    enum MessageRole { FirstInGroupRole = FirstExtraRole, LastInGroupRole };

    explicit MessageRowModel(QObject *parent = nullptr);

    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Two neighbouring messages are of one run when neither is a system
    // line and both go the same way from the same address.
    static bool sameRun(const QVariantMap &a, const QVariantMap &b);

    // The row at which a message of time `ts` goes: after every row of the
    // same time or earlier (rows are in time order, later arrivals after).
    int placeFor(qint64 ts) const;

protected:
    void neighbourhoodChanged(int first, int last) override;
};

} // namespace velmor::models
