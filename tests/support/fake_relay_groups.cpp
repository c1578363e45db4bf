#include "support/fake_relay_groups.h"

#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QUrlQuery>

namespace velmor::fakes {

namespace {

using Method = QHttpServerRequest::Method;

velmor::identity::Envelope envelopeOf(const QJsonObject &json)
{
    velmor::identity::Envelope envelope;
    envelope.messageId = stringField(json, "message_id");
    envelope.senderPubkey = stringField(json, "sender_pubkey");
    envelope.recipientPubkey = stringField(json, "recipient_pubkey");
    envelope.senderAddress = stringField(json, "sender_address");
    envelope.createdAt = qint64(json.value(QStringLiteral("created_at")).toDouble());
    envelope.expiresAt = qint64(json.value(QStringLiteral("expires_at")).toDouble());
    envelope.ciphertext = stringField(json, "ciphertext");
    envelope.signature = stringField(json, "signature");
    return envelope;
}

QString queryValue(const QHttpServerRequest &request, const QString &key)
{
    return request.query().queryItemValue(key, QUrl::FullyDecoded);
}

} // namespace

FakeRelayGroups::FakeRelayGroups(FakeRelay &relay) : m_relay(relay)
{
    FakeHttpServer &http = relay.http();
    http.addRoute(QStringLiteral("/v1/group/fanout"), Method::Post,
                  [this](const QHttpServerRequest &r) { return handleFanout(r); });
    http.addRoute(QStringLiteral("/v1/group/registry/register"), Method::Post,
                  [this](const QHttpServerRequest &r) { return handleRegister(r, false); });
    http.addRoute(QStringLiteral("/v1/group/registry/visibility"), Method::Post,
                  [this](const QHttpServerRequest &r) { return handleRegister(r, true); });
    http.addRoute(QStringLiteral("/v1/group/join/resolve"), Method::Get,
                  [this](const QHttpServerRequest &r) { return handleResolveJoin(r); });
    http.addRoute(QStringLiteral("/v1/user/resolve-address"), Method::Get,
                  [this](const QHttpServerRequest &r) { return handleResolveAddress(r); });
}

void FakeRelayGroups::addUser(const QString &publicKeyText, const QString &avatarKind,
                              const QString &avatarId)
{
    const QString key = canonicalKeyText(publicKeyText);
    const QString address =
        velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key)).toLower();
    if (address.isEmpty())
        return;
    QMutexLocker locker(&m_mutex);
    m_users.insert(address, User{key, avatarKind, avatarId});
}

void FakeRelayGroups::setKnowsSignedInUsers(bool knows)
{
    QMutexLocker locker(&m_mutex);
    m_knowsSignedInUsers = knows;
}

void FakeRelayGroups::setAddressAnswer(const QString &address, const QString &publicKeyText)
{
    QMutexLocker locker(&m_mutex);
    m_users.insert(address.toLower(), User{publicKeyText, QString(), QString()});
}

void FakeRelayGroups::putRecord(const QString &joinKey, const QString &recordText,
                                const QString &signature)
{
    QJsonParseError error{};
    const QJsonObject record = QJsonDocument::fromJson(recordText.toUtf8(), &error).object();
    QMutexLocker locker(&m_mutex);
    m_records.insert(joinKey, Record{stringField(record, "groupId"), recordText, signature,
                                     stringField(record, "visibility"),
                                     qint64(record.value(QStringLiteral("epoch")).toDouble()),
                                     qint64(record.value(QStringLiteral("updatedAt")).toDouble())});
}

int FakeRelayGroups::fanoutCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_fanouts;
}

int FakeRelayGroups::fanoutCountFrom(const QString &senderKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_fanoutsBy.value(canonicalKeyText(senderKey));
}

QJsonObject FakeRelayGroups::lastFanout() const
{
    QMutexLocker locker(&m_mutex);
    return m_lastFanout;
}

QStringList FakeRelayGroups::lastFanoutRecipients() const
{
    QMutexLocker locker(&m_mutex);
    return m_lastRecipients;
}

bool FakeRelayGroups::hasRecord(const QString &joinKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_records.contains(joinKey);
}

QString FakeRelayGroups::recordText(const QString &joinKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_records.value(joinKey).text;
}

QString FakeRelayGroups::recordSignature(const QString &joinKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_records.value(joinKey).signature;
}

QString FakeRelayGroups::visibility(const QString &joinKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_records.value(joinKey).visibility;
}

FakeReply FakeRelayGroups::handleFanout(const QHttpServerRequest &request)
{
    const QString owner = m_relay.auth().ownerOfRequest(request);
    if (owner.isEmpty())
        return FakeReply::error(401, QStringLiteral("unauthorized"));
    bool ok = false;
    const QJsonObject body = jsonBody(request, &ok);
    const QJsonValue list = body.value(QStringLiteral("envelopes"));
    if (!ok || stringField(body, "group_id").isEmpty() || !list.isArray() || list.toArray().isEmpty())
        return FakeReply::error(400, QStringLiteral("invalid_fanout"));
    // All or nothing: every envelope is checked before any is queued.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<QPair<QString, QJsonObject>> deliveries;
    for (const QJsonValue &value : list.toArray()) {
        const QJsonObject envelope = value.toObject();
        if (canonicalKeyText(stringField(envelope, "sender_pubkey")) != owner)
            return FakeReply::error(403, QStringLiteral("sender_mismatch"));
        const QString recipient = canonicalKeyText(stringField(envelope, "recipient_pubkey"));
        if (recipient.isEmpty())
            return FakeReply::error(400, QStringLiteral("invalid_recipient"));
        if (!velmor::identity::validateEnvelope(envelopeOf(envelope), now).valid)
            return FakeReply::error(400, QStringLiteral("invalid_envelope"));
        deliveries.append({recipient, envelope});
    }
    QStringList recipients;
    for (const auto &delivery : std::as_const(deliveries)) {
        m_relay.enqueueRaw(delivery.first, delivery.second);
        recipients.append(delivery.first);
    }
    {
        QMutexLocker locker(&m_mutex);
        m_fanouts += 1;
        m_fanoutsBy[owner] += 1;
        m_lastFanout = body;
        m_lastRecipients = recipients;
    }
    return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                       {QStringLiteral("message_id"), stringField(body, "message_id")},
                                       {QStringLiteral("delivered"), int(deliveries.size())}});
}

