// Several users in one test process: each has an identity, a store file and
// a group registry of its own. `use` makes one of them the signed-in user
// (relay session and store owner), as a sign-in would.
#pragma once

#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QDir>
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
// acknowledges those it did not refuse or refused for good, and then sends
// what they called for (as the chat controller does).
inline QList<Received> pullAndHandle(User &user)
{
    QList<Received> out;
    QList<velmor::chat::GroupFollowUp> followUps;
    QStringList ack;
    for (const velmor::chat::RawEnvelope &envelope : velmor::chat::RelayApi::pull()) {
        Received received;
        received.envelope = envelope;
        if (envelope.valid)
            received.result = velmor::chat::handleGroupMessage(*user.registry, envelope.ciphertext,
                                                               envelope.senderPubkey);
        else
            received.result.error = envelope.rejectReason;
        if (received.result.error.isEmpty() || received.result.discard)
            ack.append(envelope.messageId);
        followUps += received.result.followUps;
        out.append(received);
    }
    if (!ack.isEmpty())
        velmor::chat::RelayApi::ack(ack);
    velmor::chat::runFollowUps(followUps);
    return out;
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

} // namespace grouptest
