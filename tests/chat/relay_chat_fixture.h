// Several users of the Chat object talking through the local relay, one
// signed in at a time as on a shared machine: `as` signs a user in with a
// fresh, started controller; `receiveGroupTraffic` hands the user's inbox to
// the group engine and acknowledges what it took, as the inbox does.
#pragma once

#include "chat_test_support.h"

#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "net/relay_api.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QtTest>

namespace chattest {

class RelayChatFixture : protected ChatFixture
{
protected:
    velmor::fakes::FakeRelay m_relay;
    std::unique_ptr<velmor::fakes::FakeRelayGroups> m_groups;
    User m_alice, m_bob, m_carol, m_dave;

    // Users with the secret bytes first, first + 1, … ; false when the
    // relay does not start.
    bool startRelay(char firstSecret)
    {
        if (!m_dir.isValid())
            return false;
        m_groups = std::make_unique<velmor::fakes::FakeRelayGroups>(m_relay);
        if (m_relay.start() == 0)
            return false;
        int i = 0;
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave}) {
            static const char *names[] = {"alice", "bob", "carol", "dave"};
            *user = makeUser(QString::fromLatin1(names[i]), char(firstSecret + i));
            m_relay.markSeen(user->key());
            ++i;
        }
        return true;
    }
    void stopRelay()
    {
        m_chat.reset();
        signOut();
        m_relay.stop();
    }

    void as(const User &user)
    {
        m_chat.reset();
        signOut();
        QVERIFY(signIn(user, m_relay.baseUrl()));
        m_chat = makeController();
        m_chat->start();
        // The first pull (and what it brought) is in.
        settle();
    }

    // Until every background job of the controller has come back.
    void settle()
    {
        QVERIFY(QTest::qWaitFor([this] { return m_chat->pendingJobs() == 0; }, 15000));
    }

    // What is left in the inbox after the controller's own pull; the texts
    // of the group messages read.
    static QStringList receiveGroupTraffic()
    {
        QStringList texts, ack;
        for (const velmor::chat::RawEnvelope &envelope : velmor::chat::RelayApi::pull()) {
            if (!envelope.valid)
                continue;
            const velmor::chat::GroupInboundResult result = velmor::chat::handleGroupMessage(
                velmor::chat::GroupRegistry::instance(), envelope.ciphertext, envelope.senderPubkey);
            if (!result.error.isEmpty())
                continue;
            ack.append(envelope.messageId);
            if (result.hasMessage && result.contentType == QLatin1String("text"))
                texts.append(result.text);
        }
        if (!ack.isEmpty())
            velmor::chat::RelayApi::ack(ack);
        return texts;
    }

    // The texts of a group's stored messages and of those still in the inbox.
    static QStringList groupTexts(const QString &groupId)
    {
        QStringList texts = receiveGroupTraffic();
        for (const velmor::chat::MessageRecord &m : ChatStore::instance().messages(QStringLiteral("group:") + groupId))
            texts.append(m.text);
        return texts;
    }
};

} // namespace chattest
