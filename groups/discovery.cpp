#include "groups/discovery.h"

#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "net/http.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/supergroup_client.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;

namespace {

DiscoveryResult failed(const QString &word, int kind = DiscoveryResult::Invalid)
{
    DiscoveryResult result;
    result.ok = false;
    result.kind = kind;
    result.error = word;
    return result;
}

QString stringOf(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// A super-group link is an http(s) URL with a host, after an optional
// prefix in any letter case. It is read through QUrl first so that one
// server has one form (the host in lower case) for the store to look up.
QString superGroupUrl(const QString &text)
{
    QString rest = text;
    const QLatin1String prefix(kSuperGroupLinkPrefix);
    if (rest.startsWith(prefix, Qt::CaseInsensitive))
        rest = rest.mid(prefix.size()).trimmed();
    const QUrl url(rest, QUrl::StrictMode);
    if (!url.isValid())
        return QString();
    return velmor::net::normaliseBaseUrl(url.toString());
}

DiscoveryResult resolveSuperGroup(const QString &serverUrl, ChatStore *store)
{
    QString authError;
    const velmor::net::HttpResponse reply = velmor::sg::SuperGroupServiceClient::instance().getJson(
        serverUrl, QStringLiteral("/v1/group/info"), &authError, kDiscoveryTimeoutMs);
    if (!authError.isEmpty() || !reply.success) {
        qWarning().noquote() << "[SG] discovery: group info failed url=" << serverUrl
                             << "status=" << reply.status << "err=" << (authError.isEmpty() ? reply.error : authError);
        return failed(QStringLiteral("supergroup_unreachable"), DiscoveryResult::SuperGroup);
    }
    const QJsonObject info = reply.json();
    const QString groupId = stringOf(info, "group_id");
    if (groupId.isEmpty())
        return failed(QStringLiteral("invalid_supergroup_response"), DiscoveryResult::SuperGroup);
    DiscoveryResult result;
    result.ok = true;
    result.kind = DiscoveryResult::SuperGroup;
    result.serverUrl = serverUrl;
    result.groupId = groupId;
    result.groupName = stringOf(info, "name");
    result.groupAvatar = stringOf(info, "avatar_url");
    result.joinMode = stringOf(info, "join_mode");
    result.ownerPublicKey = stringOf(info, "owner_pubkey");
    result.ownerEncryptionKey = stringOf(info, "server_enc_pubkey");
    result.memberCount = qMax(0, info.value(QStringLiteral("member_count")).toInt());
    if (store && store->isOpen()) {
        if (const auto stored = store->superGroup(serverUrl))
            result.groupKind = stored->group_kind;
    }
    return result;
}

DiscoveryResult resolveJoinKey(const QString &joinKey)
{
    const velmor::net::HttpResponse reply = RelayApi::authorizedGet(
        QStringLiteral("/v1/group/join/resolve?join_key=")
            + QString::fromLatin1(QUrl::toPercentEncoding(joinKey)),
        kDiscoveryTimeoutMs);
    const QJsonObject body = reply.json();
    const QString code = stringOf(body, "error");
    if (reply.status == 404)
        return failed(QStringLiteral("group_not_found"), DiscoveryResult::NormalGroup);
    if (code == QLatin1String("group_private"))
        return failed(QStringLiteral("group_private"), DiscoveryResult::NormalGroup);
    if (!reply.success)
        return failed(QStringLiteral("group_lookup_failed"), DiscoveryResult::NormalGroup);
    // The relay only keeps what the group's admin key signed: a record that
    // does not verify, or names another join key, is not this group.
    const std::optional<GroupRegistryRecord> record = verifyRegistryRecord(
        stringOf(body, "record").toUtf8(), stringOf(body, "signature"), joinKey);
    if (!record)
        return failed(QStringLiteral("invalid_group_response"), DiscoveryResult::NormalGroup);
    if (record->visibility != QLatin1String("public"))
        return failed(QStringLiteral("group_private"), DiscoveryResult::NormalGroup);
    DiscoveryResult result;
    result.ok = true;
    result.kind = DiscoveryResult::NormalGroup;
    result.joinKey = joinKey;
    result.groupId = record->groupId;
    result.groupName = record->name;
    result.groupAvatar = record->avatarId;
    result.ownerPublicKey = record->ownerPublicKey;
    result.ownerEncryptionKey = record->ownerPublicKey;
    result.visibility = record->visibility;
    result.memberCount = record->memberCount;
    return result;
}

bool isContact(ChatStore *store, const QString &canonicalKey, const QString &givenKey)
{
    if (!store || !store->isOpen())
        return false;
    return store->contact(canonicalKey).has_value()
        || (givenKey != canonicalKey && store->contact(givenKey).has_value());
}

DiscoveryResult resolveAddress(const QString &address, ChatStore *store)
{
    const velmor::net::HttpResponse reply = RelayApi::authorizedGet(
        QStringLiteral("/v1/user/resolve-address?address=") + address, kDiscoveryTimeoutMs);
    if (reply.status == 404)
        return failed(QStringLiteral("address_not_found"), DiscoveryResult::User);
    if (!reply.success)
        return failed(QStringLiteral("address_lookup_failed"), DiscoveryResult::User);
    const QJsonObject body = reply.json();
    if (body.isEmpty())
        return failed(QStringLiteral("address_lookup_failed"), DiscoveryResult::User);
    const QString keyText = stringOf(body, "public_key").trimmed();
    if (keyText.isEmpty())
        return failed(QStringLiteral("address_not_found"), DiscoveryResult::User);
    const QString key = canonicalMemberKey(keyText);
    if (key.isEmpty())
        return failed(QStringLiteral("invalid_public_key"), DiscoveryResult::User);
    // The relay's word is not trusted: the key must hash to the address asked for.
    const QString derived = velmor::identity::ethereumAddress(base64UrlDecode(key));
    if (derived.compare(address, Qt::CaseInsensitive) != 0)
        return failed(QStringLiteral("wallet_address_mismatch"), DiscoveryResult::User);
    DiscoveryResult result;
    result.ok = true;
    result.kind = DiscoveryResult::User;
    result.address = derived;
    result.publicKey = key;
    result.avatarKind = stringOf(body, "avatar_kind");
    result.avatarId = stringOf(body, "avatar_id");
    result.existingContact = isContact(store, key, keyText);
    return result;
}

} // namespace

DiscoveryResult discover(const QString &text)
{
    return discover(text, DiscoveryContext());
}

DiscoveryResult discover(const QString &textIn, const DiscoveryContext &context)
{
    const QString text = textIn.trimmed();
    if (text.isEmpty())
        return failed(QStringLiteral("empty_input"));
    const velmor::identity::Identity identity =
        context.identity ? *context.identity : velmor::net::RelayAuthSession::instance().identity();
    ChatStore *store = context.store ? context.store : &ChatStore::instance();

    const QString serverUrl = superGroupUrl(text);
    if (!serverUrl.isEmpty())
        return resolveSuperGroup(serverUrl, store);

    // Only the super-group prefix is read in any letter case; a join link
    // is written exactly as the group info shows it.
    const QLatin1String groupPrefix(kNormalGroupLinkPrefix);
    if (text.startsWith(groupPrefix)) {
        const QString joinKey = text.mid(groupPrefix.size()).trimmed();
        if (joinKey.isEmpty())
            return failed(QStringLiteral("invalid_join_key"), DiscoveryResult::NormalGroup);
        // Any other key is for the relay to know or not; the record it
        // returns must carry exactly this key either way.
        return resolveJoinKey(joinKey);
    }

    static const QRegularExpression addressPattern(QStringLiteral("^0x[0-9a-fA-F]{40}$"));
    if (addressPattern.match(text).hasMatch()) {
        if (identity.isValid() && identity.erc20Address().compare(text, Qt::CaseInsensitive) == 0)
            return failed(QStringLiteral("self_add"), DiscoveryResult::User);
        return resolveAddress(text, store);
    }

    const QByteArray keyBytes = base64UrlDecode(text);
    if (keyBytes.size() != 33 && keyBytes.size() != 65)
        return failed(QStringLiteral("unsupported_input"));
    const QString key = canonicalMemberKey(text);
    if (key.isEmpty())
        return failed(QStringLiteral("invalid_public_key"), DiscoveryResult::User);
    if (identity.isValid() && identity.publicKeyText() == key)
        return failed(QStringLiteral("self_add"), DiscoveryResult::User);
    DiscoveryResult result;
    result.ok = true;
    result.kind = DiscoveryResult::User;
    result.publicKey = key;
    result.address = velmor::identity::ethereumAddress(keyBytes);
    if (!store->isOpen())
        return result;
    // One read of the contact gives both the answer and its avatar.
    if (const auto contact = store->contact(key)) {
        result.existingContact = true;
        result.avatarKind = contact->avatar_kind;
        result.avatarId = contact->avatar_id;
    } else {
        result.existingContact = text != key && store->contact(text).has_value();
    }
    return result;
}

} // namespace velmor::chat
