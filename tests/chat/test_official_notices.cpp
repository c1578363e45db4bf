// Official notices are told apart by the signed notice itself, not by their
// words: the same notice wrapped again (a replay, also after a restart) shows
// once, while a new notice that repeats an earlier one's words shows again.
#include "chat_fixture.h"

#include "chat/inbound_processor.h"
#include "groups/group_card.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class OfficialNoticesTest : public QObject, private ChatFixture
{
    Q_OBJECT

    const velmor::identity::Identity m_signer{QByteArray(32, 0x0e)};
    const QString m_official = velmor::crypto::base64UrlEncode(officialAccountPublicKey());

    QString notice(const QString &body, qint64 issuedAt) const
    {
        return makeOfficialNotice(m_signer.privateKey, {{"zh-Hans", "公告", body}}, issuedAt);
    }

    // One envelope through a fresh processor, as a pull after a restart
    // would meet it, with the pull's verdict on the envelope (empty: valid);
    // true when it was shown (stored as a new message).
    bool deliver(const QString &noticeText, const QString &rejectReason = QString())
    {
        InboundProcessor processor(ChatStore::instance(), GroupRegistry::instance(), m_me.identity);
        const velmor::identity::Identity signer = m_signer;
        processor.setNoticeReader([signer](const QString &text) {
            return parseOfficialNoticeWithKey(text, QStringLiteral("zh-Hans"), signer.publicKey);
        });
        RawEnvelope envelope;
        envelope.messageId = newId();
        envelope.senderPubkey = m_official;
        envelope.ciphertext = noticeText;
        envelope.ciphertextHash = velmor::crypto::sha256Hex(noticeText.toUtf8());
        envelope.createdAt = 1700000000;
        envelope.valid = rejectReason.isEmpty();
        envelope.rejectReason = rejectReason;
        const InboundVerdict verdict = processor.handle(envelope);
        // Every readable notice is acknowledged, shown or not; one whose
        // signature fails is left with the relay.
        return verdict.acknowledge && verdict.changed;
    }

    int shown()
    {
        ChatStore &store = ChatStore::instance();
        return int(store.messages(store.conversationIdFor(m_official)).size());
    }

private slots:
    void init() { beginSession(QStringLiteral("notices"), 0x61); }
    void cleanup() { endSession(); }

    // Each row: the notices delivered in order (body and issue time), and
    // how many of them show.
    void shownOncePerNotice_data()
    {
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<QList<qint64>>("issued");
        QTest::addColumn<QList<bool>>("expected");
        QTest::newRow("same words, issued again")
            << QStringList{"今晚维护", "今晚维护"} << QList<qint64>{1700000000, 1700086400} << QList<bool>{true, true};
        QTest::newRow("same notice twice")
            << QStringList{"今晚维护", "今晚维护"} << QList<qint64>{1700000000, 1700000000} << QList<bool>{true, false};
        QTest::newRow("other words") << QStringList{"今晚维护", "维护结束"} << QList<qint64>{1700000000, 1700000000}
                                     << QList<bool>{true, true};
        QTest::newRow("repeat among others")
            << QStringList{"一", "二", "一", "一"} << QList<qint64>{1, 2, 1, 3} << QList<bool>{true, true, false, true};
    }

    void shownOncePerNotice()
    {
        QFETCH(QStringList, bodies);
        QFETCH(QList<qint64>, issued);
        QFETCH(QList<bool>, expected);
        QList<bool> shownNow;
        for (int i = 0; i < bodies.size(); ++i)
            shownNow.append(deliver(notice(bodies.at(i), issued.at(i))));
        QCOMPARE(shownNow, expected);
        QCOMPARE(shown(), int(expected.count(true)));
    }

    // The notice service may wrap a notice in an envelope that fails its
    // check: the notice's own signature decides, and the once-per-notice
    // memory keeps a copy offered again under a new id from showing twice.
    void noticesReadWhateverTheEnvelope_data()
    {
        QTest::addColumn<QString>("rejectReason");
        QTest::newRow("sent to another user") << "wrong_recipient";
        QTest::newRow("envelope expired") << "expired";
        QTest::newRow("envelope not signed by the official key") << "bad_signature";
    }
    void noticesReadWhateverTheEnvelope()
    {
        QFETCH(QString, rejectReason);
        const QString notice1 = notice(QStringLiteral("账户异常，请联系客服"), 1700000000);
        QVERIFY(deliver(notice1, rejectReason));
        QCOMPARE(shown(), 1);
        // The same notice again, in a valid envelope or not, stays hidden.
        QVERIFY(!deliver(notice1));
        QVERIFY(!deliver(notice1, rejectReason));
        QCOMPARE(shown(), 1);
    }

    // A notice whose own signature fails is never shown nor acknowledged,
    // valid envelope or not.
    void forgedNoticeNeverShown_data()
    {
        QTest::addColumn<QString>("rejectReason");
        QTest::newRow("valid envelope") << QString();
        QTest::newRow("expired envelope") << "expired";
    }
    void forgedNoticeNeverShown()
    {
        QFETCH(QString, rejectReason);
        const velmor::identity::Identity forger{QByteArray(32, 0x3c)};
        const QString forged =
            makeOfficialNotice(forger.privateKey, {{"zh-Hans", "公告", QStringLiteral("请转账")}}, 1700000000);
        QVERIFY(!deliver(forged, rejectReason));
        QCOMPARE(shown(), 0);
    }

    // The store remembers what was shown: a replay after a restart, even
    // with its outer JSON laid out anew, stays hidden.
    void replayAfterRestartStaysHidden()
    {
        const QString first = notice(QStringLiteral("版本更新"), 1700000000);
        QVERIFY(deliver(first));
        ChatStore::instance().close();
        QVERIFY(ChatStore::instance().open(m_me.key(), m_me.dbPath));
        const QString reformatted = QString::fromUtf8(
            QJsonDocument(QJsonDocument::fromJson(first.toUtf8()).object()).toJson(QJsonDocument::Indented));
        QVERIFY(reformatted != first);
        QVERIFY(!deliver(reformatted));
        QCOMPARE(shown(), 1);
    }
};

QTEST_GUILESS_MAIN(OfficialNoticesTest)
#include "test_official_notices.moc"
