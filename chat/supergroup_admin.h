// Information and administration of a super group: the information map the
// settings popup shows (group, members in role order, the user's role, invite
// candidates), the administration requests (name, notice and join mode, mute
// of all, the user's nickname and notification mute, invitations, removals,
// roles) and the push of the user's nickname and avatar to every group.
//
// Every map carries the "serverUrl" it was loaded for; a load that finishes
// after another group was opened, or after a newer load of the same group,
// is stored but never shown. Members are stored with the display names their
// servers gave (never a fallback label), and a member list that failed to
// load keeps the stored members and the user's stored role.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace velmor::chat {

class ChatHost;
class SuperGroupSync;

class SuperGroupAdmin : public QObject
{
    Q_OBJECT
public:
    SuperGroupAdmin(ChatHost &host, SuperGroupSync &sync, QObject *parent = nullptr);

    // The contact maps (as the views see them) that invitations and invite
    // candidates are taken from.
    void setContactsSource(std::function<QVariantList()> contacts) { m_contacts = std::move(contacts); }

    void loadInfo(const QString &serverUrl);
    void updateMeta(const QString &serverUrl, const QString &name, const QString &notice, bool joinOpen);
    void setAllMuted(const QString &serverUrl, bool muted);
    void updateProfile(const QString &serverUrl, const QString &nickname);
    void setMuted(const QString &serverUrl, bool muted);
    void invite(const QString &serverUrl, const QVariantList &publicKeys);
    void remove(const QString &serverUrl, const QString &publicKey);
    void setRole(const QString &serverUrl, const QString &publicKey, const QString &role);
    void syncProfiles();

signals:
    void infoLoaded(const QVariantMap &info);
    void currentChanged();
    // An administration request ended: the open group's information is
    // loaded again.
    void infoReloadWanted();
    void headerChanged(const QString &serverUrl);

private:
    struct InfoResult;
    void applyInfo(const QString &serverUrl, quint64 serial, const InfoResult &result);
    // Runs one administration request; on failure reports `failureWord`
    // (and refreshes the user's role when `refreshRole`), then `after`.
    void runAction(const QString &serverUrl, std::function<bool()> request, const QString &failureWord,
                   bool refreshRole, std::function<void()> after = {});

    ChatHost &m_host;
    SuperGroupSync &m_sync;
    std::function<QVariantList()> m_contacts;
    quint64 m_nextSerial = 0;
    QHash<QString, quint64> m_latestLoad; // server URL -> serial of the newest load
};

} // namespace velmor::chat
