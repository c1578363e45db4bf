// Two people on one machine, each with the real program in a window of its
// own: A generates an identity, B imports one from its recovery phrase; A
// finds B by address and sends a text, an image and a voice message; B sees
// them and answers. Either program is killed at several steps and started
// again with its profile; at the end both log out and sign in again as a
// user would. Nothing may be lost, nothing shown twice, and no window may
// show an error.
#include "driven_app.h"
#include "e2e_services.h"
#include "e2e_steps.h"

#include "identity/identity.h"
#include "voice/pulse_null_devices.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

#define STEP(call) QVERIFY2((call), qPrintable(stepFailure()))
#define NO_ERRORS(app)                                                                                         \
    do {                                                                                                       \
        const QString shown = newErrorsText(*(app));                                                           \
        QVERIFY2(shown.isEmpty(), qPrintable((app)->name() + QStringLiteral(" showed errors:\n") + shown));    \
    } while (false)

class E2eMessagingTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void signIn();
    void textBothWays();
    void receiverDownWhileSent();
    void senderKilledWhileSending();
    void receiverKilledBeforeAcknowledging();
    void image();
    void voiceMessage();
    void restartEither();
    void logOutAndBackIn();

private:
    QString peerKey(DrivenApp &app) { return app.eval(QStringLiteral("App.myPublicKey")).toString(); }

    PulseNullDevices m_pulse;
    bool m_audio = false;
    E2eServiceHost m_services;
    QTemporaryDir m_profiles;
    std::unique_ptr<DrivenApp> m_a;
    std::unique_ptr<DrivenApp> m_b;
    QString m_phraseB;
    QString m_keyA;
    QString m_keyB;
};

void E2eMessagingTest::initTestCase()
{
    // Audio devices for the voice message; the server's address reaches
    // the programs through the environment they inherit.
    m_audio = m_pulse.start();
    QVERIFY2(m_services.start(), qPrintable(m_services.error()));
    QVERIFY(m_profiles.isValid());
    m_a = std::make_unique<DrivenApp>(QStringLiteral("alice"), m_profiles.filePath(QStringLiteral("alice")),
                                      m_services.services());
    // A's pictures folder, named in its settings folder's user-dirs file,
    // holds one picture; A starts in another folder, and its file dialogs
    // open in the pictures folder all the same.
    const QString pictures = m_profiles.filePath(QStringLiteral("pictures"));
    QVERIFY(QDir().mkpath(pictures));
    QVERIFY(QDir().mkpath(m_profiles.filePath(QStringLiteral("alice/config"))));
    QFile userDirs(m_profiles.filePath(QStringLiteral("alice/config/user-dirs.dirs")));
    QVERIFY(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_PICTURES_DIR=\"" + QFile::encodeName(pictures) + "\"\n");
    userDirs.close();
    m_a->setWorkingDirectory(m_profiles.path());
    m_b = std::make_unique<DrivenApp>(QStringLiteral("bob"), m_profiles.filePath(QStringLiteral("bob")),
                                      m_services.services());
    QVERIFY2(m_a->start(), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_b->start(), qPrintable(m_b->lastFailure()));
}

void E2eMessagingTest::cleanupTestCase()
{
    for (DrivenApp *app : {m_a.get(), m_b.get()}) {
        if (!app || !app->running())
            continue;
        qInfo().noquote() << app->name() << "GUI stalls since its last start:"
                          << QJsonDocument(app->stallReport()).toJson(QJsonDocument::Compact);
        QVERIFY2(app->quit(), qPrintable(app->lastFailure()));
    }
}

// Every step ends with both windows free of errors.
void E2eMessagingTest::cleanup()
{
    if (m_a && m_a->running())
        NO_ERRORS(m_a);
    if (m_b && m_b->running())
        NO_ERRORS(m_b);
}

