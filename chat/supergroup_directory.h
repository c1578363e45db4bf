// The super groups as the controller holds them in memory beside the
// super_groups rows of the store: one runtime record per server URL and the
// list of conversation entries that the conversation list merges in.
//
// The super-group parts (open, pull and read state; the user's groups and
// their realtime clients; realtime events) write here through
// ChatHost::superGroups() and then ask for reloadConversations(); the
// conversation list and the current conversation only read. An entry carries
// "ready" (the views read it): the refresh of the user's groups sets it from
// the deployment status (empty or "ready"); the conversation list adds
// "unread", "connectionState", "latencyMs", "muted" and the newest message.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

struct SuperGroupRuntimeState
{
    QString name;
    QString serverEncPubkey;
    QString avatarUrl;
    QString serverType;
    qint64 lastMessageSeq = 0;
    qint64 lastReadSeq = 0;
    int unread = 0;
    QString connectionState;
    int latencyMs = -1;
};

class SuperGroupDirectory
{
public:
    // The record of a server URL; the default record when there is none.
    SuperGroupRuntimeState runtime(const QString &serverUrl) const;
    bool hasRuntime(const QString &serverUrl) const { return m_runtime.contains(serverUrl); }
    // Records are written back whole (read, modify, store).
    void setRuntime(const QString &serverUrl, const SuperGroupRuntimeState &state);

    const QVariantList &entries() const { return m_entries; }
    void setEntries(const QVariantList &entries);
    // The list holds the group's entry (asked for every frame while pulls
    // apply: not a walk of the list).
    bool isListed(const QString &serverUrl) const { return m_listed.contains(peerFor(serverUrl)); }

    // Fills the records and the entries from the stored super groups (most
    // recently updated first), as a session start does. An entry is marked
    // "ready" when the stored group has been reached before (a connection
    // state is stored) or has a server key, so a group still being deployed
    // does not show as ready until a refresh says so.
    void loadFromStore();
    void clear();

    static QString peerFor(const QString &serverUrl) { return QStringLiteral("sg:") + serverUrl; }

private:
    QHash<QString, SuperGroupRuntimeState> m_runtime;
    QVariantList m_entries;
    QSet<QString> m_listed; // the entries' peers, kept in step with them
};

} // namespace velmor::chat
