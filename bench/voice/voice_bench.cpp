// Voice-room hot paths: rebuilding the speaker and listener lists of a room
// of 500 participants against 2,000 stored members (goal: 5 ms or less), and
// one 10 ms microphone frame from Qt Multimedia's bytes into the LiveKit
// library (goal: 0.2 ms or less), paced in real time as the device paces it.
#include "bench/loopback_endpoints.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_group_server.h"
#include "voice/livekit/ffi_audio.h"
#include "voice/livekit/ffi_backend.h"
#include "voice/livekit/scripted_backend.h"
#include "voice/room_participants.h"
#include "voice/voice_room_controller.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace {

constexpr int kParticipants = 500;
constexpr int kStoredMembers = 2000;

void BM_RebuildParticipants(benchmark::State &state)
{
    auto backend = std::make_shared<livekit::ScriptedBackend>();
    livekit::setBackend(backend);
    const auto me = velmor::identity::Identity::generate();
    velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), me);
    velmor::bench::useLoopbackGroupCentre();
    QTemporaryDir dir;
    ChatStore::instance().open(me.publicKeyText(), dir.filePath(QStringLiteral("chat.db")));
    velmor::fakes::FakeGroupServer server(me.publicKeyText());
    server.start();
    backend->setLocalIdentity(me.publicKeyText().toStdString());

    QList<velmor::chat::SuperGroupMemberRecord> members;
    for (int i = 0; i < kStoredMembers; ++i) {
        velmor::chat::SuperGroupMemberRecord member;
        member.server_url = server.baseUrl();
        member.public_key = QStringLiteral("member-key-%1").arg(i);
        member.display_name = i % 3 ? QStringLiteral("Member %1").arg(i) : QString();
        member.address = QStringLiteral("0x%1").arg(i, 40, 16, QLatin1Char('0'));
        member.role = QStringLiteral("member");
        members.append(member);
    }
    ChatStore::instance().replaceSuperGroupMembers(server.baseUrl(), members);

    VoiceRoomController room;
    room.showGroup(server.baseUrl(), QStringLiteral("Bench"), true);
    QTest::qWaitFor([&] { return !room.busy(); }, 10000);
    room.openRoom();
    if (!QTest::qWaitFor([&] { return room.active() && !room.busy(); }, 10000)) {
        state.SkipWithError("the room was not joined");
        return;
    }
    const auto live = backend->lastRoom();
    for (int i = 0; i < kParticipants - 1; ++i)
        live->addRemote(QStringLiteral("member-key-%1").arg(i * 3).toStdString());
    backend->drain();
    QCoreApplication::sendPostedEvents();

    for (auto _ : state)
        room.rebuildParticipants();
    state.counters["participants"] = double(room.speakers().size() + room.listeners().size());
    room.leaveRoom();
    livekit::setBackend(nullptr);
}
BENCHMARK(BM_RebuildParticipants)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MicrophoneFrameIntoLibrary(benchmark::State &state)
{
    livekit::setBackend(livekit::makeFfiBackend());
    std::string error;
    const auto client = livekit::ffi::Client::acquire(&error);
    if (!client) {
        state.SkipWithError(error.c_str());
        return;
    }
    const auto source = livekit::ffi::newAudioSource(client, livekit::PlatformAudioOptions());
    QByteArray frame(livekit::ffi::kFrameSamples * int(sizeof(std::int16_t)), Qt::Uninitialized);
    auto *samples = reinterpret_cast<std::int16_t *>(frame.data());
    for (int i = 0; i < livekit::ffi::kFrameSamples; ++i)
        samples[i] = std::int16_t(8000 * std::sin(2 * M_PI * 440 * i / livekit::ffi::kSampleRate));

    const std::uint64_t failuresBefore = client->captureFailures();
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        source->pushBytes(frame);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
    }
    state.counters["refused"] = double(client->captureFailures() - failuresBefore);
}
BENCHMARK(BM_MicrophoneFrameIntoLibrary)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(300);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
