// Several users in one test process: each has an identity, a store file and
// a group registry of its own. `use` makes one of them the signed-in user
// (relay session and store owner), as a sign-in would.
#pragma once

#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace grouptest {

struct User
{
    QString name;
    velmor::identity::Identity identity;
    QString dbPath;
    std::unique_ptr<velmor::chat::GroupRegistry> registry = std::make_unique<velmor::chat::GroupRegistry>();

    QString key() const { return identity.publicKeyText(); }
};

inline velmor::identity::Identity identityFromByte(char byte)
{
    return velmor::identity::Identity(QByteArray(32, byte));
}

inline void makeUser(User &user, const QString &name, char secretByte, const QTemporaryDir &dir)
{
    user.name = name;
    user.identity = identityFromByte(secretByte);
    user.dbPath = QDir(dir.path()).filePath(name + QStringLiteral(".db"));
}

inline bool use(User &user, const QString &relayUrl)
{
    velmor::net::RelayAuthSession::instance().configure(relayUrl, user.identity);
    return ChatStore::instance().open(user.key(), user.dbPath);
}

// What the group tests stand on: the local relay with its group routes, a
// temporary folder for the users' stores, and the users, each with a fixed
// secret.
class RelayFixture
{
protected:
    QTemporaryDir m_dir;
    velmor::fakes::FakeRelay m_relay;
    std::unique_ptr<velmor::fakes::FakeRelayGroups> m_groups;
    User m_alice, m_bob, m_carol, m_dave, m_eve, m_erin;

    // True when the folder is there and the relay listens.
    bool startRelay()
    {
        if (!m_dir.isValid())
            return false;
        m_groups = std::make_unique<velmor::fakes::FakeRelayGroups>(m_relay);
        makeUser(m_alice, QStringLiteral("alice"), 0x11, m_dir);
        makeUser(m_bob, QStringLiteral("bob"), 0x22, m_dir);
        makeUser(m_carol, QStringLiteral("carol"), 0x33, m_dir);
        makeUser(m_dave, QStringLiteral("dave"), 0x44, m_dir);
        makeUser(m_eve, QStringLiteral("eve"), 0x55, m_dir);
        makeUser(m_erin, QStringLiteral("erin"), 0x66, m_dir);
        return m_relay.start() != 0;
    }

    bool use(User &user) { return grouptest::use(user, m_relay.baseUrl()); }

    // Closes the store, signs out and stops the relay.
    void stopRelay()
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
        m_relay.stop();
    }
};

// One inbound envelope as the engine saw it.
struct Received
{
    velmor::chat::RawEnvelope envelope;
    velmor::chat::GroupInboundResult result;
};

// Pulls the signed-in user's inbox, hands every envelope to the engine,
// acknowledges those it did not refuse or refused for good (or set aside),
// reads again what was set aside and is readable now, and then sends what
// they called for (as the chat controller does).
inline QList<Received> pullAndHandle(velmor::chat::GroupRegistry &registry)
{
    QList<Received> out;
    QList<velmor::chat::GroupFollowUp> followUps;
    QStringList ack;
    const auto read = [&](QList<velmor::chat::RawEnvelope> envelopes, bool pulled) {
        const qsizetype fromRelay = pulled ? envelopes.size() : 0;
        for (qsizetype i = 0; i < envelopes.size(); ++i) {
            const velmor::chat::RawEnvelope envelope = envelopes.at(i);
            Received received;
            received.envelope = envelope;
            if (envelope.valid)
                received.result = velmor::chat::handleGroupMessage(registry, envelope);
            else
                received.result.error = envelope.rejectReason;
            if (i < fromRelay && (received.result.error.isEmpty() || received.result.discard))
                ack.append(envelope.messageId);
            followUps += received.result.followUps;
            envelopes += received.result.reopened; // read after the card that brought them back
            out.append(received);
        }
    };
    read(velmor::chat::RelayApi::pull(), true);
    read(velmor::chat::takeReadableParked(registry, ChatStore::instance().parkedGroupIds()), false);
    if (!ack.isEmpty())
        velmor::chat::RelayApi::ack(ack);
    velmor::chat::runFollowUps(followUps);
    return out;
}

inline QList<Received> pullAndHandle(User &user)
{
    return pullAndHandle(*user.registry);
}

// The inbox without handling or acknowledging anything.
inline QList<velmor::chat::RawEnvelope> peek()
{
    return velmor::chat::RelayApi::pull();
}

// Acknowledges the signed-in user's whole inbox unread: what a relay that
// drops (or withholds) those envelopes leaves the user with.
inline void dropInbox()
{
    QStringList ids;
    for (const velmor::chat::RawEnvelope &envelope : peek())
        ids.append(envelope.messageId);
    if (!ids.isEmpty())
        velmor::chat::RelayApi::ack(ids);
}

