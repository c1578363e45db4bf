// The HTTP runner against servers that break the rules: a body cut short of
// its stated length, redirects elsewhere, and a chunked answer without end;
// and the same for the pictures the views load.
#include "net/http.h"
#include "net/network_thread.h"
#include "net/picture_access.h"
#include "support/hostile_server.h"
#include "support/memory_peak.h"

#include <QNetworkReply>
#include <QtTest>

#include <memory>

using namespace velmor::net;
using velmor::fakes::HostileServer;

class HostileHttpTest : public QObject
{
    Q_OBJECT
private slots:
    void oddAnswerEndsInAnErrorOrItsBody_data();
    void oddAnswerEndsInAnErrorOrItsBody();
    void redirectsAreNotFollowed_data();
    void redirectsAreNotFollowed();
    void endlessAnswerIsReadOnlyUpToTheCap_data();
    void endlessAnswerIsReadOnlyUpToTheCap();
    void endlessAnswerAtTheFullCapHoldsLittleMemory_data();
    void endlessAnswerAtTheFullCapHoldsLittleMemory();
    void keptConnectionClosedAfterTheRequest_data();
    void keptConnectionClosedAfterTheRequest();
    void viewPictureIsBoundedFromItsFirstByte_data();
    void viewPictureIsBoundedFromItsFirstByte();
};

// As on a loaded machine: the thread that reads answers (the network
// thread) stops for a while, soon after the request has gone.
void starveReaderSoon(int ms)
{
    QTimer::singleShot(20, [ms] { postToNetworkThread([ms](const NetworkManagers *) { QThread::msleep(ms); }); });
}

using velmor::fakes::resetPeakResident;
using velmor::fakes::statusBytes;

// An answer that breaks the rules ends in a clear error at once, with no
// body: never a hang, never a body cut short taken as whole, never a read
// without bound. Interim answers come before the real one, which is taken.
void HostileHttpTest::oddAnswerEndsInAnErrorOrItsBody_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("error"); // empty: the answer is taken, its body "{}"
    using B = HostileServer::Behaviour;
    const QByteArray chunked = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray whole = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
    const QString incomplete = QStringLiteral("incomplete_response");
    const QString invalid = QStringLiteral("invalid_response");
    QTest::newRow("100 of 500000 bytes, then the close") << B::ShortBody << QByteArray() << QByteArray("GET") << incomplete;
    QTest::newRow("closed inside a chunk") << B::Scripted << chunked + "10\r\nabc" << QByteArray("GET") << incomplete;
    QTest::newRow("closed between chunks") << B::Scripted << chunked + "2\r\n{}\r\n" << QByteArray("GET") << incomplete;
    QTest::newRow("closed inside the head") << B::Scripted << QByteArray("HTTP/1.1 200 OK\r\nContent-Le")
                                            << QByteArray("POST") << incomplete;
    QTest::newRow("closed with no answer") << B::Scripted << QByteArray() << QByteArray("POST")
                                           << QStringLiteral("connection_closed");
    QTest::newRow("chunk size not hex") << B::Scripted << chunked + "zz\r\n{}\r\n0\r\n\r\n" << QByteArray("GET") << invalid;
    QTest::newRow("chunk size negative") << B::Scripted << chunked + "-2\r\n{}\r\n0\r\n\r\n" << QByteArray("GET") << invalid;
    QTest::newRow("chunk size past 64 bits") << B::Scripted << chunked + "1ffffffffffffffff\r\n{}" << QByteArray("GET")
                                             << invalid;
    QTest::newRow("chunk size the largest number") << B::Scripted << chunked + "7fffffffffffffff\r\n{}"
                                                   << QByteArray("GET") << QStringLiteral("response_too_large");
    QTest::newRow("chunk longer than its size") << B::Scripted << chunked + "2\r\n{}}\r\n0\r\n\r\n"
                                                << QByteArray("GET") << invalid;
    QTest::newRow("length not a number") << B::Scripted
                                         << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\n{}")
                                         << QByteArray("GET") << invalid;
    QTest::newRow("unknown transfer coding") << B::Scripted
                                             << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n{}")
                                             << QByteArray("GET") << invalid;
    QTest::newRow("101 to a plain request") << B::Scripted << QByteArray("HTTP/1.1 101 Switching Protocols\r\n\r\n")
                                            << QByteArray("GET") << invalid;
    // Lines without end: refused at their bound, not read on.
    QTest::newRow("status line without end") << B::ScriptedThenFiller << QByteArray("HTTP/1.1 200 ") << QByteArray("GET")
                                             << invalid;
    QTest::newRow("header line without end") << B::ScriptedThenFiller << QByteArray("HTTP/1.1 200 OK\r\nX-Pad: ")
                                             << QByteArray("POST") << invalid;
    QTest::newRow("chunk line without end") << B::ScriptedThenFiller << chunked + "2;" << QByteArray("GET") << invalid;
    QTest::newRow("interim answers without end") << B::EndlessInterim << QByteArray() << QByteArray("POST") << invalid;
    QTest::newRow("100 Continue, then the answer") << B::Scripted << "HTTP/1.1 100 Continue\r\n\r\n" + whole
                                                   << QByteArray("POST") << QString();
    QTest::newRow("103 with headers and 100, then a chunked answer")
        << B::Scripted
        << "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\nHTTP/1.1 100 Continue\r\n\r\n" + chunked + "2\r\n{}\r\n0\r\n\r\n"
        << QByteArray("GET") << QString();
}

