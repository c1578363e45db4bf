// The inbox beyond plain texts, through the local relay: translation patches
// for messages already shown, stored rows that carry no digest, and normal
// groups: the invitation a first card makes, a later card that makes none,
// and the user's own group message coming back from another device.
#include "chat_fixture.h"

#include "chat/payloads.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"

#include <QJsonArray>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class InboxExtrasTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QStringList queued() const { return m_relay.queuedIds(m_bob.key()); }

    // A row of Bob's conversation with Alice (the conversation made when
    // missing); Bob's own message unless `fromAlice`.
    MessageRecord conversationRow(const QString &text, bool fromAlice = false)
    {
        ChatStore &store = ChatStore::instance();
        store.ensureDirectConversation(m_alice.key(), m_alice.key(), QStringLiteral("Alice"));
        MessageRecord row;
        row.id = newId();
        row.conversation_id = store.conversationIdFor(m_alice.key());
        row.peer_raw_public_key = m_alice.key();
        row.sender_raw_public_key = fromAlice ? m_alice.key() : m_bob.key();
        row.text = text;
        row.is_outgoing = !fromAlice;
        row.status = fromAlice ? MessageStatus::Received : MessageStatus::Sent;
        row.created_at = QDateTime::currentSecsSinceEpoch();
        return row;
    }

    // Bob's stored message to Alice, of the given kind.
    MessageRecord storeMine(const QString &contentType, const QString &text)
    {
        MessageRecord row = conversationRow(text);
        row.content_type = contentType;
        if (contentType == QLatin1String("voice"))
            row.attachment = payload::voicePayload(QStringLiteral("AAAA"), 1200, {1, 2, 3});
        else if (contentType == QLatin1String("image"))
            row.attachment = payload::imagePayload(QStringLiteral("AAAA"), QStringLiteral("image/jpeg"), 2, 2);
        ChatStore::instance().upsertMessage(row);
        return row;
    }

    // Switches the signed-in user; Bob gets a started controller.
    void become(const User &user)
    {
        endClient();
        QVERIFY(signInHere(user));
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }

    void init()
    {
        newUsers(0x51);
        m_relay.markSeen(m_alice.key());
        m_relay.markSeen(m_bob.key());
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
    }
    void cleanup()
    {
        // Nothing left queued for the next case, whoever is signed in now.
        endClient();
        if (signInHere(m_bob))
            RelayApi::ack(queued());
        signOut();
    }

    // A patch rewrites a shown text with its translation, the original kept
    // once however often it is translated; voice, pictures and unknown ids
    // stay as they are. Only Alice, the other side of the conversation, may
    // patch it: not Carol who learnt the id, not Alice once blocked, and not
    // through a group message whose id she knows. The patch is acknowledged
    // either way and never shown.
    void translationPatches_data()
    {
        QTest::addColumn<QString>("target");     // kind of the stored message, "none" for an unknown id
        QTest::addColumn<QString>("translated"); // the patch's translated text
        QTest::addColumn<QString>("text");       // the patch's plain text
        QTest::addColumn<QString>("patcher");    // "alice" or "carol"
        QTest::addColumn<bool>("blocked");       // Bob has blocked the patcher
        QTest::addColumn<QString>("shown");      // translation expected, empty: unchanged
        QTest::newRow("text") << "text" << "  Buenos días " << "" << "alice" << false << "Buenos días";
        QTest::newRow("translated again") << "textmeta" << "Guten Morgen" << "" << "alice" << false << "Guten Morgen";
        QTest::newRow("translation in the text field") << "text" << "" << "Ciao" << "alice" << false << "Ciao";
        QTest::newRow("blank translation") << "text" << "   " << "" << "alice" << false << "";
        QTest::newRow("voice clip") << "voice" << "Hola" << "" << "alice" << false << "";
        QTest::newRow("picture") << "image" << "Hola" << "" << "alice" << false << "";
        QTest::newRow("unknown id") << "none" << "Hola" << "" << "alice" << false << "";
        QTest::newRow("another conversation's message") << "text" << "pay to IBAN X" << "" << "carol" << false << "";
        QTest::newRow("blocked sender") << "text" << "pay to IBAN X" << "" << "alice" << true << "";
        QTest::newRow("group message") << "group" << "pay to IBAN X" << "" << "alice" << false << "";
    }
    void translationPatches()
    {
        QFETCH(QString, target);
        QFETCH(QString, translated);
        QFETCH(QString, text);
        QFETCH(QString, patcher);
        QFETCH(bool, blocked);
        QFETCH(QString, shown);
        const QString original = QStringLiteral("Good morning");
        const User &from = patcher == QLatin1String("carol") ? m_carol : m_alice;
        MessageRecord mine;
        if (target == QLatin1String("group")) {
            ChatStore::instance().ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("Hikers"));
            mine = conversationRow(original);
            mine.conversation_id = mine.peer_raw_public_key = QStringLiteral("group:g1");
            QVERIFY(ChatStore::instance().upsertMessage(mine));
        } else if (target == QLatin1String("text"))
            mine = storeMine(QStringLiteral("text"), original);
        else if (target == QLatin1String("textmeta"))
            mine = storeMine(QStringLiteral("text"),
                             payload::encodePrefixedJson(
                                 QLatin1String(payload::kTextMetaPrefix),
                                 {{QStringLiteral("text"), QStringLiteral("Bonjour")},
                                  {QStringLiteral("bridgeTranslation"),
                                   QJsonObject{{QStringLiteral("originalText"), original},
                                               {QStringLiteral("translatedText"), QStringLiteral("Bonjour")}}}}));
        else if (target == QLatin1String("voice"))
            mine = storeMine(QStringLiteral("voice"), QStringLiteral("[语音]"));
        else if (target == QLatin1String("image"))
            mine = storeMine(QStringLiteral("image"), QStringLiteral("[图片]"));
        else
            mine.id = newId();
        if (blocked) {
            ContactRecord contact;
            contact.wallet_public_key = from.key();
            contact.blocked = 1;
            QVERIFY(ChatStore::instance().upsertContact(contact));
        }
        startQuiet(*m_chat);
        m_chat->openConversation(m_alice.key());

        MessageContent patch;
        patch.type = QStringLiteral("bridge.translation.patch");
        patch.text = text;
        patch.bridgeTranslatedText = translated;
        patch.targetClientMessageId = mine.id;
        const QString patchId = newId();
        m_relay.enqueueRaw(m_bob.key(), envelopeJson(from, m_bob, patch, patchId));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        QSignalSpy reloaded(m_chat.get(), &ChatController::messagesChanged);

        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QVERIFY(queued().isEmpty());
        QVERIFY(!ChatStore::instance().messageExists(patchId));
        QCOMPARE(notices.count(), 0);
        QVERIFY(reloaded.count() >= 1);

        const auto after = ChatStore::instance().messageById(mine.id);
        if (target == QLatin1String("none")) {
            QVERIFY(!after);
            return;
        }
        QVERIFY(after);
        if (shown.isEmpty()) {
            QCOMPARE(after->text, mine.text);
            QCOMPARE(after->attachment, mine.attachment);
            return;
        }
        const QJsonObject meta = payload::decodePrefixedJson(after->text, QLatin1String(payload::kTextMetaPrefix));
        const QJsonObject translation = meta.value(QStringLiteral("bridgeTranslation")).toObject();
        QCOMPARE(meta.value(QStringLiteral("text")).toString(), original);
        QCOMPARE(translation.value(QStringLiteral("originalText")).toString(), original);
        QCOMPARE(translation.value(QStringLiteral("translatedText")).toString(), shown);
        QCOMPARE(translation.value(QStringLiteral("direction")).toString(), QStringLiteral("outbound"));
    }

    // A stored row without a digest (written before digests were kept) is
    // the same message offered again; a digest of other bytes is not, and
    // the envelope is dropped (acknowledged, the row left as it was).
    void storedRowsWithoutADigest_data()
    {
        QTest::addColumn<bool>("digestKept");
        QTest::addColumn<bool>("acknowledged");
        QTest::newRow("no digest stored") << false << true;
        QTest::newRow("another digest stored") << true << true;
    }
    void storedRowsWithoutADigest()
    {
        QFETCH(bool, digestKept);
        QFETCH(bool, acknowledged);
        startQuiet(*m_chat);
        ChatStore &store = ChatStore::instance();
        MessageRecord row = conversationRow(QStringLiteral("shown long ago"), true);
        row.content_digest = digestKept ? QStringLiteral("00ff") : QString();
        QVERIFY(store.upsertMessage(row));

        m_relay.enqueueRaw(m_bob.key(), envelopeJson(m_alice, m_bob, textContent(QStringLiteral("offered again")), row.id));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, acknowledged ? 1 : 0);
        QCOMPARE(queued().isEmpty(), acknowledged);
        QCOMPARE(store.messageById(row.id)->text, row.text);
        QCOMPARE(store.messages(row.conversation_id).size(), 1);
        QCOMPARE(notices.count(), 0);
    }

    // The relay offers a delivered envelope again, byte for byte, after
    // the user deleted what it brought: it is acknowledged, not stored and
    // not announced, also after a restart. The same id with other bytes is
    // still a collision: dropped, not stored.
    void replaysAfterADelete_data()
    {
        QTest::addColumn<QString>("removal"); // "clear" (the conversation deleted) or "none"
        QTest::addColumn<bool>("restart");
        QTest::addColumn<bool>("sameBytes");
        QTest::addColumn<bool>("acknowledged");
        QTest::newRow("cleared conversation") << "clear" << false << true << true;
        QTest::newRow("cleared, then restarted") << "clear" << true << true << true;
        QTest::newRow("cleared, other bytes under the id") << "clear" << false << false << true;
        QTest::newRow("still stored") << "none" << false << true << true;
    }
    void replaysAfterADelete()
    {
        QFETCH(QString, removal);
        QFETCH(bool, restart);
        QFETCH(bool, sameBytes);
        QFETCH(bool, acknowledged);
        startQuiet(*m_chat);
        const QString id = newId();
        const QJsonObject envelope = envelopeJson(m_alice, m_bob, textContent(QStringLiteral("see you at 5")), id);
        m_relay.enqueueRaw(m_bob.key(), envelope);
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QVERIFY(ChatStore::instance().messageExists(id));
        if (removal == QLatin1String("clear"))
            m_chat->deleteConversation(m_alice.key());
        if (restart) {
            endClient();
            QVERIFY(signInHere(m_bob));
            m_chat = makeController();
            startQuiet(*m_chat);
        }

        m_relay.enqueueRaw(m_bob.key(), sameBytes ? envelope
                                                  : envelopeJson(m_alice, m_bob, textContent(QStringLiteral("x")), id));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, acknowledged ? 1 : 0);
        QCOMPARE(ChatStore::instance().messageExists(id), removal == QLatin1String("none"));
        QCOMPARE(notices.count(), 0);
    }

    // Added to a group: the first card opens the conversation with one
    // handled invitation and one notice; a later card adds neither; a
    // message of the group is a notice of its own; the user's own message,
    // come back from another device, is shown as sent and raises nothing.
    void groupInvitationAndTheUsersOwnMessage()
    {
        become(m_alice);
        const GroupCreateResult created = createGroup(GroupRegistry::instance(), QStringLiteral("Hikers"), {m_bob.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString peer = QStringLiteral("group:") + created.groupId;
        const QStringList cards = m_relay.queuedIds(m_bob.key());
        QCOMPARE(cards.size(), 1);

        become(m_bob);
        m_chat = makeController();
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        startQuiet(*m_chat);
        QVERIFY(queued().isEmpty());
        QCOMPARE(notices.count(), 1);
        const auto invite = ChatStore::instance().notificationEvent(QStringLiteral("normal_invite:") + cards.first());
        QVERIFY(invite);
        QCOMPARE(invite->event_type, QStringLiteral("normal_invite"));
        QCOMPARE(invite->state, QStringLiteral("handled"));
        QCOMPARE(invite->group_kind, QStringLiteral("normal"));
        QCOMPARE(invite->group_name, QStringLiteral("Hikers"));
        QCOMPARE(invite->requester_public_key, m_alice.key());
        QVERIFY(ChatStore::instance().conversationByPeer(peer));

        // A renamed card and a message: the message alone is announced.
        become(m_alice);
        QVERIFY(renameGroup(GroupRegistry::instance(), created.groupId, QStringLiteral("Fell walkers")).ok);
        QVERIFY(sendGroupText(GroupRegistry::instance(), created.groupId, QStringLiteral("Saturday?")).ok);
        become(m_bob);
        // Under the ids of Alice's one-to-one messages: another conversation's.
        const QString direct = ChatStore::instance().conversationIdFor(m_alice.key());
        for (const QString &id : m_relay.queuedIds(m_bob.key()))
            QVERIFY(ChatStore::instance().upsertMessage(message(id, direct, QStringLiteral("1:1"), 1)));
        m_chat = makeController();
        QSignalSpy later(m_chat.get(), &ChatController::systemNotificationRequested);
        startQuiet(*m_chat);
        QVERIFY(queued().isEmpty());
        QCOMPARE(later.count(), 1);
        QCOMPARE(ChatStore::instance().messages(peer).value(0).text, QStringLiteral("Saturday?"));
        int invites = 0;
        for (const NotificationEventRecord &event : ChatStore::instance().notificationEvents(true))
            if (event.event_type == QLatin1String("normal_invite"))
                ++invites;
        QCOMPARE(invites, 1);

        // Bob's own message, sent from another device, comes back to this one.
        const GroupSendResult sent = sendGroupText(GroupRegistry::instance(), created.groupId, QStringLiteral("Yes!"));
        QVERIFY2(sent.ok, qPrintable(sent.error));
        const QJsonArray fanned = m_groups->lastFanout().value(QStringLiteral("envelopes")).toArray();
        QVERIFY(!fanned.isEmpty());
        const QString ciphertext = fanned.first().toObject().value(QStringLiteral("ciphertext")).toString();
        const QString echoId = newId();
        m_relay.enqueueRaw(m_bob.key(), RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                                            m_bob.identity, m_bob.key(), ciphertext, echoId,
                                            QDateTime::currentSecsSinceEpoch())));
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        const auto echo = ChatStore::instance().messageById(echoId);
        QVERIFY(echo);
        QCOMPARE(echo->text, QStringLiteral("Yes!"));
        QVERIFY(echo->is_outgoing);
        QCOMPARE(echo->status, MessageStatus::Received);
        QCOMPARE(echo->conversation_id, peer);
        QCOMPARE(later.count(), 1);
    }
};

QTEST_GUILESS_MAIN(InboxExtrasTest)
#include "test_inbox_extras.moc"
