#include "support/fake_group_center.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QUrlQuery>
#include <QWebSocket>

namespace velmor::fakes {

namespace {

using Method = QHttpServerRequest::Method;

} // namespace

FakeGroupCenter::FakeGroupCenter()
    : m_link(std::make_shared<Link>())
{
    m_link->center = this;
    setUpRoutes();
}

FakeGroupCenter::~FakeGroupCenter()
{
    {
        // A listed server may outlive the centre and still report members.
        QMutexLocker locker(&m_link->mutex);
        m_link->center = nullptr;
    }
    stop();
    // The created servers stop on their own threads when they are destroyed.
    m_created.clear();
}

quint16 FakeGroupCenter::start(quint16 port)
{
    return m_http.start(port);
}

void FakeGroupCenter::stop()
{
    m_http.stop();
    QMutexLocker locker(&m_mutex);
    m_sockets.clear();
}

void FakeGroupCenter::setCapacity(int standardAvailable, int premiumAvailable)
{
    QMutexLocker locker(&m_mutex);
    m_standard = standardAvailable;
    m_premium = premiumAvailable;
}

void FakeGroupCenter::addCreationKey(const QString &key, const QString &type)
{
    QMutexLocker locker(&m_mutex);
    m_keys.insert(key, type);
}

void FakeGroupCenter::addServer(FakeGroupServer *server, const QString &serverType,
                                const QString &deployStatus, const QString &deployMessage)
{
    QMutexLocker locker(&m_mutex);
    for (Listed &listed : m_listed) {
        if (listed.server == server) {
            listed.serverType = serverType;
            listed.deployStatus = deployStatus;
            listed.deployMessage = deployMessage;
            return;
        }
    }
    m_listed.append(Listed{server, QStringLiteral("srv-%1").arg(m_nextServerId++), serverType,
                           deployStatus, deployMessage,
                           QDateTime::currentSecsSinceEpoch() + 30 * 24 * 3600});
    // A member admitted or removed on a listed server changes that member's
    // list of groups: the centre's socket says so, as it does for a creation.
    const QString serverUrl = server->baseUrl();
    server->setMembershipObserver([link = m_link, serverUrl](const QString &type, const QString &pubkey) {
        QMutexLocker linkLocker(&link->mutex);
        if (!link->center)
            return;
        const bool joined = type == QLatin1String("server.member.joined");
        link->center->pushEvent(joined ? QStringLiteral("dns.group.member_joined")
                                       : QStringLiteral("dns.group.member_left"),
                                QJsonObject{{QStringLiteral("server_url"), serverUrl},
                                            {QStringLiteral("pubkey"), pubkey}});
    });
}

QList<FakeGroupServer *> FakeGroupCenter::createdServers() const
{
    QMutexLocker locker(&m_mutex);
    QList<FakeGroupServer *> list;
    for (const auto &server : m_created)
        list.append(server.get());
    return list;
}

void FakeGroupCenter::setUpRoutes()
{
    addSignedLoginRoutes(m_http, m_auth);

    m_http.addRoute(QStringLiteral("/v1/capacity"), Method::Get, [this](const QHttpServerRequest &) {
        QMutexLocker locker(&m_mutex);
        return FakeReply::json(QJsonObject{{QStringLiteral("standard_available"), m_standard},
                                           {QStringLiteral("premium_available"), m_premium}});
    });

    m_http.addRoute(QStringLiteral("/v1/group/create"), Method::Post, [this](const QHttpServerRequest &request) {
        const QString caller = m_auth.ownerOfRequest(request);
        if (caller.isEmpty())
            return FakeReply::error(401, QStringLiteral("token_expired"));
        const QJsonObject body = jsonBody(request);
        const QString key = body.value(QStringLiteral("creation_key")).toString();
        const QString name = body.value(QStringLiteral("group_name")).toString();
        const QString type = body.value(QStringLiteral("group_type")).toString().toLower();
        FakeGroupServer *server = nullptr;
        QJsonObject reply;
        {
            QMutexLocker locker(&m_mutex);
            if (!m_keys.contains(key))
                return FakeReply::error(403, QStringLiteral("invalid_creation_key"));
            if (m_keys.value(key) != type)
                return FakeReply::error(400, QStringLiteral("creation_key_type_mismatch"));
            int &available = type == QLatin1String("premium") ? m_premium : m_standard;
            if (available <= 0)
                return FakeReply::error(409, QStringLiteral("no_capacity"));
            if (name.trimmed().isEmpty())
                return FakeReply::error(400, QStringLiteral("empty_name"));
            --available;
            m_keys.remove(key);
            m_created.push_back(std::make_unique<FakeGroupServer>(caller, name));
            server = m_created.back().get();
        }
        // The new server starts its own thread; nothing here holds the lock.
        if (server->start() == 0)
            return FakeReply::error(500, QStringLiteral("deploy_failed"));
        addServer(server, type);
        QString serverId;
        {
            QMutexLocker locker(&m_mutex);
            for (const Listed &listed : std::as_const(m_listed))
                if (listed.server == server)
                    serverId = listed.serverId;
        }
        reply = QJsonObject{{QStringLiteral("server_id"), serverId},
                            {QStringLiteral("server_url"), server->baseUrl()},
                            {QStringLiteral("group_id"), server->groupId()},
                            {QStringLiteral("owner_pubkey"), caller},
                            {QStringLiteral("deploy_status"), QStringLiteral("ready")}};
        broadcast(QStringLiteral("{\"type\":\"dns.group.created\",\"data\":{\"server_url\":\"%1\"}}")
                      .arg(server->baseUrl()));
        return FakeReply::json(reply);
    });

    m_http.addRoute(QStringLiteral("/v1/my/groups"), Method::Get, [this](const QHttpServerRequest &request) {
        const QString caller = m_auth.ownerOfRequest(request);
        if (caller.isEmpty())
            return FakeReply::error(401, QStringLiteral("token_expired"));
        QList<Listed> listed;
        {
            QMutexLocker locker(&m_mutex);
            listed = m_listed;
        }
        QJsonArray groups;
        for (const Listed &entry : std::as_const(listed)) {
            if (!entry.server->isMember(caller))
                continue;
            QString owner;
            for (const FakeMember &member : entry.server->members())
                if (member.role == QLatin1String("owner"))
                    owner = member.pubkey;
            groups.append(QJsonObject{{QStringLiteral("server_id"), entry.serverId},
                                      {QStringLiteral("server_url"), entry.server->baseUrl()},
                                      {QStringLiteral("group_id"), entry.server->groupId()},
                                      {QStringLiteral("name"), entry.server->name()},
                                      {QStringLiteral("owner_pubkey"), owner},
                                      {QStringLiteral("service_expires_at"), entry.expiresAt},
                                      {QStringLiteral("deploy_status"), entry.deployStatus},
                                      {QStringLiteral("deploy_message"), entry.deployMessage},
                                      {QStringLiteral("server_type"), entry.serverType}});
        }
        return FakeReply::json(QJsonObject{{QStringLiteral("groups"), groups}});
    });

    m_http.setWebSocket(QStringLiteral("/v1/ws"), [this](QWebSocket *socket) { onSocket(socket); });
}

void FakeGroupCenter::onSocket(QWebSocket *socket)
{
    const QString token = QUrlQuery(socket->requestUrl()).queryItemValue(
        QStringLiteral("token"), QUrl::FullyDecoded);
    if (m_auth.ownerOf(token).isEmpty()) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unauthorized"));
        socket->deleteLater();
        return;
    }
    {
        QMutexLocker locker(&m_mutex);
        m_sockets.append(socket);
    }
    recordFramesAndAnswerPings(socket, m_mutex, m_clientFrames);
    QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket]() {
        QMutexLocker locker(&m_mutex);
        m_sockets.removeAll(socket);
        socket->deleteLater();
    });
    socket->sendTextMessage(QStringLiteral("{\"type\":\"server.hello\"}"));
}

