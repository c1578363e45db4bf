// Two clients in two processes with two profiles sign in through the real
// session object and exchange messages with the real chat controller
// through the local relay, as two people on one machine would with
// `scripts/run.sh --profile`.
#include "support/fake_group_center.h"
#include "support/fake_relay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// One peer process and the lines it has printed.
class PeerProcess
{
public:
    PeerProcess(const QString &profileFolder, const QString &nodeDirectoryUrl, const QString &groupCenterUrl)
        : m_profile(profileFolder)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), profileFolder + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), profileFolder + QStringLiteral("/config"));
        env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), nodeDirectoryUrl);
        env.insert(QStringLiteral("PELORIN_GROUP_CENTER_URL"), groupCenterUrl);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            while (m_process.canReadLine())
                m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
        });
        m_process.start(QStringLiteral(PELORIN_SESSION_PEER), QStringList());
    }
    ~PeerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(1000);
            }
        }
    }

    // Waits for a printed line starting with `prefix` and returns it.
    QString waitFor(const QString &prefix)
    {
        for (int round = 0; round < 300; ++round) {
            for (const QString &line : std::as_const(m_lines))
                if (line.startsWith(prefix))
                    return line;
            if (m_process.state() == QProcess::NotRunning)
                return {};
            QSignalSpy spy(&m_process, &QProcess::readyReadStandardOutput);
            spy.wait(100);
        }
        return {};
    }
    void command(const QString &line) { m_process.write((line + QLatin1Char('\n')).toUtf8()); }
    QByteArray vaultKey() const
    {
        QFile file(m_profile + QStringLiteral("/data/Quillet/Pelorin/vault/com.quillet.pelorin.private_key"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool hasStore() const { return QFile::exists(m_profile + QStringLiteral("/data/Quillet/Pelorin/chat.db")); }
    QStringList lines() const { return m_lines; }

private:
    QString m_profile;
    QProcess m_process;
    QStringList m_lines;
};

} // namespace

class TwoProfilesTest : public QObject
{
    Q_OBJECT
private slots:
    void twoProfilesExchangeMessages();
};

void TwoProfilesTest::twoProfilesExchangeMessages()
{
    velmor::fakes::FakeRelay relay(velmor::fakes::FakeRelay::Options{true});
    QVERIFY(relay.start() > 0);
    velmor::fakes::FakeGroupCenter center;
    QVERIFY(center.start() > 0);
    QTemporaryDir profiles;
    QVERIFY(profiles.isValid());

    PeerProcess alice(profiles.filePath(QStringLiteral("alice")), relay.baseUrl(), center.baseUrl());
    PeerProcess bob(profiles.filePath(QStringLiteral("bob")), relay.baseUrl(), center.baseUrl());
    const QString aliceKey = alice.waitFor(QStringLiteral("signed-in ")).section(QLatin1Char(' '), 1);
    const QString bobKey = bob.waitFor(QStringLiteral("signed-in ")).section(QLatin1Char(' '), 1);
    QVERIFY2(aliceKey.size() == 87, qPrintable(alice.lines().join('\n')));
    QVERIFY2(bobKey.size() == 87, qPrintable(bob.lines().join('\n')));
    QVERIFY(aliceKey != bobKey);

    // Each profile keeps its own identity and store.
    QVERIFY(!alice.vaultKey().isEmpty());
    QVERIFY(!bob.vaultKey().isEmpty());
    QVERIFY(alice.vaultKey() != bob.vaultKey());
    QVERIFY(alice.hasStore() && bob.hasStore());

    // Both sessions hold the relay's new-message socket, so a message is
    // announced at once instead of waiting for the next timed pull.
    QTRY_COMPARE_WITH_TIMEOUT(relay.webSocketCount(), 2, 20000);

    alice.command(QStringLiteral("send %1 hello bob").arg(bobKey));
    QCOMPARE(alice.waitFor(QStringLiteral("sent")), QStringLiteral("sent"));
    // Bob has no chat open: the message comes as a desktop notice first.
    QCOMPARE(bob.waitFor(QStringLiteral("notice ")), QStringLiteral("notice %1 收到新消息").arg(aliceKey));
    bob.command(QStringLiteral("open %1").arg(aliceKey));
    QCOMPARE(bob.waitFor(QStringLiteral("received ")), QStringLiteral("received %1 hello bob").arg(aliceKey));

    // Alice's chat with Bob is open: his answer shows in it without a notice.
    bob.command(QStringLiteral("send %1 你好 alice").arg(aliceKey));
    QCOMPARE(bob.waitFor(QStringLiteral("sent")), QStringLiteral("sent"));
    QCOMPARE(alice.waitFor(QStringLiteral("received ")), QStringLiteral("received %1 你好 alice").arg(bobKey));
    for (const QString &line : alice.lines())
        QVERIFY2(!line.startsWith(QStringLiteral("notice ")), qPrintable(line));
}

QTEST_MAIN(TwoProfilesTest)
#include "tst_two_profiles.moc"
