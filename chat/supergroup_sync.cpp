#include "chat/supergroup_sync.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/job_runner.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "chat/supergroup_pull.h"
#include "chat/supergroup_rows.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonObject>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

using velmor::sg::SGMessage;
using velmor::sg::SuperGroupApi;

SuperGroupSync::SuperGroupSync(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{
    m_applyTimer.setSingleShot(true);
    connect(&m_applyTimer, &QTimer::timeout, this, &SuperGroupSync::applyWaitingPulls);
}

bool SuperGroupSync::isOpen(const QString &serverUrl) const
{
    return m_host.current().peer() == SuperGroupDirectory::peerFor(serverUrl);
}

// ---- open ---------------------------------------------------------------------------

void SuperGroupSync::open(const QString &serverUrl)
{
    m_host.jobs().run<velmor::sg::SGGroupInfo>(
        [serverUrl] { return SuperGroupApi::instance().groupInfo(serverUrl); },
        [this, serverUrl](const velmor::sg::SGGroupInfo &info) {
            if (info.ok) {
                SuperGroupDirectory &groups = m_host.superGroups();
                SuperGroupRuntimeState state = groups.runtime(serverUrl);
                if (!info.name.isEmpty())
                    state.name = info.name;
                state.serverEncPubkey = info.serverEncPubkey;
                if (!info.avatarUrl.isEmpty())
                    state.avatarUrl = info.avatarUrl;
                groups.setRuntime(serverUrl, state);

                SuperGroupRecord row = sg::storedOrNew(serverUrl);
                row.group_id = info.groupId;
                if (!info.name.isEmpty())
                    row.name = info.name;
                row.server_enc_public_key = info.serverEncPubkey;
                row.updated_at = sg::nowSeconds();
                m_host.session().store().upsertSuperGroup(row);
                if (isOpen(serverUrl))
                    emit headerChanged(serverUrl);
            }
            m_host.jobs().run<velmor::sg::SGReadState>(
                [serverUrl] { return SuperGroupApi::instance().readState(serverUrl); },
                [this, serverUrl](const velmor::sg::SGReadState &read) { applyReadState(serverUrl, read, 0); });
            pull(serverUrl);
        });
}

// ---- pull ---------------------------------------------------------------------------

void SuperGroupSync::pull(const QString &serverUrl)
{
    // One pull per group at a time; a pull asked for meanwhile runs once
    // the current one is done, from the cursor it left (and not at all if
    // the session that asked for it ended meanwhile).
    if (const auto running = m_pulls.find(serverUrl); running != m_pulls.end()) {
        running->again = m_host.session().ticket();
        return;
    }
    const SuperGroupRuntimeState state = m_host.superGroups().runtime(serverUrl);
    SuperGroupPullStart start;
    start.serverUrl = serverUrl;
    // The batches are written only while the store is still the one open now.
    start.ownerKey = m_host.session().store().ownerKey();
    start.myKey = m_host.session().myKey();
    start.lastMessageSeq = state.lastMessageSeq;
    start.lastReadSeq = state.lastReadSeq;
    const QString missPrefix = SuperGroupDirectory::peerFor(serverUrl) + QLatin1Char('\n');
    for (auto it = m_mediaMisses.cbegin(); it != m_mediaMisses.cend(); ++it)
        if (it.key().startsWith(missPrefix))
            start.mediaMisses.insert(it.key(), it.value());

    PullRun run;
    run.chain = std::make_shared<SuperGroupPullChain>();
    run.ticket = m_host.session().ticket();
    run.listed = m_host.superGroups().isListed(serverUrl);
    run.appliedMessageSeq = start.lastMessageSeq;
    run.appliedReadSeq = start.lastReadSeq;
    m_pulls.insert(serverUrl, run);

    // The backlog is fetched and stored on the pool, a batch per
    // transaction, without coming back to the window between batches; the
    // window applies what was stored (the chain's wake) a frame at a time.
    // The chain is stopped before this object goes, so the wake never
    // reaches a deleted one.
    const std::shared_ptr<SuperGroupPullChain> chain = run.chain;
    const auto wake = [this] { QMetaObject::invokeMethod(this, &SuperGroupSync::chainProgressed, Qt::QueuedConnection); };
    m_host.jobs().runToEnd<SuperGroupPullOutcome>(
        [start, chain, wake] {
            return pullSuperGroupBacklog(ChatStore::instance(), start, kPullLimit, kMediaAttempts, *chain, wake);
        },
        [](const SuperGroupPullOutcome &, bool) {},
        [this, serverUrl] {
            // Whatever the job's end, what it stored is applied (while the
            // session is current) and the group may be pulled again.
            PullRun ended = m_pulls.take(serverUrl);
            if (!ended.chain)
                return;
            ended.chain->stop();
            applyWaiting(serverUrl, ended);
            if (ended.again && m_host.session().isCurrent(*ended.again))
                pull(serverUrl);
        });
}

SuperGroupSync::~SuperGroupSync()
{
    for (const PullRun &run : std::as_const(m_pulls))
        run.chain->stop();
}

// A pull stored a batch: it is applied with whatever else comes before the
// next frame.
void SuperGroupSync::chainProgressed()
{
    if (m_applyTimer.isActive())
        return;
    const qint64 since = m_sinceApplied.isValid() ? m_sinceApplied.elapsed() : kFrameMs;
    m_applyTimer.start(int(qMax<qint64>(0, kFrameMs - since)));
}

void SuperGroupSync::applyWaitingPulls()
{
    m_sinceApplied.start();
    const QStringList urls = m_pulls.keys();
    for (const QString &url : urls) {
        auto it = m_pulls.find(url);
        if (it != m_pulls.end())
            applyWaiting(url, *it);
    }
}

void SuperGroupSync::applyWaiting(const QString &serverUrl, PullRun &run)
{
    std::optional<SuperGroupPullOutcome> waiting = run.chain->take();
    // A pull of an ended session, or of a group the user's list no longer
    // holds, goes no further and changes nothing here.
    if (!m_host.session().isCurrent(run.ticket) || (run.listed && !m_host.superGroups().isListed(serverUrl))) {
        run.chain->stop();
        return;
    }
    if (waiting)
        applyPull(serverUrl, run, *waiting);
}

void SuperGroupSync::applyPull(const QString &serverUrl, PullRun &run, const SuperGroupPullOutcome &outcome)
{
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    if (!outcome.written)
        return;
    const QString missPrefix = peer + QLatin1Char('\n');
    for (auto it = m_mediaMisses.begin(); it != m_mediaMisses.end();)
        it = it.key().startsWith(missPrefix) ? m_mediaMisses.erase(it) : std::next(it);
    m_mediaMisses.insert(outcome.mediaMisses);

    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRuntimeState state = groups.runtime(serverUrl);
    state.lastMessageSeq = outcome.lastMessageSeq;
    // A read mark the server answered meanwhile may be ahead of the
    // pull's own.
    state.lastReadSeq = qMax(state.lastReadSeq, outcome.lastReadSeq);
    state.unread = int(qMax<qint64>(0, state.lastMessageSeq - state.lastReadSeq));
    groups.setRuntime(serverUrl, state);

    if (outcome.infoChanged)
        refreshInfo(serverUrl);
    // One notice per pull, however many messages and batches it brought.
    if (outcome.incoming && !run.noticed) {
        run.noticed = true;
        m_host.notifyIncoming(peer, outcome.groupName.isEmpty() ? QStringLiteral("Premium 群组") : outcome.groupName,
                              outcome.muted);
    }
    if (isOpen(serverUrl) && state.lastMessageSeq > state.lastReadSeq)
        markRead(serverUrl, state.lastMessageSeq);
    const bool moved = outcome.lastMessageSeq != run.appliedMessageSeq || outcome.lastReadSeq != run.appliedReadSeq;
    run.appliedMessageSeq = outcome.lastMessageSeq;
    run.appliedReadSeq = outcome.lastReadSeq;
    if (outcome.stored) {
        if (isOpen(serverUrl))
            m_host.reloadMessages();
        m_host.reloadConversationsSoon();
    } else if (moved) {
        m_host.reloadConversationsSoon();
    }
}

void SuperGroupSync::markRead(const QString &serverUrl, qint64 seq)
{
    m_host.jobs().run<velmor::sg::SGReadState>(
        [serverUrl, seq] { return SuperGroupApi::instance().markRead(serverUrl, seq); },
        [this, serverUrl, seq](const velmor::sg::SGReadState &read) { applyReadState(serverUrl, read, seq); });
}

// The server's count of unread messages holds for the read mark it answered
// with. An answer that comes back after a later mark was taken (the read
// state asked for on opening, overtaken by the mark of the pull that
// followed) is stale: its count would show a read group as unread.
void SuperGroupSync::applyReadState(const QString &serverUrl, const velmor::sg::SGReadState &read, qint64 markedSeq)
{
    if (!read.ok)
        return;
    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRuntimeState state = groups.runtime(serverUrl);
    const qint64 answeredSeq = qMax(markedSeq, read.lastReadSeq);
    if (answeredSeq < state.lastReadSeq)
        return;
    state.lastReadSeq = answeredSeq;
    state.unread = read.unread;
    groups.setRuntime(serverUrl, state);
    m_host.session().store().updateSuperGroupReadState(serverUrl, state.lastReadSeq, state.lastMessageSeq,
                                                       state.unread);
    m_host.reloadConversations();
}

// ---- the user's role ------------------------------------------------------------------

namespace {
struct RoleResult
{
    bool ok = false;
    QString role;
};
} // namespace

void SuperGroupSync::refreshAuthorization(const QString &serverUrl)
{
    if (serverUrl.isEmpty())
        return;
    const QString myKey = m_host.session().myKey();
    m_host.jobs().run<RoleResult>(
        [serverUrl, myKey] {
            // The user's own row is found wherever the server lists it,
            // past the bound on kept members too.
            const velmor::sg::SGMemberList listed = SuperGroupApi::instance().memberList(serverUrl, myKey);
            RoleResult result;
            result.ok = !listed.error.isError();
            if (listed.own >= 0)
                result.role = listed.members.at(listed.own).role;
            return result;
        },
        [this, serverUrl](const RoleResult &result) {
            if (!result.ok) {
                // A failed request says nothing about the role: the stored one stays.
                qWarning().noquote() << "[SG] role refresh failed, role kept url=" << serverUrl;
                return;
            }
            takeRole(serverUrl, result.role);
        });
}

void SuperGroupSync::takeRole(const QString &serverUrl, const QString &role)
{
    // Read again at every socket open: a role that stayed needs no store
    // write, no list reload and no second information request.
    SuperGroupRecord row = sg::storedOrNew(serverUrl);
    if (row.role == role)
        return;
    row.role = role;
    row.updated_at = sg::nowSeconds();
    m_host.session().store().upsertSuperGroup(row);
    emit notificationsReloadWanted();
    m_host.reloadConversations();
    emit currentChanged();
    if (isOpen(serverUrl))
        emit roleRefreshed(serverUrl);
}

// ---- name and avatar --------------------------------------------------------------------

void SuperGroupSync::refreshInfo(const QString &serverUrl)
{
    m_host.jobs().run<velmor::sg::SGGroupInfo>(
        [serverUrl] { return SuperGroupApi::instance().groupInfo(serverUrl); },
        [this, serverUrl](const velmor::sg::SGGroupInfo &info) {
            if (!info.ok) {
                qWarning().noquote() << "[SG] info coldsync failed url=" << serverUrl;
                return;
            }
            SuperGroupDirectory &groups = m_host.superGroups();
            SuperGroupRuntimeState state = groups.runtime(serverUrl);
            // An empty name from the server does not wipe the one known.
            if (!info.name.isEmpty())
                state.name = info.name;
            if (!info.serverEncPubkey.isEmpty())
                state.serverEncPubkey = info.serverEncPubkey;
            state.avatarUrl = info.avatarUrl;
            groups.setRuntime(serverUrl, state);

            SuperGroupRecord row = sg::storedOrNew(serverUrl);
            row.group_id = info.groupId;
            if (!info.name.isEmpty())
                row.name = info.name;
            if (!info.serverEncPubkey.isEmpty())
                row.server_enc_public_key = info.serverEncPubkey;
            QJsonObject stored = sg::infoObject(row);
            stored.insert(QLatin1String(sg::kInfoAvatarKey), info.avatarUrl);
            if (!info.name.isEmpty())
                stored.insert(QStringLiteral("name"), info.name);
            // The header's member count reads this; without it a group that
            // was never opened in its settings counts "0 位成员".
            stored.insert(QStringLiteral("memberCount"), info.memberCount);
            row.info_json = sg::compactJson(stored);
            row.updated_at = sg::nowSeconds();
            m_host.session().store().upsertSuperGroup(row);

            const QString peer = SuperGroupDirectory::peerFor(serverUrl);
            QVariantList entries = groups.entries();
            for (QVariant &value : entries) {
                QVariantMap entry = value.toMap();
                if (entry.value(QStringLiteral("peer")).toString() != peer)
                    continue;
                if (!info.name.isEmpty()) {
                    entry.insert(QStringLiteral("display"), info.name);
                    entry.insert(QStringLiteral("displayFallback"), false);
                }
                if (!info.avatarUrl.isEmpty())
                    entry.insert(QStringLiteral("sgAvatarUrl"), info.avatarUrl);
                value = entry;
                break;
            }
            groups.setEntries(entries);

            if (isOpen(serverUrl))
                emit headerChanged(serverUrl);
            m_host.reloadConversations();
        });
}

} // namespace velmor::chat