void FakeGroupCenter::broadcast(const QString &text)
{
    QList<QWebSocket *> targets;
    {
        QMutexLocker locker(&m_mutex);
        targets = m_sockets;
    }
    for (QWebSocket *socket : targets)
        socket->sendTextMessage(text);
}

void FakeGroupCenter::sendPing()
{
    sendRaw(QStringLiteral("{\"type\":\"server.ping\"}"));
}

void FakeGroupCenter::pushEvent(const QString &type, const QJsonObject &data)
{
    sendRaw(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("type"), type},
                                                        {QStringLiteral("data"), data}})
                                  .toJson(QJsonDocument::Compact)));
}

void FakeGroupCenter::sendRaw(const QString &text)
{
    m_http.runOnServerThread([this, text]() { broadcast(text); });
}

void FakeGroupCenter::dropSockets()
{
    m_http.runOnServerThread([this]() {
        QList<QWebSocket *> targets;
        {
            QMutexLocker locker(&m_mutex);
            targets = m_sockets;
            m_sockets.clear();
        }
        abortSockets(targets);
    });
}

int FakeGroupCenter::socketCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_sockets.size();
}

QStringList FakeGroupCenter::clientFrames() const
{
    QMutexLocker locker(&m_mutex);
    return m_clientFrames;
}

} // namespace velmor::fakes
