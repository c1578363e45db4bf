// The inbox through the local relay: what is stored and what is
// acknowledged for each kind of envelope, duplicates and collisions, a store
// that fails part-way through a pull, a client killed during a pull or
// before its acknowledgement, the acknowledgement queue, official notices
// replayed under new ids, and thousands of refusals ahead of a contact's texts.
#include "chat_fixture.h"

#include "chat/inbound_processor.h"
#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_test_support.h"
#include "identity/crypto.h"
#include "identity/envelope.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::Fault;
using velmor::fakes::FaultKind;

namespace {

// Plants or drops a trigger in the store's file from a second connection,
// as a full disk or a damaged page would make the store fail.
bool execOnFile(const QString &path, const QString &sql)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inbox_side"));
        db.setDatabaseName(path);
        ok = db.open() && QSqlQuery(db).exec(sql);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inbox_side"));
    return ok;
}

// A group message whose box nobody can open, as a writer's envelope carries it.
QString groupMessageText(const QString &groupId, qint64 epoch)
{
    const QJsonObject outer{{"v", 1}, {"kind", "message"}, {"groupId", groupId}, {"keyEpoch", 1},
                            {"epoch", double(epoch)}, {"box", "bm90IGEgYm94"}};
    return QLatin1String(kGroupMessagePrefix) + velmor::crypto::base64UrlEncode(canonicalJson(outer));
}

enum class Kind { Text, Tampered, SealedForAnother, UnknownType, BlockedSender, BridgeAck, WrongRecipient };

} // namespace

Q_DECLARE_METATYPE(Kind)

class InboxTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QStringList queued() const { return m_relay.queuedIds(m_bob.key()); }
    int storedMessages() { return int(ChatStore::instance().messages(ChatStore::instance().conversationIdFor(m_alice.key())).size()); }
    int unread() { return ChatStore::instance().conversationByPeer(m_alice.key()).value_or(ConversationRecord()).unread_count; }

    // A new client pulls what is left: Alice's three texts are there once
    // each, all unread, and nothing waits at the relay.
    void restartWithAllThreeTexts()
    {
        m_chat = makeController();
        startQuiet(*m_chat);
        pullAndSettle(*m_chat);
        QVERIFY(queued().isEmpty());
        QCOMPARE(storedMessages(), 3);
        QCOMPARE(unread(), 3);
    }

    // `count` envelopes signed by `from` for Bob, straight into the relay's
    // queue; `ciphertext` gives the text of the i-th.
    template <typename Text>
    void post(const User &from, int count, const Text &ciphertext)
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < count; ++i)
            m_relay.enqueueRaw(m_bob.key(), RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                                                 from.identity, m_bob.key(), ciphertext(i), newId(), now)));
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }

    void init()
    {
        newUsers(0x51);
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
    }
    void cleanup() { endClient(&m_bob); }

    void eachKindIsStoredAndAcknowledgedOrNot_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("acknowledged");
        QTest::newRow("text") << Kind::Text << true << true;
        // What can never be read is acknowledged and dropped: left with the
        // relay, a page of such envelopes would hold up every later one.
        QTest::newRow("ciphertext changed after signing") << Kind::Tampered << false << true;
        QTest::newRow("box sealed for someone else") << Kind::SealedForAnother << false << true;
        QTest::newRow("envelope addressed to someone else") << Kind::WrongRecipient << false << true;
        QTest::newRow("content of an unknown type") << Kind::UnknownType << false << true;
        QTest::newRow("blocked sender") << Kind::BlockedSender << false << true;
        QTest::newRow("bridge control ack") << Kind::BridgeAck << false << true;
    }
    void eachKindIsStoredAndAcknowledgedOrNot()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, stored);
        QFETCH(bool, acknowledged);
        startQuiet(*m_chat);
        const QString id = newId();
        MessageContent content = textContent(QStringLiteral("hello bob"));
        QJsonObject wire;
        switch (kind) {
        case Kind::Tampered:
            wire = envelopeJson(m_alice, m_bob, content, id);
            wire.insert(QStringLiteral("ciphertext"),
                        envelopeJson(m_alice, m_bob, textContent(QStringLiteral("other")), id).value("ciphertext"));
            break;
        case Kind::SealedForAnother: {
            // A valid envelope to Bob whose box was sealed for Carol.
            const QString box = velmor::identity::sealDirectMessage(m_alice.identity, m_carol.key(),
                                                                    serializeMessageContent(content));
            wire = RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                m_alice.identity, m_bob.key(), box, id, QDateTime::currentSecsSinceEpoch()));
            break;
        }
        case Kind::WrongRecipient:
            wire = envelopeJson(m_alice, m_carol, content, id);
            break;
        case Kind::UnknownType:
            content.type = QStringLiteral("hologram");
            wire = envelopeJson(m_alice, m_bob, content, id);
            break;
        case Kind::BridgeAck:
            content.type = QStringLiteral("bridge.control.ack");
            wire = envelopeJson(m_alice, m_bob, content, id);
            break;
        case Kind::BlockedSender: {
            ContactRecord contact;
            contact.wallet_public_key = m_alice.key();
            contact.blocked = 1;
            QVERIFY(ChatStore::instance().upsertContact(contact));
            wire = envelopeJson(m_alice, m_bob, content, id);
            break;
        }
        case Kind::Text:
            wire = envelopeJson(m_alice, m_bob, content, id);
            break;
        }
        m_relay.enqueueRaw(m_bob.key(), wire);
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);

        const PullOutcome pull = pullAndSettle(*m_chat);
        QCOMPARE(pull.envelopes, 1);
        QCOMPARE(ChatStore::instance().messageExists(id), stored);
        QCOMPARE(!queued().contains(id), acknowledged);
        QCOMPARE(notices.count(), stored ? 1 : 0);
        if (stored) {
            QCOMPARE(ChatStore::instance().messageById(id)->text, QStringLiteral("hello bob"));
            QCOMPARE(ChatStore::instance().messageById(id)->status, MessageStatus::Received);
            QCOMPARE(m_chat->conversations().size(), 1);
        }
    }

    // A text into the conversation the user has open is read as it
    // arrives; one into another conversation counts as unread.
    // `above`: conversations listed above Alice's when her second text
    // comes, newer than her first and older than her second. Her row
    // changes in place as the pull is shown, with one move to the top and
    // no other row touched: the list is not read again for it.
    void unreadOnlyOutsideTheOpenConversation_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("above");
        QTest::newRow("conversation open") << true << 0;
        QTest::newRow("another conversation open") << false << 0;
        QTest::newRow("another open, 30 conversations above hers") << false << 30;
    }
    void unreadOnlyOutsideTheOpenConversation()
    {
        QFETCH(bool, open);
        QFETCH(int, above);
        startQuiet(*m_chat);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        m_relay.enqueueRaw(m_bob.key(), envelopeJson(m_alice, m_bob, textContent(QStringLiteral("first")), newId(), now));
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        ChatStore &store = ChatStore::instance();
        for (int i = 0; i < above; ++i) {
            const QString peer = velmor::identity::Identity(QByteArray(32, char(0x20 + i))).publicKeyText();
            store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
            QVERIFY(store.bumpConversationTimestamp(store.conversationIdFor(peer), now + 10));
        }
        m_chat->reloadConversations();
        m_chat->openConversation(open ? m_alice.key() : m_carol.key());
        QTRY_COMPARE(unread(), open ? 0 : 1); // written on a worker
        QCOMPARE(peersOf(m_chat->conversations()).indexOf(m_alice.key()), above);
        waitIdle();

        m_relay.enqueueRaw(m_bob.key(), envelopeJson(m_alice, m_bob, textContent(QStringLiteral("second")), newId(), now + 20));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        QAbstractItemModel *model = m_chat->conversationModel();
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        QSignalSpy moved(model, &QAbstractItemModel::rowsMoved);
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QVariantMap rowWhenShown;
        connect(&m_chat->messaging().inbox, &Inbox::pullProcessed, this,
                [&] { rowWhenShown = m_chat->conversations().value(0).toMap(); });
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QCOMPARE(rowWhenShown.value(QStringLiteral("peer")).toString(), m_alice.key());
        QCOMPARE(rowWhenShown.value(QStringLiteral("last")).toString(), QStringLiteral("second"));
        QCOMPARE(rowWhenShown.value(QStringLiteral("unread")).toInt(), open ? 0 : 2);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), above);
        // Only what the text changed is announced, each value as a role of
        // its own: its line, its time and, outside the open conversation, its
        // count; never its name. The view re-evaluates nothing else.
        const QHash<int, QByteArray> roles = model->roleNames();
        const QList<int> told = changed.first().at(2).value<QList<int>>();
        const auto toldOf = [&](const QByteArray &name) { return roles.key(name) && told.contains(roles.key(name)); };
        QVERIFY(toldOf("last") && toldOf("ts"));
        QCOMPARE(toldOf("unread"), !open);
        QVERIFY(!toldOf("display") && !toldOf("peer") && !toldOf("muted"));
        QCOMPARE(model->data(model->index(0, 0), roles.key("last")).toString(), QStringLiteral("second"));
        QCOMPARE(model->data(model->index(0, 0), roles.key("unread")).toInt(), open ? 0 : 2);
        QCOMPARE(moved.count(), above > 0 ? 1 : 0);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(storedMessages(), 2);
        QTRY_COMPARE(unread(), open ? 0 : 2);
        // The list is read again on a worker.
        QTRY_COMPARE(rowOf(m_chat->conversations(), m_alice.key()).value(QStringLiteral("unread")).toInt(), open ? 0 : 2);
        QCOMPARE(notices.count(), open ? 0 : 1);
    }

    // A pull is opened and stored by its job while the window's thread is
    // busy elsewhere; it is acknowledged only once shown.
    void storedWhileTheWindowIsBusy()
    {
        startQuiet(*m_chat);
        const QString id = queueText(m_alice, m_bob, QStringLiteral("while busy"));
        QSignalSpy processed(&m_chat->messaging().inbox, &Inbox::pullProcessed);
        m_chat->messaging().inbox.pullOnce();
        QElapsedTimer busy;
        busy.start();
        while (!ChatStore::instance().messageExists(id) && busy.elapsed() < 5000)
            QThread::msleep(5); // no event loop meanwhile
        QVERIFY(ChatStore::instance().messageExists(id));
        QVERIFY(queued().contains(id));
        QVERIFY(processed.wait(5000));
        QCOMPARE(processed.first().at(1).toInt(), 1);
        QTRY_VERIFY(queued().isEmpty());
        QTRY_COMPARE(rowOf(m_chat->conversations(), m_alice.key()).value(QStringLiteral("last")).toString(),
                     QStringLiteral("while busy"));
    }

    // Offered again (an acknowledgement lost on the way), an envelope is
    // acknowledged and changes nothing; the same id with other content is
    // a collision, kept out and dropped.
    void duplicatesAndCollisions()
    {
        startQuiet(*m_chat);
        const QString id = newId();
        const QJsonObject first = envelopeJson(m_alice, m_bob, textContent(QStringLiteral("once")), id);
        m_relay.enqueueRaw(m_bob.key(), first);
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QCOMPARE(unread(), 1);

        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        QSignalSpy conversations(m_chat.get(), &ChatController::conversationsChanged);
        m_relay.enqueueRaw(m_bob.key(), first);
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QVERIFY(queued().isEmpty());
        QCOMPARE(storedMessages(), 1);
        QCOMPARE(unread(), 1);
        QCOMPARE(notices.count(), 0);
        QCOMPARE(conversations.count(), 0);

        m_relay.enqueueRaw(m_bob.key(), envelopeJson(m_alice, m_bob, textContent(QStringLiteral("impostor")), id));
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QVERIFY(queued().isEmpty());
        QCOMPARE(ChatStore::instance().messageById(id)->text, QStringLiteral("once"));
    }

    // Ids are the senders' choice: Carol's text under the id of Alice's is
    // another message, in the same pull or after Alice's was deleted.
    void anIdIsTakenOnlyInItsConversation_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("the same pull") << false;
        QTest::newRow("after Alice's was deleted") << true;
    }
    void anIdIsTakenOnlyInItsConversation()
    {
        QFETCH(bool, deleted);
        startQuiet(*m_chat);
        const QString id = queueText(m_alice, m_bob, QStringLiteral("from Alice"));
        if (deleted) {
            pullAndSettle(*m_chat);
            m_chat->deleteConversation(m_alice.key());
        }
        queueText(m_carol, m_bob, QStringLiteral("from Carol"), id);
        pullAndSettle(*m_chat);
        QVERIFY(queued().isEmpty());
        QCOMPARE(storedMessages(), deleted ? 0 : 1);
        const QString carol = ChatStore::instance().conversationIdFor(m_carol.key());
        QCOMPARE(ChatStore::instance().messages(carol).value(0).text, QStringLiteral("from Carol"));
    }

    // A store that fails on one envelope keeps the others of the pull; the
    // failed one is not acknowledged, and arrives once the store works.
    void storeFailingMidBatchLosesNothing()
    {
        startQuiet(*m_chat);
        QVERIFY(execOnFile(m_bob.dbPath, QStringLiteral("CREATE TRIGGER disk_full BEFORE INSERT ON messages "
                                                        "WHEN NEW.text = 'poison' BEGIN SELECT RAISE(ABORT, 'disk full'); END")));
        const QString a = queueText(m_alice, m_bob, QStringLiteral("first"));
        const QString b = queueText(m_alice, m_bob, QStringLiteral("poison"));
        const QString c = queueText(m_alice, m_bob, QStringLiteral("third"));
        const PullOutcome pull = pullAndSettle(*m_chat);
        QCOMPARE(pull.envelopes, 3);
        QCOMPARE(pull.acknowledged, 2);
        QCOMPARE(queued(), QStringList{b});
        QVERIFY(ChatStore::instance().messageExists(a) && ChatStore::instance().messageExists(c));
        QVERIFY(!ChatStore::instance().messageExists(b));

        // Restart with a working store.
        m_chat->stop();
        m_chat.reset();
        QVERIFY(execOnFile(m_bob.dbPath, QStringLiteral("DROP TRIGGER disk_full")));
        restartWithAllThreeTexts();
    }

    // Ended before the pull came back: the pull's job still files what it
    // brings while the store is the owner's (none of it once the store
    // closed), and acknowledges nothing. Ended after storing but before the
    // acknowledgement settled: the relay offers the envelopes again and
    // they are acknowledged as duplicates, shown once.
    void killedDuringAPullThenRestarted_data()
    {
        QTest::addColumn<bool>("afterStoring");
        QTest::addColumn<bool>("storeClosed");
        QTest::addColumn<int>("stored");
        QTest::newRow("before the envelopes came") << false << false << 3;
        QTest::newRow("before the envelopes came, the store closed") << false << true << 0;
        QTest::newRow("after storing, before the acknowledgement") << true << false << 3;
    }
    void killedDuringAPullThenRestarted()
    {
        QFETCH(bool, afterStoring);
        QFETCH(bool, storeClosed);
        QFETCH(int, stored);
        startQuiet(*m_chat);
        for (int i = 0; i < 3; ++i)
            queueText(m_alice, m_bob, QStringLiteral("text %1").arg(i));
        if (afterStoring) {
            m_relay.setFault(QStringLiteral("/v1/message/ack/batch"), Fault::make(FaultKind::Delay, 400));
            QSignalSpy processed(&m_chat->messaging().inbox, &Inbox::pullProcessed);
            m_chat->messaging().inbox.pullOnce();
            QVERIFY(processed.wait(5000));
        } else {
            m_relay.setFault(QStringLiteral("/v1/message/pull"), Fault::make(FaultKind::Delay, 300));
            m_chat->messaging().inbox.pullOnce();
        }
        m_chat.reset(); // the process ends; its jobs' results go nowhere
        if (storeClosed)
            ChatStore::instance().close();
        QThreadPool::globalInstance()->waitForDone(5000);
        if (storeClosed)
            QVERIFY(signInHere(m_bob));
        QCOMPARE(storedMessages(), stored);
        if (!afterStoring)
            QCOMPARE(queued().size(), 3);
        m_relay.clearFaults();
        // The acknowledgement may or may not have reached the relay; either way
        // the restarted client ends with each message once.
        restartWithAllThreeTexts();
        QCOMPARE(m_chat->conversations().size(), 1);
    }

    // Refused acknowledgements wait in the store and leave it once the
    // relay takes them; ids queued longer than an envelope lives are dropped
    // without asking the relay.
    void refusedAcknowledgementsAreQueuedAndFlushed()
    {
        startQuiet(*m_chat);
        m_relay.setFault(QStringLiteral("/v1/message/ack/batch"), Fault::make(FaultKind::Http500));
        m_relay.setFault(QStringLiteral("/v1/message/ack"), Fault::make(FaultKind::Http500));
        const QString id = queueText(m_alice, m_bob, QStringLiteral("ack me"));
        QCOMPARE(pullAndSettle(*m_chat).acknowledged, 1);
        QCOMPARE(ChatStore::instance().pendingAcks(10), QStringList{id});
        QCOMPARE(queued(), QStringList{id});

        m_relay.clearFaults();
        QSignalSpy settled(&m_chat->messaging().acks, &AckQueue::settled);
        m_chat->messaging().acks.flush();
        QVERIFY(m_chat->messaging().acks.flushInFlight());
        m_chat->messaging().acks.flush(); // a tick while one runs does nothing
        QVERIFY(settled.wait(5000));
        QVERIFY(ChatStore::instance().pendingAcks(10).isEmpty());
        QVERIFY(queued().isEmpty());

        // Queued eight days ago: the relay let it expire long since.
        QVERIFY(execOnFile(m_bob.dbPath,
                           QStringLiteral("INSERT INTO pending_acks(owner_raw_public_key,message_id,updated_at,queued_at) "
                                          "VALUES('%1','stale',0,%2)")
                               .arg(m_bob.key())
                               .arg(QDateTime::currentSecsSinceEpoch() - 8 * 24 * 3600)));
        m_relay.http().resetCounts();
        m_chat->messaging().acks.flush();
        QTRY_VERIFY(!m_chat->messaging().acks.flushInFlight());
        QVERIFY(ChatStore::instance().pendingAcks(10).isEmpty());
        QCOMPARE(m_relay.requestCount(QStringLiteral("/v1/message/ack/batch")), 0);
    }

    // A signed notice can be wrapped in any number of envelopes: each is
    // acknowledged, the notice shows once.
    void officialNoticeReplayedUnderNewIdsShowsOnce()
    {
        const velmor::identity::Identity signer(QByteArray(32, 0x0f));
        const QString notice = makeOfficialNotice(signer.privateKey, {{"zh-Hans", "维护", "今晚"}}, 1700000000);
        QVERIFY(!notice.isEmpty());
        ChatStore &store = ChatStore::instance();
        InboundProcessor processor(store, GroupRegistry::instance(), m_bob.identity);
        processor.setNoticeReader([signer](const QString &text) {
            return parseOfficialNoticeWithKey(text, QStringLiteral("zh-Hans"), signer.publicKey);
        });
        const QString official = velmor::crypto::base64UrlEncode(officialAccountPublicKey());
        QStringList acked;
        for (const QString &padding : {QString(), QStringLiteral(" "), QStringLiteral("\n")}) {
            RawEnvelope envelope;
            envelope.messageId = newId();
            envelope.senderPubkey = official;
            envelope.ciphertext = notice + padding; // re-serialised replays differ in bytes
            envelope.ciphertextHash = velmor::crypto::sha256Hex(envelope.ciphertext.toUtf8());
            envelope.createdAt = 1700000000;
            envelope.valid = true; // as the pull found it: signed by the official key, to Bob
            const InboundVerdict verdict = processor.handle(envelope);
            QVERIFY(verdict.acknowledge);
            if (verdict.changed)
                acked << envelope.messageId;
        }
        QCOMPARE(acked.size(), 1);
        QCOMPARE(store.messages(store.conversationIdFor(official)).size(), 1);
        QCOMPARE(store.messageById(acked.first())->content_type, QStringLiteral("official"));
    }

    // A stranger who knows only Bob's key (or a member whose group messages
    // do not open) puts 2,000 envelopes of each kind Bob's client cannot read
    // ahead of Alice's three texts. Each is settled in the same pull
    // (dropped, or set aside within bounds when a card may still settle it):
    // any one kind left with the relay would hold up her texts, which arrive
    // in the first pull cycle.
    void aPageOfRefusalsHoldsNothingUp()
    {
        endClient(); // Bob's, as each case starts it
        // Alice's group of Bob and Carol, Carol removed again; Bob holds it.
        GroupRegistry alice;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created = createGroup(alice, QStringLiteral("Harbour"), {m_bob.key(), m_carol.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        QVERIFY(removeGroupMember(alice, created.groupId, {m_carol.key()}).ok);
        signOut();
        as(m_bob);
        QTRY_COMPARE(m_relay.queueSize(m_bob.key()), 0);
        const qint64 held = GroupRegistry::instance().card(created.groupId)->epoch;
        endClient();

        const QString unopenable = velmor::identity::sealDirectMessage(m_dave.identity, m_carol.key(), "{}");
        // Boxes that do not open, groups Bob does not hold, a stranger
        // writing under a newer card, a removed member still writing, and a
        // member's group message no card can open (refused, not set aside).
        post(m_dave, 2000, [&](int) { return unopenable; });
        post(m_dave, 2000, [](int i) { return groupMessageText(QStringLiteral("%1").arg(i % 40, 32, 16, QChar('a')), 1); });
        post(m_dave, 2000, [&](int) { return groupMessageText(created.groupId, held + 1); });
        post(m_carol, 2000, [&](int) { return groupMessageText(created.groupId, held); });
        post(m_alice, 2000, [&](int) { return groupMessageText(created.groupId, held); });

        // Alice's client sends three texts; the relay takes them.
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QVERIFY(m_chat->newChat(m_bob.key()));
        QSignalSpy sent(&m_chat->messaging().outbox, &Outbox::sendFinished);
        for (const char *text : {"one", "two", "three"})
            m_chat->sendText(QString::fromLatin1(text));
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 3, 20000);
        for (const QList<QVariant> &finished : std::as_const(sent))
            QCOMPARE(finished.at(1).toInt(), int(MessageStatus::Sent));
        endClient();
        QVERIFY(m_relay.queueSize(m_bob.key()) > 10000);

        // Bob's client starts: its first pull goes through every page.
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
        m_chat->start();
        m_chat->messaging().push.shutDown();
        QVERIFY(m_chat->syncing());
        QTRY_VERIFY_WITH_TIMEOUT(!m_chat->syncing(), 120000);
        QStringList texts;
        for (const MessageRecord &row : ChatStore::instance().messages(ChatStore::instance().conversationIdFor(m_alice.key())))
            texts.append(row.text);
        texts.sort();
        QCOMPARE(texts, (QStringList{"one", "three", "two"}));
        QTRY_COMPARE(m_relay.queueSize(m_bob.key()), 0);
        // What a card may still settle is kept, within the bounds of one writer.
        const grouptest::Parked parked = grouptest::parkedNow();
        QVERIFY2(parked.rows > 0 && parked.rows <= kParkedPerWriter, qPrintable(QString::number(parked.rows)));
        QVERIFY(!parked.bytesOf.contains(m_carol.key()));
        endClient();
    }
};

QTEST_GUILESS_MAIN(InboxTest)
#include "test_inbox.moc"