void E2eMessagingTest::signIn()
{
    STEP(shootBothThemes(*m_a, QStringLiteral("01-login")));
    STEP(createIdentity(*m_a));
    m_keyA = peerKey(*m_a);
    QCOMPARE(m_keyA.size(), 87);

    m_phraseB = velmor::identity::generateMnemonic();
    const velmor::identity::Identity expected(velmor::identity::privateKeyFromMnemonic(m_phraseB));
    STEP(importIdentity(*m_b, m_phraseB));
    m_keyB = peerKey(*m_b);
    QCOMPARE(m_keyB, expected.publicKeyText());
    QCOMPARE(m_b->eval(QStringLiteral("App.revealMnemonic()")).toString(), m_phraseB);
    STEP(shootBothThemes(*m_b, QStringLiteral("02-signed-in")));
}

void E2eMessagingTest::textBothWays()
{
    STEP(befriend(*m_a, *m_b));
    STEP(sendText(*m_a, QStringLiteral("hello bob, 你好")));
    STEP(openChat(*m_b, m_keyA));
    STEP(waitIncoming(*m_b, QStringLiteral("hello bob, 你好")));
    STEP(sendText(*m_b, QStringLiteral("hi alice")));
    STEP(waitIncoming(*m_a, QStringLiteral("hi alice")));
    STEP(shootBothThemes(*m_a, QStringLiteral("03-text")));
    STEP(shootBothThemes(*m_b, QStringLiteral("03-text")));
    QVERIFY2(duplicatesIn(snapshot(*m_a)).isEmpty(), qPrintable(duplicatesIn(snapshot(*m_a))));
    QVERIFY2(duplicatesIn(snapshot(*m_b)).isEmpty(), qPrintable(duplicatesIn(snapshot(*m_b))));
}

// B's program is gone while A writes: the relay keeps the message and B
// gets it, once, when it comes back.
void E2eMessagingTest::receiverDownWhileSent()
{
    const Snapshot before = snapshot(*m_b);
    QVERIFY(before.ok);
    m_b->kill();
    STEP(sendText(*m_a, QStringLiteral("while you were away")));
    QVERIFY2(m_b->start(), qPrintable(m_b->lastFailure()));
    STEP(waitSignedIn(*m_b));
    STEP(openChat(*m_b, m_keyA));
    STEP(waitIncoming(*m_b, QStringLiteral("while you were away")));
    const Snapshot after = snapshot(*m_b);
    QVERIFY(after.ok);
    const QString problems = compareSnapshots(before, after);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    QCOMPARE(after.messageCount(), before.messageCount() + 1);
}

// A's program dies in a burst of sends that the relay is slow to take:
// some reached the relay unknown to A, some never left. At the restart each
// is posted again by itself as the same envelope: A shows every one sent,
// B every one once.
void E2eMessagingTest::senderKilledWhileSending()
{
    constexpr int kBurst = 8;
    m_services.relay().setFault(QStringLiteral("/v1/message/send"), velmor::fakes::Fault::delay(600));
    QVERIFY(m_a->eval(QStringLiteral("(function () { for (var i = 0; i < %1; ++i) Chat.sendText('burst ' + i);"
                                     " return true })()")
                          .arg(kBurst))
                .toBool());
    const QString withStatus = QStringLiteral("Chat.messages.filter(function (m) {"
                                              " return m.outgoing && m.text.indexOf('burst ') === 0 && m.status === %1 }).length");
    QVERIFY2(m_a->waitTrue(withStatus.arg(1) + QStringLiteral(" >= 1")), qPrintable(m_a->lastFailure()));
    m_a->kill();
    m_services.relay().clearFaults();

    QVERIFY2(m_a->start(), qPrintable(m_a->lastFailure()));
    STEP(waitSignedIn(*m_a));
    STEP(openChat(*m_a, m_keyB));
    QVERIFY2(m_a->waitTrue(withStatus.arg(1) + QStringLiteral(" === %1").arg(kBurst), 30000),
             qPrintable(m_a->lastFailure()));
    STEP(shootBothThemes(*m_a, QStringLiteral("04-sent-after-crash")));
    for (int i = 0; i < kBurst; ++i)
        STEP(waitIncoming(*m_b, QStringLiteral("burst %1").arg(i)));
    const Snapshot a = snapshot(*m_a);
    const Snapshot b = snapshot(*m_b);
    QVERIFY(a.ok && b.ok);
    QVERIFY2(duplicatesIn(a).isEmpty(), qPrintable(duplicatesIn(a)));
    QVERIFY2(duplicatesIn(b).isEmpty(), qPrintable(duplicatesIn(b)));
}

