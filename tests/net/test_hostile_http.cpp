// The HTTP runner against servers that break the rules: a body cut short of
// its stated length, redirects elsewhere, and a chunked answer without end.
#include "net/http.h"
#include "net/network_thread.h"
#include "support/hostile_server.h"
#include "support/memory_peak.h"

#include <QtTest>

using namespace velmor::net;
using velmor::fakes::HostileServer;

class HostileHttpTest : public QObject
{
    Q_OBJECT
private slots:
    void bodyCutShortIsAFailure();
    void redirectsAreNotFollowed_data();
    void redirectsAreNotFollowed();
    void endlessAnswerIsReadOnlyUpToTheCap_data();
    void endlessAnswerIsReadOnlyUpToTheCap();
    void endlessAnswerAtTheFullCapHoldsLittleMemory_data();
    void endlessAnswerAtTheFullCapHoldsLittleMemory();
    void keptConnectionClosedAfterTheRequest_data();
    void keptConnectionClosedAfterTheRequest();
};

// As on a loaded machine: the thread that reads answers (the network
// thread) stops for a while, soon after the request has gone.
void starveReaderSoon(int ms)
{
    QTimer::singleShot(20, [ms] { postToNetworkThread([ms](const NetworkManagers *) { QThread::msleep(ms); }); });
}

using velmor::fakes::resetPeakResident;
using velmor::fakes::statusBytes;

void HostileHttpTest::bodyCutShortIsAFailure()
{
    HostileServer server(HostileServer::Behaviour::ShortBody);
    QVERIFY(server.port() > 0);
    HttpRequest request;
    request.url = QUrl(server.httpUrl("/v1/image/get"));
    request.timeoutMs = 30000; // the answer comes at once; the deadline only bounds a stalled machine
    const HttpResponse response = runHttp(request);
    QVERIFY2(!response.success, "100 of 500000 bytes taken as the whole answer");
    QVERIFY(!response.error.isEmpty());
    QVERIFY(response.error != QStringLiteral("timeout"));
    QVERIFY(response.body.isEmpty());
}

void HostileHttpTest::redirectsAreNotFollowed_data()
{
    QTest::addColumn<QString>("targetHost");
    QTest::addColumn<QString>("method");
    QTest::newRow("another host name, GET") << "localhost" << "GET";
    QTest::newRow("another host name, POST") << "localhost" << "POST";
    QTest::newRow("same address, another port") << "127.0.0.1" << "GET";
}

void HostileHttpTest::redirectsAreNotFollowed()
{
    QFETCH(QString, targetHost);
    QFETCH(QString, method);
    HostileServer target(HostileServer::Behaviour::Record);
    HostileServer redirector(HostileServer::Behaviour::Redirect,
                             QStringLiteral("http://%1:%2/collect").arg(targetHost).arg(target.port()).toLatin1());
    QVERIFY(target.port() > 0 && redirector.port() > 0);

    HttpRequest request;
    request.method = method.toLatin1();
    request.url = QUrl(redirector.httpUrl("/v1/message/pull"));
    request.body = "{}";
    request.bearerToken = QStringLiteral("secret-token");
    request.timeoutMs = 30000; // the answer comes at once; the deadline only bounds a stalled machine
    const HttpResponse response = runHttp(request);
    QCOMPARE(response.status, 302);
    QVERIFY(!response.success);
    QCOMPARE(redirector.connections(), 1);
    QCOMPARE(target.connections(), 0);
    QVERIFY(!target.lastRequestHead().contains("secret-token"));
}

// Qt's network thread would read an unpaced sender as fast as it sends and
// queue it all; the runner must stop it near the cap.
void HostileHttpTest::endlessAnswerIsReadOnlyUpToTheCap_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::addColumn<int>("starvedMs");
    QTest::addColumn<QByteArray>("method");
    QTest::newRow("reader keeps up") << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("GET");
    // As on a loaded machine: the thread that reads the answer does not run
    // for a while, and Qt's network thread alone meets the sender.
    QTest::newRow("reader starved") << HostileServer::Behaviour::EndlessChunked << 1500 << QByteArray("GET");
    QTest::newRow("no length, reader starved") << HostileServer::Behaviour::EndlessUnsized << 1500 << QByteArray("GET");
    // Refused with the headers, however long the reader takes to run.
    QTest::newRow("false length, reader starved") << HostileServer::Behaviour::FalseLength << 1500 << QByteArray("GET");
    // A request with a body (every pull) starts later inside Qt, which
    // would then read without bound.
    QTest::newRow("POST, reader keeps up") << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("POST");
    QTest::newRow("POST, no length") << HostileServer::Behaviour::EndlessUnsized << 0 << QByteArray("POST");
    QTest::newRow("POST, reader starved") << HostileServer::Behaviour::EndlessChunked << 1500 << QByteArray("POST");
    // A pull over the connection a send opened and left open.
    QTest::newRow("POST, kept-alive connection") << HostileServer::Behaviour::KeptThenEndless << 0 << QByteArray("POST");
    QTest::newRow("POST, kept-alive connection, reader starved")
        << HostileServer::Behaviour::KeptThenEndless << 1500 << QByteArray("POST");
}

