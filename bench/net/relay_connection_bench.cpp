// A send to a relay across a real network: the local relay behind a TLS
// stand-in (a self-signed certificate made at run time with the openssl
// tool, trusted by this process only) behind a proxy that holds every byte
// 25 ms each way, so one round trip costs 50 ms as to a distant relay.
// Each send after the first is timed from the call to the relay's answer:
//  - ours: the program's request runner, each send from a thread of its own
//    (pool threads come and go between a user's sends); a pull (the full
//    answer cap, read bounded from its first byte) likewise, over
//    the connection the sends keep;
//  - bare kept-alive: Qt's network manager on this thread, reused, which
//    pays one round trip plus the relay's time;
//  - bare new connection: a new manager for each send, which pays the TCP
//    and TLS handshakes first (what a thread of its own used to cost).
// The load average is printed with the figures.
#include "bench/bench_ratio.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/http.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace velmor;

namespace {

constexpr int kOneWayDelayMs = 25;

// Passes the bytes of each accepted connection to `target` and back, each
// piece held `delayMs` first (in order; a close follows the last piece).
class DelayProxy : public QTcpServer
{
public:
    DelayProxy(quint16 target, int delayMs) : m_target(target), m_delayMs(delayMs) {}
    std::atomic<int> accepted{0};

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++accepted;
        auto *client = new QTcpSocket(this);
        client->setSocketDescriptor(descriptor);
        auto *upstream = new QTcpSocket(client);
        for (QTcpSocket *socket : {client, upstream})
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        upstream->connectToHost(QHostAddress::LocalHost, m_target);
        pipe(client, upstream);
        pipe(upstream, client);
    }

private:
    void pipe(QTcpSocket *from, QTcpSocket *to)
    {
        connect(from, &QTcpSocket::readyRead, to, [this, from, to] {
            const QByteArray piece = from->readAll();
            QTimer::singleShot(m_delayMs, Qt::PreciseTimer, to, [to, piece] { to->write(piece); });
        });
        connect(from, &QTcpSocket::disconnected, to, [this, to] {
            QTimer::singleShot(m_delayMs, Qt::PreciseTimer, to, [to] { to->disconnectFromHost(); });
        });
    }

    quint16 m_target;
    int m_delayMs;
};

// Ends TLS with the given certificate and passes the plain bytes to `target`.
class TlsStandIn : public QTcpServer
{
public:
    TlsStandIn(quint16 target, QSslCertificate certificate, QSslKey key)
        : m_target(target), m_certificate(std::move(certificate)), m_key(std::move(key))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *tls = new QSslSocket(this);
        tls->setSocketDescriptor(descriptor);
        tls->setLocalCertificate(m_certificate);
        tls->setPrivateKey(m_key);
        tls->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *plain = new QTcpSocket(tls);
        plain->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        plain->connectToHost(QHostAddress::LocalHost, m_target);
        connect(tls, &QSslSocket::readyRead, plain, [tls, plain] { plain->write(tls->readAll()); });
        connect(plain, &QTcpSocket::readyRead, tls, [tls, plain] { tls->write(plain->readAll()); });
        connect(tls, &QSslSocket::disconnected, plain, &QTcpSocket::disconnectFromHost);
        connect(plain, &QTcpSocket::disconnected, tls, &QSslSocket::disconnectFromHost);
        tls->startServerEncryption();
    }

private:
    quint16 m_target;
    QSslCertificate m_certificate;
    QSslKey m_key;
};

struct Fixture
{
    QTemporaryDir dir;
    fakes::FakeRelay relay;
    identity::Identity sender = identity::Identity::generate();
    identity::Identity recipient = identity::Identity::generate();
    QString token;
    QThread standInThread;
    std::unique_ptr<TlsStandIn> tls;
    std::unique_ptr<DelayProxy> proxy;
    QUrl sendUrl;
    QUrl pullUrl;
    bool ready = false;

    Fixture()
    {
        relay.start();
        relay.markSeen(recipient.publicKeyText());
        net::RelayAuthSession::instance().configure(relay.baseUrl(), sender);
        token = net::RelayAuthSession::instance().token();
        const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
        const int made = QProcess::execute(
            "openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                        "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                        "subjectAltName=IP:127.0.0.1"});
        QFile certFile(cert), keyFile(key);
        if (made != 0 || token.isEmpty() || !certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            return;
        const QSslCertificate certificate(certFile.readAll());
        // Trusted by this process alone, through the default every request starts from.
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(trusted);

        tls = std::make_unique<TlsStandIn>(relay.port(), certificate, QSslKey(keyFile.readAll(), QSsl::Ec));
        tls->listen(QHostAddress::LocalHost);
        proxy = std::make_unique<DelayProxy>(tls->serverPort(), kOneWayDelayMs);
        proxy->listen(QHostAddress::LocalHost);
        tls->moveToThread(&standInThread);
        proxy->moveToThread(&standInThread);
        standInThread.start();
        sendUrl = QUrl(QStringLiteral("https://127.0.0.1:%1/v1/message/send").arg(proxy->serverPort()));
        pullUrl = QUrl(QStringLiteral("https://127.0.0.1:%1/v1/message/pull").arg(proxy->serverPort()));
        ready = tls->isListening() && proxy->isListening();
    }
    ~Fixture()
    {
        // The servers and their sockets go on their own thread.
        if (standInThread.isRunning())
            QMetaObject::invokeMethod(
                tls.get(), [this] { proxy.reset(); tls.reset(); }, Qt::BlockingQueuedConnection);
        standInThread.quit();
        standInThread.wait();
        net::RelayAuthSession::instance().clear();
        relay.stop();
    }

