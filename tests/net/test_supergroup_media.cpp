// Media fetched for a super-group pull: one file and one pull have a memory
// budget, so a server handing out large files cannot drive a pull to
// gigabytes.
#include "net/supergroup_api.h"
#include "support/fake_group_server.h"
#include "supergroup_test_support.h"

#include "identity/crypto.h"
#include "identity/identity.h"

#include <QtTest>

using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;
using velmor::identity::Identity;
using velmor::sg::SuperGroupApi;

class SuperGroupMediaTest : public QObject
{
    Q_OBJECT

private:
    Identity m_owner = Identity::generate();

private slots:
    void init() { sgtest::signInAfresh(m_owner); }

    void pullMediaStaysWithinBudget_data()
    {
        QTest::addColumn<qint64>("fileBytes");
        QTest::addColumn<int>("messages");
        QTest::addColumn<int>("withMedia");
        QTest::addColumn<int>("requests");
        constexpr qint64 MiB = 1024 * 1024;
        QTest::newRow("small files, all fetched") << qint64(1024) << 6 << 6 << 6;
        // 5 x 6 MiB fit in 32 MiB; the sixth is asked for with what is left
        // (2 MiB), is too large, and ends the fetching for this pull.
        QTest::newRow("budget spent") << 6 * MiB << 8 << 5 << 6;
        QTest::newRow("a file over the file limit") << velmor::sg::kMaxMediaBytes + 1 << 3 << 0 << 1;
    }

    void pullMediaStaysWithinBudget()
    {
        QFETCH(qint64, fileBytes);
        QFETCH(int, messages);
        QFETCH(int, withMedia);
        QFETCH(int, requests);
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        const QString url = server.baseUrl();
        auto &api = SuperGroupApi::instance();
        const QByteArray jpeg("\xff\xd8\xff\xe0 small \xff\xd9", 12);
        for (int i = 0; i < messages; ++i)
            QVERIFY(api.sendImage(url, server.serverPublicKey(), jpeg, 4, 3, QStringLiteral("O"),
                                  QStringLiteral("img-%1").arg(i))
                        .ok);
        server.setMediaByReference(true);
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::custom(200, QByteArray(fileBytes, 'j')));
        server.http().resetCounts();

        const auto pulled = api.pullMessages(url, 0, 200);
        QCOMPARE(pulled.size(), messages);
        int fetched = 0;
        qint64 held = 0;
        for (const auto &m : pulled) {
            QVERIFY(m.hasContent);
            if (!m.imageData.isEmpty()) {
                ++fetched;
                held += velmor::crypto::base64UrlDecode(m.imageData).size();
            }
        }
        QCOMPARE(fetched, withMedia);
        QVERIFY(held <= velmor::sg::kPullMediaBudgetBytes);
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/image/get")), requests);

        // Fetched one by one, each file is still bounded by the file limit.
        const QByteArray single = api.fetchImage(url, pulled.first().messageId);
        QCOMPARE(single.size(), fileBytes > velmor::sg::kMaxMediaBytes ? 0 : fileBytes);
        server.http().clearFaults();
    }
};

QTEST_GUILESS_MAIN(SuperGroupMediaTest)
#include "test_supergroup_media.moc"
