// The real LiveKit client library: it loads, a join to a closed or silent
// loopback port fails in the configured time with a clear error, and local
// audio goes in through an audio source and comes back through a local track.
#include "pulse_null_devices.h"
#include "voice/livekit/ffi_audio.h"
#include "voice/livekit/ffi_backend.h"
#include "voice/livekit/livekit.h"
#include "voice/voice_room_controller.h"

#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_group_server.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cmath>

class LiveKitFfiTest : public QObject
{
    Q_OBJECT

private:
    PulseNullDevices m_pulse;
    std::shared_ptr<livekit::ffi::Client> m_client;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pulse.start(), "pulseaudio with null devices did not start");
        livekit::setBackend(livekit::makeFfiBackend());
        QVERIFY2(livekit::initialize(livekit::LogLevel::Info), "the LiveKit library did not load");
        std::string error;
        m_client = livekit::ffi::Client::acquire(&error);
        QVERIFY2(m_client, error.c_str());
    }

    void controllerSeesTheLibrary()
    {
        VoiceRoomController room;
        QVERIFY(room.supported());
        QVERIFY(room.lastError().isEmpty());
        QVERIFY(!room.inputDevices().isEmpty());
        QVERIFY(!room.outputDevices().isEmpty());
    }

    void joinFailsWithoutAServer_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("closed port") << false;
        QTest::newRow("silent server") << true;
    }

    void joinFailsWithoutAServer()
    {
        QFETCH(bool, silent);
        // A port that answers the TCP handshake and then says nothing, or one
        // that nobody listens on.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 port = server.serverPort();
        if (!silent)
            server.close();

        auto room = livekit::Room::create();
        livekit::RoomOptions options;
        options.connectTimeoutMs = 1500;
        QElapsedTimer clock;
        clock.start();
        const bool joined = room->connect("ws://127.0.0.1:" + std::to_string(port), "token", options);
        QVERIFY(!joined);
        QVERIFY(!room->lastError().empty());
        // Far below the half minute a silent server costs without the option.
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(room->localParticipant().expired());
        room->disconnect(livekit::DisconnectReason::ClientInitiated);
    }

    void controllerJoinToAClosedPortFailsClearly()
    {
        const auto me = velmor::identity::Identity::generate();
        velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), me);
        QTemporaryDir dir;
        QVERIFY(ChatStore::instance().open(me.publicKeyText(), dir.filePath(QStringLiteral("chat.db"))));
        velmor::fakes::FakeGroupServer server(me.publicKeyText());
        QVERIFY(server.start());
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QByteArray reply = "{\"url\":\"ws://127.0.0.1:" + QByteArray::number(closed.serverPort())
            + "\",\"token\":\"t\",\"room\":\"r\",\"can_publish\":true}";
        closed.close();
        server.http().setFault(QStringLiteral("/v1/voice/token"), velmor::fakes::Fault::custom(200, reply));

        VoiceRoomController room;
        room.showGroup(server.baseUrl(), QStringLiteral("Harbour"), false);
        room.setRoomOpenExternally(server.baseUrl(), true);
        room.joinRoom();
        QVERIFY(room.busy());
        QTRY_VERIFY_WITH_TIMEOUT(!room.busy(), 20000);
        QVERIFY(!room.active());
        QCOMPARE(room.connectionText(), QStringLiteral("连接失败"));
        QCOMPARE(room.lastError(), QStringLiteral("LiveKit 连接失败"));
        ChatStore::instance().close();
    }

    void localAudioComesBackThroughALocalTrack()
    {
        // The microphone path: Qt Multimedia's null input into the source.
        auto audio = livekit::PlatformAudio::create();
        livekit::PlatformAudioOptions options;
        auto source = audio->createAudioSource(options);
        auto track = livekit::LocalAudioTrack::createLocalAudioTrack("microphone", source);
        auto ffiTrack = std::dynamic_pointer_cast<livekit::ffi::Track>(track);
        QVERIFY(ffiTrack);
        track->mute();
        QVERIFY(track->muted());
        track->unmute();

        std::atomic<int> frames{0};
        std::atomic<int> loudFrames{0};
        livekit::ffi::AudioStream stream(m_client, ffiTrack->handle(), [&](const std::int16_t *samples, int count) {
            ++frames;
            int peak = 0;
            for (int i = 0; i < count; ++i)
                peak = std::max(peak, std::abs(int(samples[i])));
            if (peak > 1000)
                ++loudFrames;
        });
        QTRY_VERIFY_WITH_TIMEOUT(frames > 0, 10000);

        // A tone handed over frame by frame, paced like the device paces it.
        auto ffiSource = std::dynamic_pointer_cast<livekit::ffi::AudioSource>(source);
        QVERIFY(ffiSource);
        std::vector<std::int16_t> tone(livekit::ffi::kFrameSamples);
        for (int i = 0; i < livekit::ffi::kFrameSamples; ++i)
            tone[std::size_t(i)] = std::int16_t(12000 * std::sin(2 * M_PI * 440 * i / livekit::ffi::kSampleRate));
        QTimer pace;
        pace.setInterval(10);
        QObject::connect(&pace, &QTimer::timeout, [&] { ffiSource->captureFrame(tone.data(), int(tone.size())); });
        pace.start();
        QTRY_VERIFY_WITH_TIMEOUT(loudFrames > 5, 10000);
        pace.stop();
    }
};

QTEST_GUILESS_MAIN(LiveKitFfiTest)
#include "test_livekit_ffi.moc"
