// Keeps one super group's local copy up to date: opening it (information,
// read state, then a pull), pulling its messages into the store 200 at a
// time (supergroup_pull.h: fetched and stored on the pool), its read state,
// the user's own role in it and its name and avatar.
//
// Runs on the GUI thread; network and store work goes to background jobs.
#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

namespace velmor::sg {
struct SGReadState;
}

namespace velmor::chat {

class ChatHost;
struct SuperGroupPullStart;
struct SuperGroupPullOutcome;

class SuperGroupSync : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPullLimit = 200;
    // Pulls that may come back without a message's media before it is
    // stored without it.
    static constexpr int kMediaAttempts = 3;

    explicit SuperGroupSync(ChatHost &host, QObject *parent = nullptr);

    void open(const QString &serverUrl);
    void pull(const QString &serverUrl);
    void refreshAuthorization(const QString &serverUrl);
    void refreshInfo(const QString &serverUrl);

    // Pulls whose result has not been applied yet, per group.
    bool isPulling(const QString &serverUrl) const { return m_pulling.contains(serverUrl); }

signals:
    // The open group's name or avatar in the runtime record changed.
    void headerChanged(const QString &serverUrl);
    void currentChanged();
    // The user's role in this group was refreshed (the open group's
    // information should be loaded again).
    void roleRefreshed(const QString &serverUrl);
    void notificationsReloadWanted();

private:
    void applyPull(const SuperGroupPullStart &start, const SuperGroupPullOutcome &outcome);
    void markRead(const QString &serverUrl, qint64 seq);
    void applyReadState(const QString &serverUrl, const velmor::sg::SGReadState &read, qint64 markedSeq);
    bool isOpen(const QString &serverUrl) const;

    ChatHost &m_host;
    QSet<QString> m_pulling;   // a pull of the group is on its way
    QSet<QString> m_pullAgain; // and another was asked for meanwhile
    QHash<QString, int> m_mediaMisses; // group peer + "\n" + message id -> pulls without its media
};

} // namespace velmor::chat
