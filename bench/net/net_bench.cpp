// Relay hot paths: a pull of 100 envelopes from the local relay with
// validation, the validation alone, and classifying error words.
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/service_error.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <benchmark/benchmark.h>

using namespace velmor;

namespace {

struct Fixture
{
    fakes::FakeRelay relay;
    identity::Identity alice = identity::Identity::generate();
    identity::Identity bob = identity::Identity::generate();
    QList<QJsonObject> envelopes;

    Fixture()
    {
        relay.start();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 100; ++i) {
            chat::MessageContent content;
            content.type = QStringLiteral("text");
            content.text = QStringLiteral("benchmark message %1 with a little text in it").arg(i);
            const QString box = Ecies::seal(bob.publicKey, chat::serializeMessageContent(content));
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            envelopes.append(chat::RelayApi::envelopeToJson(
                identity::signEnvelope(alice, bob.publicKeyText(), box, id, now)));
            relay.enqueueRaw(bob.publicKeyText(), envelopes.last());
        }
        net::RelayAuthSession::instance().configure(relay.baseUrl(), bob);
        net::RelayAuthSession::instance().hasToken();
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void BM_PullAndValidate100(benchmark::State &state)
{
    fixture(); // relay up, 100 envelopes queued, signed in as the recipient
    for (auto _ : state) {
        const QList<chat::RawEnvelope> pulled = chat::RelayApi::pull();
        if (pulled.size() != 100 || !pulled.first().valid) {
            state.SkipWithError("unexpected pull");
            break;
        }
        benchmark::DoNotOptimize(pulled);
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PullAndValidate100)->Unit(benchmark::kMillisecond);

void BM_ParseAndValidate100(benchmark::State &state)
{
    Fixture &f = fixture();
    QJsonArray list;
    for (const QJsonObject &envelope : f.envelopes)
        list.append(envelope);
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("envelopes"), list}}).toJson(QJsonDocument::Compact);
    const QString own = f.bob.publicKeyText();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (auto _ : state)
        benchmark::DoNotOptimize(chat::RelayApi::parsePullReply(body, own, now));
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ParseAndValidate100)->Unit(benchmark::kMillisecond);

void BM_ClassifyError(benchmark::State &state)
{
    const QStringList words = {QStringLiteral("send_http_500(internal)"), QStringLiteral("recipientNeverOnline"),
                               QStringLiteral("image_too_large"), QStringLiteral("voice_read_failed")};
    for (auto _ : state) {
        for (const QString &word : words)
            benchmark::DoNotOptimize(net::classifyError(word));
    }
    state.SetItemsProcessed(state.iterations() * words.size());
}
BENCHMARK(BM_ClassifyError);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    net::RelayAuthSession::instance().clear();
    return 0;
}
