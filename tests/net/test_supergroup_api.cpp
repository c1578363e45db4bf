// The group-server API against local fake group servers: roles, joining,
// sealed messages in both key spellings, read state, voice rooms and
// replies that are broken in every way a server can break them.
#include "net/relay_session.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "net/supergroup_client.h"
#include "support/fake_group_server.h"
#include "support/memory_peak.h"
#include "supergroup_test_support.h"

#include "identity/crypto.h"
#include "identity/identity.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QtTest>

using velmor::fakes::Fault;
using velmor::fakes::FaultKind;
using velmor::fakes::FakeGroupServer;
using velmor::identity::Identity;
using velmor::net::ServiceError;
using velmor::sg::SGMessage;
using velmor::sg::SuperGroupApi;
using velmor::sg::SuperGroupServiceClient;
using sgtest::quoted;
using sgtest::signIn;
using sgtest::signInAfresh;

class SuperGroupApiTest : public QObject
{
    Q_OBJECT

private:
    Identity m_owner = Identity::generate();
    Identity m_admin = Identity::generate();
    Identity m_member = Identity::generate();
    Identity m_stranger = Identity::generate();

    SuperGroupApi &api() { return SuperGroupApi::instance(); }

    void populate(FakeGroupServer &server)
    {
        server.addMember(m_admin.publicKeyText(), QStringLiteral("admin"), QStringLiteral("Ada"));
        server.addMember(m_member.publicKeyText(), QStringLiteral("member"), QStringLiteral("Max"));
    }

private slots:
    void init()
    {
        signInAfresh(m_owner);
    }

    void informationAndMembers()
    {
        FakeGroupServer server(m_owner.publicKeyText(), QStringLiteral("Harbour"));
        QVERIFY(server.start());
        populate(server);
        signIn(m_member);
        const auto info = api().groupInfo(server.baseUrl());
        QVERIFY(info.ok);
        QCOMPARE(info.name, QStringLiteral("Harbour"));
        QCOMPARE(info.groupId, server.groupId());
        QCOMPARE(info.memberCount, 3);
        QCOMPARE(info.ownerPubkey, m_owner.publicKeyText());
        QCOMPARE(info.serverEncPubkey, server.serverPublicKey());
        QCOMPARE(info.joinMode, QStringLiteral("invite"));
        QVERIFY(info.voiceEnabled);

        const auto members = api().members(server.baseUrl());
        QCOMPARE(members.size(), 3);
        QHash<QString, QString> roles;
        for (const auto &member : members)
            roles.insert(member.pubkey, member.role);
        QCOMPARE(roles.value(m_owner.publicKeyText()), QStringLiteral("owner"));
        QCOMPARE(roles.value(m_admin.publicKeyText()), QStringLiteral("admin"));
        QCOMPARE(roles.value(m_member.publicKeyText()), QStringLiteral("member"));
        QCOMPARE(members.at(1).displayName, QStringLiteral("Ada"));
        QCOMPARE(members.at(1).address, m_admin.erc20Address());

        // A stranger sees the information but not the member list.
        signIn(m_stranger);
        QVERIFY(api().groupInfo(server.baseUrl()).ok);
        QVERIFY(api().members(server.baseUrl()).isEmpty());
    }

    // An empty member list and a failed request are told apart by the error.
    void memberListFailureIsNotAnEmptyList_data()
    {
        QTest::addColumn<int>("fault"); // -1: none, the caller is a stranger (403)
        QTest::addColumn<bool>("failed");
        QTest::newRow("listed") << int(FaultKind::None) << false;
        QTest::newRow("stranger") << -1 << true;
        QTest::newRow("500") << int(FaultKind::Http500) << true;
        QTest::newRow("not json") << int(FaultKind::MalformedJson) << true;
        QTest::newRow("dropped") << int(FaultKind::Drop) << true;
        QTest::newRow("no list") << int(FaultKind::CustomBody) << true;
    }
    void memberListFailureIsNotAnEmptyList()
    {
        QFETCH(int, fault);
        QFETCH(bool, failed);
        FakeGroupServer server(m_owner.publicKeyText(), QStringLiteral("Harbour"));
        QVERIFY(server.start());
        populate(server);
        const QString url = server.baseUrl();
        signIn(fault == -1 ? m_stranger : m_member);
        QVERIFY(!SuperGroupServiceClient::instance().token(url).isEmpty());
        if (fault > 0)
            server.http().setFault(QStringLiteral("/v1/members"),
                                   Fault::make(FaultKind(fault), 0, 200, quoted("{'ok':true}")));
        ServiceError error;
        const auto members = api().members(url, &error);
        QCOMPARE(error.isError(), failed);
        QCOMPARE(members.isEmpty(), failed);
        if (fault == -1)
            QCOMPARE(error.httpStatus, 403);
    }

