// Pictures the views load from a server (avatars of group members) follow a
// redirect only to the origin they were asked of: a server that passed the
// same-origin check cannot send the window on to a tracker.
#include "app/network_access.h"

#include "support/fake_common.h"

#include <QBuffer>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

using velmor::fakes::FakeHttpServer;
using velmor::fakes::FakeReply;

namespace {

QByteArray png()
{
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

FakeReply redirect(int status, const QString &to)
{
    FakeReply reply{status, QByteArray(), "text/plain"};
    reply.location = to.toUtf8();
    return reply;
}

} // namespace

class ViewRedirectsTest : public QObject
{
    Q_OBJECT

    // The status the views' Image ends in for the URL.
    int loadImage(QQmlEngine &engine, const QString &url)
    {
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nImage { cache: false; asynchronous: true }", QUrl());
        std::unique_ptr<QObject> image(component.createWithInitialProperties({{QStringLiteral("source"), url}}));
        if (!image)
            return -1;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(image->property("status").toInt() != 2 /* Loading */, 10000); }();
        return image->property("status").toInt();
    }

private slots:
    void initTestCase()
    {
        const QByteArray picture = png();
        auto servePicture = [picture](const QHttpServerRequest &) {
            return FakeReply{200, picture, "image/png"};
        };
        m_tracker.addRoute(QStringLiteral("/avatar.png"), QHttpServerRequest::Method::Get, servePicture);
        QVERIFY(m_tracker.start());
        const QString elsewhere = m_tracker.baseUrl() + QStringLiteral("/avatar.png");

        m_server.addRoute(QStringLiteral("/avatar.png"), QHttpServerRequest::Method::Get, servePicture);
        m_server.addRoute(QStringLiteral("/away"), QHttpServerRequest::Method::Get,
                          [elsewhere](const QHttpServerRequest &) { return redirect(302, elsewhere); });
        m_server.addRoute(QStringLiteral("/moved"), QHttpServerRequest::Method::Get,
                          [elsewhere](const QHttpServerRequest &) { return redirect(301, elsewhere); });
        m_server.addRoute(QStringLiteral("/here"), QHttpServerRequest::Method::Get,
                          [](const QHttpServerRequest &) { return redirect(302, QStringLiteral("/avatar.png")); });
        m_server.addRoute(QStringLiteral("/here-then-away"), QHttpServerRequest::Method::Get,
                          [](const QHttpServerRequest &) { return redirect(307, QStringLiteral("/away")); });
        QVERIFY(m_server.start());
    }
    void init()
    {
        m_tracker.resetCounts();
        m_server.resetCounts();
    }

    void redirectsStayWithTheOrigin_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("shown");
        QTest::newRow("302 to another loopback origin") << QStringLiteral("/away") << false;
        QTest::newRow("301 to another loopback origin") << QStringLiteral("/moved") << false;
        QTest::newRow("same origin, then elsewhere") << QStringLiteral("/here-then-away") << false;
        QTest::newRow("same origin") << QStringLiteral("/here") << true;
        QTest::newRow("no redirect") << QStringLiteral("/avatar.png") << true;
    }
    void redirectsStayWithTheOrigin()
    {
        QFETCH(QString, path);
        QFETCH(bool, shown);
        QQmlEngine engine;
        velmor::app::installNetworkAccess(engine);
        const int status = loadImage(engine, m_server.baseUrl() + path);
        QCOMPARE(status, shown ? 1 /* Ready */ : 3 /* Error */);
        QCOMPARE(m_tracker.requestCount(QStringLiteral("/avatar.png")), 0);
    }

private:
    FakeHttpServer m_server;
    FakeHttpServer m_tracker;
};

QTEST_MAIN(ViewRedirectsTest)
#include "tst_view_redirects.moc"
