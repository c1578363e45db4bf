// The events that the super groups' realtime channels deliver: new messages
// (a pull), join requests (the notifications), member, role, voice-room and
// group changes (the store, recorded notification events, desktop notices).
// Every event ends with superGroupEvent(serverUrl, type, data); a voice-room
// event emits voiceRoomOpenChanged first. An event that comes again with
// the same id (a resend after a reconnection) is applied once.
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace velmor::chat {

class ChatHost;
class SuperGroupSync;

class SuperGroupEvents : public QObject
{
    Q_OBJECT
public:
    // Ids remembered per group to recognise repeated events.
    static constexpr int kRememberedIds = 1024;

    SuperGroupEvents(ChatHost &host, SuperGroupSync &sync, QObject *parent = nullptr);

    void handle(const QString &serverUrl, const QString &type, const QJsonObject &event);
    void forget() { m_seen.clear(); }

    // The id a recorded event is stored under: "event_id", else "id", else
    // "seq" of the event; else data pubkey:role:created_at.
    static QString eventId(const QJsonObject &event, const QJsonObject &data);

signals:
    void voiceRoomOpenChanged(const QString &serverUrl, bool open);
    void superGroupEvent(const QString &serverUrl, const QString &type, const QVariantMap &data);
    void systemNotificationRequested(const QString &peer, const QString &title, const QString &body);
    void currentChanged();
    void notificationsReloadWanted();

private:
    bool seenBefore(const QString &serverUrl, const QJsonObject &event);
    void upsertMember(const QString &serverUrl, const QString &type, const QJsonObject &event,
                      const QJsonObject &data, bool mine);
    void removeMember(const QString &serverUrl, const QJsonObject &event, const QJsonObject &data, bool mine);
    void changeRole(const QString &serverUrl, const QJsonObject &event, const QJsonObject &data, bool mine);
    void voiceRoom(const QString &serverUrl, const QString &type, const QJsonObject &event,
                   const QJsonObject &data);
    void groupUpdated(const QString &serverUrl, const QJsonObject &data);
    void record(const QString &kind, const QString &serverUrl, const QJsonObject &event, const QJsonObject &data);
    QString groupTitle(const QString &serverUrl) const;

    ChatHost &m_host;
    SuperGroupSync &m_sync;
    struct SeenIds
    {
        QSet<QString> ids;
        QStringList order; // oldest first, for forgetting
    };
    QHash<QString, SeenIds> m_seen;
};

} // namespace velmor::chat
