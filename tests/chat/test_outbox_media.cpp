// Pictures pasted, recordings and retry copies are decrypted media in the
// profile's private folder: each is deleted once its message is stored (or
// the send refused), while a file the user chose elsewhere is never touched.
#include "chat_fixture.h"

#include "chat/outbox.h"
#include "store/private_media.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

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
        // A temporary folder of its own, where no other program leaves files.
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
        QTest::addColumn<QString>("kind"); // "image" or "voice"
        QTest::addColumn<bool>("ours");    // written among the private media, else chosen by the user
        QTest::addColumn<bool>("valid");   // a picture that decodes, a clip with bytes: its row is stored
        QTest::newRow("pasted picture") << "image" << true << true;
        QTest::newRow("recording") << "voice" << true << true;
        QTest::newRow("pasted picture that does not decode") << "image" << true << false;
        QTest::newRow("empty recording") << "voice" << true << false;
        QTest::newRow("picture the user chose") << "image" << false << true;
    }
    void fileGoesOnceItsMessageIsStored()
    {
        QFETCH(QString, kind);
        QFETCH(bool, ours);
        QFETCH(bool, valid);
        const bool image = kind == QLatin1String("image");
        const QByteArray bytes = !valid ? QByteArray(image ? "not a picture" : "") : image ? pngBytes(40, 30) : QByteArray(3000, 'v');
        const QString name = QStringLiteral("%1-%2.%3").arg(image ? "velmor-draft" : "velmor_rec_").arg(m_sessions).arg(image ? "png" : "m4a");
        QFile file(m_dir.filePath(name));
        const QString path = ours ? velmor::store::openPrivateMedia(file, name) : file.fileName();
        QVERIFY(!path.isEmpty() && (ours || file.open(QIODevice::WriteOnly)));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();

        ChatStore &store = ChatStore::instance();
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QSignalSpy failed(m_chat.get(), &ChatController::errorOccurred);
        if (image)
            m_chat->sendImageFromFile(QUrl::fromLocalFile(path).toString());
        else
            m_chat->sendVoiceFromFile(path, 1200);
        QVERIFY(valid ? done.wait(10000) : QTest::qWaitFor([&] { return !failed.isEmpty(); }));
        QTRY_COMPARE(outbox().inFlight(), 0);
        QCOMPARE(store.messages(store.conversationIdFor(m_carol.key())).size(), valid ? 1 : 0);
        QTRY_COMPARE(QFileInfo::exists(path), !ours);
        QCOMPARE(mediaFiles(), QStringList());
    }

    // A retry's copy is private media too, deleted with the send.
    void retryCopyIsPrivateAndGoes()
    {
        QFile chosen(m_dir.filePath(QStringLiteral("chosen-%1.png").arg(m_sessions)));
        QVERIFY(chosen.open(QIODevice::WriteOnly) && chosen.write(pngBytes(40, 30)) > 0);
        chosen.close();
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->sendImageFromFile(QUrl::fromLocalFile(chosen.fileName()).toString());
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
};

QTEST_MAIN(OutboxMediaTest)
#include "test_outbox_media.moc"
