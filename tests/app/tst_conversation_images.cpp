// The image viewer's reach into the store: every image message of the open
// conversation, in order, and each picture loaded by its peer and message id.
#include "app/conversation_images.h"
#include "chat/payloads.h"
#include "identity/crypto.h"
#include "store/store_test_util.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

namespace {

const QString kImageText = QStringLiteral("[图片]");

QString imageAttachment(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return payload::imagePayload(velmor::crypto::base64UrlEncode(jpeg), QStringLiteral("image/jpeg"),
                                 size.width(), size.height());
}

MessageRecord picture(const QString &id, const QString &conversation, qint64 at, QSize size = {40, 30})
{
    MessageRecord m = message(id, conversation, kImageText, at);
    m.content_type = QStringLiteral("image");
    m.attachment = imageAttachment(size);
    return m;
}

} // namespace

class ConversationImagesTest : public QObject, protected StoreFiles
{
    Q_OBJECT

    const QString kGroup = QStringLiteral("group:g1");

private slots:
    void init() { QVERIFY(store().open(kOwnerA, freshPath(QStringLiteral("images")))); }
    void cleanup() { store().close(); }

    // Images among texts, voice and other conversations; one stored late
    // with an early time sits by its time.
    void idsOfEveryImageInOrder()
    {
        MessageRecord voice = message(QStringLiteral("v"), kPeer, QStringLiteral("[语音]"), 150);
        voice.attachment = payload::voicePayload(QStringLiteral("AAAA"), 1000, {});
        QVERIFY(store().upsertMessages({picture(QStringLiteral("p1"), kPeer, 100),
                                        message(QStringLiteral("t1"), kPeer, QStringLiteral("hello"), 110), voice,
                                        // A peer's text that reads like an image's.
                                        message(QStringLiteral("t2"), kPeer, kImageText, 111),
                                        picture(QStringLiteral("p3"), kPeer, 300),
                                        picture(QStringLiteral("g1"), kGroup, 120)}));
        QVERIFY(store().upsertMessage(picture(QStringLiteral("p2"), kPeer, 200)));
        QVERIFY(store().upsertMessage(picture(QStringLiteral("p0"), kPeer, 50)));
        bool ok = false;
        QCOMPARE(store().imageMessageIds(kPeer, &ok), (QStringList{"p0", "p1", "p2", "p3"}));
        QVERIFY(ok);
        QCOMPARE(store().imageMessageIds(kGroup), QStringList{"g1"});
        // Another identity's store sees none of them.
        store().close();
        QVERIFY(store().open(kOwnerB, m_path));
        QCOMPARE(store().imageMessageIds(kPeer), QStringList());
    }

    // "<peer>/<id>", the one-to-one peer's when a row names none: the same
    // id in another conversation is another picture.
    void pictureLoadedById_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("size");
        QTest::newRow("stored picture") << "p1" << QSize() << QSize(64, 48);
        QTest::newRow("asked smaller") << "p1" << QSize(32, 32) << QSize(32, 24);
        QTest::newRow("id with escapes") << "a%2Fb" << QSize() << QSize(20, 10);
        QTest::newRow("a text message") << "t1" << QSize() << QSize();
        QTest::newRow("same id in a group") << "group%3Ag1/p1" << QSize() << QSize(16, 16);
        QTest::newRow("same id, another peer") << "ZPeer/p1" << QSize() << QSize();
    }
    void pictureLoadedById()
    {
        QFETCH(QString, id);
        QFETCH(QSize, requested);
        QFETCH(QSize, size);
        const QString direct = store().conversationIdFor(kPeer);
        QVERIFY(store().upsertMessages({picture(QStringLiteral("p1"), direct, 100, {64, 48}),
                                        picture(QStringLiteral("a/b"), direct, 110, {20, 10}),
                                        message(QStringLiteral("t1"), direct, kImageText, 120),
                                        picture(QStringLiteral("p1"), kGroup, 130, {16, 16})}));
        velmor::app::ConversationImageProvider provider;
        QSize reported(-5, -5);
        const QImage image =
            provider.requestImage(id.contains(QLatin1Char('/')) ? id : kPeer + QLatin1Char('/') + id, &reported, requested);
        QCOMPARE(image.size(), size.isValid() ? size : QSize(0, 0));
        QCOMPARE(reported, image.size());
    }
};

QTEST_GUILESS_MAIN(ConversationImagesTest)
#include "tst_conversation_images.moc"
