// The group-centre client against a local fake centre: capacity, creation
// with its error words, the user's group list, and failures of every kind.
#include "net/relay_session.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "net/supergroup_center.h"
#include "net/supergroup_client.h"
#include "support/fake_group_center.h"
#include "support/fake_group_server.h"
#include "supergroup_test_support.h"

#include "identity/identity.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QWebSocket>
#include <QtTest>

using velmor::fakes::Fault;
using velmor::fakes::FakeGroupCenter;
using velmor::fakes::FakeGroupServer;
using velmor::identity::Identity;
using velmor::sg::SuperGroupApi;
using velmor::sg::SuperGroupCenter;
using velmor::sg::SuperGroupServiceClient;
using sgtest::quoted;
using sgtest::signIn;
using sgtest::signInAfresh;
using velmor::fakes::unusedLoopbackUrl;

class SuperGroupCenterTest : public QObject
{
    Q_OBJECT

private:
    Identity m_user = Identity::generate();


private slots:
    void init()
    {
        SuperGroupCenter::setBaseUrl(QString());
        signInAfresh(m_user);
    }

    void defaultAddressIsFixed()
    {
        const QString url = SuperGroupCenter::defaultBaseUrl();
        QVERIFY(url.startsWith(QStringLiteral("https://")));
        QCOMPARE(SuperGroupCenter::baseUrl(), url);
        SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:5/"));
        QCOMPARE(SuperGroupCenter::baseUrl(), QStringLiteral("http://127.0.0.1:5"));
        QCOMPARE(SuperGroupCenter::defaultBaseUrl(), url);
        SuperGroupCenter::setBaseUrl(QString());
        QCOMPARE(SuperGroupCenter::baseUrl(), url);
    }

    void capacity()
    {
        FakeGroupCenter center;
        QVERIFY(center.start());
        center.setCapacity(4, 2);
        auto capacity = SuperGroupCenter::capacity(center.baseUrl());
        QVERIFY(capacity.ok);
        QVERIFY(capacity.error.isEmpty());
        QCOMPARE(capacity.standardAvailable, 4);
        QCOMPARE(capacity.premiumAvailable, 2);
        // No login is needed for it.
        QCOMPARE(center.auth().loginCount(), 0);

        // The forms without a base URL use the one that was set.
        SuperGroupCenter::setBaseUrl(center.baseUrl());
        QCOMPARE(SuperGroupCenter::capacity().standardAvailable, 4);

        center.http().setFault(QStringLiteral("/v1/capacity"), Fault::custom(200, quoted("{'standard_available':'many'}")));
        capacity = SuperGroupCenter::capacity(center.baseUrl());
        QVERIFY(capacity.ok);
        QCOMPARE(capacity.standardAvailable, 0);
        QCOMPARE(capacity.premiumAvailable, 0);

        center.http().setFault(QStringLiteral("/v1/capacity"), Fault::custom(503, "{}"));
        capacity = SuperGroupCenter::capacity(center.baseUrl());
        QVERIFY(!capacity.ok);
        QCOMPARE(capacity.error, QStringLiteral("capacity_http_503"));
        QCOMPARE(capacity.standardAvailable, 0);

        capacity = SuperGroupCenter::capacity(unusedLoopbackUrl());
        QVERIFY(!capacity.ok);
        QVERIFY2(capacity.error.startsWith(QStringLiteral("capacity_net:")), qPrintable(capacity.error));
        QVERIFY(capacity.error.size() > QStringLiteral("capacity_net:").size());
    }

