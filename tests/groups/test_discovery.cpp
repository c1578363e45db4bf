// The resolver over its classification order: empty text, super-group links
// (with and without the prefix, any letter case), normal-group join links
// (including an empty key), addresses (including the user's own), 33- and
// 65-byte keys and anything else, with the failures of each lookup.
#include "group_test_support.h"

#include "groups/discovery.h"
#include "support/fake_group_server.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QtTest>

using namespace velmor::chat;
using grouptest::User;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;
using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;

class DiscoveryTest : public QObject, protected grouptest::RelayFixture
{
    Q_OBJECT

private:
    std::unique_ptr<FakeGroupServer> m_server;
    QHash<QString, QString> m_values; // placeholder -> text

    QString expand(QString text) const
    {
        for (auto it = m_values.begin(); it != m_values.end(); ++it)
            text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
        return text;
    }

    static QString compressed(const velmor::identity::Identity &identity)
    {
        return base64UrlEncode(velmor::crypto::publicKeyFromSecret(identity.privateKey, true));
    }

    void setUpFault(const QString &name)
    {
        m_relay.clearFaults();
        m_server->http().clearFaults();
        if (name == QLatin1String("sgEmpty"))
            m_server->http().setFault(QStringLiteral("/v1/group/info"), Fault::custom(200, "{}"));
        else if (name == QLatin1String("sgNotJson"))
            m_server->http().setFault(QStringLiteral("/v1/group/info"), Fault::malformedJson());
        else if (name == QLatin1String("sg500"))
            m_server->http().setFault(QStringLiteral("/v1/group/info"), Fault::http500());
        else if (name == QLatin1String("join500"))
            m_relay.setFault(QStringLiteral("/v1/group/join/resolve"), Fault::http500());
        else if (name == QLatin1String("joinEmpty"))
            m_relay.setFault(QStringLiteral("/v1/group/join/resolve"), Fault::custom(200, "{}"));
        else if (name == QLatin1String("addr500"))
            m_relay.setFault(QStringLiteral("/v1/user/resolve-address"), Fault::http500());
        else if (name == QLatin1String("addrNotJson"))
            m_relay.setFault(QStringLiteral("/v1/user/resolve-address"), Fault::malformedJson());
        else if (name == QLatin1String("relayDown"))
            m_relay.setFault(QStringLiteral("*"), Fault::drop());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());

        m_server = std::make_unique<FakeGroupServer>(m_carol.key(), QStringLiteral("Big room"));
        QVERIFY(m_server->start() != 0);
        m_server->addMember(m_carol.key(), QStringLiteral("owner"));
        m_server->addMember(m_dave.key(), QStringLiteral("member"));

        // Carol runs two normal groups, one of them hidden from discovery.
        QVERIFY(use(m_carol));
        const GroupCreateResult open = createGroup(*m_carol.registry, QStringLiteral("Open hikers"), {m_bob.key()});
        const GroupCreateResult hidden = createGroup(*m_carol.registry, QStringLiteral("Hidden"), {});
        QVERIFY(open.ok && hidden.ok);
        QVERIFY(setGroupVisibility(*m_carol.registry, hidden.groupId, false).ok);
        const GroupCard openCard = *m_carol.registry->card(open.groupId);
        const GroupCard hiddenCard = *m_carol.registry->card(hidden.groupId);

        // A directory entry that its join key never signed.
        const QString forgedKey = base64UrlEncode(velmor::crypto::ed25519FromSeed(QByteArray(32, 'f')).publicKey);
        const QString forgedRecord = m_groups->recordText(openCard.adminPublicKey)
                                         .replace(openCard.adminPublicKey, forgedKey);
        m_groups->putRecord(forgedKey, forgedRecord,
                            base64UrlEncode(velmor::crypto::ed25519Sign(QByteArray(32, 'g'), forgedRecord.toUtf8())));
        // An entry that answers a different group's record for the key asked.
        const QString swappedKey = base64UrlEncode(velmor::crypto::ed25519FromSeed(QByteArray(32, 's')).publicKey);
        m_groups->putRecord(swappedKey, m_groups->recordText(openCard.adminPublicKey),
                            QStringLiteral("irrelevant"));

