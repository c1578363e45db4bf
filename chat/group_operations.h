// Normal-group operations of the views: create, add and remove members,
// rename, remark, the user's nickname and the group's visibility in
// discovery, mute, leave, and the description of the open group.
//
// Every operation that reaches the group engine runs as a background job
// (the engine re-signs the card and fans it out to every member, which may
// take seconds): the call checks its arguments, starts the job and returns
// true; the outcome comes with `finished`, failures also through the error
// model. Operations run one at a time on the engine (`engineLock`), so two
// changes of one card never race for the same epoch.
#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace velmor::chat {

class ChatHost;
struct NormalGroupCardRecord;

class GroupOperations : public QObject
{
    Q_OBJECT
public:
    explicit GroupOperations(ChatHost &host, QObject *parent = nullptr);

    // Held by every job that changes a group through the engine, the
    // approval of join requests included.
    static QMutex &engineLock();

    // Member keys as typed (split on blanks and commas; duplicates kept for
    // the engine to drop) or as picked (each once, in the first order).
    // Keys that do not decode to 33 or 65 bytes are left out.
    static QStringList keysFromText(const QString &text);
    static QStringList keysFromList(const QVariantList &list);
    static QString shortKey(const QString &address);

    bool createGroup(const QString &name, const QString &membersCsv);
    bool createGroupFromContacts(const QString &name, const QVariantList &publicKeys);
    bool addMembers(const QString &groupId, const QStringList &keys, bool rebuildConversations);
    bool removeMember(const QString &groupId, const QString &memberKey);
    bool rename(const QString &groupId, const QString &newName);
    bool updateRemark(const QString &groupId, const QString &remark);
    bool updateNickname(const QString &groupId, const QString &nickname);
    bool setVisibility(const QString &groupId, bool visible);
    void setMuted(const QString &groupId, bool muted);
    void leaveOrDelete(const QString &groupId);

    QVariantMap groupInfo(const QString &currentPeer) const;

    // Operations still running (started and not finished).
    int running() const { return m_running; }

signals:
    // operation: "create", "add", "remove", "rename", "remark", "nickname",
    // "visibility" or "leave"; groupId is the new group's for "create".
    void finished(const QString &operation, const QString &groupId, bool ok, const QString &error);
    // The group is gone from this device: the façade closes it when open.
    void groupRemoved(const QString &groupId);

private:
    struct Outcome
    {
        bool ok = false;
        QString groupId;
        QString error;
    };
    // Runs `work` on the pool under the engine lock; on success `applied`
    // runs on the GUI thread before `finished`, on failure the error word
    // is published.
    void start(const QString &operation, const QString &groupId, std::function<Outcome()> work,
               std::function<void(const Outcome &)> applied = {});
    bool refuse(const QString &word);
    bool settingsRow(const QString &groupId, NormalGroupCardRecord *row) const;

    ChatHost &m_host;
    int m_running = 0;
};

} // namespace velmor::chat