void HostileHttpTest::endlessAnswerIsReadOnlyUpToTheCap()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    QFETCH(int, starvedMs);
    QFETCH(QByteArray, method);
    HostileServer server(behaviour);
    QVERIFY(server.port() > 0);
    if (behaviour == HostileServer::Behaviour::KeptThenEndless) {
        HttpRequest send;
        send.method = "POST";
        send.body = "{\"to\":\"x\"}";
        send.url = QUrl(server.httpUrl("/v1/message/send"));
        send.maxResponseBytes = 64 * 1024;
        QVERIFY(runHttp(send).success);
    }
    if (starvedMs > 0)
        starveReaderSoon(starvedMs);
    HttpRequest request;
    request.method = method;
    request.body = method == "POST" ? QByteArray("{\"limit\":500}") : QByteArray();
    request.url = QUrl(server.httpUrl("/v1/message/pull"));
    request.maxResponseBytes = 1024 * 1024;
    request.timeoutMs = 20000;
    const HttpResponse response = runHttp(request);
    QCOMPARE(response.error, QStringLiteral("response_too_large"));
    QVERIFY(response.body.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 30000);
    // The cap, Qt's bounded buffer and the sockets' own buffers; nothing
    // near what the sender offered.
    qInfo("endless answer at a 1 MiB cap: %lld KiB sent", server.bytesSent() >> 10);
    QVERIFY2(server.bytesSent() < 24 * 1024 * 1024, qPrintable(QString::number(server.bytesSent())));
    QCOMPARE(server.connections(), 1);
}

// At the real cap an endless answer costs about the cap once, and nothing after.
void HostileHttpTest::keptConnectionClosedAfterTheRequest_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("askedAgain");
    // A read is asked again on a new connection; a send never goes twice
    // once the server may have taken it.
    QTest::newRow("GET") << QByteArray("GET") << true;
    QTest::newRow("POST") << QByteArray("POST") << false;
}

void HostileHttpTest::keptConnectionClosedAfterTheRequest()
{
    QFETCH(QByteArray, method);
    QFETCH(bool, askedAgain);
    HostileServer server(HostileServer::Behaviour::KeptThenDropped);
    QVERIFY(server.port() > 0);
    HttpRequest request;
    request.method = method;
    request.body = method == "POST" ? QByteArray("{\"to\":\"x\"}") : QByteArray();
    request.url = QUrl(server.httpUrl("/v1/message/send"));
    request.timeoutMs = 30000;
    QVERIFY(runHttp(request).success);
    const HttpResponse second = runHttp(request);
    QCOMPARE(second.success, askedAgain);
    QCOMPARE(server.connections(), askedAgain ? 2 : 1);
    QCOMPARE(server.requests(), askedAgain ? 3 : 2);
}

void HostileHttpTest::endlessAnswerAtTheFullCapHoldsLittleMemory_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::addColumn<int>("starvedMs");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("heldAfterStartMs");
    QTest::newRow("chunked, reader keeps up") << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("GET") << 0;
    QTest::newRow("up to a close, reader starved")
        << HostileServer::Behaviour::EndlessUnsized << 1500 << QByteArray("GET") << 0;
    QTest::newRow("false length, reader keeps up") << HostileServer::Behaviour::FalseLength << 0 << QByteArray("GET") << 0;
    QTest::newRow("POST, chunked") << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("POST") << 0;
    // The network thread held up just after the request went, before it
    // could do anything more for it (a loaded machine).
    QTest::newRow("GET, network thread held up at the start")
        << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("GET") << 1000;
    QTest::newRow("POST, network thread held up at the start")
        << HostileServer::Behaviour::EndlessChunked << 0 << QByteArray("POST") << 1000;
}

void HostileHttpTest::endlessAnswerAtTheFullCapHoldsLittleMemory()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    QFETCH(int, starvedMs);
    QFETCH(QByteArray, method);
    QFETCH(int, heldAfterStartMs);
    // Qt's network thread and buffers are set up first: they stay anyway.
    {
        HostileServer warm(HostileServer::Behaviour::Record);
        HttpRequest request;
        request.url = QUrl(warm.httpUrl("/warm"));
        QVERIFY(runHttp(request).success);
    }
    HostileServer server(behaviour);
    QVERIFY(server.port() > 0);
    const qint64 before = statusBytes("VmRSS");
    if (!resetPeakResident() || before < 0)
        QSKIP("this kernel does not report a resettable peak");
    if (starvedMs > 0)
        starveReaderSoon(starvedMs);
    if (heldAfterStartMs > 0)
        setRequestStartedHookForTests([heldAfterStartMs] { QThread::msleep(heldAfterStartMs); });
    HttpRequest request;
    request.method = method;
    request.body = method == "POST" ? QByteArray("{\"limit\":500}") : QByteArray();
    request.url = QUrl(server.httpUrl("/v1/message/pull"));
    request.timeoutMs = 30000;
    const HttpResponse response = runHttp(request);
    setRequestStartedHookForTests({});
    QCOMPARE(response.error, QStringLiteral("response_too_large"));
    QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 30000);
    const qint64 peakGrowth = statusBytes("VmHWM") - before;
    const qint64 held = statusBytes("VmRSS") - before;
    qInfo("endless answer at a %lld MiB cap: %lld MiB sent, peak resident growth %lld MiB, held after %lld MiB",
          kMaxResponseBytes >> 20, server.bytesSent() >> 20, peakGrowth >> 20, held >> 20);
    // The sockets' own buffers hold what was sent beyond the cap.
    QVERIFY2(server.bytesSent() <= kMaxResponseBytes + 24 * 1024 * 1024, qPrintable(QString::number(server.bytesSent())));
    QVERIFY2(peakGrowth <= kMaxResponseBytes + 16 * 1024 * 1024, qPrintable(QString::number(peakGrowth)));
    QVERIFY2(held <= 8 * 1024 * 1024, qPrintable(QString::number(held)));
}

QTEST_GUILESS_MAIN(HostileHttpTest)
#include "test_hostile_http.moc"
