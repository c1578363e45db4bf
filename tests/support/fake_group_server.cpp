#include "support/fake_group_server.h"

#include "identity/crypto.h"

#include <QDateTime>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QUrlQuery>
#include <QUuid>
#include <QWebSocket>

#include <vector>

namespace velmor::fakes {

namespace {

using Method = QHttpServerRequest::Method;

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

bool isManagerRole(const QString &role)
{
    return role == QLatin1String("owner") || role == QLatin1String("admin");
}

struct PendingEvent
{
    QString type;
    QJsonObject data;
    QSet<QString> onlyTo;
};

} // namespace

FakeGroupServer::FakeGroupServer(const QString &ownerPubkey, const QString &name)
    : m_serverKey(velmor::identity::Identity::generate())
    , m_groupId(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , m_name(name)
    , m_mediaUrl(QStringLiteral("ws://127.0.0.1:%1").arg(unusedLoopbackPort()))
{
    if (!ownerPubkey.isEmpty())
        addMember(ownerPubkey, QStringLiteral("owner"));
    setUpRoutes();
}

FakeGroupServer::~FakeGroupServer()
{
    stop();
}

quint16 FakeGroupServer::start()
{
    return m_http.start();
}

void FakeGroupServer::stop()
{
    m_http.stop();
    QMutexLocker locker(&m_mutex);
    m_sockets.clear();
}

QString FakeGroupServer::serverPublicKey() const
{
    return m_serverKey.publicKeyText();
}

// ------------------------------------------------------------------ state

void FakeGroupServer::addMember(const QString &pubkey, const QString &role, const QString &displayName)
{
    const QString key = canonicalKeyText(pubkey);
    if (key.isEmpty())
        return;
    QMutexLocker locker(&m_mutex);
    for (FakeMember &member : m_members) {
        if (member.pubkey == key) {
            member.role = role;
            if (!displayName.isEmpty())
                member.displayName = displayName;
            return;
        }
    }
    FakeMember member;
    member.pubkey = key;
    member.role = role;
    member.displayName = displayName;
    member.address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key));
    m_members.append(member);
}

bool FakeGroupServer::isMember(const QString &pubkey) const
{
    return !roleOf(pubkey).isEmpty();
}

QString FakeGroupServer::roleOf(const QString &pubkey) const
{
    const QString key = canonicalKeyText(pubkey);
    QMutexLocker locker(&m_mutex);
    for (const FakeMember &member : m_members)
        if (member.pubkey == key)
            return member.role;
    return QString();
}

QList<FakeMember> FakeGroupServer::members() const
{
    QMutexLocker locker(&m_mutex);
    return m_members;
}

FakeMember FakeGroupServer::member(const QString &pubkey) const
{
    const QString key = canonicalKeyText(pubkey);
    QMutexLocker locker(&m_mutex);
    for (const FakeMember &member : m_members)
        if (member.pubkey == key)
            return member;
    return FakeMember();
}

void FakeGroupServer::setJoinMode(const QString &mode)
{
    QMutexLocker locker(&m_mutex);
    m_joinMode = mode;
}

void FakeGroupServer::setVoiceEnabled(bool enabled)
{
    QMutexLocker locker(&m_mutex);
    m_voiceEnabled = enabled;
}

void FakeGroupServer::setAllMuted(bool muted)
{
    QMutexLocker locker(&m_mutex);
    m_allMuted = muted;
}

QString FakeGroupServer::name() const
{
    QMutexLocker locker(&m_mutex);
    return m_name;
}

QString FakeGroupServer::notice() const
{
    QMutexLocker locker(&m_mutex);
    return m_notice;
}

bool FakeGroupServer::allMuted() const
{
    QMutexLocker locker(&m_mutex);
    return m_allMuted;
}

QStringList FakeGroupServer::blocked() const
{
    QMutexLocker locker(&m_mutex);
    return QStringList(m_blocked.cbegin(), m_blocked.cend());
}

QString FakeGroupServer::joinRequestStatus(const QString &pubkey) const
{
    const QString key = canonicalKeyText(pubkey);
    QMutexLocker locker(&m_mutex);
    for (const JoinRequest &request : m_requests)
        if (request.pubkey == key)
            return request.status;
    return QString();
}

