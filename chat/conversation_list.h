// The conversation list of the sidebar: one map per stored one-to-one chat
// and normal group (not hidden) and one per super-group entry, unblocked
// first, then newest first. Rows with the same blocked flag and time keep
// the order of their sources (stored conversations as the store lists
// them, then the super-group entries), so they never swap between rebuilds.
//
// A part that changed what the list shows asks for
// ChatHost::reloadConversations(); the realtime state of a super group is
// patched in place with updateConnectionState(), and a conversation that a
// new message changed is read alone on a worker (readChanged) and put in its
// place with apply(): one row and at most one move, whatever the length.
#pragma once

#include "store/records.h"

class ChatStore;

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace velmor::chat {

class SuperGroupDirectory;

class ConversationList
{
public:
    // The map of each stored conversation as last built, with the values it
    // was built from: a rebuild reuses the map of a row that did not change
    // (the list is rebuilt after every message; most rows stay the same).
    struct Built
    {
        ConversationRecord record;
        std::optional<ContactRecord> contact;
        QVariantMap map;
        bool blocked = false;
        quint64 pass = 0; // the last rebuild that listed the row
    };
    // A list read from the store with the maps it was built from.
    struct Reading
    {
        QVariantList rows;
        QHash<QString, Built> built; // by peer key
        quint64 pass = 0;
    };

    const QVariantList &rows() const { return m_rows; }
    void clear()
    {
        m_rows.clear();
        m_built.clear();
        m_rowOfValid = false;
    }

    // Reads contacts, visible conversations and super groups from the store.
    void rebuild(const SuperGroupDirectory &superGroups) { adopt(read(superGroups)); }
    // The same in two steps, so that the reading can run on a worker thread
    // (on copies of this list and of the super groups) and the list take
    // the result on its own thread.
    Reading read(const SuperGroupDirectory &superGroups) const;
    void adopt(Reading reading);

    // The stored conversation of `peer` was opened, which set its unread
    // count to 0 in the store: its row shows that in place (the order is
    // kept). The row's index when it changed; -1 when it showed no unread
    // messages already; nullopt when the list does not hold the peer as
    // stored (it must be read again).
    std::optional<int> markRead(const QString &peer);

    // One stored conversation as it is now, read on a worker after messages
    // were stored in it, with its row's map made there too.
    struct Changed
    {
        QString peer;
        std::optional<ConversationRecord> record; // nullopt: not stored
        std::optional<ContactRecord> contact;
        QVariantMap map;
    };
    static Changed readChanged(ChatStore &store, const QString &peer);
    // Where apply() put a row: its index before and after (equal when it
    // kept its place); -1 and -1 when the row showed the same already.
    struct Placed
    {
        int from = -1;
        int to = -1;
    };
    // Gives the conversation's row its new map and its place in the order.
    // nullopt when the list cannot do that in place (it does not hold the
    // peer, or the conversation is no longer listed): it must be read again.
    std::optional<Placed> apply(const Changed &changed);

    // Sets "connectionState" and "latencyMs" of the super group's row in
    // place (the order is kept). False when the list has no such row.
    bool updateConnectionState(const QString &serverUrl, const QString &state, int latencyMs);

    // The map of one stored conversation (one-to-one or normal group).
    static QVariantMap conversationMap(const ConversationRecord &record, const std::optional<ContactRecord> &contact);
    // Unblocked before blocked, then newer "ts" first.
    static bool conversationLess(const QVariant &a, const QVariant &b);

private:
    // The row of a peer; -1 when none. The index is rebuilt after a reading
    // and kept through apply()'s moves.
    int rowOf(const QString &peer) const;

    QVariantList m_rows;
    mutable QHash<QString, int> m_rowOf;
    mutable bool m_rowOfValid = false;
    QHash<QString, Built> m_built; // by peer key
    quint64 m_pass = 0;
};

} // namespace velmor::chat
