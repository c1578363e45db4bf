// Bringing a super group into the user's list: the group centre's capacity,
// creation with a creation key (the user is stored as its owner) and a join
// request to a group server. All three wait on the network in background
// jobs; each call is answered by one signal.
#pragma once

#include <QObject>
#include <QString>

namespace velmor::chat {

class ChatHost;
class SuperGroupRoster;

class SuperGroupCreation : public QObject
{
    Q_OBJECT
public:
    SuperGroupCreation(ChatHost &host, SuperGroupRoster &roster, QObject *parent = nullptr);

    void fetchCapacity();
    void create(const QString &creationKey, const QString &name, const QString &type);
    // False, with the error published, when no request was started (an
    // empty server URL); the outcome comes as joinCompleted.
    bool join(const QString &serverUrl, const QString &note);

signals:
    void capacityLoaded(bool ok, int standardAvailable, int premiumAvailable);
    void createCompleted(bool ok, const QString &error);
    // status: the server's word ("joined", "pending", "already_member") on
    // success, the error word otherwise.
    void joinCompleted(const QString &serverUrl, bool ok, const QString &status);

private:
    ChatHost &m_host;
    SuperGroupRoster &m_roster;
};

} // namespace velmor::chat