// B's program dies after showing a message it could not acknowledge: the
// relay hands the message over again after the restart, and B still shows
// it once; the acknowledgement then goes through.
void E2eMessagingTest::receiverKilledBeforeAcknowledging()
{
    const QString text = QStringLiteral("shown but not acknowledged");
    // What B was handed before is acknowledged first: an acknowledgement
    // still on its way would meet the faults below and stay queued.
    QTRY_COMPARE_WITH_TIMEOUT(m_services.relay().queueSize(m_keyB), 0, 30000);
    for (const char *path : {"/v1/message/ack", "/v1/message/ack/batch"})
        m_services.relay().setFault(QString::fromLatin1(path), velmor::fakes::Fault::http500());
    STEP(sendText(*m_a, text));
    STEP(waitIncoming(*m_b, text));
    QCOMPARE(m_services.relay().queueSize(m_keyB), 1);
    const Snapshot before = snapshot(*m_b);
    QVERIFY(before.ok);
    m_b->kill();
    m_services.relay().clearFaults();

    QVERIFY2(m_b->start(), qPrintable(m_b->lastFailure()));
    STEP(waitSignedIn(*m_b));
    STEP(openChat(*m_b, m_keyA));
    QTRY_COMPARE_WITH_TIMEOUT(m_services.relay().queueSize(m_keyB), 0, 30000);
    const Snapshot after = snapshot(*m_b);
    QVERIFY(after.ok);
    const QString problems = compareSnapshots(before, after);
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    QCOMPARE(after.messageCount(), before.messageCount());
}

void E2eMessagingTest::image()
{
    QImage picture(320, 200, QImage::Format_RGB32);
    picture.fill(QColor(QStringLiteral("#3f4475")));
    QPainter painter(&picture);
    painter.fillRect(40, 40, 120, 120, QColor(QStringLiteral("#f0c05a")));
    painter.end();
    QVERIFY(picture.save(m_profiles.filePath(QStringLiteral("pictures/holiday.png"))));

    // The scan button of the new-chat page opens its dialog in A's
    // pictures folder.
    QVERIFY2(m_a->click(QStringLiteral("newChatButton")), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_a->click(QStringLiteral("newChatDialog/scanButton")), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_a->waitText(QStringLiteral("holiday.png")),
             qPrintable(m_a->lastFailure() + QStringLiteral("\nshown: ") + m_a->shownTexts().join(QStringLiteral(" | "))));
    STEP(shootBothThemes(*m_a, QStringLiteral("05a-scan-dialog")));
    QVERIFY2(m_a->clickText(QStringLiteral("Cancel")), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_a->click(QStringLiteral("newChatDialog/paneCloseButton")), qPrintable(m_a->lastFailure()));

    // So does the attach button; A picks the picture and opens it.
    QVERIFY2(m_a->click(QStringLiteral("composer/imageButton")), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_a->waitText(QStringLiteral("holiday.png")) && m_a->clickText(QStringLiteral("holiday.png")),
             qPrintable(m_a->lastFailure() + QStringLiteral("\nshown: ") + m_a->shownTexts().join(QStringLiteral(" | "))));
    QVERIFY2(m_a->clickText(QStringLiteral("Open")), qPrintable(m_a->lastFailure()));
    STEP(waitOutgoing(*m_a, QStringLiteral("image")));
    STEP(waitIncoming(*m_b, QStringLiteral("image")));
    QVERIFY2(m_b->waitItem(QStringLiteral("msgList/picture")), qPrintable(m_b->lastFailure()));
    STEP(shootBothThemes(*m_a, QStringLiteral("05-image")));
    STEP(shootBothThemes(*m_b, QStringLiteral("05-image")));
}