qint64 FakeGroupServer::appendMessage(const QString &senderPubkey, const QString &type,
                                      const QJsonObject &content, bool plainContent,
                                      const QString &event, const QString &messageId)
{
    QMutexLocker locker(&m_mutex);
    FakeStoredMessage message;
    message.seq = m_messages.isEmpty() ? 1 : m_messages.last().seq + 1;
    message.messageId = messageId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : messageId;
    message.senderPubkey = canonicalKeyText(senderPubkey);
    if (message.senderPubkey.isEmpty())
        message.senderPubkey = senderPubkey;
    message.type = type;
    message.event = event;
    message.content = content;
    message.createdAt = nowSeconds();
    message.plainContent = plainContent;
    m_messages.append(message);
    return message.seq;
}

QList<FakeStoredMessage> FakeGroupServer::messages() const
{
    QMutexLocker locker(&m_mutex);
    return m_messages;
}

void FakeGroupServer::setMediaByReference(bool byReference)
{
    QMutexLocker locker(&m_mutex);
    m_mediaByReference = byReference;
}

bool FakeGroupServer::voiceOpen() const
{
    QMutexLocker locker(&m_mutex);
    return m_voiceOpen;
}

QStringList FakeGroupServer::speakers() const
{
    QMutexLocker locker(&m_mutex);
    return QStringList(m_speakers.cbegin(), m_speakers.cend());
}

// ------------------------------------------------------------------ realtime

void FakeGroupServer::broadcast(const QJsonObject &frame, const QSet<QString> &onlyTo)
{
    const QString text = QString::fromUtf8(QJsonDocument(frame).toJson(QJsonDocument::Compact));
    QList<QWebSocket *> targets;
    {
        QMutexLocker locker(&m_mutex);
        for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it)
            if (onlyTo.isEmpty() || onlyTo.contains(it.value()))
                targets.append(it.key());
    }
    for (QWebSocket *socket : targets)
        socket->sendTextMessage(text);
}

void FakeGroupServer::emitEvent(const QString &type, const QJsonObject &data,
                                const QSet<QString> &onlyTo, const QString &eventId)
{
    QString id = eventId;
    if (id.isEmpty()) {
        QMutexLocker locker(&m_mutex);
        id = QString::number(m_nextEventId++);
    }
    broadcast(QJsonObject{{QStringLiteral("type"), type},
                          {QStringLiteral("event_id"), id},
                          {QStringLiteral("data"), data}},
              onlyTo);
    if (type == QLatin1String("server.member.joined") || type == QLatin1String("server.member.left")) {
        MembershipObserver observer;
        {
            QMutexLocker locker(&m_mutex);
            observer = m_membershipObserver;
        }
        if (observer)
            observer(type, data.value(QStringLiteral("pubkey")).toString());
    }
}

void FakeGroupServer::setMembershipObserver(MembershipObserver observer)
{
    QMutexLocker locker(&m_mutex);
    m_membershipObserver = std::move(observer);
}

void FakeGroupServer::pushEvent(const QString &type, const QJsonObject &data, const QString &eventId)
{
    m_http.runOnServerThread([this, type, data, eventId]() { emitEvent(type, data, {}, eventId); });
}

void FakeGroupServer::sendRaw(const QString &text)
{
    m_http.runOnServerThread([this, text]() {
        QList<QWebSocket *> targets;
        {
            QMutexLocker locker(&m_mutex);
            targets = m_sockets.keys();
        }
        for (QWebSocket *socket : targets)
            socket->sendTextMessage(text);
    });
}

void FakeGroupServer::sendPing()
{
    m_http.runOnServerThread([this]() {
        broadcast(QJsonObject{{QStringLiteral("type"), QStringLiteral("server.ping")}});
    });
}

void FakeGroupServer::dropSockets()
{
    m_http.runOnServerThread([this]() {
        QList<QWebSocket *> targets;
        {
            QMutexLocker locker(&m_mutex);
            targets = m_sockets.keys();
            m_sockets.clear();
        }
        abortSockets(targets);
    });
}

void FakeGroupServer::setRejectSockets(bool reject)
{
    QMutexLocker locker(&m_mutex);
    m_rejectSockets = reject;
}

int FakeGroupServer::socketCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_sockets.size();
}

int FakeGroupServer::socketConnects() const
{
    QMutexLocker locker(&m_mutex);
    return m_socketConnects;
}

QStringList FakeGroupServer::clientFrames() const
{
    QMutexLocker locker(&m_mutex);
    return m_clientFrames;
}

