// The connections between the controllers, with the real objects: realtime
// events of the chat session reach the voice rooms with their arguments,
// every start or recovery reads the room status once, and log-out leaves the
// room first and ends the chat session before its store closes.
#include "app/app_controller.h"
#include "app/application.h"
#include "chat/chat_controller.h"
#include "store/chat_store.h"
#include "voice/voice_io.h"
#include "voice/voice_room_controller.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A group server address with nothing behind it: status reads fail at once.
const QString kServer = QStringLiteral("http://127.0.0.1:9");

} // namespace

class WiringTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void superGroupEventsReachTheVoiceRoom_data();
    void superGroupEventsReachTheVoiceRoom();
    void eachRestoredLifecycleReadsTheStatusOnce();
    void logoutLeavesTheRoomFirst();

private:
    struct Controllers
    {
        AppController app;
        ChatController chat;
        VoiceIO voice;
        VoiceRoomController voiceRoom;
    };
    static bool settle(VoiceRoomController &room)
    {
        QSignalSpy spy(&room, &VoiceRoomController::stateChanged);
        while (room.busy())
            if (!spy.wait(10000))
                return false;
        return true;
    }
};

void WiringTest::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
}

void WiringTest::superGroupEventsReachTheVoiceRoom_data()
{
    QTest::addColumn<QString>("serverUrl");
    QTest::addColumn<bool>("opens");
    QTest::newRow("the shown group") << kServer << true;
    QTest::newRow("another group") << QStringLiteral("http://127.0.0.1:10") << false;
}

void WiringTest::superGroupEventsReachTheVoiceRoom()
{
    QFETCH(QString, serverUrl);
    QFETCH(bool, opens);
    Controllers c;
    velmor::app::connectControllers(c.app, c.chat, c.voice, c.voiceRoom);
    c.voiceRoom.showGroup(kServer, QStringLiteral("Room"), true);
    QVERIFY(settle(c.voiceRoom));
    QVERIFY(!c.voiceRoom.roomOpen());

    emit c.chat.superGroupEvent(serverUrl, QStringLiteral("server.voice.opened"), QVariantMap{});
    QCOMPARE(c.voiceRoom.roomOpen(), opens);
    QVERIFY(settle(c.voiceRoom));

    emit c.chat.superGroupEvent(serverUrl, QStringLiteral("server.voice.closed"), QVariantMap{});
    QVERIFY(!c.voiceRoom.roomOpen());
}

void WiringTest::eachRestoredLifecycleReadsTheStatusOnce()
{
    Controllers c;
    velmor::app::connectControllers(c.app, c.chat, c.voice, c.voiceRoom);
    c.voiceRoom.showGroup(kServer, QStringLiteral("Room"), true);
    QVERIFY(settle(c.voiceRoom));
    for (int round = 0; round < 2; ++round) {
        emit c.chat.lifecycleRestored();
        QVERIFY(c.voiceRoom.busy()); // a status read is under way
        QVERIFY(settle(c.voiceRoom));
        QVERIFY(!c.voiceRoom.lastError().isEmpty());
    }
}

void WiringTest::logoutLeavesTheRoomFirst()
{
    // A chat session running: whatever signs out, it ends while its store
    // is still open (its sends are written or handed on under their owner).
    QTemporaryDir dir;
    QVERIFY(ChatStore::instance().open(QStringLiteral("signed-in owner"), dir.filePath(QStringLiteral("chat.db"))));
    Controllers c;
    velmor::app::connectControllers(c.app, c.chat, c.voice, c.voiceRoom);
    c.chat.start();
    QVERIFY(c.chat.isStarted());
    bool chatEndedWithItsStore = false;
    connect(&c.chat, &ChatController::conversationsChanged, this,
            [&] { chatEndedWithItsStore = !c.chat.isStarted() && ChatStore::instance().isOpen(); });
    QSignalSpy state(&c.voiceRoom, &VoiceRoomController::stateChanged);
    QSignalSpy loggedIn(&c.app, &AppController::loggedInChanged);
    bool roomFirst = false;
    connect(&c.app, &AppController::loggedInChanged, this, [&] { roomFirst = state.count() > 0; });
    c.app.logout();
    QCOMPARE(loggedIn.count(), 1);
    QVERIFY(roomFirst);
    QVERIFY(chatEndedWithItsStore);
    QVERIFY(!ChatStore::instance().isOpen());
}

QTEST_MAIN(WiringTest)
#include "tst_wiring.moc"
