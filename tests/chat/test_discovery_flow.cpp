// Discovery through the Chat object and the local services: pasted texts of
// every kind, QR pictures picked as files, saving a discovered person, and
// asking to join a normal group (one request, however often asked) or a
// super group (pending, joined, already a member).
#include "chat_fixture.h"

#include "chat/directory_parts.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/envelope.h"
#include "identity/qr.h"
#include "net/relay_api.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::FakeGroupServer;

class DiscoveryFlowTest : public QObject, private ChatFixture
{
    Q_OBJECT

private:
    std::unique_ptr<FakeGroupServer> m_server;
    QString m_joinKey, m_groupId;

    // Resolves and waits for the one completion; returns its arguments.
    QVariantList resolve(const QString &text)
    {
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        m_chat->resolveDiscoveryInput(text);
        if (!completed.wait(10000))
            return {};
        return completed.first();
    }

    QString expand(QString text) const
    {
        text.replace("{bobAddr}", m_bob.address());
        text.replace("{bobKey33}", compressedKey(m_bob.key()));
        text.replace("{bobKey}", m_bob.key());
        text.replace("{aliceKey}", m_alice.key());
        text.replace("{join}", m_joinKey);
        text.replace("{groupId}", m_groupId);
        text.replace("{sg}", m_server->baseUrl());
        text.replace("{carolKey}", m_carol.key());
        return text;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelayWithUsers(0x31));
        m_groups->addUser(m_bob.key(), QStringLiteral("lottie"), QStringLiteral("lottiehead_2"));

        // Carol runs a public group.
        QVERIFY(signInHere(m_carol));
        GroupRegistry carols;
        const GroupCreateResult created = createGroup(carols, QStringLiteral("Climbers"), {});
        QVERIFY2(created.ok, qPrintable(created.error));
        m_groupId = created.groupId;
        m_joinKey = carols.card(created.groupId)->joinKey();
        signOut();