    void createGroup()
    {
        FakeGroupCenter center;
        QVERIFY(center.start());
        center.addCreationKey(QStringLiteral("k-std"), QStringLiteral("standard"));
        center.addCreationKey(QStringLiteral("k-prem"), QStringLiteral("premium"));

        auto result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-std"),
                                                    QStringLiteral("Book club"), QStringLiteral("standard"));
        QVERIFY2(result.ok, qPrintable(result.error));
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.group.name, QStringLiteral("Book club"));
        QCOMPARE(result.group.serverType, QStringLiteral("standard"));
        QCOMPARE(result.group.deployStatus, QStringLiteral("ready"));
        QCOMPARE(result.group.ownerPubkey, m_user.publicKeyText());
        QVERIFY(!result.group.serverId.isEmpty());
        QCOMPARE(center.createdServers().size(), 1);
        FakeGroupServer *server = center.createdServers().first();
        QCOMPARE(result.group.serverUrl, server->baseUrl());
        QCOMPARE(result.group.groupId, server->groupId());
        // The new server knows its owner.
        QCOMPARE(SuperGroupApi::instance().groupInfo(result.group.serverUrl).name, QStringLiteral("Book club"));
        QCOMPARE(server->roleOf(m_user.publicKeyText()), QStringLiteral("owner"));

        // The centre's refusals pass through as its words.
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                               QStringLiteral("X"), QStringLiteral("standard"));
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("creation_key_type_mismatch"));
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-std"),
                                               QStringLiteral("X"), QStringLiteral("standard"));
        QCOMPARE(result.error, QStringLiteral("invalid_creation_key")); // used up
        center.http().setFault(QStringLiteral("/v1/group/create"), Fault::custom(500, "oops"));
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                               QStringLiteral("X"), QStringLiteral("premium"));
        QCOMPARE(result.error, QStringLiteral("create_failed"));

        // A 2xx answer without the group's address is no success.
        for (const char *body : {"{'server_id':'s','group_id':'g'}", "{'server_url':'http://127.0.0.1:1','group_id':'g'}",
                                 "{'server_id':'s','server_url':'http://127.0.0.1:1'}", "{}", "[]"}) {
            center.http().setFault(QStringLiteral("/v1/group/create"), Fault::custom(200, quoted(body)));
            result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                                   QStringLiteral("X"), QStringLiteral("premium"));
            QVERIFY(!result.ok);
            QCOMPARE(result.error, QStringLiteral("create_invalid_response"));
        }
        center.http().setFault(QStringLiteral("/v1/group/create"),
                               Fault::custom(200, quoted("{'server_id':'s','server_url':'http://127.0.0.1:1','group_id':'g'}")));
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                               QStringLiteral("Named"), QStringLiteral("premium"));
        QVERIFY(result.ok);
        QCOMPARE(result.group.deployStatus, QStringLiteral("pending"));
        QCOMPARE(result.group.name, QStringLiteral("Named"));
        // A status that is not a text is no status, as in the group list.
        center.http().setFault(QStringLiteral("/v1/group/create"),
                               Fault::custom(200, quoted("{'server_id':'s','server_url':'http://127.0.0.1:1','group_id':'g',"
                                                         "'deploy_status':7}")));
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                               QStringLiteral("Named"), QStringLiteral("premium"));
        QVERIFY(result.ok);
        QCOMPARE(result.group.deployStatus, QStringLiteral("pending"));
        center.http().clearFaults();

        // A token the centre no longer accepts: one new login, one repeat.
        center.auth().expireAllTokens();
        const int logins = center.auth().loginCount();
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k-prem"),
                                               QStringLiteral("Second"), QStringLiteral("premium"));
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(center.auth().loginCount(), logins + 1);

        velmor::net::RelayAuthSession::instance().clear();
        result = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k"), QStringLiteral("X"),
                                               QStringLiteral("standard"));
        QCOMPARE(result.error, QStringLiteral("no_identity"));
        signIn(m_user);
        result = SuperGroupCenter::createGroup(unusedLoopbackUrl(), QStringLiteral("k"), QStringLiteral("X"),
                                               QStringLiteral("standard"));
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
    }

    void myGroups()
    {
        FakeGroupCenter center;
        QVERIFY(center.start());
        const Identity owner = Identity::generate();
        FakeGroupServer mine(owner.publicKeyText(), QStringLiteral("Mine"));
        FakeGroupServer pending(owner.publicKeyText(), QStringLiteral("Soon"));
        FakeGroupServer foreign(owner.publicKeyText(), QStringLiteral("Not mine"));
        QVERIFY(mine.start() && pending.start() && foreign.start());
        mine.addMember(m_user.publicKeyText(), QStringLiteral("member"));
        pending.addMember(m_user.publicKeyText(), QStringLiteral("admin"));
        center.addServer(&mine, QStringLiteral("premium"));
        center.addServer(&pending, QStringLiteral("standard"), QStringLiteral("deploying"),
                         QStringLiteral("about a minute"));
        center.addServer(&foreign);

        QString error;
        auto groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups.at(0).serverUrl, mine.baseUrl());
        QCOMPARE(groups.at(0).name, QStringLiteral("Mine"));
        QCOMPARE(groups.at(0).groupId, mine.groupId());
        QCOMPARE(groups.at(0).serverType, QStringLiteral("premium"));
        QCOMPARE(groups.at(0).deployStatus, QStringLiteral("ready"));
        QCOMPARE(groups.at(0).ownerPubkey, owner.publicKeyText());
        QVERIFY(groups.at(0).serviceExpiresAt > 0);
        QCOMPARE(groups.at(1).deployStatus, QStringLiteral("deploying"));
        QCOMPARE(groups.at(1).deployMessage, QStringLiteral("about a minute"));

        // Entries without an address are dropped; a missing status reads "pending".
        center.http().setFault(QStringLiteral("/v1/my/groups"),
                               Fault::custom(200, quoted("{'groups':[{'name':'no url'},7,{'server_url':'http://127.0.0.1:2/','service_expires_at':'12'},"
                                                    "{'server_url':'http://127.0.0.1:3','deploy_status':null},"
                                                    "{'server_url':'http://127.0.0.1:4','deploy_status':''}]}")));
        groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
        QVERIFY(error.isEmpty());
        QCOMPARE(groups.size(), 3);
        QCOMPARE(groups.first().serverUrl, QStringLiteral("http://127.0.0.1:2"));
        QCOMPARE(groups.first().deployStatus, QStringLiteral("pending"));
        QCOMPARE(groups.first().serviceExpiresAt, qint64(12));
        QCOMPARE(groups.at(1).deployStatus, QStringLiteral("pending"));
        QCOMPARE(groups.at(2).deployStatus, QString()); // an explicit empty status means ready

        // An unreadable list is an error, never an empty list that would
        // make the caller forget every group.
        for (const Fault &fault : {Fault::malformedJson(), Fault::custom(200, "{}"),
                                   Fault::custom(200, quoted("{'groups':{}}"))}) {
            center.http().setFault(QStringLiteral("/v1/my/groups"), fault);
            groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
            QVERIFY(groups.isEmpty());
            QCOMPARE(error, QStringLiteral("my_groups_invalid_response"));
        }
        center.http().setFault(QStringLiteral("/v1/my/groups"), Fault::custom(502, "bad gateway"));
        groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
        QVERIFY(groups.isEmpty());
        QCOMPARE(error, QStringLiteral("my_groups_http_502"));
        center.http().clearFaults();

        groups = SuperGroupCenter::myGroups(unusedLoopbackUrl(), error);
        QVERIFY(groups.isEmpty());
        // No answer from the login already: the login's word.
        QVERIFY2(error.startsWith(QStringLiteral("sg_network:")), qPrintable(error));

        // The centre answers the login but not the list.
        QVERIFY(!SuperGroupServiceClient::instance().token(center.baseUrl()).isEmpty());
        center.http().setFault(QStringLiteral("/v1/my/groups"), Fault::drop());
        groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
        QVERIFY(groups.isEmpty());
        QVERIFY2(error.startsWith(QStringLiteral("my_groups_net:")) || error.startsWith(QStringLiteral("my_groups_http_")),
                 qPrintable(error));
        center.http().clearFaults();

        center.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::http500());
        SuperGroupServiceClient::instance().clearTokens();
        groups = SuperGroupCenter::myGroups(center.baseUrl(), error);
        QCOMPARE(error, QStringLiteral("sg_challenge_500"));
    }
    void centreSocket()
    {
        FakeGroupCenter center;
        QVERIFY(center.start());
        center.addCreationKey(QStringLiteral("k"), QStringLiteral("standard"));
        const QString token = SuperGroupServiceClient::instance().token(center.baseUrl());
        QVERIFY(!token.isEmpty());

        QWebSocket socket;
        QStringList frames;
        connect(&socket, &QWebSocket::textMessageReceived, this,
                [&frames](const QString &text) { frames.append(text); });
        const QString base = center.baseUrl().replace(QStringLiteral("http://"), QStringLiteral("ws://"));
        socket.open(QUrl(base + QStringLiteral("/v1/ws?token=")
                         + QString::fromLatin1(QUrl::toPercentEncoding(token))));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 1, 10000);
        QCOMPARE(frames.first(), QStringLiteral("{\"type\":\"server.hello\"}"));

        center.sendPing();
        socket.sendTextMessage(QStringLiteral("{\"type\":\"client.ping\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 3, 10000);
        QVERIFY(frames.contains(QStringLiteral("{\"type\":\"server.ping\"}")));
        QVERIFY(frames.contains(QStringLiteral("{\"type\":\"server.pong\"}")));
        QTRY_COMPARE_WITH_TIMEOUT(center.clientFrames().size(), 1, 10000);

        // A creation announces itself; so does any pushed directory change.
        const auto created = SuperGroupCenter::createGroup(center.baseUrl(), QStringLiteral("k"),
                                                           QStringLiteral("G"), QStringLiteral("standard"));
        QVERIFY(created.ok);
        center.pushEvent(QStringLiteral("dns.group.removed"), QJsonObject{{"server_url", "x"}});
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), 5, 10000);
        const QJsonObject createdFrame = QJsonDocument::fromJson(frames.at(3).toUtf8()).object();
        QCOMPARE(createdFrame.value("type").toString(), QStringLiteral("dns.group.created"));
        QCOMPARE(createdFrame.value("data").toObject().value("server_url").toString(), created.group.serverUrl);
        QCOMPARE(QJsonDocument::fromJson(frames.at(4).toUtf8()).object().value("type").toString(),
                 QStringLiteral("dns.group.removed"));

        center.dropSockets();
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);

        // A socket without a valid token is closed at once.
        QWebSocket stranger;
        QSignalSpy closed(&stranger, &QWebSocket::disconnected);
        stranger.open(QUrl(base + QStringLiteral("/v1/ws?token=nope")));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        QCOMPARE(center.socketCount(), 0);
    }
};

QTEST_GUILESS_MAIN(SuperGroupCenterTest)
#include "test_supergroup_center.moc"
