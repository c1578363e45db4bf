// The blocking HTTP runner against a local server: answers, failures,
// time-outs, the size cap, the loopback-only rule for plain http, use from
// many pool threads at once over shared kept-alive connections, and the
// quit's abort of requests in flight.
#include "net/http.h"
#include "support/fake_common.h"

#include <QJsonArray>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

using namespace velmor::net;
using velmor::fakes::Fault;
using velmor::fakes::FakeHttpServer;
using velmor::fakes::FakeReply;

class HttpTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void answers();
    void nonSuccessStatusesKeepTheirBody();
    void requestCarriesBodyTokenAndHeaders();
    void timeoutAbortsWithStatusZero();
    void droppedConnectionIsATransportError();
    void refusedConnectionIsATransportError();
    void sizeCapRefusesHugeBodies();
    void jsonOfAnythingButAnObjectIsEmpty();
    void plainHttpOnlyForLoopback_data();
    void plainHttpOnlyForLoopback();
    void insecureEndpointMakesNoRequest();
    void baseUrlsAndEndpoints();
    void parallelRequestsKeepOrderAndOwnTimeouts();
    void usableFromManyPoolThreads();
    void connectionsAreKeptAndShared_data();
    void connectionsAreKeptAndShared();
    // Last: after it every request of this process ends at once.
    void abortEndsRequestsInFlightAndLater();

private:
    FakeHttpServer m_server;
};

void HttpTest::initTestCase()
{
    using Method = QHttpServerRequest::Method;
    m_server.addRoute("/ok", Method::Get, [](const QHttpServerRequest &) {
        return FakeReply::json(QJsonObject{{"hello", "world"}});
    });
    m_server.addRoute("/created", Method::Post, [](const QHttpServerRequest &) {
        return FakeReply::json(QJsonObject{{"id", 7}}, 201);
    });
    m_server.addRoute("/echo", Method::Post, [](const QHttpServerRequest &request) {
        QJsonObject headers;
        for (const auto &header : request.headers())
            headers.insert(QString::fromLatin1(header.first.toLower()), QString::fromLatin1(header.second));
        return FakeReply::json(QJsonObject{{"body", QString::fromUtf8(request.body())},
                                           {"headers", headers}});
    });
    m_server.addRoute("/missing", Method::Get, [](const QHttpServerRequest &) {
        return FakeReply::error(404, "not_found");
    });
    m_server.addRoute("/big", Method::Get, [](const QHttpServerRequest &) {
        return FakeReply{200, QByteArray(300 * 1024, 'x'), "application/octet-stream"};
    });
    m_server.addRoute("/slow", Method::Get, [](const QHttpServerRequest &) {
        return FakeReply::json(QJsonObject{{"slow", true}});
    });
    QVERIFY(m_server.start() > 0);
}

void HttpTest::cleanup()
{
    m_server.clearFaults();
}

void HttpTest::answers()
{
    const HttpResponse ok = getJson(QUrl(m_server.baseUrl() + "/ok"));
    QCOMPARE(ok.status, 200);
    QVERIFY(ok.success);
    QVERIFY(ok.error.isEmpty());
    QCOMPARE(ok.json().value("hello").toString(), QStringLiteral("world"));

    const HttpResponse created = postJson(QUrl(m_server.baseUrl() + "/created"), QJsonObject{});
    QCOMPARE(created.status, 201);
    QVERIFY(created.success);
}

void HttpTest::nonSuccessStatusesKeepTheirBody()
{
    const HttpResponse missing = getJson(QUrl(m_server.baseUrl() + "/missing"));
    QCOMPARE(missing.status, 404);
    QVERIFY(!missing.success);
    QVERIFY(missing.error.isEmpty());
    QCOMPARE(missing.json().value("error").toString(), QStringLiteral("not_found"));

    m_server.setFault("/ok", Fault::http500());
    const HttpResponse failed = getJson(QUrl(m_server.baseUrl() + "/ok"));
    QCOMPARE(failed.status, 500);
    QVERIFY(!failed.success);

    // A route that does not exist for this method.
    const HttpResponse wrongMethod = postJson(QUrl(m_server.baseUrl() + "/missing"), QJsonObject{});
    QVERIFY(!wrongMethod.success);
    QVERIFY(wrongMethod.status >= 400);
}