// Takes the signed-in user's envelopes that `pick` chooses out of its inbox
// (acknowledged unread), in their wire form, to put back later with
// FakeRelay::enqueueRaw: a relay that delays them.
template <typename Pick>
QList<QJsonObject> withholdFromInbox(const Pick &pick)
{
    QList<QJsonObject> held;
    QStringList ids;
    for (const velmor::chat::RawEnvelope &envelope : peek()) {
        if (!pick(envelope))
            continue;
        ids.append(envelope.messageId);
        held.append(QJsonObject{{"message_id", envelope.messageId},
                                {"sender_pubkey", envelope.senderPubkey},
                                {"recipient_pubkey", envelope.recipientPubkey},
                                {"sender_address", envelope.senderAddress},
                                {"created_at", double(envelope.createdAt)},
                                {"expires_at", double(envelope.expiresAt)},
                                {"ciphertext", envelope.ciphertext},
                                {"signature", envelope.signature}});
    }
    if (!ids.isEmpty())
        velmor::chat::RelayApi::ack(ids);
    return held;
}

inline QStringList errorsOf(const QList<Received> &received)
{
    QStringList errors;
    for (const Received &item : received)
        errors.append(item.result.error);
    return errors;
}

inline QStringList textsOf(const QList<Received> &received)
{
    QStringList texts;
    for (const Received &item : received)
        if (item.result.hasMessage)
            texts.append(item.result.text);
    return texts;
}

// `text` sealed by `writer` under its group key in `registry`, claiming card
// epoch `epoch` (true or not), as its client would write it; with `stamp`
// (a card's stamp as messages carry it) when given.
inline QString claimText(const velmor::chat::GroupRegistry &registry, const velmor::identity::Identity &writer,
                         const QString &group, qint64 epoch, const QString &text, const QJsonObject &stamp = {})
{
    using velmor::chat::canonicalJson;
    const velmor::chat::GroupCard card = *registry.card(group);
    const QByteArray groupKey =
        velmor::crypto::Ecies::open(registry.keyRing(group).value(card.keyEpoch), writer.privateKey);
    const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + group.toUtf8() + "|message|"
        + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(epoch);
    const QJsonObject plain{{"type", "text"}, {"text", text}, {"sender", writer.publicKeyText()}};
    QJsonObject outer{{"v", 1}, {"kind", "message"}, {"groupId", group}, {"keyEpoch", double(card.keyEpoch)},
                      {"epoch", double(epoch)},
                      {"box", velmor::crypto::GroupBox::seal(groupKey, canonicalJson(plain), context)}};
    if (!stamp.isEmpty())
        outer.insert("stamp", stamp);
    return QLatin1String(velmor::chat::kGroupMessagePrefix) + velmor::crypto::base64UrlEncode(canonicalJson(outer));
}

// Posts `ciphertext` signed by `sender` (signed in) into `recipientKey`'s inbox.
inline bool postSigned(const velmor::identity::Identity &sender, const QString &recipientKey,
                       const QString &ciphertext, const QString &id)
{
    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        sender, recipientKey, ciphertext, id, QDateTime::currentSecsSinceEpoch());
    return velmor::chat::RelayApi::authorizedPost(QStringLiteral("/v1/message/send"),
                                                  velmor::chat::RelayApi::envelopeToJson(envelope))
        .success;
}

// The group messages the signed-in user's store holds set aside.
struct Parked
{
    int rows = 0;
    qint64 bytes = 0;
    QHash<QString, qint64> bytesOf; // by writer
    QStringList ids;
};
inline Parked parkedNow()
{
    Parked out;
    velmor::chat::ChatStore &store = velmor::chat::ChatStore::instance();
    for (const QString &group : store.parkedGroupIds()) {
        for (const auto &row : store.parkedGroupMessages(group, velmor::chat::kCanonicalMaxInteger)) {
            ++out.rows;
            out.bytes += row.bytes;
            out.bytesOf[row.sender_raw_public_key] += row.bytes;
            out.ids.append(row.message_id);
        }
    }
    return out;
}

// A relay fixture with the steps most group tests take as one user or another.
class GroupFixture : public RelayFixture
{
protected:
    QList<Received> receive(User &user)
    {
        if (!use(user))
            return {};
        return pullAndHandle(user);
    }

    void dropInbox(User &user)
    {
        use(user);
        grouptest::dropInbox();
    }

    // A group of Alice with the given members, every invitation taken.
    QString groupOf(const QList<User *> &members, const QString &name)
    {
        use(m_alice);
        QStringList keys;
        for (const User *member : members)
            keys.append(member->key());
        const velmor::chat::GroupCreateResult created = velmor::chat::createGroup(*m_alice.registry, name, keys);
        if (!created.ok)
            return QString();
        for (User *member : members)
            receive(*member);
        return created.groupId;
    }
};

} // namespace grouptest
