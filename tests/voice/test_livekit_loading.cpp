// The LiveKit library (several MB resident, plus its threads) stays out of
// the process until the first voice-room join: a user who never joins a room
// never pays for it, yet the rooms show as available from the start.
#include "voice/voice_room_controller.h"

#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_group_server.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool libraryMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/rtc-node.linux-x64-gnu.node");
}

} // namespace

class LiveKitLoadingTest : public QObject
{
    Q_OBJECT

private slots:
    void libraryLoadsWithTheFirstJoin()
    {
        const auto me = velmor::identity::Identity::generate();
        velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), me);
        QTemporaryDir dir;
        QVERIFY(ChatStore::instance().open(me.publicKeyText(), dir.filePath(QStringLiteral("chat.db"))));
        velmor::fakes::FakeGroupServer server(me.publicKeyText());
        QVERIFY(server.start());

        VoiceRoomController room;
        QVERIFY(room.supported());
        QVERIFY(room.lastError().isEmpty());
        room.showGroup(server.baseUrl(), QStringLiteral("Harbour"), false);
        QVERIFY2(!libraryMapped(), "the LiveKit library is loaded before any join");

        // A join to a port nobody listens on: the library loads and says so.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QByteArray reply = "{\"url\":\"ws://127.0.0.1:" + QByteArray::number(closed.serverPort())
            + "\",\"token\":\"t\",\"room\":\"r\",\"can_publish\":true}";
        closed.close();
        server.http().setFault(QStringLiteral("/v1/voice/token"), velmor::fakes::Fault::custom(200, reply));
        room.setRoomOpenExternally(server.baseUrl(), true);
        room.joinRoom();
        QTRY_VERIFY_WITH_TIMEOUT(!room.busy(), 20000);
        QCOMPARE(room.lastError(), QStringLiteral("LiveKit 连接失败"));
        QVERIFY(libraryMapped());
        ChatStore::instance().close();
    }
};

QTEST_GUILESS_MAIN(LiveKitLoadingTest)
#include "test_livekit_loading.moc"
