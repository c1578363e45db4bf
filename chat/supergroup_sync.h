// Keeps one super group's local copy up to date: opening it (information,
// read state, then a pull), pulling its messages into the store 200 at a
// time (supergroup_pull.h: a backlog is fetched and stored batch after batch
// on the pool), its read state, the user's own role in it and its name and
// avatar.
//
// Runs on the GUI thread; network and store work goes to background jobs.
// What a pull stored is applied at most once a frame (the cursor, the
// lists, the notice), however fast the batches come.
#pragma once

#include "chat/chat_session.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace velmor::sg {
struct SGReadState;
}

namespace velmor::chat {

class ChatHost;
struct SuperGroupPullStart;
struct SuperGroupPullOutcome;
class SuperGroupPullChain;

class SuperGroupSync : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPullLimit = 200;
    // Pulls that may come back without a message's media before it is
    // stored without it.
    static constexpr int kMediaAttempts = 3;

    // The least time between two applications of what pulls stored.
    static constexpr int kFrameMs = 16;

    explicit SuperGroupSync(ChatHost &host, QObject *parent = nullptr);
    ~SuperGroupSync() override;

    void open(const QString &serverUrl);
    void pull(const QString &serverUrl);
    void refreshAuthorization(const QString &serverUrl);
    // The user's role in the group as the server said it: written, and what
    // depends on it told (the join requests a manager decides, the header,
    // the open group's information), when it is not the stored one already.
    void takeRole(const QString &serverUrl, const QString &role);
    void refreshInfo(const QString &serverUrl);

    // Pulls whose result has not been applied yet, per group.
    bool isPulling(const QString &serverUrl) const { return m_pulls.contains(serverUrl); }

signals:
    // The open group's name or avatar in the runtime record changed.
    void headerChanged(const QString &serverUrl);
    void currentChanged();
    // The user's role in this group was refreshed (the open group's
    // information should be loaded again).
    void roleRefreshed(const QString &serverUrl);
    void notificationsReloadWanted();

private:
    // A pull on its way: its pool job goes on through the backlog while the
    // window applies what it stored.
    struct PullRun
    {
        std::shared_ptr<SuperGroupPullChain> chain;
        ChatSession::Ticket ticket;
        bool listed = false;  // the group was in the user's list when the pull began
        bool noticed = false; // the pull's one notice was asked for
        qint64 appliedMessageSeq = 0; // the cursor and read mark the window last applied
        qint64 appliedReadSeq = 0;
        // Another pull was asked for meanwhile, by the session this ticket
        // names: it runs once this one ends, if that session still does.
        std::optional<ChatSession::Ticket> again;
    };

    void chainProgressed();
    void applyWaitingPulls();
    void applyWaiting(const QString &serverUrl, PullRun &run);
    void applyPull(const QString &serverUrl, PullRun &run, const SuperGroupPullOutcome &outcome);
    void markRead(const QString &serverUrl, qint64 seq);
    void applyReadState(const QString &serverUrl, const velmor::sg::SGReadState &read, qint64 markedSeq);
    bool isOpen(const QString &serverUrl) const;

    ChatHost &m_host;
    QHash<QString, PullRun> m_pulls; // a pull of the group is on its way
    QTimer m_applyTimer;             // what the pulls stored waits for the next frame
    QElapsedTimer m_sinceApplied;
    QHash<QString, int> m_mediaMisses; // group peer + "\n" + message id -> pulls without its media
};

} // namespace velmor::chat