    // The user's own entry is found wherever the server lists it, while
    // no other entry past the bound is kept; a list cut at the bound says
    // so. Entries that only name the key elsewhere are not the user's.
    void ownEntryIsFoundPastTheMembersKept_data()
    {
        QTest::addColumn<int>("before");   // other entries before the user's
        QTest::addColumn<int>("after");    // other entries after it
        QTest::addColumn<int>("spelling"); // 0 plain, 1 escaped, 2 absent, 3 decoys naming the key first
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("own");
        const int max = velmor::sg::kMaxMembers;
        QTest::newRow("within the bound") << 5 << 25 << 0 << 31 << 5;
        QTest::newRow("last within the bound") << max - 1 << 10 << 0 << max << max - 1;
        QTest::newRow("past the bound") << max << 0 << 0 << max + 1 << max;
        QTest::newRow("far past the bound") << max + 4000 << 300 << 0 << max + 1 << max;
        QTest::newRow("past the bound, key escaped") << max + 3 << 0 << 1 << max + 1 << max;
        QTest::newRow("past the bound, decoys first") << max + 3 << 0 << 3 << max + 1 << max;
        QTest::newRow("not listed") << max + 50 << 0 << 2 << max << -1;
    }
    void ownEntryIsFoundPastTheMembersKept()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(int, spelling);
        QFETCH(int, kept);
        QFETCH(int, own);
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        const QString url = server.baseUrl();
        QVERIFY(!SuperGroupServiceClient::instance().token(url).isEmpty());
        const QByteArray me = m_admin.publicKeyText().toUtf8();
        const auto other = [](int i) {
            return "{\"pubkey\":\"k" + QByteArray::number(i) + "\",\"role\":\"member\"},";
        };
        QByteArray body = "{\"members\":[";
        for (int i = 0; i < before; ++i)
            body += other(i);
        if (spelling == 3)
            for (int i = 0; i < 3; ++i)
                body += "{\"pubkey\":\"d" + QByteArray::number(i) + "\",\"display_name\":\"" + me
                    + "\",\"role\":\"owner\"},";
        if (spelling == 1)
            body += "{\"pubkey\":\"\\u00" + QByteArray::number(me.at(0), 16) + me.mid(1) + "\",\"role\":\"admin\"},";
        else if (spelling != 2)
            body += "{\"pubkey\":\"" + me + "\",\"role\":\"admin\"},";
        for (int i = 0; i < after; ++i)
            body += other(before + i);
        body.chop(1);
        body += "]}";
        server.http().setFault(QStringLiteral("/v1/members"), Fault::custom(200, body));