void FakeGroupServer::onSocket(QWebSocket *socket)
{
    const QString token = QUrlQuery(socket->requestUrl()).queryItemValue(
        QStringLiteral("token"), QUrl::FullyDecoded);
    const QString caller = m_auth.ownerOf(token);
    {
        QMutexLocker locker(&m_mutex);
        if (caller.isEmpty() || m_rejectSockets) {
            locker.unlock();
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unauthorized"));
            socket->deleteLater();
            return;
        }
        ++m_socketConnects;
        m_sockets.insert(socket, caller);
    }
    recordFramesAndAnswerPings(socket, m_mutex, m_clientFrames);
    QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket]() {
        QMutexLocker locker(&m_mutex);
        m_sockets.remove(socket);
        socket->deleteLater();
    });
    socket->sendTextMessage(QStringLiteral("{\"type\":\"server.hello\"}"));
}

// ------------------------------------------------------------------ HTTP

QString FakeGroupServer::callerOf(const QHttpServerRequest &request) const
{
    return m_auth.ownerOfRequest(request);
}

QJsonObject FakeGroupServer::memberJson(const FakeMember &member) const
{
    return QJsonObject{{QStringLiteral("pubkey"), member.pubkey},
                       {QStringLiteral("display_name"), member.displayName},
                       {QStringLiteral("avatar_url"), member.avatarUrl},
                       {QStringLiteral("role"), member.role},
                       {QStringLiteral("address"), member.address},
                       {QStringLiteral("avatar_kind"), member.avatarKind},
                       {QStringLiteral("avatar_id"), member.avatarId},
                       {QStringLiteral("muted"), member.muted}};
}

QSet<QString> FakeGroupServer::managersLocked() const
{
    QSet<QString> keys;
    for (const FakeMember &member : m_members)
        if (isManagerRole(member.role))
            keys.insert(member.pubkey);
    return keys;
}