void HostileHttpTest::oddAnswerEndsInAnErrorOrItsBody()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, method);
    QFETCH(QString, error);
    HostileServer server(behaviour, answer);
    QVERIFY(server.port() > 0);
    HttpRequest request;
    request.method = method;
    request.body = method == "POST" ? QByteArray("{\"limit\":500}") : QByteArray();
    request.url = QUrl(server.httpUrl("/v1/message/pull"));
    request.timeoutMs = 30000; // the answer comes at once; the deadline only bounds a stalled machine
    const HttpResponse response = runHttp(request);
    QCOMPARE(response.error, error);
    QCOMPARE(response.success, error.isEmpty());
    QCOMPARE(response.body, error.isEmpty() ? QByteArray("{}") : QByteArray());
    // The client ends the connection (this server keeps it open).
    if (!error.isEmpty() && behaviour != HostileServer::Behaviour::ShortBody)
        QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 30000);
    QVERIFY2(server.bytesSent() < 24 * 1024 * 1024, qPrintable(QString::number(server.bytesSent())));
    QCOMPARE(server.connections(), 1);
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

void HostileHttpTest::keptConnectionClosedAfterTheRequest_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("secondTaken");
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("requests");
    using B = HostileServer::Behaviour;
    // A read is asked again on a new connection; a send never goes twice
    // once the server may have taken it.
    QTest::newRow("closed as the next request came, GET") << B::KeptThenDropped << QByteArray("GET") << true << 2 << 3;
    QTest::newRow("closed as the next request came, POST") << B::KeptThenDropped << QByteArray("POST") << false << 1 << 2;
    // An answer that says "close" ends its connection, whether or not the
    // server closes it: the next request goes on a new one (on the old one
    // this server would answer nothing).
    QTest::newRow("answer says close, GET") << B::SaysCloseStaysOpen << QByteArray("GET") << true << 2 << 2;
    QTest::newRow("answer says close, POST") << B::SaysCloseStaysOpen << QByteArray("POST") << true << 2 << 2;
}

void HostileHttpTest::keptConnectionClosedAfterTheRequest()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    QFETCH(QByteArray, method);
    QFETCH(bool, secondTaken);
    QFETCH(int, connections);
    QFETCH(int, requests);
    HostileServer server(behaviour);
    QVERIFY(server.port() > 0);
    HttpRequest request;
    request.method = method;
    request.body = method == "POST" ? QByteArray("{\"to\":\"x\"}") : QByteArray();
    request.url = QUrl(server.httpUrl("/v1/message/send"));
    // Ahead of the server's own bound on a connection (30 s), after which a
    // connection kept against its word would close and a GET be asked again.
    request.timeoutMs = 20000;
    QVERIFY(runHttp(request).success);
    const HttpResponse second = runHttp(request);
    QCOMPARE(second.success, secondTaken);
    QCOMPARE(server.connections(), connections);
    QCOMPARE(server.requests(), requests);
}

// At the real cap an endless answer costs about the cap once, and nothing after.
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

