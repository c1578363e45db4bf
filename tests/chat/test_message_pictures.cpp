// Pictures of image messages reach the views by address, not inside the rows.
#include "chat_fixture.h"

#include "chat/message_list.h"
#include "chat/message_pictures.h"
#include "chat/payloads.h"
#include "identity/crypto.h"

#include <QImage>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

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
        m.attachment = payload::imagePayload(velmor::crypto::base64UrlEncode(pngBytes(width, height, colour)),
                                             QStringLiteral("image/png"), width, height);
        return m;
    }

    QString sourceOf(const QString &id) const
    {
        for (const QVariant &row : m_chat->messages())
            if (row.toMap().value("id").toString() == id)
                return row.toMap().value("imageSrc").toString();
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
        QTest::newRow("smaller than asked is not blown up") << 20 << 10 << QSize(400, 400) << QSize(20, 10);
    }
    void rowsCarryAnAddressNotThePicture()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QSize, requested);
        QFETCH(QSize, drawn);
        QVERIFY(ChatStore::instance().upsertMessage(imageMessage("pic", 10, Qt::red, width, height)));
        openAndShow(m_peer);
        const QVariantMap row = m_chat->messages().value(0).toMap();
        QCOMPARE(row.value("kind").toString(), QStringLiteral("image"));
        QCOMPARE(row.value("imageW").toInt(), width);
        QCOMPARE(row.value("imageH").toInt(), height);
        const QString source = row.value("imageSrc").toString();
        QVERIFY2(source.size() < 300, qPrintable(source.left(300)));
        const QImage image = served(source, requested);
        QCOMPARE(image.size(), drawn);
        QCOMPARE(image.pixelColor(drawn.width() / 2, drawn.height() / 2), QColor(Qt::red));
    }

    // A picture stored again keeps its address (the view keeps what it drew);
    // a changed one gets a new address, so no view draws the old one.
    void changedPictureGetsANewAddress_data()
    {
        QTest::addColumn<bool>("received"); // with the content digest of a received message
        QTest::newRow("this device's") << false;
        QTest::newRow("received") << true;
    }
    void changedPictureGetsANewAddress()
    {
        QFETCH(bool, received);
        const auto stored = [&](QColor colour, const QString &digest) {
            MessageRecord m = imageMessage("pic", 10, colour);
            m.content_digest = received ? digest : QString();
            return ChatStore::instance().upsertMessage(m) ? m : MessageRecord();
        };
        QVERIFY(!stored(Qt::red, "digest-1").id.isEmpty());
        openAndShow(m_peer);
        const QString before = sourceOf("pic");
        QVERIFY(!served(before).isNull());
        for (const bool changed : {false, true}) {
            const MessageRecord m = stored(changed ? Qt::blue : Qt::red, changed ? "digest-2" : "digest-1");
            m_chat->host().messageStored(m);
            m_chat->reloadMessages();
            waitIdle();
            const QString after = sourceOf("pic");
            QCOMPARE(after == before, !changed);
            QCOMPARE(served(after).pixelColor(5, 5), changed ? QColor(Qt::blue) : QColor(Qt::red));
        }
        QVERIFY(served(before).isNull());
    }

    // A row that goes lets go of its picture.
    void rowsThatGoLetGoOfTheirPictures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("message deleted") << QStringLiteral("deleted");
        QTest::newRow("conversation closed") << QStringLiteral("closed");
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
        openAndShow(m_peer);
        while (m_chat->loadOlderMessages())
            waitIdle();
        const QString source = sourceOf("old-pic");
        QVERIFY(!served(source).isNull());

        if (how == QLatin1String("deleted")) {
            QVERIFY(store.deleteMessage(m_conversation, QStringLiteral("old-pic")));
            m_chat->host().messageRemoved(QStringLiteral("old-pic"));
        } else if (how == QLatin1String("closed")) {
            m_chat->openConversation(QString());
        } else if (how == QLatin1String("trimmed")) {
            m_chat->trimOlderMessages();
            QVERIFY(sourceOf("old-pic").isEmpty());
        } else {
            m_chat->stop();
        }
        QVERIFY(served(source).isNull());
        QVERIFY(!MessagePictures::instance().holds(m_conversation, QStringLiteral("old-pic")));
    }

    // Ids are per conversation: one id in two conversations is two pictures,
    // and holding or letting go of one leaves the other's address drawing.
    void sameIdInTwoConversations()
    {
        MessagePictures &pictures = MessagePictures::instance();
        const QString id = QStringLiteral("same/id");
        const QString red = pictures.hold(QStringLiteral("c-1"), id, pngBytes(4, 4, Qt::red));
        const QString blue = pictures.hold(QStringLiteral("c/2"), id, pngBytes(4, 4, Qt::blue));
        QVERIFY(red != blue);
        QCOMPARE(served(red).pixelColor(1, 1), QColor(Qt::red));
        QCOMPARE(served(blue).pixelColor(1, 1), QColor(Qt::blue));
        pictures.release(QStringLiteral("c/2"), id);
        QVERIFY(served(blue).isNull());
        QCOMPARE(served(red).pixelColor(1, 1), QColor(Qt::red));
        pictures.release(QStringLiteral("c-1"), id);
        QVERIFY(!pictures.holds(QStringLiteral("c-1"), id));
    }
};

QTEST_GUILESS_MAIN(MessagePicturesTest)
#include "test_message_pictures.moc"
