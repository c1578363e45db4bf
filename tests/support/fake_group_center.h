// A local group centre: capacity, creation of super groups (each created
// group gets a FakeGroupServer of its own), the caller's list of groups, and
// the centre socket "/v1/ws?token=" with "server.hello", "server.ping" and
// "dns.group.*" events.
#pragma once

#include "support/fake_common.h"
#include "support/fake_group_server.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>

class QWebSocket;

namespace velmor::fakes {

class FakeGroupCenter
{
public:
    FakeGroupCenter();
    ~FakeGroupCenter();

    quint16 start(quint16 port = 0);
    void stop();
    QString baseUrl() const { return m_http.baseUrl(); }
    FakeHttpServer &http() { return m_http; }
    ChallengeAuthority &auth() { return m_auth; }

    void setCapacity(int standardAvailable, int premiumAvailable);
    // A creation key good for one group of the type ("standard" or "premium").
    void addCreationKey(const QString &key, const QString &type);

    // Lists an existing server; my-groups reports it to its members.
    void addServer(FakeGroupServer *server, const QString &serverType = QStringLiteral("standard"),
                   const QString &deployStatus = QStringLiteral("ready"),
                   const QString &deployMessage = QString());
    // The servers the centre created; they live as long as the centre.
    QList<FakeGroupServer *> createdServers() const;

    // Socket.
    void sendPing();
    void pushEvent(const QString &type, const QJsonObject &data = QJsonObject());
    void sendRaw(const QString &text);
    void dropSockets();
    int socketCount() const;
    QStringList clientFrames() const;

private:
    struct Listed
    {
        FakeGroupServer *server = nullptr;
        QString serverId;
        QString serverType;
        QString deployStatus;
        QString deployMessage;
        qint64 expiresAt = 0;
    };

    void setUpRoutes();
    void onSocket(QWebSocket *socket);
    void broadcast(const QString &text);

    FakeHttpServer m_http;
    ChallengeAuthority m_auth;

    mutable QMutex m_mutex;
    int m_standard = 3;
    int m_premium = 1;
    QHash<QString, QString> m_keys; // creation key -> type
    QList<Listed> m_listed;
    std::vector<std::unique_ptr<FakeGroupServer>> m_created;
    int m_nextServerId = 1;

    QList<QWebSocket *> m_sockets;
    QStringList m_clientFrames;

    // What the listed servers' membership observers reach; emptied when the
    // centre goes, so that a server living on reports to no one.
    struct Link
    {
        QMutex mutex;
        FakeGroupCenter *center = nullptr;
    };
    std::shared_ptr<Link> m_link;
};

} // namespace velmor::fakes