    QByteArray envelope() const
    {
        QJsonObject body = chat::RelayApi::envelopeToJson(
            identity::signEnvelope(sender, recipient.publicKeyText(), QStringLiteral("bench"),
                                   QUuid::createUuid().toString(QUuid::WithoutBraces),
                                   QDateTime::currentSecsSinceEpoch()));
        body.insert(QStringLiteral("notify_type"), QStringLiteral("message"));
        return QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
};

std::unique_ptr<Fixture> g_fixture;

Fixture &fixture()
{
    if (!g_fixture)
        g_fixture = std::make_unique<Fixture>();
    return *g_fixture;
}

void noteLoad(benchmark::State &state)
{
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        state.counters["load"] = load[0];
}

const QByteArray kPullBody = R"({"limit":500})";

// One send (or pull) from a thread of its own; true when the relay answered.
bool oursFromNewThread(Fixture &f, bool pull = false)
{
    bool ok = false;
    std::unique_ptr<QThread> thread(QThread::create([&f, &ok, pull] {
        net::HttpRequest request;
        request.method = "POST";
        request.url = pull ? f.pullUrl : f.sendUrl;
        request.body = pull ? kPullBody : f.envelope();
        request.bearerToken = f.token;
        ok = net::runHttp(request).success;
    }));
    thread->start();
    thread->wait();
    return ok;
}

bool bareSend(Fixture &f, QNetworkAccessManager &manager, bool pull = false)
{
    QNetworkRequest request(pull ? f.pullUrl : f.sendUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setRawHeader("Authorization", "Bearer " + f.token.toUtf8());
    std::unique_ptr<QNetworkReply> reply(manager.post(request, pull ? kPullBody : f.envelope()));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply->error() == QNetworkReply::NoError;
}

// Ours, each call from a new thread as the pool's are; the first send opens
// the connection, and the connections opened after it are counted: none
// when each is kept.
void oursBehindProxy(benchmark::State &state, bool pull)
{
    Fixture &f = fixture();
    if (!f.ready || !oursFromNewThread(f)) {
        state.SkipWithError("TLS stand-in not reachable");
        return;
    }
    const int before = f.proxy->accepted.load();
    for (auto _ : state) {
        if (!oursFromNewThread(f, pull))
            state.SkipWithError("refused");
    }
    state.counters["connections"] = f.proxy->accepted.load() - before;
    noteLoad(state);
}

// The bare: one manager whose connection a first send opens and every call
// after it keeps.
void bareKeptAliveBehindProxy(benchmark::State &state, bool pull)
{
    Fixture &f = fixture();
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    if (!f.ready || !bareSend(f, manager)) {
        state.SkipWithError("TLS stand-in not reachable");
        return;
    }
    for (auto _ : state) {
        if (!bareSend(f, manager, pull))
            state.SkipWithError("refused");
    }
    noteLoad(state);
}

void BM_SendBehindProxy(benchmark::State &state)
{
    oursBehindProxy(state, false);
}
BENCHMARK(BM_SendBehindProxy)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

void BM_BareSendBehindProxyKeptAlive(benchmark::State &state)
{
    bareKeptAliveBehindProxy(state, false);
}
BENCHMARK(BM_BareSendBehindProxyKeptAlive)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

void BM_BareSendBehindProxyNewConnection(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ready) {
        state.SkipWithError("TLS stand-in not reachable");
        return;
    }
    for (auto _ : state) {
        QNetworkAccessManager manager;
        manager.setProxy(QNetworkProxy::NoProxy);
        if (!bareSend(f, manager))
            state.SkipWithError("send refused");
    }
    noteLoad(state);
}
BENCHMARK(BM_BareSendBehindProxyNewConnection)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

// Pulls after a send, each over the connection the one before kept.
void BM_PullBehindProxy(benchmark::State &state)
{
    oursBehindProxy(state, true);
}
BENCHMARK(BM_PullBehindProxy)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

void BM_BarePullBehindProxyKeptAlive(benchmark::State &state)
{
    bareKeptAliveBehindProxy(state, true);
}
BENCHMARK(BM_BarePullBehindProxyKeptAlive)->Unit(benchmark::kMillisecond)->Iterations(15)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int code = velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_SendBehindProxy/iterations:15/real_time", "BM_BareSendBehindProxyKeptAlive/iterations:15/real_time", 1.1},
         {"BM_SendBehindProxy/iterations:15/real_time", "BM_BareSendBehindProxyNewConnection/iterations:15/real_time",
          0},
         {"BM_PullBehindProxy/iterations:15/real_time", "BM_BarePullBehindProxyKeptAlive/iterations:15/real_time", 1.1}});
    g_fixture.reset();
    return code;
}