        m_server = std::make_unique<FakeGroupServer>(m_carol.key(), QStringLiteral("Harbour"));
        QVERIFY(m_server->start() != 0);
        m_server->addMember(m_carol.key(), QStringLiteral("owner"));
    }
    void init() { as(m_alice); }
    void cleanup() { m_chat.reset(); }
    void cleanupTestCase()
    {
        m_server->stop();
        stopRelay();
    }

    void pastedTexts_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("expect"); // "key=value;…" of the shown result
        QTest::newRow("address") << "{bobAddr}" << true << "user"
                                 << "publicKey={bobKey};address={bobAddr};avatarId=lottiehead_2";
        QTest::newRow("65-byte key") << "  {bobKey}\n" << true << "user" << "publicKey={bobKey};address={bobAddr}";
        QTest::newRow("33-byte key") << "{bobKey33}" << true << "user" << "publicKey={bobKey};address={bobAddr}";
        QTest::newRow("group link") << "pelorin:group:{join}" << true << "normal_group"
                                    << "groupId={groupId};groupName=Climbers;ownerPublicKey={carolKey};joinKey={join}";
        QTest::newRow("super-group link") << "pelorin:supergroup:{sg}" << true << "super_group"
                                          << "serverUrl={sg};groupName=Harbour";
        QTest::newRow("own key") << "{aliceKey}" << false << "self_add" << "kind=user";
        QTest::newRow("unknown group") << "pelorin:group:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA" << false
                                       << "group_not_found" << "kind=normal_group";
        QTest::newRow("anything else") << "hello there" << false << "unsupported_input" << "kind=invalid";
    }
    void pastedTexts()
    {
        QFETCH(QString, input);
        QFETCH(bool, ok);
        QFETCH(QString, status);
        QFETCH(QString, expect);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        const QVariantList completed = resolve(expand(input));
        QCOMPARE(completed, (QVariantList{ok, status}));
        QVERIFY(!m_chat->discoveryBusy());
        const QVariantMap result = m_chat->discoveryResult();
        QCOMPARE(result.size(), 19);
        QCOMPARE(result.value("ok").toBool(), ok);
        QCOMPARE(result.value("error").toString(), ok ? QString() : status);
        for (const QString &pair : expand(expect).split(';')) {
            const int eq = pair.indexOf('=');
            QCOMPARE(result.value(pair.left(eq)).toString(), pair.mid(eq + 1));
        }
        // Failures are also the session's last error; successes are not.
        QCOMPARE(failed.count(), ok ? 0 : 1);
    }

    void blankTextClearsWithoutAnswer()
    {
        QVERIFY(!resolve(m_bob.address()).isEmpty());
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        QSignalSpy changed(m_chat.get(), &ChatController::discoveryChanged);
        m_chat->resolveDiscoveryInput(QStringLiteral(" \t "));
        QCOMPARE(changed.count(), 1);
        QVERIFY(m_chat->discoveryResult().isEmpty());
        QVERIFY(!m_chat->discoveryBusy());
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QCOMPARE(completed.count(), 0);
    }

    void aSecondTextWhileBusyIsIgnored()
    {
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        m_chat->resolveDiscoveryInput(m_bob.address());
        QVERIFY(m_chat->discoveryBusy());
        m_chat->resolveDiscoveryInput(QStringLiteral("hello there"));
        m_chat->resolveQrImage(QStringLiteral("/nonexistent.png"));
        QVERIFY(completed.wait(10000));
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QCOMPARE(completed.count(), 1);
        QCOMPARE(m_chat->discoveryResult().value("publicKey").toString(), m_bob.key());
    }

    void codePictures_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: a picture without a code
        QTest::addColumn<bool>("asUrl");
        QTest::addColumn<QVariantList>("completed");
        QTest::newRow("address, file url") << m_bob.address().toUtf8() << true << QVariantList{true, "user"};
        QTest::newRow("group link, plain path")
            << (QStringLiteral("pelorin:group:") + m_joinKey).toUtf8() << false << QVariantList{true, "normal_group"};
        QTest::newRow("no code") << QByteArray() << true << QVariantList{false, "qr_code_not_found"};
        QTest::newRow("no picture") << QByteArray("x") << false << QVariantList{false, "qr_image_unreadable"};
    }
    void codePictures()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, asUrl);
        QFETCH(QVariantList, completed);
        const QString path = QDir(m_dir.path()).filePath(QString::fromLatin1(QTest::currentDataTag()) + ".png");
        if (content == "x") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a picture");
        } else if (content.isEmpty()) {
            QImage blank(200, 200, QImage::Format_RGB32);
            blank.fill(Qt::white);
            blank.save(path, "PNG");
        } else {
            QVERIFY(qrPicture(content, 5).save(path, "PNG"));
        }
        QSignalSpy done(m_chat.get(), &ChatController::discoveryCompleted);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->resolveQrImage(asUrl ? QUrl::fromLocalFile(path).toString() : path);
        QVERIFY(m_chat->discoveryBusy());
        QVERIFY(done.wait(10000));
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.first(), completed);
        const QVariantMap result = m_chat->discoveryResult();
        if (completed.first().toBool()) {
            QCOMPARE(result.value("kind").toString(), completed.last().toString());
        } else {
            // A picture without a code is no error of the session.
            QCOMPARE(result, (QVariantMap{{"ok", false}, {"error", completed.last()}}));
            QCOMPARE(failed.count(), 0);
        }
        QVERIFY(!m_chat->discoveryBusy());
    }

    void savingADiscoveredPersonOpensTheChat()
    {
        // Bob was blocked once under another remark.
        ContactRecord old;
        old.wallet_public_key = m_bob.key();
        old.erc20_address = m_bob.address();
        old.remark = QStringLiteral("Bobby");
        old.blocked = 1;
        QVERIFY(ChatStore::instance().upsertContact(old));

        // Nothing to save from a group, or before anything was resolved.
        QVERIFY(!m_chat->saveContactAndStartChat(QStringLiteral("x")));
        QVERIFY(!resolve(QStringLiteral("pelorin:group:") + m_joinKey).isEmpty());
        QVERIFY(!m_chat->saveContactAndStartChat(QStringLiteral("x")));
        QCOMPARE(ChatStore::instance().contact(m_bob.key())->remark, QStringLiteral("Bobby"));

        QCOMPARE(resolve(m_bob.address()), (QVariantList{true, "user"}));
        QVERIFY(m_chat->saveContactAndStartChat(QStringLiteral("   ")));
        QCOMPARE(m_chat->currentPeer(), m_bob.key());
        QVERIFY(m_chat->discoveryResult().isEmpty());
        const ContactRecord saved = *ChatStore::instance().contact(m_bob.key());
        QCOMPARE(saved.remark, QStringLiteral("Bobby"));
        QCOMPARE(saved.blocked, 0);
        QCOMPARE(saved.avatar_id, QStringLiteral("lottiehead_2"));
        QCOMPARE(m_chat->conversations().size(), 1);
        QCOMPARE(m_chat->conversations().first().toMap().value("peer").toString(), m_bob.key());
        QVERIFY(!m_chat->contacts().isEmpty());
    }

    void askingTwiceToJoinSendsOneRequest()
    {
        QCOMPARE(resolve(QStringLiteral("pelorin:group:") + m_joinKey), (QVariantList{true, "normal_group"}));
        const int queued = m_relay.queueSize(m_carol.key());
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        m_chat->joinDiscoveredGroup(QStringLiteral("a note that goes nowhere"));
        m_chat->joinDiscoveredGroup();
        QVERIFY(completed.wait(10000));
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QCOMPARE(completed.count(), 1);
        QCOMPARE(completed.first(), (QVariantList{true, "pending"}));
        // The result stays shown while the owner decides.
        QCOMPARE(m_chat->discoveryResult().value("groupId").toString(), m_groupId);
        QVERIFY(!m_chat->discoveryBusy());
        QCOMPARE(m_relay.queueSize(m_carol.key()), queued + 1);

        // Carol reads one sound request, without a note or an avatar.
        m_chat.reset();
        signOut();
        QVERIFY(signInHere(m_carol));
        int requests = 0;
        for (const RawEnvelope &envelope : RelayApi::pull()) {
            if (envelope.senderPubkey != m_alice.key())
                continue;
            const QByteArray plain =
                velmor::identity::openDirectMessage(envelope.ciphertext, envelope.senderPubkey, m_carol.identity);
            const QJsonObject object = QJsonDocument::fromJson(plain).object();
            QVERIFY(!object.contains("groupJoinRequesterAvatarId"));
            QVERIFY(!object.contains("note"));
            const auto request = parseGroupJoinRequest(plain);
            QVERIFY(request);
            QCOMPARE(request->groupId, m_groupId);
            QCOMPARE(request->groupJoinKey, m_joinKey);
            QCOMPARE(request->requesterCanonicalKey, m_alice.key());
            QCOMPARE(request->requesterDisplayName, m_alice.address());
            ++requests;
        }
        QCOMPARE(requests, 1);
    }

    void aJoinThatCannotBeSentKeepsTheResult()
    {
        QCOMPARE(resolve(QStringLiteral("pelorin:group:") + m_joinKey), (QVariantList{true, "normal_group"}));
        m_relay.setFault(QStringLiteral("*"), velmor::fakes::Fault::http500());
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->joinDiscoveredGroup();
        QVERIFY(completed.wait(10000));
        m_relay.clearFaults();
        QCOMPARE(completed.first().first().toBool(), false);
        QVERIFY(!completed.first().last().toString().isEmpty());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(m_chat->discoveryResult().value("groupId").toString(), m_groupId);
        QVERIFY(!m_chat->discoveryBusy());
    }

    void superGroupJoins_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("resultKept");
        QTest::newRow("asks") << "invite" << "pending" << true;
        QTest::newRow("open") << "open" << "joined" << false;
        QTest::newRow("member already") << "open" << "already_member" << false;
    }
    void superGroupJoins()
    {
        QFETCH(QString, mode);
        QFETCH(QString, status);
        QFETCH(bool, resultKept);
        m_server->setJoinMode(mode);
        QCOMPARE(resolve(QStringLiteral("pelorin:supergroup:") + m_server->baseUrl()),
                 (QVariantList{true, "super_group"}));
        QSignalSpy completed(m_chat.get(), &ChatController::discoveryCompleted);
        m_chat->joinDiscoveredGroup(QStringLiteral("hello from alice"));
        QVERIFY(completed.wait(10000));
        QCOMPARE(completed.first(), (QVariantList{true, status}));
        QCOMPARE(m_chat->discoveryResult().isEmpty(), !resultKept);
        if (status == QLatin1String("pending"))
            QCOMPARE(m_server->joinRequestStatus(m_alice.key()), QStringLiteral("pending"));
        else
            QVERIFY(m_server->isMember(m_alice.key()));
    }
};

QTEST_GUILESS_MAIN(DiscoveryFlowTest)
#include "test_discovery_flow.moc"
