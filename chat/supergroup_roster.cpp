#include "chat/supergroup_roster.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/supergroup_directory.h"
#include "chat/supergroup_events.h"
#include "chat/supergroup_rows.h"
#include "chat/supergroup_sync.h"
#include "net/service_error.h"
#include "net/supergroup_center.h"
#include "net/supergroup_realtime.h"
#include "store/chat_store.h"

#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

using velmor::sg::SGMyGroup;
using velmor::sg::SuperGroupRealtimeClient;

namespace {

struct SuperGroupRefreshResult
{
    QList<SGMyGroup> groups;
    QString error;
};

bool isReady(const SGMyGroup &group)
{
    return group.deployStatus.isEmpty() || group.deployStatus == QLatin1String("ready");
}

QVariantMap entryFor(const SGMyGroup &group, const std::optional<SuperGroupRecord> &stored)
{
    QVariantMap entry;
    entry.insert(QStringLiteral("peer"), SuperGroupDirectory::peerFor(group.serverUrl));
    QString display = stored && !stored->name.isEmpty() ? stored->name : group.name;
    entry.insert(QStringLiteral("displayFallback"), display.isEmpty());
    if (display.isEmpty())
        display = QStringLiteral("超级群");
    entry.insert(QStringLiteral("display"), display);
    if (stored) {
        const QString avatar = sg::knownAvatarUrl(QString(), &*stored);
        if (!avatar.isEmpty())
            entry.insert(QStringLiteral("sgAvatarUrl"), avatar);
    }
    entry.insert(QStringLiteral("last"), isReady(group) ? QString() : group.deployMessage);
    entry.insert(QStringLiteral("unread"), stored ? stored->unread_count : 0);
    entry.insert(QStringLiteral("ts"), stored ? stored->updated_at : sg::nowSeconds());
    entry.insert(QStringLiteral("isGroup"), false);
    entry.insert(QStringLiteral("isSuper"), true);
    entry.insert(QStringLiteral("isPremium"), sg::isPremiumType(group.serverType));
    entry.insert(QStringLiteral("avatarId"), QStringLiteral("defaultgroupphoto"));
    entry.insert(QStringLiteral("ready"), isReady(group));
    return entry;
}

} // namespace

SuperGroupRoster::SuperGroupRoster(ChatHost &host, SuperGroupSync &sync, SuperGroupEvents &events,
                                   QObject *parent)
    : QObject(parent), m_host(host), m_sync(sync), m_events(events)
{
}

SuperGroupRoster::~SuperGroupRoster()
{
    stopClients();
}

void SuperGroupRoster::refresh()
{
    ++m_refreshing;
    m_host.jobs().run<SuperGroupRefreshResult>(
        [] {
            SuperGroupRefreshResult result;
            result.groups = velmor::sg::SuperGroupCenter::myGroups(result.error);
            return result;
        },
        [this](const SuperGroupRefreshResult &result) {
            if (!result.error.isEmpty()) {
                m_host.errors().publish(velmor::net::classifyError(result.error));
                emit refreshed();
                return;
            }
            ChatStore &store = m_host.session().store();
            SuperGroupDirectory &groups = m_host.superGroups();
            QVariantList entries;
            QStringList ready;
            for (const SGMyGroup &group : result.groups) {
                if (group.serverUrl.isEmpty())
                    continue;
                const std::optional<SuperGroupRecord> stored = store.superGroup(group.serverUrl);
                entries.append(entryFor(group, stored));

                SuperGroupRuntimeState state = groups.runtime(group.serverUrl);
                // A directory that names no group keeps the known name.
                if (!group.name.isEmpty())
                    state.name = group.name;
                state.serverType = group.serverType;
                if (stored) {
                    state.lastMessageSeq = stored->last_message_seq;
                    state.lastReadSeq = stored->last_read_seq;
                    state.unread = stored->unread_count;
                    state.connectionState = stored->connection_state;
                    if (!stored->server_enc_public_key.isEmpty())
                        state.serverEncPubkey = stored->server_enc_public_key;
                    if (state.avatarUrl.isEmpty())
                        state.avatarUrl = sg::knownAvatarUrl(QString(), &*stored);
                }
                groups.setRuntime(group.serverUrl, state);

                SuperGroupRecord row;
                row.server_id = group.serverId;
                row.server_url = group.serverUrl;
                row.group_id = group.groupId;
                row.name = group.name.isEmpty() && stored ? stored->name : group.name;
                row.group_kind = sg::groupKindForType(group.serverType);
                row.role = stored ? stored->role : QString();
                row.connection_state = state.connectionState;
                row.server_enc_public_key = state.serverEncPubkey;
                row.info_json = stored ? stored->info_json : QStringLiteral("{}");
                row.last_read_seq = state.lastReadSeq;
                row.last_message_seq = state.lastMessageSeq;
                row.unread_count = state.unread;
                row.muted = stored && stored->muted;
                row.updated_at = sg::nowSeconds();
                store.upsertSuperGroup(row);

                if (isReady(group) && !ready.contains(group.serverUrl))
                    ready.append(group.serverUrl);
            }
            groups.setEntries(entries);
            syncClients(ready);
            for (const QString &url : std::as_const(ready))
                m_sync.refreshInfo(url);
            m_host.reloadConversations();
            emit notificationsReloadWanted();
            emit refreshed();
        },
        [this] { --m_refreshing; });
}

void SuperGroupRoster::syncClients(const QStringList &serverUrls)
{
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if (serverUrls.contains(it.key())) {
            ++it;
            continue;
        }
        it.value()->stop();
        it.value()->deleteLater();
        it = m_clients.erase(it);
    }
    for (const QString &url : serverUrls) {
        if (m_clients.contains(url))
            continue;
        auto *client = new SuperGroupRealtimeClient(url, this);
        client->setTimeDivisor(m_divisor);
        connect(client, &SuperGroupRealtimeClient::stateChanged, this, &SuperGroupRoster::onState);
        connect(client, &SuperGroupRealtimeClient::eventReceived, &m_events, &SuperGroupEvents::handle);
        m_clients.insert(url, client);
        client->start();
    }
}

void SuperGroupRoster::stopClients()
{
    for (SuperGroupRealtimeClient *client : std::as_const(m_clients)) {
        client->stop();
        client->disconnect(this);
        client->disconnect(&m_events);
        client->deleteLater();
    }
    m_clients.clear();
}

void SuperGroupRoster::onState(const QString &serverUrl, const QString &state, int latencyMs)
{
    // Reports of a client that was dropped meanwhile change nothing.
    if (!m_clients.contains(serverUrl))
        return;
    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRuntimeState record = groups.runtime(serverUrl);
    const bool entering = state == QLatin1String("connected") && record.connectionState != QLatin1String("connected");
    record.connectionState = state;
    record.latencyMs = latencyMs;
    groups.setRuntime(serverUrl, record);
    m_host.session().store().setSuperGroupConnectionState(serverUrl, state);
    emit connectionStateChanged(serverUrl, state, latencyMs);
    if (!entering)
        return;
    m_sync.pull(serverUrl);
    // The server sends its events only to open sockets: a role given or taken
    // while this one was down (or not yet open, as right after an invitation)
    // is read again, and with it the join requests a manager decides.
    m_sync.refreshAuthorization(serverUrl);
}

} // namespace velmor::chat
