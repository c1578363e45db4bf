#include "chat/supergroup_directory.h"

#include "store/chat_store.h"

namespace velmor::chat {

SuperGroupRuntimeState SuperGroupDirectory::runtime(const QString &serverUrl) const
{
    return m_runtime.value(serverUrl);
}

void SuperGroupDirectory::setRuntime(const QString &serverUrl, const SuperGroupRuntimeState &state)
{
    m_runtime.insert(serverUrl, state);
}

void SuperGroupDirectory::setEntries(const QVariantList &entries)
{
    m_entries = entries;
    m_listed.clear();
    for (const QVariant &entry : m_entries)
        m_listed.insert(entry.toMap().value(QStringLiteral("peer")).toString());
}

void SuperGroupDirectory::loadFromStore()
{
    m_entries.clear();
    m_listed.clear();
    for (const SuperGroupRecord &group : ChatStore::instance().superGroups()) {
        SuperGroupRuntimeState state;
        state.name = group.name;
        state.serverEncPubkey = group.server_enc_public_key;
        state.lastMessageSeq = group.last_message_seq;
        state.lastReadSeq = group.last_read_seq;
        state.unread = group.unread_count;
        state.connectionState = group.connection_state;
        state.serverType = group.group_kind == QLatin1String("premium_plus") ? QStringLiteral("premium")
                                                                             : QStringLiteral("standard");
        state.avatarUrl.clear();
        state.latencyMs = -1;
        m_runtime.insert(group.server_url, state);

        QVariantMap entry;
        entry.insert(QStringLiteral("peer"), peerFor(group.server_url));
        entry.insert(QStringLiteral("display"), group.name.isEmpty() ? QStringLiteral("超级群") : group.name);
        entry.insert(QStringLiteral("displayFallback"), group.name.isEmpty());
        entry.insert(QStringLiteral("last"), QString());
        entry.insert(QStringLiteral("unread"), group.unread_count);
        entry.insert(QStringLiteral("ts"), group.updated_at);
        entry.insert(QStringLiteral("isGroup"), false);
        entry.insert(QStringLiteral("isSuper"), true);
        entry.insert(QStringLiteral("isPremium"), group.group_kind == QLatin1String("premium_plus"));
        entry.insert(QStringLiteral("ready"),
                     !group.connection_state.isEmpty() || !group.server_enc_public_key.isEmpty());
        m_entries.append(entry);
        m_listed.insert(peerFor(group.server_url));
    }
}

void SuperGroupDirectory::clear()
{
    m_runtime.clear();
    m_entries.clear();
    m_listed.clear();
}

} // namespace velmor::chat
