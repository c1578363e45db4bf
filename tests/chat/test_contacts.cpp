// Contacts and the friend panel through a real store: who is listed, what
// the panel of each kind of peer holds, remark, block and mute, and the
// merge of a sender's profile into its contact row.
#include "chat_fixture.h"

#include "chat/payloads.h"
#include "identity/content.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

ContactRecord contactRow(const QString &key, const QString &address, const QString &remark, qint64 updatedAt,
                         int blocked = 0)
{
    ContactRecord c;
    c.wallet_public_key = key;
    c.erc20_address = address;
    c.remark = remark;
    c.updated_at = updatedAt;
    c.blocked = blocked;
    return c;
}

QStringList idsOf(const QVariantList &maps)
{
    QStringList ids;
    for (const QVariant &m : maps)
        ids << m.toMap().value("id").toString();
    return ids;
}

} // namespace

class ContactsTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init() { beginSession(QStringLiteral("me"), 0x11); }
    void cleanup() { endSession(); }

    void contactListLeavesOutSelfAndBlocked()
    {
        ChatStore &store = ChatStore::instance();
        store.upsertContact(contactRow(m_me.key(), "0xme", "me", 50));
        store.upsertContact(contactRow(peerKey(0x12), "0x1234567890abcdef", "", 40));
        store.upsertContact(contactRow(peerKey(0x13), "0xbbbb", "Bea", 60));
        store.upsertContact(contactRow(peerKey(0x14), "0xcccc", "Blocked", 70, 1));
        QSignalSpy changed(m_chat.get(), &ChatController::contactsChanged);
        m_chat->reloadContacts();
        QCOMPARE(changed.count(), 1);
        const QVariantList list = m_chat->contacts();
        QCOMPARE(list.size(), 2);
        const QVariantMap bea = list.at(0).toMap();
        QCOMPARE(bea.value("publicKey").toString(), peerKey(0x13));
        QCOMPARE(bea.value("display").toString(), QStringLiteral("Bea"));
        QCOMPARE(bea.size(), 6);
        QCOMPARE(list.at(1).toMap().value("display").toString(), QStringLiteral("0x1234…abcdef"));
    }

    void friendInfoIsEmptyForNonPeople_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::newRow("nothing open") << QString();
        QTest::newRow("normal group") << "group:g";
        QTest::newRow("super group") << "sg:https://127.0.0.1:9/s";
        QTest::newRow("official account") << velmor::crypto::base64UrlEncode(officialAccountPublicKey());
    }
    void friendInfoIsEmptyForNonPeople()
    {
        QFETCH(QString, peer);
        if (!peer.isEmpty())
            m_chat->openConversation(peer);
        QSignalSpy changed(m_chat.get(), &ChatController::friendInfoChanged);
        m_chat->loadCurrentFriendInfo();
        QCOMPARE(changed.count(), 1);
        QVERIFY(m_chat->friendInfo().isEmpty());
    }

    void friendInfoSortsTheHistory()
    {
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x15);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        store.setConversationMuted(peer, true);
        const QString id = store.conversationIdFor(peer);
        MessageRecord link = message("link", id, "see HTTPS://x.example/a", 1);
        MessageRecord oneSlash = message("slash", id, "not https:/x", 2);
        MessageRecord image = message("img", id, "https://in.an/image", 3);
        image.attachment = payload::imagePayload(QStringLiteral("AAEC"), QStringLiteral("image/png"), 1, 1);
        MessageRecord voice = message("voice", id, "[语音]", 4, true);
        voice.attachment = payload::voicePayload(QStringLiteral("AAEC"), 900, {});
        MessageRecord badImage = message("bad", id, "[图片]", 5);
        badImage.attachment = QStringLiteral(R"({"kind":"image","b64":"***"})");
        for (const MessageRecord &m : {link, oneSlash, image, voice, badImage})
            QVERIFY(store.upsertMessage(m));

        m_chat->openConversation(peer);
        m_chat->loadCurrentFriendInfo();
        const QVariantMap info = m_chat->friendInfo();
        QCOMPARE(info.size(), 12);
        QCOMPARE(info.value("peer").toString(), peer);
        QCOMPARE(info.value("address").toString(), identityFromByte(0x15).erc20Address());
        QCOMPARE(info.value("shortAddress").toString(), ChatController::shortAddress(identityFromByte(0x15).erc20Address()));
        QCOMPARE(info.value("remark").toString(), QString());
        QCOMPARE(info.value("blocked").toBool(), false);
        QCOMPARE(info.value("muted").toBool(), true);
        QCOMPARE(idsOf(info.value("texts").toList()), (QStringList{"link", "slash", "bad"}));
        QCOMPARE(idsOf(info.value("links").toList()), (QStringList{"link"}));
        QCOMPARE(idsOf(info.value("images").toList()), (QStringList{"img"}));
        QCOMPARE(idsOf(info.value("voices").toList()), (QStringList{"voice"}));
        QCOMPARE(info.value("voices").toList().first().toMap().value("durMs").toInt(), 900);
    }

    void authorPanelIsFixed()
    {
        ChatStore::instance().upsertContact(contactRow(authorKey(), "", "someone else", 5));
        m_chat->openConversation(authorKey());
        m_chat->loadCurrentFriendInfo();
        const QVariantMap info = m_chat->friendInfo();
        QCOMPARE(info.value("remark").toString(), QStringLiteral("Pelorin author"));
        QCOMPARE(info.value("avatarKind").toString(), QStringLiteral("lottie"));
        QCOMPARE(info.value("avatarId").toString(), QStringLiteral("authorheadphoto"));
        QCOMPARE(info.value("address").toString(), QStringLiteral("0x95f2042d7ea0e91ecf776b16abb5c6eb45add4b4"));
    }

    void undecodablePeerHasNoAddress()
    {
        m_chat->openConversation(QStringLiteral("**"));
        m_chat->loadCurrentFriendInfo();
        QCOMPARE(m_chat->friendInfo().value("address").toString(), QString());
        QCOMPARE(m_chat->friendInfo().value("texts").toList().size(), 0);
    }

    void remarkFollowsIntoTitleAndPanel()
    {
        const QString peer = peerKey(0x16);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
        m_chat->start();
        openAndShow(peer);
        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QVERIFY(m_chat->updateCurrentFriendRemark(QStringLiteral("  Fen ")));
        QCOMPARE(current.count(), 1);
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Fen"));
        QCOMPARE(m_chat->friendInfo().value("remark").toString(), QStringLiteral("Fen"));
        const auto stored = ChatStore::instance().contact(peer);
        QVERIFY(stored);
        QCOMPARE(stored->erc20_address, identityFromByte(0x16).erc20Address());

        QVERIFY(m_chat->updateCurrentFriendRemark(QString()));
        QCOMPARE(m_chat->friendInfo().value("remark").toString(), QString());
        QCOMPARE(m_chat->currentTitle(), ChatController::shortAddress(identityFromByte(0x16).erc20Address()));
        m_chat->reloadContacts();
        QCOMPARE(m_chat->contacts().first().toMap().value("display").toString(),
                 ChatController::shortAddress(identityFromByte(0x16).erc20Address()));
    }

    void remarkNeedsAPerson_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::newRow("nothing open") << QString();
        QTest::newRow("group") << "group:x";
        QTest::newRow("super group") << "sg:https://127.0.0.1:9/x";
    }
    void remarkNeedsAPerson()
    {
        QFETCH(QString, peer);
        if (!peer.isEmpty())
            m_chat->openConversation(peer);
        QVERIFY(!m_chat->updateCurrentFriendRemark(QStringLiteral("x")));
        QVERIFY(ChatStore::instance().contacts().isEmpty());
    }

    void blockingCreatesTheRowAndUnblockingKeepsIt()
    {
        const QString peer = peerKey(0x17);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
        m_chat->start();
        m_chat->openConversation(peer);
        m_chat->setCurrentFriendBlocked(true);
        auto row = ChatStore::instance().contact(peer);
        QVERIFY(row);
        QCOMPARE(row->blocked, 1);
        QCOMPARE(row->erc20_address, identityFromByte(0x17).erc20Address());
        QVERIFY(m_chat->friendInfo().value("blocked").toBool());
        m_chat->reloadContacts();
        QVERIFY(m_chat->contacts().isEmpty());
        m_chat->setCurrentFriendBlocked(false);
        row = ChatStore::instance().contact(peer);
        QVERIFY(row);
        QCOMPARE(row->blocked, 0);
    }

    void mutingShowsInRowAndPanel()
    {
        const QString peer = peerKey(0x18);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
        m_chat->start();
        m_chat->setCurrentConversationMuted(true); // nothing open: nothing happens
        QVERIFY(!ChatStore::instance().conversationByPeer(peer)->muted);
        m_chat->openConversation(peer);
        QSignalSpy conversations(m_chat.get(), &ChatController::conversationsChanged);
        m_chat->setCurrentConversationMuted(true);
        QCOMPARE(conversations.count(), 1);
        QVERIFY(m_chat->conversations().first().toMap().value("muted").toBool());
        QVERIFY(m_chat->friendInfo().value("muted").toBool());
    }

    void mergingASendersProfile()
    {
        const QString peer = peerKey(0x19);
        ChatStore &store = ChatStore::instance();
        store.upsertContact(contactRow(peer, "0xold", "Kept", 100, 1));
        m_chat->mergePeerProfile(peer, "0xnew", "gif", "pic-1", 50);
        auto row = store.contact(peer);
        QCOMPARE(row->erc20_address, QStringLiteral("0xnew"));
        QCOMPARE(row->avatar_kind, QStringLiteral("image"));
        QCOMPARE(row->avatar_id, QStringLiteral("pic-1"));
        QCOMPARE(row->remark, QStringLiteral("Kept"));
        QCOMPARE(row->blocked, 1);
        QCOMPARE(row->updated_at, 100);

        m_chat->mergePeerProfile(peer, QString(), "lottie", QString(), 200);
        row = store.contact(peer);
        QCOMPARE(row->avatar_kind, QStringLiteral("image")); // no avatar id: avatar kept
        QCOMPARE(row->erc20_address, QStringLiteral("0xnew"));
        QCOMPARE(row->updated_at, 200);

        const QString newcomer = peerKey(0x1a);
        m_chat->mergePeerProfile(newcomer, "0xfresh", "lottie", "lottiehead_9", 7);
        row = store.contact(newcomer);
        QVERIFY(row);
        QCOMPARE(row->avatar_kind, QStringLiteral("lottie"));
        QCOMPARE(row->blocked, 0);
    }

};

QTEST_GUILESS_MAIN(ContactsTest)
#include "test_contacts.moc"
