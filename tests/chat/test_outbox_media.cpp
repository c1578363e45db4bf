// Pictures pasted, recordings and retry copies are decrypted media in the
// profile's private folder: each is deleted once its message is stored (or
// the send refused), while a file the user chose elsewhere is never touched.
#include "chat_fixture.h"

#include "chat/outbox.h"
#include "store/private_media.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QImage>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

QByteArray pngBytes()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class OutboxMediaTest : public QObject, private ChatFixture
{
    Q_OBJECT

    Outbox &outbox() { return m_chat->messaging().outbox; }

    QStringList mediaFiles() const
    {
        const QString folder = velmor::store::privateMediaFolder();
        return folder.isEmpty() ? QStringList() : QDir(folder).entryList(QDir::Files);
    }

private slots:
    void initTestCase()
    {
        // A temporary folder of its own: what other programs leave in the
        // shared one is not counted.
        QVERIFY(m_temp.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY(startRelay());
    }
    void init()
    {
        newUsers(0x61);
        m_carol = makeUser(m_carol.name, char(0x62 + m_sessions));
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QVERIFY(m_chat->newChat(m_carol.key()));
    }
    void cleanup() { endClient(); }

    void fileGoesOnceItsMessageIsStored_data()
    {
        QTest::addColumn<QString>("kind");     // "image" or "voice"
        QTest::addColumn<bool>("ours");        // written among the private media, else chosen by the user
        QTest::addColumn<bool>("valid");       // a picture that decodes, a clip with bytes
        QTest::addColumn<bool>("rowStored");
        QTest::newRow("pasted picture") << "image" << true << true << true;
        QTest::newRow("recording") << "voice" << true << true << true;
        QTest::newRow("pasted picture that does not decode") << "image" << true << false << false;
        QTest::newRow("empty recording") << "voice" << true << false << false;
        QTest::newRow("picture the user chose") << "image" << false << true << true;
        QTest::newRow("clip the user chose") << "voice" << false << true << true;
    }
    void fileGoesOnceItsMessageIsStored()
    {
        QFETCH(QString, kind);
        QFETCH(bool, ours);
        QFETCH(bool, valid);
        QFETCH(bool, rowStored);
        const bool image = kind == QLatin1String("image");
        const QByteArray bytes = !valid ? QByteArray(image ? "not a picture" : "") : image ? pngBytes() : QByteArray(3000, 'v');
        const QString name = QStringLiteral("%1-%2.%3").arg(image ? "velmor-draft" : "velmor_rec_").arg(m_sessions).arg(image ? "png" : "m4a");
        QString path;
        if (ours) {
            QFile file;
            path = velmor::store::openPrivateMedia(file, name);
            QVERIFY(!path.isEmpty());
            QCOMPARE(file.write(bytes), bytes.size());
            file.close();
        } else {
            path = m_dir.filePath(name);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(bytes), bytes.size());
        }

        ChatStore &store = ChatStore::instance();
        const QString conversation = store.conversationIdFor(m_carol.key());
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QSignalSpy failed(m_chat.get(), &ChatController::errorOccurred);
        if (image)
            m_chat->sendImageFromFile(QUrl::fromLocalFile(path).toString());
        else
            m_chat->sendVoiceFromFile(path, 1200);
        if (rowStored)
            QVERIFY(done.wait(10000));
        else
            QTRY_VERIFY(!failed.isEmpty());
        QTRY_COMPARE(outbox().inFlight(), 0);
        QCOMPARE(store.messages(conversation).size(), rowStored ? 1 : 0);
        QTRY_COMPARE(QFileInfo::exists(path), !ours);
        QCOMPARE(mediaFiles(), QStringList());
    }

    // A retry writes its copy among the private media and deletes it with
    // the send; when no copy can be made there, nothing is sent.
    void retryCopyIsPrivateAndGoes()
    {
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->sendImageFromFile(QUrl::fromLocalFile(writeChosen(pngBytes())).toString());
        QVERIFY(done.wait(10000));
        const QString failedId = done.takeFirst().at(0).toString();
        {
            storetest::SideConnection side(m_alice.dbPath);
            QVERIFY(side.exec(QStringLiteral("DELETE FROM outgoing_envelopes")));
        }
        m_chat->retryMessage(failedId);
        QVERIFY(done.wait(10000));
        QTRY_COMPARE(outbox().inFlight(), 0);
        QCOMPARE(mediaFiles(), QStringList());
        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        QCOMPARE(QDir(temp).entryList({QStringLiteral("velmor-retry-*")}), QStringList());
    }

private:
    QTemporaryDir m_temp;

    QString writeChosen(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("chosen-%1.png").arg(m_sessions));
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
    }
};

QTEST_MAIN(OutboxMediaTest)
#include "test_outbox_media.moc"