FakeReply FakeRelayGroups::handleRegister(const QHttpServerRequest &request, bool visibilityOnly)
{
    if (m_relay.auth().ownerOfRequest(request).isEmpty())
        return FakeReply::error(401, QStringLiteral("unauthorized"));
    bool ok = false;
    const QJsonObject body = jsonBody(request, &ok);
    if (!ok)
        return FakeReply::error(400, QStringLiteral("invalid_json"));
    const QString joinKey = stringField(body, "join_key");
    const QString text = stringField(body, "record");
    const QString signature = stringField(body, "signature");
    QJsonParseError error{};
    const QJsonObject record = QJsonDocument::fromJson(text.toUtf8(), &error).object();
    if (error.error != QJsonParseError::NoError || stringField(record, "joinKey") != joinKey
        || stringField(record, "groupId") != stringField(body, "group_id") || stringField(record, "groupId").isEmpty())
        return FakeReply::error(400, QStringLiteral("invalid_record"));
    const QByteArray keyBytes = velmor::crypto::base64UrlDecode(joinKey);
    if (keyBytes.size() != 32
        || !velmor::crypto::ed25519Verify(keyBytes, text.toUtf8(),
                                          velmor::crypto::base64UrlDecode(signature)))
        return FakeReply::error(403, QStringLiteral("bad_signature"));
    const QString visibility = stringField(record, "visibility");
    if (visibility != QLatin1String("public") && visibility != QLatin1String("private"))
        return FakeReply::error(400, QStringLiteral("invalid_visibility"));
    QMutexLocker locker(&m_mutex);
    const auto it = m_records.constFind(joinKey);
    if (visibilityOnly && it == m_records.constEnd())
        return FakeReply::error(404, QStringLiteral("group_not_found"));
    if (it != m_records.constEnd() && it->groupId != stringField(record, "groupId"))
        return FakeReply::error(409, QStringLiteral("join_key_taken"));
    // Anyone may fetch a signed record and post it again: an older one (say,
    // "public" from before the owner hid the group) must not win.
    const qint64 epoch = qint64(record.value(QStringLiteral("epoch")).toDouble());
    const qint64 updatedAt = qint64(record.value(QStringLiteral("updatedAt")).toDouble());
    if (it != m_records.constEnd()
        && (epoch < it->epoch || (epoch == it->epoch && updatedAt < it->updatedAt)))
        return FakeReply::error(409, QStringLiteral("stale_record"));
    m_records.insert(joinKey, Record{stringField(record, "groupId"), text, signature, visibility, epoch, updatedAt});
    return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
}

FakeReply FakeRelayGroups::handleResolveJoin(const QHttpServerRequest &request)
{
    if (m_relay.auth().ownerOfRequest(request).isEmpty())
        return FakeReply::error(401, QStringLiteral("unauthorized"));
    const QString joinKey = queryValue(request, QStringLiteral("join_key"));
    QMutexLocker locker(&m_mutex);
    const auto it = m_records.constFind(joinKey);
    if (it == m_records.constEnd())
        return FakeReply::error(404, QStringLiteral("group_not_found"));
    if (it->visibility == QLatin1String("private"))
        return FakeReply::error(403, QStringLiteral("group_private"));
    return FakeReply::json(QJsonObject{{QStringLiteral("group_id"), it->groupId},
                                       {QStringLiteral("join_key"), joinKey},
                                       {QStringLiteral("record"), it->text},
                                       {QStringLiteral("signature"), it->signature}});
}

FakeReply FakeRelayGroups::handleResolveAddress(const QHttpServerRequest &request)
{
    if (m_relay.auth().ownerOfRequest(request).isEmpty())
        return FakeReply::error(401, QStringLiteral("unauthorized"));
    const QString address = queryValue(request, QStringLiteral("address")).toLower();
    bool knowsSignedIn = false;
    {
        QMutexLocker locker(&m_mutex);
        knowsSignedIn = m_knowsSignedInUsers && !m_users.contains(address);
    }
    if (knowsSignedIn) {
        for (const QString &key : m_relay.seenKeys())
            if (velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key)).toLower() == address)
                addUser(key);
    }
    QMutexLocker locker(&m_mutex);
    const auto it = m_users.constFind(address);
    if (it == m_users.constEnd())
        return FakeReply::error(404, QStringLiteral("address_not_found"));
    return FakeReply::json(QJsonObject{{QStringLiteral("address"), address},
                                       {QStringLiteral("public_key"), it->publicKey},
                                       {QStringLiteral("avatar_kind"), it->avatarKind},
                                       {QStringLiteral("avatar_id"), it->avatarId}});
}

} // namespace velmor::fakes