void HttpTest::requestCarriesBodyTokenAndHeaders()
{
    HttpRequest request;
    request.method = "POST";
    request.url = QUrl(m_server.baseUrl() + "/echo");
    request.body = R"({"a":1})";
    request.bearerToken = "tok-123";
    request.headers.append(qMakePair(QByteArray("X-Extra"), QByteArray("yes")));
    const HttpResponse response = runHttp(request);
    QVERIFY(response.success);
    const QJsonObject echo = response.json();
    QCOMPARE(echo.value("body").toString(), QStringLiteral(R"({"a":1})"));
    const QJsonObject headers = echo.value("headers").toObject();
    QCOMPARE(headers.value("authorization").toString(), QStringLiteral("Bearer tok-123"));
    QCOMPARE(headers.value("content-type").toString(), QStringLiteral("application/json"));
    QCOMPARE(headers.value("x-extra").toString(), QStringLiteral("yes"));
}

void HttpTest::timeoutAbortsWithStatusZero()
{
    m_server.setFault("/slow", Fault::delay(1500));
    const HttpResponse response = getJson(QUrl(m_server.baseUrl() + "/slow"), QString(), 300);
    QCOMPARE(response.status, 0);
    QVERIFY(!response.success);
    QCOMPARE(response.error, QStringLiteral("timeout"));
    QVERIFY(response.body.isEmpty());
}

void HttpTest::droppedConnectionIsATransportError()
{
    m_server.setFault("/ok", Fault::drop());
    const HttpResponse response = getJson(QUrl(m_server.baseUrl() + "/ok"), QString(), 5000);
    QVERIFY(!response.success);
    QVERIFY(!response.error.isEmpty() || response.status >= 500);
}

void HttpTest::refusedConnectionIsATransportError()
{
    const quint16 dead = velmor::fakes::unusedLoopbackPort();
    const HttpResponse response =
        getJson(QUrl(QStringLiteral("http://127.0.0.1:%1/v1/health").arg(dead)), QString(), 5000);
    QCOMPARE(response.status, 0);
    QVERIFY(!response.success);
    QVERIFY(!response.error.isEmpty());
    QVERIFY(response.error != QStringLiteral("timeout"));
}

void HttpTest::sizeCapRefusesHugeBodies()
{
    HttpRequest request;
    request.url = QUrl(m_server.baseUrl() + "/big");
    request.maxResponseBytes = 100 * 1024;
    const HttpResponse capped = runHttp(request);
    QVERIFY(!capped.success);
    QCOMPARE(capped.error, QStringLiteral("response_too_large"));
    QVERIFY(capped.body.isEmpty());

    request.maxResponseBytes = 1024 * 1024;
    const HttpResponse fits = runHttp(request);
    QVERIFY(fits.success);
    QCOMPARE(fits.body.size(), 300 * 1024);
}

void HttpTest::jsonOfAnythingButAnObjectIsEmpty()
{
    HttpResponse response;
    response.body = "not json";
    QVERIFY(response.json().isEmpty());
    response.body = "[1,2,3]";
    QVERIFY(response.json().isEmpty());
    response.body = "{\"a\":";
    QVERIFY(response.json().isEmpty());
    response.body = "";
    QVERIFY(response.json().isEmpty());
    response.body = "{\"a\":1}";
    QCOMPARE(response.json().value("a").toInt(), 1);
}

void HttpTest::plainHttpOnlyForLoopback_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https remote") << "https://relay.example.org/v1" << true;
    QTest::newRow("wss remote") << "wss://relay.example.org/v1/ws" << true;
    QTest::newRow("http remote") << "http://relay.example.org/v1" << false;
    QTest::newRow("ws remote") << "ws://relay.example.org/v1/ws" << false;
    QTest::newRow("http 127.0.0.1") << "http://127.0.0.1:8080/x" << true;
    QTest::newRow("http 127.5.6.7") << "http://127.5.6.7/x" << true;
    QTest::newRow("http localhost") << "http://localhost:1/x" << true;
    QTest::newRow("http LOCALHOST") << "http://LOCALHOST:1/x" << true;
    QTest::newRow("http ::1") << "http://[::1]:8080/x" << true;
    QTest::newRow("ws 127.0.0.1") << "ws://127.0.0.1:9/v1/ws" << true;
    QTest::newRow("http private lan") << "http://192.168.1.10/x" << false;
    QTest::newRow("http localhost lookalike") << "http://localhost.evil.example/x" << false;
    QTest::newRow("http 127 in a name") << "http://127.0.0.1.example.org/x" << false;
    QTest::newRow("ftp") << "ftp://127.0.0.1/x" << false;
    QTest::newRow("no host") << "http:///x" << false;
    QTest::newRow("empty") << "" << false;
}

void HttpTest::plainHttpOnlyForLoopback()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(isAllowedEndpoint(QUrl(url)), allowed);
}