void E2eMessagingTest::voiceMessage()
{
    if (!m_audio)
        QSKIP("no PulseAudio here: the programs have no microphone");
    // The composer has no recording control of its own; the recording runs
    // through "Voice" as the window's controllers would, and what is
    // recorded goes out with Chat.sendVoiceFromFile.
    QCOMPARE(m_a->eval(QStringLiteral("Voice.startRecording()")).toBool(), true);
    QVERIFY2(m_a->waitTrue(QStringLiteral("Voice.recording && Voice.elapsedMs >= 1200")), qPrintable(m_a->lastFailure()));
    QVERIFY(!m_a->eval(QStringLiteral("(function () {"
                                      "  Voice.recordingFinished.connect(function (path, ms) { Chat.sendVoiceFromFile(path, ms) });"
                                      "  Voice.stopRecording(); return true })()"))
                 .isUndefined());
    QVERIFY2(m_a->waitTrue(QStringLiteral("!Voice.recording"), 20000), qPrintable(m_a->lastFailure()));
    STEP(waitOutgoing(*m_a, QStringLiteral("voice")));
    STEP(waitIncoming(*m_b, QStringLiteral("voice")));
    QVERIFY2(m_b->waitItem(QStringLiteral("msgList/voiceArea")), qPrintable(m_b->lastFailure()));
    // B plays it: a tap starts it, and it ends by itself.
    QVERIFY2(m_b->click(QStringLiteral("msgList/voiceArea")), qPrintable(m_b->lastFailure()));
    QVERIFY2(m_b->waitTrue(QStringLiteral("Voice.playing"), 10000), qPrintable(m_b->lastFailure()));
    QVERIFY2(m_b->waitTrue(QStringLiteral("!Voice.playing"), 20000), qPrintable(m_b->lastFailure()));
    STEP(shootBothThemes(*m_b, QStringLiteral("06-voice")));
}

void E2eMessagingTest::restartEither()
{
    STEP(restartAndCompare(*m_a));
    STEP(restartAndCompare(*m_b));
    // Both still talk after their restarts.
    STEP(sendText(*m_b, QStringLiteral("still here")));
    STEP(waitIncoming(*m_a, QStringLiteral("still here")));
}

// Both log out, then sign in again by typing what they kept: A its private
// key, B its recovery phrase. Their conversations come back whole.
void E2eMessagingTest::logOutAndBackIn()
{
    m_keyA.clear();
    const QString privateKeyA = m_a->eval(QStringLiteral("App.revealPrivateKeyString()")).toString();
    QVERIFY(privateKeyA.startsWith(QStringLiteral("0x")));
    const Snapshot beforeA = snapshot(*m_a);
    const Snapshot beforeB = snapshot(*m_b);
    QVERIFY(beforeA.ok && beforeB.ok);
    QVERIFY(beforeA.messageCount() >= 6);

    STEP(logout(*m_a));
    STEP(logout(*m_b));
    STEP(shootBothThemes(*m_a, QStringLiteral("07-logged-out")));
    STEP(importKey(*m_a, privateKeyA));
    STEP(importIdentity(*m_b, m_phraseB));
    m_keyA = peerKey(*m_a);

    for (auto [app, before] : {std::pair{m_a.get(), &beforeA}, std::pair{m_b.get(), &beforeB}}) {
        QVERIFY(app->waitTrue(QStringLiteral("Chat.conversations.length >= %1").arg(before->conversations.size())));
        const Snapshot after = snapshot(*app);
        QVERIFY(after.ok);
        const QString problems = compareSnapshots(*before, after);
        QVERIFY2(problems.isEmpty(), qPrintable(app->name() + QStringLiteral(": ") + problems));
    }
    STEP(openChat(*m_a, m_keyB));
    STEP(openChat(*m_b, m_keyA));
    STEP(sendText(*m_a, QStringLiteral("welcome back")));
    STEP(waitIncoming(*m_b, QStringLiteral("welcome back")));
    STEP(shootBothThemes(*m_a, QStringLiteral("08-back")));
    STEP(shootBothThemes(*m_b, QStringLiteral("08-back")));
}

QTEST_GUILESS_MAIN(E2eMessagingTest)
#include "tst_e2e_messaging.moc"
