#include "chat/join_requests.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/group_operations.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace velmor::chat {

namespace {

const QString kPending = QStringLiteral("pending");
const QString kFailed = QStringLiteral("failed");
const QString kApproving = QStringLiteral("approving");
const QString kRejecting = QStringLiteral("rejecting");
const QString kApproved = QStringLiteral("approved");
const QString kRejected = QStringLiteral("rejected");
const QString kNormal = QStringLiteral("normal");
const QString kSuper = QStringLiteral("super");
const QString kNewRequestBody = QStringLiteral("收到新的入群申请");
const QString kResolutionFailed = QStringLiteral("join_resolution_failed");
const QString kRequestGone = QStringLiteral("join_request_gone");
const QString kHandled = QStringLiteral("handled");

// The server holds no such request any more: decided or withdrawn elsewhere.
bool requestGone(const velmor::net::ServiceError &error)
{
    return error.httpStatus == 404 || error.detail.contains(QLatin1String("no_pending_request"));
}

QString compactJson(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

bool isKnownAction(const QString &action)
{
    return action == QLatin1String("approve") || action == QLatin1String("reject")
        || action == QLatin1String("block");
}

struct Decision
{
    bool done = false;
    velmor::net::ServiceError error;
};

std::optional<PendingGroupJoinRequestRecord> storedRequest(ChatStore &store, const QString &groupId,
                                                           const QString &requesterKey)
{
    for (const PendingGroupJoinRequestRecord &request : store.pendingGroupJoinRequests())
        if (request.group_id == groupId && request.requester_public_key == requesterKey)
            return request;
    return std::nullopt;
}

} // namespace

struct JoinRequestDesk::Fetched
{
    quint64 serial = 0;
    QList<NotificationEventRecord> records;
    QSet<QString> answeredServers; // servers that listed their requests
};

JoinRequestDesk::JoinRequestDesk(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{
}

QString JoinRequestDesk::key(const QString &kind, const QString &target, const QString &requesterKey)
{
    return kind + QLatin1Char(':') + target + QLatin1Char(':') + requesterKey;
}

void JoinRequestDesk::clear()
{
    m_entries.clear();
}

void JoinRequestDesk::importNormalRequests()
{
    if (!m_host.session().storeOpen())
        return;
    ChatStore &store = m_host.session().store();
    // A decision that no longer runs (quit, crash, ended session) left its
    // entry busy: it waits for the user again.
    for (const NotificationEventRecord &event : store.notificationEvents()) {
        if ((event.state == kApproving || event.state == kRejecting) && !m_inFlight.contains(event.stable_id))
            store.setNotificationState(event.stable_id, {kApproving, kRejecting}, kPending, QString());
    }

    GroupRegistry &registry = GroupRegistry::instance();
    for (const PendingGroupJoinRequestRecord &request : store.pendingGroupJoinRequests()) {
        const auto card = registry.card(request.group_id);
        if (!card)
            continue;
        NotificationEventRecord event;
        event.stable_id = key(kNormal, request.group_id, request.requester_public_key);
        event.event_type = QStringLiteral("normal_join");
        event.group_id = request.group_id;
        event.requester_public_key = request.requester_public_key;
        event.requester_address = request.requester_address;
        event.requester_profile_json = compactJson(QJsonObject{
            {QStringLiteral("displayName"), request.display_name},
            {QStringLiteral("avatarId"), request.avatar_id},
        });
        event.group_name = card->name;
        event.group_kind = kNormal;
        event.state = kPending;
        event.created_at = request.created_at;
        store.upsertNotificationEvent(event);
    }
}

void JoinRequestDesk::rebuild()
{
    QVariantList entries;
    if (m_host.session().storeOpen()) {
        for (const NotificationEventRecord &event : m_host.session().store().notificationEvents()) {
            const QJsonObject profile = QJsonDocument::fromJson(event.requester_profile_json.toUtf8()).object();
            const bool normal = event.event_type == QLatin1String("normal_join");
            const QString displayName = profile.value(QStringLiteral("displayName")).toString().trimmed();
            entries.append(QVariantMap{
                {QStringLiteral("stableId"), event.stable_id},
                {QStringLiteral("kind"), normal ? kNormal : kSuper},
                {QStringLiteral("target"), normal ? event.group_id : event.server_url},
                {QStringLiteral("requesterPublicKey"), event.requester_public_key},
                {QStringLiteral("address"), event.requester_address},
                {QStringLiteral("displayName"), displayName},
                {QStringLiteral("display"),
                 displayName.isEmpty() ? shortAddress(event.requester_address) : displayName},
                {QStringLiteral("avatarId"), profile.value(QStringLiteral("avatarId")).toString()},
                {QStringLiteral("groupName"), event.group_name},
                {QStringLiteral("note"), profile.value(QStringLiteral("note")).toString()},
                {QStringLiteral("state"), event.state},
                {QStringLiteral("busy"), event.state == kApproving || event.state == kRejecting},
                {QStringLiteral("createdAt"), event.created_at},
            });
        }
    }
    m_entries = entries;
    emit changed();
}

void JoinRequestDesk::reload()
{
    importNormalRequests();
    rebuild();
    fetchSuperGroupRequests();
}

void JoinRequestDesk::fetchSuperGroupRequests()
{
    if (!m_host.session().storeOpen())
        return;
    // Only groups the user manages have requests to decide.
    QList<SuperGroupRecord> groups;
    for (const SuperGroupRecord &group : m_host.session().store().superGroups())
        if (!group.server_url.isEmpty()
            && (group.role == QLatin1String("owner") || group.role == QLatin1String("admin")))
            groups.append(group);
    if (groups.isEmpty())
        return;
    const quint64 serial = ++m_fetchesStarted;
    m_host.jobs().run<Fetched>(
        [groups, serial] {
            Fetched fetched;
            fetched.serial = serial;
            velmor::sg::SuperGroupApi &api = velmor::sg::SuperGroupApi::instance();
            for (const SuperGroupRecord &group : groups) {
                // A server that cannot be reached yields nothing this time.
                bool answered = false;
                const QList<velmor::sg::SGJoinRequest> requests = api.pendingJoins(group.server_url, &answered);
                if (answered)
                    fetched.answeredServers.insert(group.server_url);
                for (const velmor::sg::SGJoinRequest &request : requests) {
                    NotificationEventRecord event;
                    event.stable_id = key(kSuper, group.server_url, request.pubkey);
                    event.event_type = QStringLiteral("super_join");
                    event.server_url = group.server_url;
                    event.requester_public_key = request.pubkey;
                    event.requester_address =
                        velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(request.pubkey));
                    event.requester_profile_json = compactJson(QJsonObject{{QStringLiteral("note"), request.note}});
                    event.group_name = group.name;
                    event.group_kind = group.group_kind;
                    event.state = kPending;
                    event.created_at = request.createdAt;
                    fetched.records.append(event);
                }
            }
            return fetched;
        },
        [this](const Fetched &fetched) { storeFetched(fetched); });
}

void JoinRequestDesk::storeFetched(const Fetched &fetched)
{
    ChatStore &store = m_host.session().store();
    for (const NotificationEventRecord &record : fetched.records) {
        // A request seen before keeps its state (a settled one stays settled)
        // and raises no second notice.
        const bool known = store.notificationEvent(record.stable_id).has_value();
        if (!store.upsertNotificationEvent(record) || known)
            continue;
        emit noticeRequested(QStringLiteral("event:") + record.stable_id,
                             record.group_name.isEmpty() ? QStringLiteral("Pelorin") : record.group_name,
                             kNewRequestBody);
    }
    settleResolvedElsewhere(fetched);
    rebuild();
}

void JoinRequestDesk::settleResolvedElsewhere(const Fetched &fetched)
{
    if (fetched.answeredServers.isEmpty() || fetched.serial < m_newestFetchApplied)
        return;
    m_newestFetchApplied = fetched.serial;
    QSet<QString> listed;
    for (const NotificationEventRecord &record : fetched.records)
        listed.insert(record.stable_id);
    ChatStore &store = m_host.session().store();
    for (const NotificationEventRecord &event : store.notificationEvents()) {
        if (event.event_type != QLatin1String("super_join") || !fetched.answeredServers.contains(event.server_url)
            || listed.contains(event.stable_id))
            continue;
        // A decision of this user still running settles the entry itself.
        store.setNotificationState(event.stable_id, {kPending, kFailed}, kHandled, QString());
    }
}

void JoinRequestDesk::resolve(const QString &kind, const QString &target, const QString &requesterKey,
                              const QString &action)
{
    if (!m_host.session().storeOpen() || !isKnownAction(action))
        return;
    const QString id = key(kind, target, requesterKey);
    const QString busyState = action == QLatin1String("approve") ? kApproving : kRejecting;
    // Only a waiting entry can be decided: a second click finds it busy.
    if (!m_host.session().store().setNotificationState(id, {kPending, kFailed}, busyState, QString()))
        return;
    rebuild();
    if (kind == kNormal) {
        if (action == QLatin1String("approve"))
            resolveNormal(id, target, requesterKey, action);
        else
            settleNormal(id, target, requesterKey, action);
        return;
    }
    if (kind == kSuper) {
        resolveSuper(id, target, requesterKey, action);
        return;
    }
    m_host.session().store().setNotificationState(id, {busyState}, kPending, QString());
    rebuild();
}

void JoinRequestDesk::resolveNormal(const QString &id, const QString &groupId, const QString &requesterKey,
                                    const QString &action)
{
    ChatStore &store = m_host.session().store();
    QJsonObject profile;
    if (const auto request = storedRequest(store, groupId, requesterKey)) {
        profile = QJsonObject{
            {QStringLiteral("memberRawPublicKey"), requesterKey},
            {QStringLiteral("displayName"),
             request->display_name.isEmpty() ? request->requester_address : request->display_name},
            {QStringLiteral("avatarId"), request->avatar_id},
            {QStringLiteral("updatedAt"), double(QDateTime::currentSecsSinceEpoch())},
        };
    }
    std::optional<QJsonObject> earlier;
    for (const QJsonObject &stored : store.normalGroupMemberProfiles(groupId))
        if (stored.value(QStringLiteral("memberRawPublicKey")).toString() == requesterKey)
            earlier = stored;
    if (!profile.isEmpty())
        store.upsertNormalGroupMemberProfile(groupId, profile);

    m_inFlight.insert(id);
    m_host.jobs().run<GroupOpResult>(
        [groupId, requesterKey] {
            QMutexLocker locked(&GroupOperations::engineLock());
            GroupRegistry &registry = GroupRegistry::instance();
            // An earlier approval whose fan-out failed kept the requester in
            // the card: the card only has to reach the members this time.
            const auto card = registry.card(groupId);
            if (card && card->hasMember(canonicalMemberKey(requesterKey)))
                return resendGroupCard(registry, groupId);
            return addGroupMembers(registry, groupId, {requesterKey});
        },
        [this, id, groupId, requesterKey, action, earlier](const GroupOpResult &added) {
            if (added.ok) {
                settleNormal(id, groupId, requesterKey, action);
                return;
            }
            // The member was not added: the profiles are as they were and
            // the request waits again, with the reason.
            ChatStore &store = m_host.session().store();
            store.deleteNormalGroupMemberProfile(groupId, requesterKey);
            if (earlier)
                store.upsertNormalGroupMemberProfile(groupId, *earlier);
            store.setNotificationState(id, {kApproving}, kPending, added.error);
            rebuild();
            m_host.errors().publishWord(added.error);
        },
        [this, id] { m_inFlight.remove(id); });
}

void JoinRequestDesk::settleNormal(const QString &id, const QString &groupId, const QString &requesterKey,
                                   const QString &action)
{
    ChatStore &store = m_host.session().store();
    if (action == QLatin1String("block"))
        store.blockJoinRequester(groupId, requesterKey);
    store.deletePendingGroupJoinRequest(groupId, requesterKey);
    const bool approve = action == QLatin1String("approve");
    store.setNotificationState(id, {approve ? kApproving : kRejecting}, approve ? kApproved : kRejected, QString());
    m_host.reloadConversations();
    rebuild();
}

void JoinRequestDesk::resolveSuper(const QString &id, const QString &serverUrl, const QString &requesterKey,
                                   const QString &action)
{
    m_inFlight.insert(id);
    const bool approve = action == QLatin1String("approve");
    m_host.jobs().run<Decision>(
        [serverUrl, requesterKey, action] {
            Decision decision;
            decision.done =
                velmor::sg::SuperGroupApi::instance().decideJoin(serverUrl, requesterKey, action, &decision.error);
            return decision;
        },
        [this, id, serverUrl, approve](const Decision &decision) {
            ChatStore &store = m_host.session().store();
            const QString busyState = approve ? kApproving : kRejecting;
            if (decision.done) {
                store.setNotificationState(id, {busyState}, approve ? kApproved : kRejected, QString());
            } else if (requestGone(decision.error)) {
                // Nothing left to decide: the entry leaves the list and the
                // user learns why the click changed nothing.
                store.setNotificationState(id, {busyState}, kHandled, QString());
                m_host.errors().publishWord(kRequestGone);
            } else {
                store.setNotificationState(id, {busyState}, kPending, kResolutionFailed);
                emit superGroupAuthorizationStale(serverUrl);
                m_host.errors().publishWord(kResolutionFailed);
            }
            reload();
        },
        [this, id] { m_inFlight.remove(id); });
}

} // namespace velmor::chat