void HttpTest::insecureEndpointMakesNoRequest()
{
    const HttpResponse response =
        postJson(QUrl("http://relay.example.org/v1/message/pull"), QJsonObject{}, "secret-token");
    QCOMPARE(response.status, 0);
    QVERIFY(!response.success);
    QCOMPARE(response.error, QStringLiteral("insecure_endpoint"));

    const HttpResponse ftp = getJson(QUrl("ftp://127.0.0.1/x"));
    QVERIFY(!ftp.success);
    QVERIFY(!ftp.error.isEmpty());
}

void HttpTest::baseUrlsAndEndpoints()
{
    QCOMPARE(normaliseBaseUrl("  https://relay.example.org/// "), QStringLiteral("https://relay.example.org"));
    QCOMPARE(normaliseBaseUrl("http://127.0.0.1:8080/"), QStringLiteral("http://127.0.0.1:8080"));
    QCOMPARE(normaliseBaseUrl("https://relay.example.org/base/"), QStringLiteral("https://relay.example.org/base"));
    QVERIFY(normaliseBaseUrl("").isEmpty());
    QVERIFY(normaliseBaseUrl("relay.example.org").isEmpty());
    QVERIFY(normaliseBaseUrl("ftp://relay.example.org").isEmpty());
    QVERIFY(normaliseBaseUrl("https://").isEmpty());

    QCOMPARE(endpoint("https://relay.example.org/", "/v1/message/pull"),
             QUrl("https://relay.example.org/v1/message/pull"));
    QCOMPARE(endpoint("https://relay.example.org", "v1/health"), QUrl("https://relay.example.org/v1/health"));
    QCOMPARE(endpoint("https://relay.example.org/base", "/v1/x?y=1"),
             QUrl("https://relay.example.org/base/v1/x?y=1"));
    QVERIFY(endpoint("", "/v1/health").isEmpty());
}

void HttpTest::parallelRequestsKeepOrderAndOwnTimeouts()
{
    m_server.setFault("/slow", Fault::delay(2000));
    const quint16 dead = velmor::fakes::unusedLoopbackPort();
    QList<HttpRequest> requests(4);
    requests[0].url = QUrl(m_server.baseUrl() + "/slow");
    requests[0].timeoutMs = 300;
    requests[1].url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(dead));
    requests[2].url = QUrl("http://relay.example.org/x");
    requests[3].url = QUrl(m_server.baseUrl() + "/missing");
    const QList<HttpResponse> answers = runHttpParallel(requests);
    QCOMPARE(answers.size(), 4);
    QCOMPARE(answers[0].error, QStringLiteral("timeout"));
    QCOMPARE(answers[1].status, 0);
    QVERIFY(!answers[1].error.isEmpty());
    QCOMPARE(answers[2].error, QStringLiteral("insecure_endpoint"));
    QCOMPARE(answers[3].status, 404);
    QVERIFY(runHttpParallel({}).isEmpty());
}

void HttpTest::usableFromManyPoolThreads()
{
    QThreadPool pool;
    pool.setMaxThreadCount(8);
    QList<QFuture<int>> futures;
    for (int i = 0; i < 24; ++i) {
        futures.append(QtConcurrent::run(&pool, [this]() {
            const HttpResponse response = getJson(QUrl(m_server.baseUrl() + "/ok"));
            return response.success && response.json().value("hello").toString() == "world" ? 1 : 0;
        }));
    }
    int good = 0;
    for (QFuture<int> &future : futures) {
        future.waitForFinished();
        good += future.result();
    }
    QCOMPARE(good, 24);
    pool.waitForDone();
}

void HttpTest::connectionsAreKeptAndShared_data()
{
    // The calls in order: s a send (a short answer), p a pull, l a login,
    // g a group-server call that returns data (these three with the full
    // answer cap), r a read (GET).
    QTest::addColumn<QByteArray>("calls");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("maxConnections");
    // One after another, each from a pool thread: sends, pulls, logins and
    // reads share one connection.
    QTest::newRow("5 sends in turn, one thread") << QByteArray("sssss") << 1 << 1;
    QTest::newRow("5 reads in turn, 5 threads") << QByteArray("rrrrr") << -5 << 1;
    QTest::newRow("5 sends in turn, 5 threads") << QByteArray("sssss") << -5 << 1;
    QTest::newRow("pulls after sends") << QByteArray("ssppsp") << 1 << 1;
    QTest::newRow("a login, then pulls and sends, 6 threads") << QByteArray("lpspsr") << -6 << 1;
    QTest::newRow("group-server calls that return data") << QByteArray("gsgrgpg") << 1 << 1;
    // At once from many threads: no more than Qt's limit per host.
    QTest::newRow("24 sends at once, 8 threads") << QByteArray(24, 's') << 8 << 6;
    QTest::newRow("24 mixed at once, 8 threads") << QByteArray("splgr").repeated(5).left(24) << 8 << 6;
}

