// The error model as the views see it: every failure arrives once, as the
// six-key map, with lastErrorChanged, operationFailed and errorOccurred in
// that order.
#include "chat_fixture.h"

#include <QtTest>

using namespace chattest;

class ErrorModelTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init() { beginSession(QStringLiteral("ann"), 0x21); }
    void cleanup() { endSession(); }

    void wordsBecomeTheSixKeyMap_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("codeValue");
        QTest::addColumn<QString>("messageKey");
        QTest::addColumn<bool>("retryable");
        QTest::newRow("all_muted") << "all_muted" << "muted" << 7 << "error.group.muted" << false;
        QTest::newRow("invalid_image") << "invalid_image" << "invalid_payload" << 13 << "error.payload.invalid" << false;
        QTest::newRow("image_too_large") << "image_too_large" << "file_too_large" << 10 << "error.file.tooLarge" << false;
        QTest::newRow("empty_voice") << "empty_voice" << "invalid_payload" << 13 << "error.payload.invalid" << false;
        QTest::newRow("voice_read_failed") << "voice_read_failed" << "unknown" << 16 << "error.unknown" << false;
        QTest::newRow("recipientNeverOnline") << "recipientNeverOnline" << "address_not_found" << 5
                                              << "error.address.notFound" << false;
        QTest::newRow("network is retryable") << "my_groups_net:Connection refused, network down" << "network" << 12
                                              << "error.network" << true;
    }
    void wordsBecomeTheSixKeyMap()
    {
        QFETCH(QString, word);
        QFETCH(QString, code);
        QFETCH(int, codeValue);
        QFETCH(QString, messageKey);
        QFETCH(bool, retryable);

        QStringList log;
        recordSignals(*m_chat, log);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QSignalSpy occurred(m_chat.get(), &ChatController::errorOccurred);
        m_chat->host().errors().publishWord(word);

        QCOMPARE(log, (QStringList{"lastErrorChanged", "operationFailed", "errorOccurred"}));
        const QVariantMap map = m_chat->lastError();
        QCOMPARE(map.size(), 6);
        QCOMPARE(map.value("code").toString(), code);
        QCOMPARE(map.value("codeValue").toInt(), codeValue);
        QCOMPARE(map.value("httpStatus").toInt(), 0);
        QCOMPARE(map.value("messageKey").toString(), messageKey);
        QCOMPARE(map.value("retryable").toBool(), retryable);
        QCOMPARE(map.value("detail").toString(), word);
        QCOMPARE(failed.at(0).at(0).toMap(), map);
        QCOMPARE(occurred.at(0).at(0).toString(), messageKey);
    }

    void emptyMessageKeyReportsTheDetail()
    {
        QSignalSpy occurred(m_chat.get(), &ChatController::errorOccurred);
        velmor::net::ServiceError error;
        error.code = 99; // outside the table: named "unknown", number kept
        error.detail = QStringLiteral("odd_failure");
        m_chat->host().errors().publish(error);
        QCOMPARE(occurred.count(), 1);
        QCOMPARE(occurred.at(0).at(0).toString(), QStringLiteral("odd_failure"));
        QCOMPARE(m_chat->lastError().value("code").toString(), QStringLiteral("unknown"));
        QCOMPARE(m_chat->lastError().value("codeValue").toInt(), 99);
    }

    void sameErrorTwiceIsReportedTwiceAndSurvivesStop()
    {
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QSignalSpy changed(m_chat.get(), &ChatController::lastErrorChanged);
        m_chat->host().errors().publishWord(QStringLiteral("all_muted"));
        m_chat->host().errors().publishWord(QStringLiteral("all_muted"));
        QCOMPARE(failed.count(), 2);
        QCOMPARE(changed.count(), 2);
        m_chat->start();
        m_chat->stop();
        QCOMPARE(m_chat->lastError().value("detail").toString(), QStringLiteral("all_muted"));
    }

    void invalidNewChatKeysAreRefusedOnce_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("word");
        QTest::newRow("32 bytes") << velmor::crypto::base64UrlEncode(QByteArray(32, 7)) << "invalid_public_key";
        QTest::newRow("not base64url") << "not a key!" << "invalid_public_key";
        QTest::newRow("empty") << "" << "invalid_public_key";
        // 65 bytes of the right shape that are no curve point.
        QTest::newRow("no curve point") << velmor::crypto::base64UrlEncode(QByteArray(1, 4) + QByteArray(64, 1))
                                        << "invalid_public_key";
        QTest::newRow("own key") << peerKey(0x21) << "self_add";
        QTest::newRow("own key, 33 bytes") << compressedKey(peerKey(0x21)) << "self_add";
    }
    void invalidNewChatKeysAreRefusedOnce()
    {
        QFETCH(QString, input);
        QFETCH(QString, word);
        m_chat->start();
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QVERIFY(!m_chat->newChat(input));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toMap().value("detail").toString(), word);
        QCOMPARE(current.count(), 0);
        QVERIFY(m_chat->currentPeer().isEmpty());
        QVERIFY(ChatStore::instance().visibleConversations().isEmpty());
    }

    void answersThatAlwaysComeStillCome()
    {
        QSignalSpy capacity(m_chat.get(), &ChatController::sgCapacityLoaded);
        QSignalSpy created(m_chat.get(), &ChatController::sgCreateCompleted);
        m_chat->fetchSgCapacity();
        m_chat->createSuperGroup("key", "name", "standard");
        // The group centre of these tests is a closed port.
        QTRY_COMPARE(capacity.count(), 1);
        QCOMPARE(capacity.at(0).at(0).toBool(), false);
        QTRY_COMPARE(created.count(), 1);
        QCOMPARE(created.at(0).at(0).toBool(), false);
        QCOMPARE(m_chat->currentGroupInfo(), (QVariantMap{{"isGroup", false}}));
    }
};

QTEST_GUILESS_MAIN(ErrorModelTest)
#include "test_errors.moc"