        const velmor::sg::SGMemberList list = api().memberList(url, QString::fromUtf8(me));
        QVERIFY(!list.error.isError());
        QCOMPARE(list.members.size(), qsizetype(kept));
        QCOMPARE(list.own, own);
        if (own >= 0) {
            QCOMPARE(list.members.at(own).pubkey, QString::fromUtf8(me));
            QCOMPARE(list.members.at(own).role, QStringLiteral("admin"));
        }
        const int listed = before + after + (spelling == 2 ? 0 : 1) + (spelling == 3 ? 3 : 0);
        QCOMPARE(list.total, listed);
        QCOMPARE(list.partial, listed > velmor::sg::kMaxMembers);
        // The plain call keeps the bound alone.
        QCOMPARE(api().members(url).size(), qsizetype(qMin(listed, velmor::sg::kMaxMembers)));
    }

    void memberCannotAdminister()
    {
        FakeGroupServer server(m_owner.publicKeyText(), QStringLiteral("Harbour"));
        QVERIFY(server.start());
        populate(server);
        const QString url = server.baseUrl();
        const QString newcomer = Identity::generate().publicKeyText();
        signIn(m_member);

        auto expectDenied = [](bool ok, const ServiceError &error) {
            QVERIFY(!ok);
            QCOMPARE(error.httpStatus, 403);
            QCOMPARE(error.code, int(velmor::net::ErrorPermissionDenied));
            QCOMPARE(error.messageKey, QStringLiteral("error.permission.denied"));
        };
        ServiceError error;
        expectDenied(api().updateGroup(url, QStringLiteral("Mine now"), QString(), QStringLiteral("open"),
                                       QString(), &error), error);
        expectDenied(api().setGroupMuted(url, true, &error), error);
        expectDenied(api().inviteMember(url, newcomer, QString(), QString(), &error), error);
        expectDenied(api().removeMember(url, m_admin.publicKeyText(), &error), error);
        expectDenied(api().setMemberRole(url, m_member.publicKeyText(), QStringLiteral("admin"), &error), error);
        expectDenied(api().decideJoin(url, newcomer, QStringLiteral("block"), &error), error);
        expectDenied(api().openVoiceRoom(url, &error), error);
        QVERIFY(api().pendingJoins(url).isEmpty());
        QCOMPARE(server.name(), QStringLiteral("Harbour"));
        QVERIFY(!server.allMuted());
        QCOMPARE(server.members().size(), 3);
        QCOMPARE(server.roleOf(m_member.publicKeyText()), QStringLiteral("member"));
        QVERIFY(server.blocked().isEmpty());

        // What a member may do for itself.
        QVERIFY(api().updateMemberProfile(url, QStringLiteral("Maxi"), QStringLiteral("avatar-7")));
        QVERIFY(api().setMemberMuted(url, true));
        QCOMPARE(server.member(m_member.publicKeyText()).displayName, QStringLiteral("Maxi"));
        QVERIFY(server.member(m_member.publicKeyText()).muted);

        // An admin manages members but not roles or other admins.
        signIn(m_admin);
        QVERIFY(api().inviteMember(url, newcomer, QStringLiteral("New"), QString()));
        QCOMPARE(server.roleOf(newcomer), QStringLiteral("member"));
        QVERIFY(api().removeMember(url, newcomer));
        QVERIFY(!server.isMember(newcomer));
        expectDenied(api().setMemberRole(url, m_member.publicKeyText(), QStringLiteral("admin"), &error), error);
        QCOMPARE(error.detail, QStringLiteral("not_owner"));
        expectDenied(api().removeMember(url, m_owner.publicKeyText(), &error), error);
        QVERIFY(api().setGroupMuted(url, true));
        QVERIFY(server.allMuted());

        // The owner sets roles.
        signIn(m_owner);
        QVERIFY(api().setMemberRole(url, m_member.publicKeyText(), QStringLiteral("admin")));
        QCOMPARE(server.roleOf(m_member.publicKeyText()), QStringLiteral("admin"));
        QVERIFY(api().updateGroup(url, QStringLiteral("Harbour 2"), QString(), QStringLiteral("open"),
                                  QStringLiteral("Be kind")));
        QCOMPARE(server.name(), QStringLiteral("Harbour 2"));
        QCOMPARE(server.notice(), QStringLiteral("Be kind"));
    }

    void argumentsRefusedWithoutRequest()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        ServiceError error;
        for (const QString &role : {QStringLiteral("owner"), QStringLiteral("Admin"), QString()}) {
            QVERIFY(!api().setMemberRole(server.baseUrl(), m_member.publicKeyText(), role, &error));
            QVERIFY(error.isError());
        }
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/member/role")), 0);
        QVERIFY(!api().decideJoin(server.baseUrl(), m_member.publicKeyText(), QStringLiteral("Approve")));
        QVERIFY(!api().decideJoin(server.baseUrl(), m_member.publicKeyText(), QStringLiteral("kick")));
        QVERIFY(!api().decideJoin(server.baseUrl(), QString(), QStringLiteral("approve")));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/join/approve")), 0);
    }

    void joinRequestsAndDecisions()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        const QString url = server.baseUrl();
        const Identity rejected = Identity::generate();
        const Identity blocked = Identity::generate();

        signIn(m_member);
        auto join = api().requestJoin(url, QStringLiteral("let me in"));
        QVERIFY2(join.ok, qPrintable(join.error));
        QCOMPARE(join.status, QStringLiteral("pending"));
        QVERIFY(!server.isMember(m_member.publicKeyText()));
        signIn(rejected);
        QCOMPARE(api().requestJoin(url, QString()).status, QStringLiteral("pending"));
        signIn(blocked);
        QCOMPARE(api().requestJoin(url, QStringLiteral("spam")).status, QStringLiteral("pending"));

        signIn(m_owner);
        const auto pending = api().pendingJoins(url);
        QCOMPARE(pending.size(), 3);
        QCOMPARE(pending.first().pubkey, m_member.publicKeyText());
        QCOMPARE(pending.first().note, QStringLiteral("let me in"));
        QVERIFY(pending.first().createdAt > 0);
        QVERIFY(api().decideJoin(url, m_member.publicKeyText(), QStringLiteral("approve")));
        QVERIFY(api().decideJoin(url, rejected.publicKeyText(), QStringLiteral("reject")));
        QVERIFY(api().decideJoin(url, blocked.publicKeyText(), QStringLiteral("block")));
        QCOMPARE(server.roleOf(m_member.publicKeyText()), QStringLiteral("member"));
        QCOMPARE(server.joinRequestStatus(rejected.publicKeyText()), QStringLiteral("rejected"));
        // Decided requests are no longer pending.
        QVERIFY(api().pendingJoins(url).isEmpty());
        // Approving what is not pending fails.
        QVERIFY(!api().decideJoin(url, rejected.publicKeyText(), QStringLiteral("approve")));

        signIn(m_member);
        QCOMPARE(api().requestJoin(url, QString()).status, QStringLiteral("already_member"));
        signIn(blocked);
        join = api().requestJoin(url, QString());
        QVERIFY(!join.ok);
        QCOMPARE(join.error, QStringLiteral("join_http_403"));
        QCOMPARE(join.serviceError.httpStatus, 403);
        QCOMPARE(join.serviceError.messageKey, QStringLiteral("error.permission.denied"));
        QCOMPARE(join.serviceError.detail, QStringLiteral("join_blocked"));

        // An open group admits at once.
        server.setJoinMode(QStringLiteral("open"));
        signIn(m_stranger);
        QCOMPARE(api().requestJoin(url, QString()).status, QStringLiteral("joined"));
        QVERIFY(server.isMember(m_stranger.publicKeyText()));
    }

    void joinFailures()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        velmor::net::RelayAuthSession::instance().clear();
        auto join = api().requestJoin(server.baseUrl(), QString());
        QVERIFY(!join.ok);
        QCOMPARE(join.error, QStringLiteral("no_identity"));
        QCOMPARE(join.serviceError.messageKey, QStringLiteral("error.auth.required"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/auth/challenge")), 0);

        signIn(m_member);
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::http500());
        join = api().requestJoin(server.baseUrl(), QString());
        QCOMPARE(join.error, QStringLiteral("challenge_500"));
        QCOMPARE(join.serviceError.httpStatus, 500);
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::custom(200, "{}"));
        join = api().requestJoin(server.baseUrl(), QString());
        QCOMPARE(join.error, QStringLiteral("challenge_missing"));
        server.http().clearFaults();
        server.http().setFault(QStringLiteral("/v1/join/request"), Fault::http500());
        join = api().requestJoin(server.baseUrl(), QString());
        QCOMPARE(join.error, QStringLiteral("join_http_500"));
        QVERIFY(!server.isMember(m_member.publicKeyText()));
    }

    void sendAndPullRoundTrip()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        const QString url = server.baseUrl();
        const QString key = server.serverPublicKey();
        const QByteArray jpeg = QByteArray("\xff\xd8\xff\xe0 fake jpeg \xff\xd9", 17);
        const QByteArray audio = QByteArray(3000, '\x42');

        auto sent = api().sendText(url, key, QStringLiteral("hello 世界"), QStringLiteral("Olga"),
                                   QStringLiteral("m-1"));
        QVERIFY2(sent.ok, qPrintable(sent.error));
        QVERIFY(api().sendImage(url, key, jpeg, 640, 480, QStringLiteral("Olga"), QStringLiteral("m-2")).ok);
        QVERIFY(api().sendVoice(url, key, audio, 2500, {1, 5, 3}, QStringLiteral("Olga"), QStringLiteral("m-3")).ok);
        // A repeated send of one id is stored once.
        QVERIFY(api().sendText(url, key, QStringLiteral("hello 世界"), QStringLiteral("Olga"),
                               QStringLiteral("m-1")).ok);
        QCOMPARE(server.messages().size(), 3);

        signIn(m_member);
        const auto messages = api().pullMessages(url, 0, 200);
        QCOMPARE(messages.size(), 3);
        const SGMessage &text = messages.at(0);
        QCOMPARE(text.seq, qint64(1));
        QCOMPARE(text.messageId, QStringLiteral("m-1"));
        QCOMPARE(text.type, QStringLiteral("text"));
        QCOMPARE(text.text, QStringLiteral("hello 世界"));
        QCOMPARE(text.senderPubkey, m_owner.publicKeyText());
        QCOMPARE(text.senderDisplayName, QStringLiteral("Olga"));
        QCOMPARE(text.senderAddress, m_owner.erc20Address());
        QVERIFY(text.hasContent);
        QVERIFY(text.createdAt > 1700000000);

        const SGMessage &image = messages.at(1);
        QCOMPARE(image.type, QStringLiteral("image"));
        QCOMPARE(velmor::crypto::base64UrlDecode(image.imageData), jpeg);
        QCOMPARE(image.mime, QStringLiteral("image/jpeg"));
        QCOMPARE(image.width, 640);
        QCOMPARE(image.height, 480);
        const SGMessage &voice = messages.at(2);
        QCOMPARE(voice.type, QStringLiteral("voice"));
        QCOMPARE(velmor::crypto::base64UrlDecode(voice.voiceData), audio);
        QCOMPARE(voice.durationMs, 2500);

        // The cursor and the limit.
        QCOMPARE(api().pullMessages(url, 2, 200).size(), 1);
        QCOMPARE(api().pullMessages(url, 0, 2).size(), 2);
        QVERIFY(api().pullMessages(url, 3, 200).isEmpty());

        // Media kept apart by the server are fetched.
        server.setMediaByReference(true);
        const auto fetched = api().pullMessages(url, 1, 200);
        QCOMPARE(fetched.size(), 2);
        QCOMPARE(velmor::crypto::base64UrlDecode(fetched.at(0).imageData), jpeg);
        QCOMPARE(velmor::crypto::base64UrlDecode(fetched.at(1).voiceData), audio);
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/image/get")), 1);
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/voice/get")), 1);

        // Media that cannot be had leave the message without it; a server
        // that stops answering is not asked again within the same pull.
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::custom(404, "{}"));
        auto withoutMedia = api().pullMessages(url, 1, 200);
        QCOMPARE(withoutMedia.size(), 2);
        QVERIFY(withoutMedia.at(0).imageData.isEmpty());
        QVERIFY(withoutMedia.at(0).hasContent);
        QCOMPARE(velmor::crypto::base64UrlDecode(withoutMedia.at(1).voiceData), audio);
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::drop());
        server.http().resetCounts();
        withoutMedia = api().pullMessages(url, 1, 200);
        QCOMPARE(withoutMedia.size(), 2);
        QVERIFY(withoutMedia.at(1).voiceData.isEmpty());
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/voice/get")), 0);
        server.http().clearFaults();
    }

    void sendRefusals()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        FakeGroupServer other(m_owner.publicKeyText());
        QVERIFY(server.start());
        QVERIFY(other.start());
        populate(server);
        const QString url = server.baseUrl();
        const QString key = server.serverPublicKey();

        QCOMPARE(api().sendText(url, QString(), QStringLiteral("x"), QString(), QStringLiteral("a")).error,
                 QStringLiteral("server_encryption_key_missing"));
        QCOMPARE(api().sendText(url, QStringLiteral("not-a-key"), QStringLiteral("x"), QString(), QStringLiteral("a")).error,
                 QStringLiteral("encrypt_failed"));
        QCOMPARE(api().sendText(url, key, QStringLiteral("  "), QString(), QStringLiteral("a")).error,
                 QStringLiteral("empty_text"));
        QCOMPARE(api().sendImage(url, key, QByteArray(), 1, 1, QString(), QStringLiteral("a")).error,
                 QStringLiteral("empty_image"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/message/send")), 0);

        // Sealed to the wrong server's key: this server cannot open it.
        const auto wrongKey = api().sendText(url, other.serverPublicKey(), QStringLiteral("x"), QString(),
                                             QStringLiteral("b"));
        QVERIFY(!wrongKey.ok);
        QCOMPARE(wrongKey.error, QStringLiteral("send_http_400"));

        server.setAllMuted(true);
        signIn(m_member);
        const auto muted = api().sendText(url, key, QStringLiteral("x"), QString(), QStringLiteral("c"));
        QCOMPARE(muted.error, QStringLiteral("send_http_403"));
        QCOMPARE(velmor::net::classifyError(muted.error).messageKey,
                 QStringLiteral("error.permission.denied"));
        signIn(m_admin);
        QVERIFY(api().sendText(url, key, QStringLiteral("admins may"), QString(), QStringLiteral("d")).ok);
        signIn(m_stranger);
        QCOMPARE(api().sendText(url, key, QStringLiteral("x"), QString(), QStringLiteral("e")).error,
                 QStringLiteral("send_http_403"));
        QCOMPARE(server.messages().size(), 1);
    }

    void pullReadsBothSpellingsAndSealedContent()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        server.appendMessage(m_admin.publicKeyText(), QString(),
                             QJsonObject{{"type", "text"}, {"text", "snake"},
                                         {"sender_display_name", "Ada"}, {"sender_address", m_admin.erc20Address()},
                                         {"sender_avatar_kind", "builtin"}, {"sender_avatar_id", "7"}},
                             /*plainContent=*/true);
        server.appendMessage(m_admin.publicKeyText(), QStringLiteral("voice"),
                             QJsonObject{{"voice_b64", "AAEC"}, {"duration_ms", 1200}});
        server.appendMessage(m_admin.publicKeyText(), QStringLiteral("image"),
                             QJsonObject{{"imageB64", "AAEC"}, {"mime", "image/png"}, {"width", 3},
                                         {"height", 4}, {"senderAvatarKind", "custom"}});
        server.appendMessage(m_admin.publicKeyText(), QStringLiteral("system"), QJsonObject(),
                             false, QStringLiteral("member_joined"));

        signIn(m_member);
        const auto messages = api().pullMessages(server.baseUrl(), 0, 200);
        QCOMPARE(messages.size(), 4);
        QCOMPARE(messages.at(0).type, QStringLiteral("text"));
        QCOMPARE(messages.at(0).text, QStringLiteral("snake"));
        QCOMPARE(messages.at(0).senderDisplayName, QStringLiteral("Ada"));
        QCOMPARE(messages.at(0).senderAddress, m_admin.erc20Address());
        QCOMPARE(messages.at(0).senderAvatarKind, QStringLiteral("builtin"));
        QCOMPARE(messages.at(0).senderAvatarId, QStringLiteral("7"));
        QVERIFY(messages.at(0).hasContent);
        QCOMPARE(messages.at(1).voiceData, QStringLiteral("AAEC"));
        QCOMPARE(messages.at(1).durationMs, 1200);
        QCOMPARE(messages.at(2).imageData, QStringLiteral("AAEC"));
        QCOMPARE(messages.at(2).mime, QStringLiteral("image/png"));
        QCOMPARE(messages.at(2).width, 3);
        QCOMPARE(messages.at(2).height, 4);
        QCOMPARE(messages.at(2).senderAvatarKind, QStringLiteral("custom"));
        // An empty content object reads as no content; the event still comes through.
        QVERIFY(!messages.at(3).hasContent);
        QCOMPARE(messages.at(3).event, QStringLiteral("member_joined"));
        QCOMPARE(messages.at(3).seq, qint64(4));
    }

    void sealedContentIsCheckedPerReader()
    {
        const Identity reader = Identity::generate();
        const QByteArray content = quoted("{'type':'text','text':'secret','senderDisplayName':'Q'}");
        QJsonObject message{{"seq", 9}, {"message_id", "x"}, {"sender_pubkey", "k"},
                            {"created_at", 1.7e9},
                            {"enc_content", Ecies::seal(reader.publicKey, content)}};
        SGMessage parsed = SuperGroupApi::parseMessage(message, reader.privateKey);
        QVERIFY(parsed.hasContent);
        QCOMPARE(parsed.text, QStringLiteral("secret"));
        QCOMPARE(parsed.type, QStringLiteral("text"));
        QCOMPARE(parsed.createdAt, qint64(1700000000));

        // Another reader's key, a tampered box, a box that is not JSON.
        QVERIFY(!SuperGroupApi::parseMessage(message, Identity::generate().privateKey).hasContent);
        QString tampered = message.value("enc_content").toString();
        tampered[tampered.size() - 5] = tampered[tampered.size() - 5] == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
        message.insert("enc_content", tampered);
        parsed = SuperGroupApi::parseMessage(message, reader.privateKey);
        QVERIFY(!parsed.hasContent);
        QVERIFY(parsed.text.isEmpty());
        QCOMPARE(parsed.seq, qint64(9));
        message.insert("enc_content", Ecies::seal(reader.publicKey, "not json"));
        QVERIFY(!SuperGroupApi::parseMessage(message, reader.privateKey).hasContent);
        message.insert("enc_content", QStringLiteral("%%%"));
        QVERIFY(!SuperGroupApi::parseMessage(message, reader.privateKey).hasContent);
        // An unreadable box does not hide a readable plain content object.
        message.insert("content", QJsonObject{{"text", "plain"}});
        parsed = SuperGroupApi::parseMessage(message, reader.privateKey);
        QVERIFY(parsed.hasContent);
        QCOMPARE(parsed.text, QStringLiteral("plain"));
    }

    void outerFieldsCannotRewriteTheContent_data()
    {
        QTest::addColumn<QJsonObject>("outer");
        QTest::addColumn<QJsonObject>("content");
        QTest::addColumn<bool>("accepted");
        const Identity alice(QByteArray(32, 0x11));
        const Identity bob(QByteArray(32, 0x22));
        const QJsonObject words{{"type", "text"}, {"text", "see you at 5"}, {"senderAddress", alice.erc20Address()}};
        const QJsonObject fromAlice{{"seq", 3}, {"message_id", "m3"}, {"sender_pubkey", alice.publicKeyText()}};
        auto with = [](QJsonObject object, const char *key, const QJsonValue &value) {
            object.insert(QLatin1String(key), value);
            return object;
        };
        QTest::newRow("honest") << fromAlice << words << true;
        QTest::newRow("outer repeats the content") << with(fromAlice, "text", "see you at 5") << words << true;
        QTest::newRow("outer type of the sender") << with(fromAlice, "type", "text") << words << true;
        QTest::newRow("outer text put in the mouth")
            << with(fromAlice, "text", "send me your phrase") << words << false;
        QTest::newRow("outer text where the content has none")
            << with(fromAlice, "text", "send me your phrase") << with(words, "text", QJsonValue()) << false;
        QTest::newRow("message moved to another sender")
            << with(fromAlice, "sender_pubkey", bob.publicKeyText()) << words << false;
        QTest::newRow("sealed sender key of another member")
            << fromAlice << with(words, "senderPubkey", bob.publicKeyText()) << false;
        QTest::newRow("outer address of another member")
            << with(fromAlice, "sender_address", bob.erc20Address()) << words << false;
        QTest::newRow("outer display name") << with(fromAlice, "sender_display_name", "Admin") << words << false;
        QTest::newRow("outer type changed") << with(fromAlice, "type", "system") << words << false;
        QTest::newRow("address in another letter case")
            << fromAlice << with(words, "senderAddress", alice.erc20Address().toUpper().replace("0X", "0x"))
            << true;
    }

    void outerFieldsCannotRewriteTheContent()
    {
        // A hostile group server seals the member's real content to the
        // reader but edits the fields around it.
        QFETCH(QJsonObject, outer);
        QFETCH(QJsonObject, content);
        QFETCH(bool, accepted);
        const Identity reader = Identity::generate();
        for (const bool sealed : {true, false}) {
            QJsonObject message = outer;
            if (sealed)
                message.insert("enc_content",
                               Ecies::seal(reader.publicKey, QJsonDocument(content).toJson(QJsonDocument::Compact)));
            else
                message.insert("content", content);
            const SGMessage m = SuperGroupApi::parseMessage(message, reader.privateKey);
            QCOMPARE(m.hasContent, accepted);
            QCOMPARE(m.rejectReason.isEmpty(), accepted);
            QCOMPARE(m.seq, qint64(3));
            QCOMPARE(m.messageId, QStringLiteral("m3"));
            if (accepted)
                QCOMPARE(m.text, content.value("text").toString());
            else
                QVERIFY(m.text.isEmpty() && m.senderAddress.isEmpty() && m.senderDisplayName.isEmpty());
        }
    }

    void everyContentFieldReadsInBothSpellings()
    {
        // Each content field under its camelCase and its snake_case name,
        // sealed to the reader and as a plain content object: every one of
        // them must come through, whichever spelling the server's writer used.
        const Identity reader = Identity::generate();
        struct Field
        {
            const char *camel;
            const char *snake;
            QJsonValue value;
        };
        const QList<Field> fields{
            {"senderAddress", "sender_address", "0xfeed"},
            {"senderDisplayName", "sender_display_name", "Dora"},
            {"senderAvatarKind", "sender_avatar_kind", "image"},
            {"senderAvatarId", "sender_avatar_id", "avatar_3"},
            {"imageB64", "image_b64", "SU1H"},
            {"voiceB64", "voice_b64", "Vk9D"},
            {"durationMs", "duration_ms", 4321},
        };
        for (const bool camel : {true, false}) {
            QJsonObject content{{"type", "image"}, {"text", "caption"}, {"mime", "image/webp"}, {"width", 12},
                                {"height", 34}};
            for (const Field &field : fields)
                content.insert(QLatin1String(camel ? field.camel : field.snake), field.value);
            const QByteArray plain = QJsonDocument(content).toJson(QJsonDocument::Compact);
            const QJsonObject sealed{{"seq", 1}, {"message_id", "m"}, {"sender_pubkey", "k"},
                                     {"enc_content", velmor::crypto::Ecies::seal(reader.publicKey, plain)}};
            const QJsonObject open{{"seq", 1}, {"message_id", "m"}, {"sender_pubkey", "k"}, {"content", content}};
            for (const QJsonObject &message : {sealed, open}) {
                const QString where = QStringLiteral("%1, %2").arg(camel ? "camelCase" : "snake_case",
                                                                    message.contains("content") ? "plain" : "sealed");
                const SGMessage m = SuperGroupApi::parseMessage(message, reader.privateKey);
                QVERIFY2(m.hasContent, qPrintable(where));
                QCOMPARE(m.type, QStringLiteral("image"));
                QCOMPARE(m.text, QStringLiteral("caption"));
                QCOMPARE(m.mime, QStringLiteral("image/webp"));
                QCOMPARE(m.width, 12);
                QCOMPARE(m.height, 34);
                QVERIFY2(m.senderAddress == QLatin1String("0xfeed"), qPrintable(where));
                QVERIFY2(m.senderDisplayName == QLatin1String("Dora"), qPrintable(where));
                QVERIFY2(m.senderAvatarKind == QLatin1String("image"), qPrintable(where));
                QVERIFY2(m.senderAvatarId == QLatin1String("avatar_3"), qPrintable(where));
                QVERIFY2(m.imageData == QLatin1String("SU1H"), qPrintable(where));
                QVERIFY2(m.voiceData == QLatin1String("Vk9D"), qPrintable(where));
                QVERIFY2(m.durationMs == 4321, qPrintable(where));
            }
        }
    }

    void numbersBeyondDoublePrecisionOrRange()
    {
        // Above 2^53 a double would round; far outside 64 bits converting one
        // is undefined. Exact integers stay exact, the rest read as 0.
        const QByteArray big = quoted("{'seq':9007199254740993,'message_id':'m','created_at':9007199254740995,"
                                      "'content':{'type':'text','text':'t','durationMs':1e300,'width':-1e300}}");
        SGMessage parsed = SuperGroupApi::parseMessage(QJsonDocument::fromJson(big).object(), QByteArray());
        QCOMPARE(parsed.seq, Q_INT64_C(9007199254740993));
        QCOMPARE(parsed.createdAt, Q_INT64_C(9007199254740995));
        QCOMPARE(parsed.durationMs, 0);
        QCOMPARE(parsed.width, 0);
        const QByteArray huge = quoted("{'seq':1e300,'message_id':'m','created_at':-1e300,'content':{'type':'x'}}");
        parsed = SuperGroupApi::parseMessage(QJsonDocument::fromJson(huge).object(), QByteArray());
        QCOMPARE(parsed.seq, qint64(0));
        QCOMPARE(parsed.createdAt, qint64(0));

        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        server.http().setFault(QStringLiteral("/v1/message/read"),
                               Fault::custom(200, quoted("{'last_read_seq':1e300,'unread':1e12}")));
        const velmor::sg::SGReadState state = api().readState(server.baseUrl());
        QVERIFY(state.ok);
        QCOMPARE(state.lastReadSeq, qint64(0));
        QCOMPARE(state.unread, 0);
    }

    void readState()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        for (int i = 0; i < 3; ++i)
            server.appendMessage(m_owner.publicKeyText(), QStringLiteral("text"), QJsonObject{{"text", "x"}});
        signIn(m_member);
        auto state = api().readState(server.baseUrl());
        QVERIFY(state.ok);
        QCOMPARE(state.lastReadSeq, qint64(0));
        QCOMPARE(state.unread, 3);
        state = api().markRead(server.baseUrl(), 2);
        QVERIFY(state.ok);
        QCOMPARE(state.lastReadSeq, qint64(2));
        QCOMPARE(state.unread, 1);
        // Never backwards, never past the last message.
        QCOMPARE(api().markRead(server.baseUrl(), 1).lastReadSeq, qint64(2));
        state = api().markRead(server.baseUrl(), 99);
        QCOMPARE(state.lastReadSeq, qint64(3));
        QCOMPARE(state.unread, 0);

        signIn(m_stranger);
        state = api().readState(server.baseUrl());
        QVERIFY(!state.ok);
        QCOMPARE(state.error.httpStatus, 403);
    }

    void malformedRepliesGiveEmptyResults()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        server.appendMessage(m_owner.publicKeyText(), QStringLiteral("text"), QJsonObject{{"text", "x"}});
        const QString url = server.baseUrl();
        auto &http = server.http();

        const QList<Fault> faults{Fault::malformedJson(), Fault::http500(),
                                  Fault::custom(200, "[1,2,3]"), Fault::custom(200, "")};
        for (const Fault &fault : faults) {
            // A valid token first, so that the broken replies reach the calls.
            http.clearFaults();
            QVERIFY(!SuperGroupServiceClient::instance().token(url).isEmpty());
            http.setFault(QStringLiteral("*"), fault);

            QVERIFY(!api().groupInfo(url).ok);
            QVERIFY(api().members(url).isEmpty());
            QVERIFY(api().pullMessages(url, 0, 200).isEmpty());
            QVERIFY(api().pendingJoins(url).isEmpty());
            QVERIFY(!api().readState(url).ok);
            QVERIFY(!api().markRead(url, 1).ok);
            QVERIFY(!api().voiceStatus(url).ok);
            QVERIFY(!api().voiceToken(url).ok);
            QVERIFY(!api().openVoiceRoom(url));
        }
        // Objects without the expected lists.
        http.setFault(QStringLiteral("*"), Fault::custom(200, quoted("{'members':'x','messages':{},'requests':7}")));
        QVERIFY(api().members(url).isEmpty());
        QVERIFY(api().pullMessages(url, 0, 200).isEmpty());
        QVERIFY(api().pendingJoins(url).isEmpty());
        QVERIFY(!api().voiceToken(url).ok);
        QVERIFY(!api().openVoiceRoom(url));
        http.clearFaults();

        // Entries of the wrong shape are skipped, the rest kept.
        http.setFault(QStringLiteral("/v1/message/pull"),
                      Fault::custom(200, quoted("{'messages':[1,'a',null,{'seq':'5','message_id':'ok','content':{'text':'t'}},{'seq':{}}]}")));
        const auto messages = api().pullMessages(url, 0, 200);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages.at(0).seq, qint64(5));
        QCOMPARE(messages.at(0).text, QStringLiteral("t"));
        QCOMPARE(messages.at(1).seq, qint64(0));
        QVERIFY(!messages.at(1).hasContent);
        http.setFault(QStringLiteral("/v1/members"),
                      Fault::custom(200, quoted("{'members':[{'role':'owner'},{'pubkey':'p','muted':'yes'}, 4]}")));
        const auto members = api().members(url);
        QCOMPARE(members.size(), 1);
        QCOMPARE(members.first().pubkey, QStringLiteral("p"));
        QVERIFY(!members.first().muted);
        http.clearFaults();

        // A server that does not answer at all.
        http.setFault(QStringLiteral("/v1/group/info"), Fault::drop());
        QVERIFY(!api().groupInfo(url).ok);
        // Its failure is logged in one line that log searches can match.
        http.setFault(QStringLiteral("/v1/group/info"), Fault::http500());
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^\\[SG\\] /v1/group/info failed url=")
                                                + QRegularExpression::escape(url)
                                                + QStringLiteral(" status=500 err=\\S")));
        QVERIFY(!api().groupInfo(url).ok);
        http.clearFaults();
        QVERIFY(api().groupInfo(url).ok);
    }

    // A list answer of tiny entries (as many as fit in a few megabytes):
    // only the entries kept are built, so a request costs about the
    // answer's own size, not twenty times it; an answer read whole refuses
    // so many values.
    void answersOfTinyEntriesCostAboutTheirSize_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("list");
        QTest::addColumn<int>("kept");
        QTest::newRow("messages past the limit asked for") << "/v1/message/pull" << "messages" << 200;
        QTest::newRow("members") << "/v1/members" << "members" << velmor::sg::kMaxMembers;
        QTest::newRow("join requests") << "/v1/join/pending" << "requests" << velmor::sg::kMaxJoinRequests;
        QTest::newRow("group information padded") << "/v1/group/info" << "padding" << 0;
    }
    void answersOfTinyEntriesCostAboutTheirSize()
    {
        QFETCH(QString, path);
        QFETCH(QString, list);
        QFETCH(int, kept);
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        const QString url = server.baseUrl();
        QVERIFY(!SuperGroupServiceClient::instance().token(url).isEmpty());
        constexpr qsizetype kBodyBytes = 8 * 1024 * 1024;
        QByteArray body = "{\"" + list.toLatin1() + "\":[";
        body.reserve(kBodyBytes + 256);
        for (int i = 0; body.size() < kBodyBytes; ++i) {
            const QByteArray n = QByteArray::number(i);
            body += (i ? "," : "") + ("{\"seq\":" + n + ",\"message_id\":\"m" + n + "\",\"pubkey\":\"p" + n
                                      + "\",\"status\":\"pending\",\"content\":{\"text\":\"t\"}}");
        }
        body += "]}";
        server.http().setFault(path, Fault::custom(200, body));

        const qint64 before = velmor::fakes::statusBytes("VmRSS");
        if (!velmor::fakes::resetPeakResident() || before < 0)
            QSKIP("this kernel does not report a resettable peak");
        qsizetype got = -1;
        if (path == QLatin1String("/v1/message/pull"))
            got = api().pullMessages(url, 0, 200).size();
        else if (path == QLatin1String("/v1/members"))
            got = api().members(url).size();
        else if (path == QLatin1String("/v1/join/pending"))
            got = api().pendingJoins(url).size();
        else
            got = api().groupInfo(url).ok ? 1 : 0;
        const qint64 growth = velmor::fakes::statusBytes("VmHWM") - before;
        QCOMPARE(got, qsizetype(kept));
        // The answer once on this side and once in the fake server's
        // buffers, with room for the entries kept.
        QVERIFY2(growth < 3 * kBodyBytes, qPrintable(QString::number(growth >> 20) + " MiB"));
    }

    // The local servers name a media server on this machine where nothing
    // listens: nothing is looked up or sent past 127.0.0.1.
    void localServersNameOnlyThisMachine()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        const QString url = server.baseUrl();
        signIn(m_admin);
        QVERIFY(api().openVoiceRoom(url));
        for (const QString &media : {api().groupInfo(url).voiceUrl, api().voiceStatus(url).url, api().voiceToken(url).url}) {
            QCOMPARE(QUrl(media).host(), QStringLiteral("127.0.0.1"));
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, quint16(QUrl(media).port()));
            QVERIFY(!probe.waitForConnected(5000));
            QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);
        }
    }

    void voiceRoom()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        const QString url = server.baseUrl();

        signIn(m_member);
        auto status = api().voiceStatus(url);
        QVERIFY(status.ok);
        QVERIFY(!status.open);
        QVERIFY(!status.canOpen);
        auto token = api().voiceToken(url);
        QVERIFY(!token.ok);
        QCOMPARE(token.error.httpStatus, 409);
        QCOMPARE(token.error.detail, QStringLiteral("voice_not_open"));

        signIn(m_admin);
        QVERIFY(api().voiceStatus(url).canOpen);
        ServiceError error;
        QVERIFY(api().openVoiceRoom(url, &error));
        status = api().voiceStatus(url);
        QVERIFY(status.open);
        QCOMPARE(status.openerPubkey, m_admin.publicKeyText());
        QCOMPARE(status.ownerPubkey, m_owner.publicKeyText());
        QVERIFY(!status.room.isEmpty());

        signIn(m_member);
        token = api().voiceToken(url);
        QVERIFY(token.ok);
        QVERIFY(!token.canPublish);
        QVERIFY(!token.url.isEmpty());
        QVERIFY(!token.token.isEmpty());
        QCOMPARE(token.openerPubkey, m_admin.publicKeyText());
        QVERIFY(!api().grantSpeaker(url, m_member.publicKeyText(), &error));
        QCOMPARE(error.messageKey, QStringLiteral("error.permission.denied"));
        QVERIFY(!api().closeVoiceRoom(url, &error));
        QCOMPARE(error.httpStatus, 403);
        QVERIFY(server.voiceOpen());

        signIn(m_admin);
        QVERIFY(api().grantSpeaker(url, m_member.publicKeyText(), nullptr));
        QCOMPARE(api().voiceStatus(url).speakers, QStringList{m_member.publicKeyText()});
        signIn(m_member);
        QVERIFY(api().voiceToken(url).canPublish);
        signIn(m_admin);
        QVERIFY(api().revokeSpeaker(url, m_member.publicKeyText(), nullptr));
        QVERIFY(api().voiceStatus(url).speakers.isEmpty());

        signIn(m_owner);
        QVERIFY(api().closeVoiceRoom(url, &error));
        QVERIFY(!api().voiceStatus(url).open);

        // A 2xx answer that says no.
        server.setVoiceEnabled(false);
        QVERIFY(!api().openVoiceRoom(url, &error));
        QCOMPARE(error.detail, QStringLiteral("voice_open_rejected"));
        QCOMPARE(error.httpStatus, 0); // the classified word, not the 2xx status
        QVERIFY(!server.voiceOpen());

        // A token answer with a field missing is not a token.
        server.http().setFault(QStringLiteral("/v1/voice/token"),
                               Fault::custom(200, quoted("{'url':'wss://x','token':'t'}")));
        token = api().voiceToken(url);
        QVERIFY(!token.ok);
        QVERIFY(token.error.isError());
    }

    // The server names the media server the room token is taken to: only
    // over TLS, or in the clear to this machine.
    void voiceRoomAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("wss") << "wss://voice.example" << true;
        QTest::newRow("ws to this machine") << "ws://127.0.0.1:7880" << true;
        QTest::newRow("ws to another host") << "ws://tracker.example:7880" << false;
        QTest::newRow("http to another host") << "http://10.0.0.8" << false;
        QTest::newRow("another scheme") << "ftp://voice.example" << false;
    }
    void voiceRoomAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        populate(server);
        signIn(m_member);
        server.http().setFault(QStringLiteral("/v1/voice/token"),
                               Fault::custom(200, QJsonDocument(QJsonObject{{"url", address},
                                                                            {"token", "room-token"},
                                                                            {"room", "r"}})
                                                      .toJson()));
        const auto token = api().voiceToken(server.baseUrl());
        QCOMPARE(token.ok, accepted);
        QCOMPARE(token.error.isError(), !accepted);
    }
};

QTEST_GUILESS_MAIN(SuperGroupApiTest)
#include "test_supergroup_api.moc"
