// Pictures of image messages reach the views by address, decoded apart from
// the rows: what each row shows, that a changed picture is never shown from
// an old address, and that a row that goes lets go of its picture.
#include "chat_fixture.h"

#include "chat/message_list.h"
#include "chat/message_pictures.h"
#include "chat/payloads.h"
#include "identity/crypto.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

// A PNG of one colour.
QByteArray png(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString imageAttachment(const QByteArray &bytes, int width, int height)
{
    return payload::imagePayload(velmor::crypto::base64UrlEncode(bytes), QStringLiteral("image/png"), width, height);
}

// What the provider serves at a row's address ("image://messages/...").
QImage served(const QString &source, const QSize &requested = QSize())
{
    const QString prefix = QStringLiteral("image://messages/");
    if (!source.startsWith(prefix))
        return {};
    QSize size;
    return MessagePictures::instance().picture(source.mid(prefix.size()), &size, requested);
}

} // namespace

class MessagePicturesTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QString m_peer;
    QString m_conversation;

    MessageRecord imageMessage(const QString &id, qint64 ts, QColor colour, int width = 40, int height = 30)
    {
        MessageRecord m = message(id, m_conversation, QStringLiteral("[图片]"), ts);
        m.content_type = QStringLiteral("image");
        m.attachment = imageAttachment(png(width, height, colour), width, height);
        return m;
    }

    QString sourceOf(const QString &id) const
    {
        for (const QVariant &row : m_chat->messages()) {
            if (row.toMap().value("id").toString() == id)
                return row.toMap().value("imageSrc").toString();
        }
        return {};
    }

private slots:
    void init()
    {
        beginSession(QStringLiteral("me"), 0x51);
        m_peer = peerKey(0x52);
        ChatStore::instance().ensureDirectConversation(m_peer, m_peer, QStringLiteral("p"));
        m_conversation = ChatStore::instance().conversationIdFor(m_peer);
    }
    void cleanup() { endSession(); }

    void rowsCarryAnAddressNotThePicture_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("drawn");
        QTest::newRow("at its own size") << 40 << 30 << QSize() << QSize(40, 30);
        QTest::newRow("thumbnail of a large one") << 800 << 600 << QSize(200, 200) << QSize(200, 150);
        QTest::newRow("only the width asked") << 800 << 400 << QSize(100, 0) << QSize(100, 50);
        QTest::newRow("smaller than asked is not blown up") << 20 << 10 << QSize(400, 400) << QSize(20, 10);
    }
    void rowsCarryAnAddressNotThePicture()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QSize, requested);
        QFETCH(QSize, drawn);
        QVERIFY(ChatStore::instance().upsertMessage(imageMessage("pic", 10, Qt::red, width, height)));
        m_chat->openConversation(m_peer);
        const QVariantMap row = m_chat->messages().value(0).toMap();
        QCOMPARE(row.value("kind").toString(), QStringLiteral("image"));
        QCOMPARE(row.value("imageW").toInt(), width);
        QCOMPARE(row.value("imageH").toInt(), height);
        const QString source = row.value("imageSrc").toString();
        QVERIFY2(source.size() < 100, qPrintable(source.left(100)));
        const QImage image = served(source, requested);
        QCOMPARE(image.size(), drawn);
        QCOMPARE(image.pixelColor(drawn.width() / 2, drawn.height() / 2), QColor(Qt::red));
    }

    // The picture of a message shown again: the same address while it is
    // the same picture (the view keeps what it drew), a new one when it
    // changed (the view never draws the old one from its cache).
    void changedPictureGetsANewAddress_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("received"); // with the content digest of a received message
        QTest::newRow("same picture, this device's") << false << false;
        QTest::newRow("same picture, received") << false << true;
        QTest::newRow("new picture, this device's") << true << false;
        QTest::newRow("new picture, received") << true << true;
    }
    void changedPictureGetsANewAddress()
    {
        QFETCH(bool, changed);
        QFETCH(bool, received);
        MessageRecord m = imageMessage("pic", 10, Qt::red);
        if (received)
            m.content_digest = QStringLiteral("digest-1");
        QVERIFY(ChatStore::instance().upsertMessage(m));
        m_chat->openConversation(m_peer);
        const QString before = sourceOf("pic");
        QVERIFY(!served(before).isNull());

        if (changed) {
            m = imageMessage("pic", 10, Qt::blue);
            if (received)
                m.content_digest = QStringLiteral("digest-2");
        }
        QVERIFY(ChatStore::instance().upsertMessage(m));
        m_chat->host().messageStored(m);
        m_chat->reloadMessages();
        const QString after = sourceOf("pic");
        QCOMPARE(after == before, !changed);
        const QImage image = served(after);
        QCOMPARE(image.pixelColor(5, 5), changed ? QColor(Qt::blue) : QColor(Qt::red));
        if (changed)
            QVERIFY(served(before).isNull());
    }

    // A row that goes lets go of its picture: the pictures of a long
    // conversation read far up do not stay in memory.
    void rowsThatGoLetGoOfTheirPictures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("message deleted") << QStringLiteral("deleted");
        QTest::newRow("conversation closed") << QStringLiteral("closed");
        QTest::newRow("other conversation opened") << QStringLiteral("other");
        QTest::newRow("older rows trimmed") << QStringLiteral("trimmed");
        QTest::newRow("session ended") << QStringLiteral("ended");
    }
    void rowsThatGoLetGoOfTheirPictures()
    {
        QFETCH(QString, how);
        ChatStore &store = ChatStore::instance();
        QVERIFY(store.upsertMessage(imageMessage("old-pic", 1, Qt::green)));
        // Enough newer rows that trimming drops the first one.
        QList<MessageRecord> texts;
        for (int i = 0; i < 3 * MessageList::kPageSize; ++i)
            texts.append(message(QStringLiteral("t%1").arg(i), m_conversation, QStringLiteral("text %1").arg(i), 100 + i));
        QVERIFY(store.upsertMessages(texts));
        m_chat->openConversation(m_peer);
        while (m_chat->loadOlderMessages()) {
        }
        const QString source = sourceOf("old-pic");
        QVERIFY(!served(source).isNull());

        if (how == QLatin1String("deleted")) {
            QVERIFY(store.deleteMessage(QStringLiteral("old-pic")));
            m_chat->host().messageRemoved(QStringLiteral("old-pic"));
        } else if (how == QLatin1String("closed")) {
            m_chat->openConversation(QString());
        } else if (how == QLatin1String("other")) {
            const QString other = peerKey(0x53);
            store.ensureDirectConversation(other, other, QStringLiteral("o"));
            m_chat->openConversation(other);
        } else if (how == QLatin1String("trimmed")) {
            m_chat->trimOlderMessages();
            QVERIFY(sourceOf("old-pic").isEmpty());
        } else {
            m_chat->stop();
        }
        QVERIFY(served(source).isNull());
        QVERIFY(!MessagePictures::instance().holds(QStringLiteral("old-pic")));
    }
};

QTEST_GUILESS_MAIN(MessagePicturesTest)
#include "test_message_pictures.moc"