void HttpTest::connectionsAreKeptAndShared()
{
    QFETCH(QByteArray, calls);
    QFETCH(int, threads);
    QFETCH(int, maxConnections);
    FakeHttpServer server;
    using Method = QHttpServerRequest::Method;
    // Each kind's path and answer (a pull's page: more than Qt may read
    // ahead of the reader).
    const QHash<char, std::pair<const char *, QJsonObject>> routes{
        {'s', {"/v1/message/send", {{"ok", true}}}},
        {'p', {"/v1/message/pull", {{"messages", QJsonArray{QString(300 * 1024, 'm')}}}}},
        {'l', {"/v1/auth/login", {{"token", "t"}}}},
        {'g', {"/v1/group/members", {{"members", QJsonArray{"a", "b"}}}}},
        {'r', {"/v1/group/info", {{"name", "g"}}}}};
    for (auto it = routes.cbegin(); it != routes.cend(); ++it) {
        const QJsonObject answer = it->second;
        server.addRoute(it->first, it.key() == 'r' ? Method::Get : Method::Post,
                        [answer](const QHttpServerRequest &) { return FakeReply::json(answer); });
    }
    QVERIFY(server.start() > 0);
    const QString base = server.baseUrl();
    const auto call = [base, routes](char kind) {
        HttpRequest request;
        request.method = kind == 'r' ? "GET" : "POST";
        request.body = kind == 'r' ? QByteArray() : QByteArray(R"({"to":"x"})");
        request.url = QUrl(base + QLatin1String(routes.value(kind).first));
        // As the relay's send asks: a short answer; the others take the full cap.
        if (kind == 's')
            request.maxResponseBytes = 64 * 1024;
        const HttpResponse response = runHttp(request);
        return response.success && !response.json().isEmpty() ? 1 : 0;
    };

    QThreadPool pool;
    pool.setMaxThreadCount(qMax(1, threads));
    int good = 0;
    if (threads < 0) {
        // A thread of its own for each, as pool threads come and go.
        for (char kind : calls) {
            std::unique_ptr<QThread> thread(QThread::create([&good, call, kind] { good += call(kind); }));
            thread->start();
            QVERIFY(thread->wait(30000));
        }
    } else {
        QList<QFuture<int>> futures;
        for (char kind : calls) {
            futures.append(QtConcurrent::run(&pool, call, kind));
            if (threads == 1) {
                futures.last().waitForFinished();
                QThread::msleep(20); // a pause between calls: the connection stays
            }
        }
        for (QFuture<int> &future : futures)
            good += future.result();
    }
    QCOMPARE(good, int(calls.size()));
    const int opened = server.connectionCount();
    QVERIFY2(opened >= 1 && opened <= maxConnections, qPrintable(QString::number(opened)));
    // Afterwards a send, a pull and a read go over a connection already open.
    QCOMPARE(QtConcurrent::run(&pool, call, 's').result(), 1);
    QCOMPARE(QtConcurrent::run(&pool, call, 'p').result(), 1);
    QCOMPARE(QtConcurrent::run(&pool, call, 'r').result(), 1);
    QCOMPARE(server.connectionCount(), opened);
    pool.waitForDone();
}

void HttpTest::abortEndsRequestsInFlightAndLater()
{
    m_server.holdRequests("/slow");
    QThreadPool pool;
    QList<QFuture<HttpResponse>> inFlight;
    for (int i = 0; i < 3; ++i)
        inFlight.append(QtConcurrent::run(&pool, [this] {
            return getJson(QUrl(m_server.baseUrl() + "/slow"), QString(), 120000);
        }));
    QTRY_VERIFY(m_server.requestCount("/slow") >= 1);

    abortRequests();
    for (QFuture<HttpResponse> &future : inFlight) {
        // Far below the requests' own time-out: they end with the abort.
        QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 10000);
        QCOMPARE(future.result().error, QStringLiteral("aborted"));
        QCOMPARE(future.result().status, 0);
    }
    m_server.releaseHeld();
    m_server.resetCounts();
    const HttpResponse later = getJson(QUrl(m_server.baseUrl() + "/ok"));
    QCOMPARE(later.error, QStringLiteral("aborted"));
    QCOMPARE(m_server.requestCount("/ok"), 0);
    pool.waitForDone();
}

QTEST_GUILESS_MAIN(HttpTest)
#include "test_http.moc"