// A picture the views load (an avatar of a group server) costs at most its
// cap whatever the server sends: an answer stated over the cap is refused
// with its head, one that comes to more is broken off there, also after a
// same-origin redirect, and one that trickles on ends at the deadline.
void HostileHttpTest::viewPictureIsBoundedFromItsFirstByte_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("heldAfterStartMs");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<QString>("outcome"); // "taken", "refused" or "timed out"
    QTest::addColumn<qint64>("peakBound");
    using B = HostileServer::Behaviour;
    const auto picture = [](qint64 stated, qint64 sent) {
        return "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + QByteArray::number(stated) + "\r\n\r\n"
            + QByteArray(sent, 'p');
    };
    const qint64 cap = kMaxPictureBytes;
    const qint64 capAndBuffers = cap + 16 * 1024 * 1024;
    // Refused with the head: next to nothing of the body is read.
    const qint64 headOnly = 4 * 1024 * 1024;
    const QString refused = QStringLiteral("refused");
    QTest::newRow("a picture just under the cap") << B::Scripted << picture(cap - 1024, cap - 1024) << 0 << 30000
                                                  << QStringLiteral("taken") << capAndBuffers;
    QTest::newRow("stated one byte over the cap") << B::Scripted << picture(cap + 1, cap + 1) << 0 << 30000
                                                  << refused << headOnly;
    QTest::newRow("lying length of 10 GB") << B::FalseLength << QByteArray() << 0 << 30000 << refused << headOnly;
    QTest::newRow("endless chunks") << B::EndlessChunked << QByteArray() << 0 << 30000 << refused << capAndBuffers;
    QTest::newRow("up to a close that never comes, network thread held up at the start")
        << B::EndlessUnsized << QByteArray() << 1000 << 30000 << refused << capAndBuffers;
    QTest::newRow("endless chunks after a same-origin redirect")
        << B::RedirectThenEndless << QByteArray("/avatar-2.png") << 0 << 30000 << refused << capAndBuffers;
    QTest::newRow("slow drip") << B::Drip << QByteArray() << 0 << 3000 << QStringLiteral("timed out")
                               << capAndBuffers;
}

void HostileHttpTest::viewPictureIsBoundedFromItsFirstByte()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    QFETCH(QByteArray, answer);
    QFETCH(int, heldAfterStartMs);
    QFETCH(int, deadlineMs);
    QFETCH(QString, outcome);
    QFETCH(qint64, peakBound);
    const auto load = [](PictureAccessManager &manager, const QString &url) {
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
        if (!QTest::qWaitFor([&reply] { return reply->isFinished(); }, 40000))
            reply.reset();
        return reply;
    };
    {
        HostileServer warm(HostileServer::Behaviour::Record);
        PictureAccessManager manager;
        const auto reply = load(manager, warm.httpUrl(QStringLiteral("/warm.png")));
        QVERIFY(reply && reply->error() == QNetworkReply::NoError);
    }
    HostileServer server(behaviour, answer);
    QVERIFY(server.port() > 0);
    const qint64 before = statusBytes("VmRSS");
    if (!resetPeakResident() || before < 0)
        QSKIP("this kernel does not report a resettable peak");
    if (heldAfterStartMs > 0)
        setRequestStartedHookForTests([heldAfterStartMs] { QThread::msleep(heldAfterStartMs); });
    QElapsedTimer clock;
    clock.start();
    PictureAccessManager manager(nullptr, deadlineMs);
    std::unique_ptr<QNetworkReply> reply = load(manager, server.httpUrl(QStringLiteral("/avatar.png")));
    const qint64 tookMs = clock.elapsed();
    setRequestStartedHookForTests({});
    QVERIFY2(reply, "the picture's request never ended");
    const QNetworkReply::NetworkError error = reply->error();
    QCOMPARE(error == QNetworkReply::NoError       ? QStringLiteral("taken")
             : error == QNetworkReply::TimeoutError ? QStringLiteral("timed out")
                                                    : QStringLiteral("refused"),
             outcome);
    const bool taken = error == QNetworkReply::NoError;
    QCOMPARE(reply->readAll().size(), taken ? answer.size() - answer.indexOf("\r\n\r\n") - 4 : 0);
    reply.reset();
    if (behaviour != HostileServer::Behaviour::Scripted)
        QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 30000);
    const qint64 peakGrowth = statusBytes("VmHWM") - before;
    const qint64 held = statusBytes("VmRSS") - before;
    qInfo("view picture: ended after %lld ms, %lld KiB sent, peak resident growth %lld KiB, held after %lld KiB", tookMs,
          server.bytesSent() >> 10, peakGrowth >> 10, held >> 10);
    QVERIFY2(server.bytesSent() <= kMaxPictureBytes + 24 * 1024 * 1024, qPrintable(QString::number(server.bytesSent())));
    QVERIFY2(peakGrowth <= peakBound, qPrintable(QString::number(peakGrowth)));
    // A picture taken leaves its pages to the allocator for the next one.
    if (!taken)
        QVERIFY2(held <= 8 * 1024 * 1024, qPrintable(QString::number(held)));
}

QTEST_GUILESS_MAIN(HostileHttpTest)
#include "test_hostile_http.moc"