        m_groups->addUser(m_bob.key(), QStringLiteral("lottie"), QStringLiteral("lottiehead_4"));
        m_groups->addUser(m_alice.key());
        m_groups->setAddressAnswer(m_erin.identity.erc20Address(), m_bob.key());            // lies
        m_groups->setAddressAnswer(m_dave.identity.erc20Address(), QStringLiteral("AAAA")); // not a key

        QVERIFY(use(m_alice));
        velmor::chat::ContactRecord contact;
        contact.wallet_public_key = m_dave.key();
        contact.erc20_address = m_dave.identity.erc20Address();
        contact.remark = QStringLiteral("Dave");
        contact.avatar_kind = QStringLiteral("image");
        contact.avatar_id = QStringLiteral("avatar_7");
        QVERIFY(ChatStore::instance().upsertContact(contact));

        const QString sg = m_server->baseUrl();
        QByteArray junk(33, '\x05');
        m_values = {
            {"sg", sg},
            {"sgUpper", sg.toUpper()},
            {"dead", velmor::fakes::unusedLoopbackUrl()},
            {"join", openCard.adminPublicKey},
            {"hiddenJoin", hiddenCard.adminPublicKey},
            {"unknownJoin", base64UrlEncode(QByteArray(32, 'u'))},
            {"forgedJoin", forgedKey},
            {"swappedJoin", swappedKey},
            {"openId", open.groupId},
            {"bobKey", m_bob.key()},
            {"bobKey33", compressed(m_bob.identity)},
            {"bobAddr", m_bob.identity.erc20Address()},
            {"bobAddrUpper", QStringLiteral("0x") + m_bob.identity.erc20Address().mid(2).toUpper()},
            {"myKey", m_alice.key()},
            {"myKey33", compressed(m_alice.identity)},
            {"myAddr", m_alice.identity.erc20Address()},
            {"myAddrUpper", QStringLiteral("0X") + m_alice.identity.erc20Address().mid(2).toUpper()},
            {"myAddrMixed", QStringLiteral("0x") + m_alice.identity.erc20Address().mid(2).toUpper()},
            {"erinAddr", m_erin.identity.erc20Address()},
            {"daveAddr", m_dave.identity.erc20Address()},
            {"daveKey", m_dave.key()},
            {"daveKey33", compressed(m_dave.identity)},
            {"unknownAddr", QStringLiteral("0x") + QString(40, QLatin1Char('a'))},
            {"junk33", base64UrlEncode(junk)},
            {"bytes32", base64UrlEncode(QByteArray(32, '\x01'))},
            {"bytes64", base64UrlEncode(QByteArray(64, '\x01'))},
            {"carolKey", m_carol.key()},
        };
    }

    void cleanupTestCase()
    {
        m_server->stop();
        stopRelay();
    }

    void classification_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("expect"); // "field=value;…" checked on success

        auto row = [](const char *name, const QString &input, bool ok, int kind, const QString &error,
                      const QString &expect = QString(), const QString &fault = QString()) {
            QTest::newRow(name) << input << fault << ok << kind << error << expect;
        };
        // 1. Empty.
        row("empty", "", false, 0, "empty_input");
        row("blanks", " \t\n ", false, 0, "empty_input");
        // 2. Super-group links.
        row("sg bare", "{sg}", true, 3, "", "serverUrl={sg};groupName=Big room;memberCount=2;ownerPublicKey={carolKey}");
        row("sg trailing slash", "{sg}/", true, 3, "", "serverUrl={sg}");
        row("sg prefixed", "pelorin:supergroup:{sg}", true, 3, "", "serverUrl={sg}");
        row("sg prefix upper", "PELORIN:SUPERGROUP:{sg}", true, 3, "", "serverUrl={sg}");
        row("sg prefix mixed, url upper", "Pelorin:SuperGroup:{sgUpper}", true, 3, "", "serverUrl={sg}");
        row("sg url upper", "{sgUpper}", true, 3, "", "serverUrl={sg}");
        row("sg padded", "  pelorin:supergroup:  {sg}  ", true, 3, "", "serverUrl={sg}");
        row("sg unreachable", "{dead}", false, 3, "supergroup_unreachable");
        row("sg unreachable prefixed", "pelorin:supergroup:{dead}", false, 3, "supergroup_unreachable");
        row("sg error answer", "{sg}", false, 3, "supergroup_unreachable", "", "sg500");
        row("sg empty answer", "{sg}", false, 3, "invalid_supergroup_response", "", "sgEmpty");
        row("sg not json", "{sg}", false, 3, "invalid_supergroup_response", "", "sgNotJson");
        row("sg prefix without url", "pelorin:supergroup:", false, 0, "unsupported_input");
        row("sg prefix, not http", "pelorin:supergroup:ftp://127.0.0.1/", false, 0, "unsupported_input");
        row("url without host", "http://", false, 0, "unsupported_input");
        // 3. Normal-group join links.
        row("join", "pelorin:group:{join}", true, 2, "",
            "joinKey={join};groupId={openId};groupName=Open hikers;ownerPublicKey={carolKey};"
            "ownerEncryptionKey={carolKey};visibility=public;memberCount=2;groupAvatar=defaultgroupphoto");
        // Unlike the super-group prefix, the join prefix is exact.
        row("join upper prefix", "PELORIN:GROUP:{join}", false, 0, "unsupported_input");
        row("join empty key", "pelorin:group:", false, 2, "invalid_join_key");
        row("join blank key", "pelorin:group:   ", false, 2, "invalid_join_key");
        row("join short key", "pelorin:group:abc", false, 2, "group_not_found");
        row("join unknown", "pelorin:group:{unknownJoin}", false, 2, "group_not_found");
        row("join hidden", "pelorin:group:{hiddenJoin}", false, 2, "group_private");
        row("join forged record", "pelorin:group:{forgedJoin}", false, 2, "invalid_group_response");
        row("join other group's record", "pelorin:group:{swappedJoin}", false, 2, "invalid_group_response");
        row("join relay error", "pelorin:group:{join}", false, 2, "group_lookup_failed", "", "join500");
        row("join empty answer", "pelorin:group:{join}", false, 2, "invalid_group_response", "", "joinEmpty");
        row("join relay down", "pelorin:group:{join}", false, 2, "group_lookup_failed", "", "relayDown");
        // 4. Addresses.
        row("address", "{bobAddr}", true, 1, "",
            "address={bobAddr};publicKey={bobKey};avatarKind=lottie;avatarId=lottiehead_4;existingContact=false");
        row("address upper", "{bobAddrUpper}", true, 1, "", "publicKey={bobKey};address={bobAddr}");
        row("own address", "{myAddr}", false, 1, "self_add");
        row("own address mixed case", "{myAddrMixed}", false, 1, "self_add");
        row("0X prefix is not an address", "{myAddrUpper}", false, 0, "unsupported_input");
        row("address unknown", "{unknownAddr}", false, 1, "address_not_found");
        row("address answered with another key", "{erinAddr}", false, 1, "wallet_address_mismatch");
        row("address answered with no key", "{daveAddr}", false, 1, "invalid_public_key");
        row("address relay error", "{bobAddr}", false, 1, "address_lookup_failed", "", "addr500");
        row("address relay garbled", "{bobAddr}", false, 1, "address_lookup_failed", "", "addrNotJson");
        row("address 39 digits", "0x" + QString(39, QLatin1Char('a')), false, 0, "unsupported_input");
        row("address 41 digits", "0x" + QString(41, QLatin1Char('a')), false, 0, "unsupported_input");
        row("address non-hex", "0x" + QString(40, QLatin1Char('g')), false, 0, "unsupported_input");
        // 5. Keys.
        row("key 65", "{bobKey}", true, 1, "", "publicKey={bobKey};address={bobAddr};existingContact=false");
        row("key 33", "{bobKey33}", true, 1, "", "publicKey={bobKey};address={bobAddr}");
        row("key of a contact", "{daveKey}", true, 1, "",
            "existingContact=true;avatarKind=image;avatarId=avatar_7");
        row("key 33 of a contact", "{daveKey33}", true, 1, "",
            "publicKey={daveKey};existingContact=true;avatarKind=image;avatarId=avatar_7");
        row("own key", "{myKey}", false, 1, "self_add");
        row("own key 33", "{myKey33}", false, 1, "self_add");
        row("33 bytes, not a point", "{junk33}", false, 1, "invalid_public_key");
        row("32 bytes", "{bytes32}", false, 0, "unsupported_input");
        row("64 bytes", "{bytes64}", false, 0, "unsupported_input");
        row("padded base64", "{bobKey}=", false, 0, "unsupported_input");
        // 6. Anything else.
        row("words", "hello there", false, 0, "unsupported_input");
        row("mailto", "mailto:someone@example.com", false, 0, "unsupported_input");
        row("unicode", "群聊", false, 0, "unsupported_input");
    }

    void classification()
    {
        QFETCH(QString, input);
        QFETCH(QString, fault);
        QFETCH(bool, ok);
        QFETCH(int, kind);
        QFETCH(QString, error);
        QFETCH(QString, expect);

        QVERIFY(use(m_alice));
        setUpFault(fault);
        const DiscoveryResult result = discover(expand(input));
        setUpFault(QString());

        QCOMPARE(result.error, error);
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.kind, kind);
        const QHash<QString, QString> fields{
            {"address", result.address},
            {"publicKey", result.publicKey},
            {"avatarKind", result.avatarKind},
            {"avatarId", result.avatarId},
            {"existingContact", result.existingContact ? "true" : "false"},
            {"joinKey", result.joinKey},
            {"groupId", result.groupId},
            {"groupName", result.groupName},
            {"groupAvatar", result.groupAvatar},
            {"ownerPublicKey", result.ownerPublicKey},
            {"ownerEncryptionKey", result.ownerEncryptionKey},
            {"visibility", result.visibility},
            {"serverUrl", result.serverUrl},
            {"memberCount", QString::number(result.memberCount)},
        };
        for (const QString &pair : expand(expect).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString name = pair.section(QLatin1Char('='), 0, 0);
            const QString value = pair.section(QLatin1Char('='), 1);
            QVERIFY2(fields.contains(name), qPrintable(name));
            QCOMPARE(fields.value(name), value);
        }
        if (!ok) {
            // A refusal carries nothing that a view could act on.
            QVERIFY(result.publicKey.isEmpty());
            QVERIFY(result.groupId.isEmpty());
            QVERIFY(result.serverUrl.isEmpty());
        }
    }

    void userAndStoreCanBeGiven()
    {
        QVERIFY(use(m_alice));
        // Seen as Bob, Alice's address and key are someone else's and Bob's are his own.
        DiscoveryContext asBob;
        asBob.identity = m_bob.identity;
        asBob.store = &ChatStore::instance();
        QCOMPARE(discover(m_bob.key(), asBob).error, QStringLiteral("self_add"));
        QCOMPARE(discover(m_bob.identity.erc20Address(), asBob).error, QStringLiteral("self_add"));
        const DiscoveryResult alice = discover(m_alice.identity.erc20Address(), asBob);
        QVERIFY2(alice.ok, qPrintable(alice.error));
        QCOMPARE(alice.publicKey, m_alice.key());
        // Without a signed-in identity nothing is "own".
        DiscoveryContext nobody;
        nobody.identity = velmor::identity::Identity();
        QVERIFY(discover(m_alice.key(), nobody).ok);
        // A closed store knows no contacts.
        ChatStore::instance().close();
        const DiscoveryResult dave = discover(m_dave.key());
        QVERIFY(dave.ok);
        QVERIFY(!dave.existingContact);
    }
};

QTEST_GUILESS_MAIN(DiscoveryTest)
#include "test_discovery.moc"
