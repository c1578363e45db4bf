// Notifications: the join requests that wait for the user's decision. Normal
// groups' requests arrive through the inbox and are stored as pending join
// requests; super groups' requests are fetched from the servers of the groups
// the user owns or administers. Both become notification events under a
// stable id ("normal" or "super" : target : requester key), so a request
// fetched twice is one entry with one desktop notice.
//
// A decision moves the entry to "approving" or "rejecting" first, so a second
// click does nothing. Approvals (the engine re-signs and fans out the card)
// and super-group decisions run as background jobs. An entry left busy by a
// decision that is no longer running (the program quit or crashed, or the
// session ended) is pending again at the next import, so the user can
// decide it again. A super-group request that another admin decided leaves
// the list when its server no longer lists it; a decision on one that the
// server no longer holds tells the user so (error word "join_request_gone").
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantList>

namespace velmor::chat {

class ChatHost;
struct NotificationEventRecord;

class JoinRequestDesk : public QObject
{
    Q_OBJECT
public:
    explicit JoinRequestDesk(ChatHost &host, QObject *parent = nullptr);

    QVariantList entries() const { return m_entries; }
    void clear();

    static QString key(const QString &kind, const QString &target, const QString &requesterKey);

    // Stored pending normal-group requests become notification events (no
    // desktop notice: the inbox raised one when the request came in); busy
    // entries of decisions that no longer run are pending again.
    void importNormalRequests();
    // The list from the store; emits `changed`.
    void rebuild();
    // Import, rebuild, then fetch the super-group requests in the background.
    void reload();
    void fetchSuperGroupRequests();
    void resolve(const QString &kind, const QString &target, const QString &requesterKey, const QString &action);

    // Decisions still running.
    int running() const { return int(m_inFlight.size()); }

signals:
    void changed();
    void noticeRequested(const QString &peer, const QString &title, const QString &body);
    // A super-group decision failed: the user's role on that server may
    // have changed and should be fetched again.
    void superGroupAuthorizationStale(const QString &serverUrl);

private:
    void resolveNormal(const QString &id, const QString &groupId, const QString &requesterKey,
                       const QString &action);
    void settleNormal(const QString &id, const QString &groupId, const QString &requesterKey,
                      const QString &action);
    void resolveSuper(const QString &id, const QString &serverUrl, const QString &requesterKey,
                      const QString &action);
    struct Fetched;
    void storeFetched(const Fetched &fetched);
    // Waiting super-group entries that their server, asked just now, no
    // longer lists: decided by another admin (or withdrawn) meanwhile.
    void settleResolvedElsewhere(const Fetched &fetched);

    ChatHost &m_host;
    QVariantList m_entries;
    QSet<QString> m_inFlight; // stable ids of decisions running in this process
    // Fetches started and the newest one applied: an older answer that comes
    // back after a newer one cannot tell what is no longer listed.
    quint64 m_fetchesStarted = 0;
    quint64 m_newestFetchApplied = 0;
};

} // namespace velmor::chat