void FakeGroupServer::setUpRoutes()
{
    using Events = std::vector<PendingEvent>;
    // Runs a handler with the caller's key and the state lock held; events it
    // queues go out after the lock is released.
    auto authed = [this](const QString &path, Method method, auto body) {
        m_http.addRoute(path, method, [this, body](const QHttpServerRequest &request) {
            const QString caller = callerOf(request);
            if (caller.isEmpty())
                return FakeReply::error(401, QStringLiteral("token_expired"));
            Events events;
            FakeReply reply;
            {
                QMutexLocker locker(&m_mutex);
                const FakeMember *me = nullptr;
                for (const FakeMember &member : std::as_const(m_members))
                    if (member.pubkey == caller)
                        me = &member;
                reply = body(request, caller, me, events);
            }
            for (const PendingEvent &event : events)
                emitEvent(event.type, event.data, event.onlyTo);
            return reply;
        });
    };
    auto findMember = [this](const QString &key) -> FakeMember * {
        for (FakeMember &member : m_members)
            if (member.pubkey == key)
                return &member;
        return nullptr;
    };
    const FakeReply notMember = FakeReply::error(403, QStringLiteral("not_member"));
    const FakeReply denied = FakeReply::error(403, QStringLiteral("permission_denied"));

    addSignedLoginRoutes(m_http, m_auth);

    authed(QStringLiteral("/v1/group/info"), Method::Get,
           [this](const QHttpServerRequest &, const QString &, const FakeMember *, Events &) {
               return FakeReply::json(QJsonObject{
                   {QStringLiteral("group_id"), m_groupId},
                   {QStringLiteral("name"), m_name},
                   {QStringLiteral("avatar_url"), m_avatarUrl},
                   {QStringLiteral("join_mode"), m_joinMode},
                   {QStringLiteral("member_count"), int(m_members.size())},
                   {QStringLiteral("notice"), m_notice},
                   {QStringLiteral("owner_pubkey"), [this]() {
                        for (const FakeMember &member : m_members)
                            if (member.role == QLatin1String("owner"))
                                return member.pubkey;
                        return QString();
                    }()},
                   {QStringLiteral("server_enc_pubkey"), m_serverKey.publicKeyText()},
                   {QStringLiteral("all_muted"), m_allMuted},
                   {QStringLiteral("voice_enabled"), m_voiceEnabled},
                   {QStringLiteral("voice_url"), m_mediaUrl}});
           });

    authed(QStringLiteral("/v1/members"), Method::Get,
           [this, notMember](const QHttpServerRequest &, const QString &, const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               QJsonArray list;
               for (const FakeMember &member : std::as_const(m_members))
                   list.append(memberJson(member));
               return FakeReply::json(QJsonObject{{QStringLiteral("members"), list}});
           });

    authed(QStringLiteral("/v1/group/update"), Method::Post,
           [this, denied](const QHttpServerRequest &request, const QString &, const FakeMember *me,
                          Events &events) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               const QJsonObject body = jsonBody(request);
               const QString name = body.value(QStringLiteral("name")).toString().trimmed();
               if (name.isEmpty())
                   return FakeReply::error(400, QStringLiteral("empty_name"));
               m_name = name;
               m_avatarUrl = body.value(QStringLiteral("avatar_url")).toString();
               m_notice = body.value(QStringLiteral("notice")).toString();
               const QString mode = body.value(QStringLiteral("join_mode")).toString();
               if (mode == QLatin1String("open") || mode == QLatin1String("invite"))
                   m_joinMode = mode;
               events.push_back({QStringLiteral("server.group.updated"),
                                 QJsonObject{{QStringLiteral("name"), m_name},
                                             {QStringLiteral("avatar_url"), m_avatarUrl},
                                             {QStringLiteral("notice"), m_notice},
                                             {QStringLiteral("join_mode"), m_joinMode}},
                                 {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/group/mute"), Method::Post,
           [this, denied](const QHttpServerRequest &request, const QString &, const FakeMember *me,
                          Events &events) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               m_allMuted = jsonBody(request).value(QStringLiteral("muted")).toBool();
               events.push_back({QStringLiteral("server.group.updated"),
                                 QJsonObject{{QStringLiteral("all_muted"), m_allMuted}}, {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/member/profile"), Method::Post,
           [findMember, notMember](const QHttpServerRequest &request, const QString &caller,
                                   const FakeMember *me, Events &events) {
               if (!me)
                   return notMember;
               FakeMember *self = findMember(caller);
               const QJsonObject body = jsonBody(request);
               self->displayName = body.value(QStringLiteral("display_name")).toString();
               self->avatarUrl = body.value(QStringLiteral("avatar_url")).toString();
               self->avatarId = self->avatarUrl;
               events.push_back({QStringLiteral("server.member.updated"),
                                 QJsonObject{{QStringLiteral("pubkey"), caller},
                                             {QStringLiteral("display_name"), self->displayName},
                                             {QStringLiteral("avatar_url"), self->avatarUrl},
                                             {QStringLiteral("address"), self->address},
                                             {QStringLiteral("role"), self->role}},
                                 {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/member/mute"), Method::Post,
           [findMember, notMember](const QHttpServerRequest &request, const QString &caller,
                                   const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               findMember(caller)->muted = jsonBody(request).value(QStringLiteral("muted")).toBool();
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/member/invite"), Method::Post,
           [this, findMember, denied](const QHttpServerRequest &request, const QString &,
                                      const FakeMember *me, Events &events) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               const QJsonObject body = jsonBody(request);
               const QString key = canonicalKeyText(body.value(QStringLiteral("pubkey")).toString());
               if (key.isEmpty())
                   return FakeReply::error(400, QStringLiteral("invalid_pubkey"));
               if (findMember(key))
                   return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                                      {QStringLiteral("status"), QStringLiteral("already_member")}});
               FakeMember member;
               member.pubkey = key;
               member.role = QStringLiteral("member");
               member.displayName = body.value(QStringLiteral("display_name")).toString();
               member.avatarUrl = body.value(QStringLiteral("avatar_url")).toString();
               member.address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key));
               m_members.append(member);
               m_blocked.remove(key);
               events.push_back({QStringLiteral("server.member.joined"), memberJson(member), {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/member/remove"), Method::Post,
           [this, findMember, denied](const QHttpServerRequest &request, const QString &,
                                      const FakeMember *me, Events &events) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               const QString key = canonicalKeyText(jsonBody(request).value(QStringLiteral("pubkey")).toString());
               FakeMember *target = findMember(key);
               if (!target)
                   return FakeReply::error(404, QStringLiteral("not_member"));
               // The owner cannot be removed; an admin removes plain members only.
               if (target->role == QLatin1String("owner")
                   || (me->role == QLatin1String("admin") && target->role != QLatin1String("member")))
                   return denied;
               const QJsonObject data = memberJson(*target);
               m_members.removeIf([&key](const FakeMember &m) { return m.pubkey == key; });
               m_speakers.remove(key);
               events.push_back({QStringLiteral("server.member.left"), data, {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    authed(QStringLiteral("/v1/member/role"), Method::Post,
           [findMember](const QHttpServerRequest &request, const QString &, const FakeMember *me,
                        Events &events) {
               if (!me || me->role != QLatin1String("owner"))
                   return FakeReply::error(403, QStringLiteral("not_owner"));
               const QJsonObject body = jsonBody(request);
               const QString role = body.value(QStringLiteral("role")).toString();
               if (role != QLatin1String("admin") && role != QLatin1String("member"))
                   return FakeReply::error(400, QStringLiteral("invalid_role"));
               FakeMember *target = findMember(canonicalKeyText(body.value(QStringLiteral("pubkey")).toString()));
               if (!target)
                   return FakeReply::error(404, QStringLiteral("not_member"));
               if (target->role == QLatin1String("owner"))
                   return FakeReply::error(403, QStringLiteral("permission_denied"));
               target->role = role;
               events.push_back({QStringLiteral("server.member.role"),
                                 QJsonObject{{QStringLiteral("pubkey"), target->pubkey},
                                             {QStringLiteral("role"), role},
                                             {QStringLiteral("created_at"), nowSeconds()}},
                                 {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });

    // Joining: the request proves the key by a signed challenge, no token.
    m_http.addRoute(QStringLiteral("/v1/join/request"), Method::Post,
                    [this, findMember](const QHttpServerRequest &request) {
                        const QJsonObject body = jsonBody(request);
                        QString error;
                        if (m_auth.verify(body.value(QStringLiteral("pubkey")).toString(),
                                          body.value(QStringLiteral("challenge")).toString(),
                                          body.value(QStringLiteral("signature")).toString(),
                                          m_http.baseUrl(), &error)
                                .isEmpty())
                            return FakeReply::error(401, error);
                        const QString key = canonicalKeyText(body.value(QStringLiteral("pubkey")).toString());
                        Events events;
                        FakeReply reply;
                        {
                            QMutexLocker locker(&m_mutex);
                            if (m_blocked.contains(key)) {
                                reply = FakeReply::error(403, QStringLiteral("join_blocked"));
                            } else if (findMember(key)) {
                                reply = FakeReply::json(QJsonObject{{QStringLiteral("status"), QStringLiteral("already_member")}});
                            } else if (m_joinMode == QLatin1String("open")) {
                                FakeMember member;
                                member.pubkey = key;
                                member.role = QStringLiteral("member");
                                member.avatarUrl = body.value(QStringLiteral("avatar_url")).toString();
                                member.address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key));
                                m_members.append(member);
                                events.push_back({QStringLiteral("server.member.joined"), memberJson(member), {}});
                                reply = FakeReply::json(QJsonObject{{QStringLiteral("status"), QStringLiteral("joined")}});
                            } else {
                                JoinRequest *existing = nullptr;
                                for (JoinRequest &r : m_requests)
                                    if (r.pubkey == key)
                                        existing = &r;
                                if (!existing) {
                                    m_requests.append(JoinRequest{});
                                    existing = &m_requests.last();
                                }
                                existing->pubkey = key;
                                existing->note = body.value(QStringLiteral("note")).toString();
                                existing->avatarUrl = body.value(QStringLiteral("avatar_url")).toString();
                                existing->createdAt = nowSeconds();
                                existing->status = QStringLiteral("pending");
                                events.push_back({QStringLiteral("server.join_request"),
                                                  QJsonObject{{QStringLiteral("pubkey"), key},
                                                              {QStringLiteral("note"), existing->note},
                                                              {QStringLiteral("created_at"), existing->createdAt}},
                                                  managersLocked()});
                                reply = FakeReply::json(QJsonObject{{QStringLiteral("status"), QStringLiteral("pending")}});
                            }
                        }
                        for (const PendingEvent &event : events)
                            emitEvent(event.type, event.data, event.onlyTo);
                        return reply;
                    });

    authed(QStringLiteral("/v1/join/pending"), Method::Post,
           [this, denied](const QHttpServerRequest &, const QString &, const FakeMember *me, Events &) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               QJsonArray list;
               for (const JoinRequest &request : std::as_const(m_requests))
                   list.append(QJsonObject{{QStringLiteral("pubkey"), request.pubkey},
                                           {QStringLiteral("note"), request.note},
                                           {QStringLiteral("avatar_url"), request.avatarUrl},
                                           {QStringLiteral("created_at"), request.createdAt},
                                           {QStringLiteral("status"), request.status}});
               return FakeReply::json(QJsonObject{{QStringLiteral("requests"), list}});
           });

    for (const QString &action : {QStringLiteral("approve"), QStringLiteral("reject"), QStringLiteral("block")}) {
        authed(QStringLiteral("/v1/join/") + action, Method::Post,
               [this, action, findMember, denied](const QHttpServerRequest &request, const QString &,
                                                  const FakeMember *me, Events &events) {
                   if (!me || !isManagerRole(me->role))
                       return denied;
                   const QString key = canonicalKeyText(jsonBody(request).value(QStringLiteral("pubkey")).toString());
                   if (key.isEmpty())
                       return FakeReply::error(400, QStringLiteral("invalid_pubkey"));
                   JoinRequest *pending = nullptr;
                   for (JoinRequest &r : m_requests)
                       if (r.pubkey == key && r.status == QLatin1String("pending"))
                           pending = &r;
                   if (!pending && action != QLatin1String("block"))
                       return FakeReply::error(404, QStringLiteral("no_pending_request"));
                   QString status;
                   if (action == QLatin1String("approve")) {
                       status = QStringLiteral("approved");
                       if (!findMember(key)) {
                           FakeMember member;
                           member.pubkey = key;
                           member.role = QStringLiteral("member");
                           member.avatarUrl = pending->avatarUrl;
                           member.address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key));
                           m_members.append(member);
                           events.push_back({QStringLiteral("server.member.joined"), memberJson(member), {}});
                       }
                   } else if (action == QLatin1String("reject")) {
                       status = QStringLiteral("rejected");
                   } else {
                       status = QStringLiteral("blocked");
                       m_blocked.insert(key);
                   }
                   if (pending)
                       pending->status = status;
                   QSet<QString> audience = managersLocked();
                   audience.insert(key);
                   events.push_back({QStringLiteral("server.join_resolved"),
                                     QJsonObject{{QStringLiteral("pubkey"), key},
                                                 {QStringLiteral("status"), status}},
                                     audience});
                   return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                                      {QStringLiteral("status"), status}});
               });
    }

    // Messages.
    authed(QStringLiteral("/v1/message/pull"), Method::Post,
           [this, notMember](const QHttpServerRequest &request, const QString &caller,
                             const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               const QJsonObject body = jsonBody(request);
               const qint64 since = body.value(QStringLiteral("since_seq")).toVariant().toLongLong();
               int limit = body.value(QStringLiteral("limit")).toInt(100);
               limit = qBound(1, limit, 500);
               const QByteArray readerKey = velmor::crypto::base64UrlDecode(caller);
               QJsonArray list;
               for (const FakeStoredMessage &message : std::as_const(m_messages)) {
                   if (message.seq <= since)
                       continue;
                   if (list.size() >= limit)
                       break;
                   QJsonObject content = message.content;
                   if (m_mediaByReference) {
                       for (const char *key : {"imageB64", "image_b64", "voiceB64", "voice_b64"})
                           content.remove(QLatin1String(key));
                   }
                   QJsonObject entry{{QStringLiteral("seq"), message.seq},
                                     {QStringLiteral("message_id"), message.messageId},
                                     {QStringLiteral("sender_pubkey"), message.senderPubkey},
                                     {QStringLiteral("type"), message.type},
                                     {QStringLiteral("created_at"), message.createdAt}};
                   if (!message.event.isEmpty())
                       entry.insert(QStringLiteral("event"), message.event);
                   if (message.plainContent)
                       entry.insert(QStringLiteral("content"), content);
                   else
                       entry.insert(QStringLiteral("enc_content"),
                                    Ecies::seal(readerKey, QJsonDocument(content).toJson(QJsonDocument::Compact)));
                   list.append(entry);
               }
               return FakeReply::json(QJsonObject{{QStringLiteral("messages"), list}});
           });

    auto readReply = [this](const FakeMember &member) {
        const qint64 last = m_messages.isEmpty() ? 0 : m_messages.last().seq;
        return FakeReply::json(QJsonObject{{QStringLiteral("last_read_seq"), member.lastReadSeq},
                                           {QStringLiteral("unread"), qMax<qint64>(0, last - member.lastReadSeq)}});
    };
    authed(QStringLiteral("/v1/message/read"), Method::Get,
           [readReply, notMember](const QHttpServerRequest &, const QString &, const FakeMember *me, Events &) {
               return me ? readReply(*me) : notMember;
           });
    authed(QStringLiteral("/v1/message/read"), Method::Post,
           [this, findMember, readReply, notMember](const QHttpServerRequest &request, const QString &caller,
                                                    const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               FakeMember *self = findMember(caller);
               const qint64 last = m_messages.isEmpty() ? 0 : m_messages.last().seq;
               const qint64 wanted = jsonBody(request).value(QStringLiteral("last_read_seq")).toVariant().toLongLong();
               self->lastReadSeq = qMax(self->lastReadSeq, qMin(wanted, last));
               return readReply(*self);
           });

    authed(QStringLiteral("/v1/message/send"), Method::Post,
           [this, notMember](const QHttpServerRequest &request, const QString &caller,
                             const FakeMember *me, Events &events) {
               if (!me)
                   return notMember;
               if (m_allMuted && !isManagerRole(me->role))
                   return FakeReply::error(403, QStringLiteral("all_muted"));
               const QJsonObject body = jsonBody(request);
               const QString messageId = body.value(QStringLiteral("message_id")).toString();
               if (messageId.isEmpty())
                   return FakeReply::error(400, QStringLiteral("invalid_message_id"));
               for (const FakeStoredMessage &message : std::as_const(m_messages))
                   if (message.messageId == messageId) // a repeated send is stored once
                       return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                                          {QStringLiteral("seq"), message.seq}});
               const QByteArray plain = Ecies::open(body.value(QStringLiteral("enc_content")).toString(),
                                                    m_serverKey.privateKey);
               const QJsonDocument document = QJsonDocument::fromJson(plain);
               if (plain.isEmpty() || !document.isObject())
                   return FakeReply::error(400, QStringLiteral("invalid_content"));
               FakeStoredMessage message;
               message.seq = m_messages.isEmpty() ? 1 : m_messages.last().seq + 1;
               message.messageId = messageId;
               message.senderPubkey = caller;
               message.content = document.object();
               message.type = body.value(QStringLiteral("type")).toString();
               if (message.type.isEmpty())
                   message.type = message.content.value(QStringLiteral("type")).toString();
               message.createdAt = nowSeconds();
               const QByteArray image = velmor::crypto::base64UrlDecode(
                   message.content.value(QStringLiteral("imageB64")).toString());
               if (!image.isEmpty())
                   m_images.insert(messageId, image);
               const QByteArray voice = velmor::crypto::base64UrlDecode(
                   message.content.value(QStringLiteral("voiceB64")).toString());
               if (!voice.isEmpty())
                   m_voices.insert(messageId, voice);
               m_messages.append(message);
               events.push_back({QStringLiteral("server.inbox.new"),
                                 QJsonObject{{QStringLiteral("seq"), message.seq},
                                             {QStringLiteral("message_id"), messageId}},
                                 {}});
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                                  {QStringLiteral("seq"), message.seq}});
           });

    auto mediaRoute = [this, authed, notMember](const QString &path, QHash<QString, QByteArray> FakeGroupServer::*store) {
        authed(path, Method::Get,
               [this, store, notMember](const QHttpServerRequest &request, const QString &,
                                        const FakeMember *me, Events &) {
                   if (!me)
                       return notMember;
                   const QString id = request.query().queryItemValue(QStringLiteral("message_id"),
                                                                     QUrl::FullyDecoded);
                   const QByteArray bytes = (this->*store).value(id);
                   if (bytes.isEmpty())
                       return FakeReply::error(404, QStringLiteral("not_found"));
                   return FakeReply{200, bytes, "application/octet-stream"};
               });
    };
    mediaRoute(QStringLiteral("/v1/image/get"), &FakeGroupServer::m_images);
    mediaRoute(QStringLiteral("/v1/voice/get"), &FakeGroupServer::m_voices);

    // Voice room.
    auto ownerKey = [this]() {
        for (const FakeMember &member : std::as_const(m_members))
            if (member.role == QLatin1String("owner"))
                return member.pubkey;
        return QString();
    };
    authed(QStringLiteral("/v1/voice/status"), Method::Get,
           [this, ownerKey, notMember](const QHttpServerRequest &, const QString &, const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               QJsonArray speakers;
               for (const QString &key : std::as_const(m_speakers))
                   speakers.append(key);
               return FakeReply::json(QJsonObject{
                   {QStringLiteral("open"), m_voiceOpen},
                   {QStringLiteral("can_open"), m_voiceEnabled && isManagerRole(me->role)},
                   {QStringLiteral("owner_pubkey"), ownerKey()},
                   {QStringLiteral("opener_pubkey"), m_voiceOpener},
                   {QStringLiteral("url"), m_voiceOpen ? m_mediaUrl : QString()},
                   {QStringLiteral("room"), m_voiceOpen ? QStringLiteral("room-") + m_groupId : QString()},
                   {QStringLiteral("speakers"), speakers}});
           });
    authed(QStringLiteral("/v1/voice/open"), Method::Post,
           [this, denied](const QHttpServerRequest &, const QString &caller, const FakeMember *me, Events &events) {
               if (!me || !isManagerRole(me->role))
                   return denied;
               if (!m_voiceEnabled)
                   return FakeReply::json(QJsonObject{{QStringLiteral("ok"), false},
                                                      {QStringLiteral("error"), QStringLiteral("voice_disabled")}});
               if (!m_voiceOpen) {
                   m_voiceOpen = true;
                   m_voiceOpener = caller;
                   m_speakers.clear();
                   events.push_back({QStringLiteral("server.voice.opened"),
                                     QJsonObject{{QStringLiteral("pubkey"), caller},
                                                 {QStringLiteral("created_at"), nowSeconds()}},
                                     {}});
               }
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });
    authed(QStringLiteral("/v1/voice/token"), Method::Post,
           [this, ownerKey, notMember](const QHttpServerRequest &, const QString &caller, const FakeMember *me, Events &) {
               if (!me)
                   return notMember;
               if (!m_voiceOpen)
                   return FakeReply::error(409, QStringLiteral("voice_not_open"));
               const bool canPublish = me->role == QLatin1String("owner") || caller == m_voiceOpener
                   || m_speakers.contains(caller);
               return FakeReply::json(QJsonObject{
                   {QStringLiteral("url"), m_mediaUrl},
                   {QStringLiteral("token"), QStringLiteral("lk-")
                        + velmor::crypto::base64UrlEncode(velmor::crypto::randomBytes(12))},
                   {QStringLiteral("room"), QStringLiteral("room-") + m_groupId},
                   {QStringLiteral("can_publish"), canPublish},
                   {QStringLiteral("owner_pubkey"), ownerKey()},
                   {QStringLiteral("opener_pubkey"), m_voiceOpener}});
           });
    authed(QStringLiteral("/v1/voice/close"), Method::Post,
           [this, denied](const QHttpServerRequest &, const QString &caller, const FakeMember *me, Events &events) {
               if (!me || (me->role != QLatin1String("owner") && caller != m_voiceOpener))
                   return denied;
               if (m_voiceOpen) {
                   m_voiceOpen = false;
                   m_voiceOpener.clear();
                   m_speakers.clear();
                   events.push_back({QStringLiteral("server.voice.closed"),
                                     QJsonObject{{QStringLiteral("pubkey"), caller},
                                                 {QStringLiteral("created_at"), nowSeconds()}},
                                     {}});
               }
               return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
           });
    for (const bool grant : {true, false}) {
        authed(grant ? QStringLiteral("/v1/voice/grant") : QStringLiteral("/v1/voice/revoke"), Method::Post,
               [this, grant, findMember, denied](const QHttpServerRequest &request, const QString &caller,
                                                 const FakeMember *me, Events &events) {
                   if (!me || (me->role != QLatin1String("owner") && caller != m_voiceOpener))
                       return denied;
                   if (!m_voiceOpen)
                       return FakeReply::error(409, QStringLiteral("voice_not_open"));
                   const QString key = canonicalKeyText(jsonBody(request).value(QStringLiteral("pubkey")).toString());
                   if (!findMember(key))
                       return FakeReply::error(404, QStringLiteral("not_member"));
                   if (grant)
                       m_speakers.insert(key);
                   else
                       m_speakers.remove(key);
                   events.push_back({grant ? QStringLiteral("server.voice.grant") : QStringLiteral("server.voice.revoke"),
                                     QJsonObject{{QStringLiteral("pubkey"), key}}, {}});
                   return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
               });
    }

    m_http.setWebSocket(QStringLiteral("/v1/ws"), [this](QWebSocket *socket) { onSocket(socket); });
}

} // namespace velmor::fakes
