// Two people on one machine, friends already, use the groups of the real
// program through its windows: A makes a normal group with B from the
// new-group pane and both write in it; A makes a premium super group on the
// group centre, B asks to join it from the new-chat pane, A lets B in from
// the notifications pane and both write in it; A opens the group's voice
// room from the composer and B joins it from the banner. Then each program
// is killed and started again: every group conversation and message is
// still there, once. Each step is shot in the light and the dark theme, and
// a window that shows an error fails the step.
#include "driven_app.h"
#include "e2e_services.h"
#include "e2e_steps.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

#define STEP(call) QVERIFY2((call), qPrintable(stepFailure()))
#define DRIVE(app, call) QVERIFY2((app).call, qPrintable((app).name() + QStringLiteral(": ") + (app).lastFailure()))

namespace {

const QString kGroupName = QStringLiteral("Harbour crew");
const QString kSuperName = QStringLiteral("Lighthouse");

// How many messages of the open conversation show exactly this text.
QString shownCount(const QString &text)
{
    return QStringLiteral("Chat.messages.filter(function (m) { return m.text === %1 }).length").arg(jsString(text));
}

} // namespace

class E2eGroupsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void normalGroup();
    void superGroupJoinApproved();
    void voiceRoom();
    void restartKeepsGroups();

private:
    // `from` writes in the open conversation `peer`; `to` opens it and
    // sees the text once, as `from` does.
    bool exchange(DrivenApp &from, DrivenApp &to, const QString &peer, const QString &text);
    QString m_failure;

    E2eServiceHost m_services;
    QTemporaryDir m_profiles;
    std::unique_ptr<DrivenApp> m_a;
    std::unique_ptr<DrivenApp> m_b;
    QString m_groupPeer;
    QString m_superPeer;
    QStringList m_groupTexts;
    QStringList m_superTexts;
};

bool E2eGroupsTest::exchange(DrivenApp &from, DrivenApp &to, const QString &peer, const QString &text)
{
    m_failure.clear();
    if (!sendText(from, text) || !openChat(to, peer) || !waitIncoming(to, text)) {
        m_failure = stepFailure();
        return false;
    }
    for (DrivenApp *app : {&from, &to}) {
        if (!app->waitTrue(shownCount(text) + QStringLiteral(" === 1"))) {
            m_failure = app->name() + QStringLiteral(" shows '%1' %2 times")
                                          .arg(text, app->eval(shownCount(text)).toVariant().toString());
            return false;
        }
    }
    return true;
}

void E2eGroupsTest::initTestCase()
{
    QVERIFY2(m_services.start(), qPrintable(m_services.error()));
    QVERIFY(m_profiles.isValid());
    m_a = std::make_unique<DrivenApp>(QStringLiteral("ann"), m_profiles.filePath(QStringLiteral("ann")),
                                      m_services.services());
    m_b = std::make_unique<DrivenApp>(QStringLiteral("ben"), m_profiles.filePath(QStringLiteral("ben")),
                                      m_services.services());
    QVERIFY2(m_a->start(), qPrintable(m_a->lastFailure()));
    QVERIFY2(m_b->start(), qPrintable(m_b->lastFailure()));
    STEP(createIdentity(*m_a));
    STEP(createIdentity(*m_b));
    STEP(befriend(*m_a, *m_b));
}

void E2eGroupsTest::cleanupTestCase()
{
    for (DrivenApp *app : {m_a.get(), m_b.get()})
        if (app && app->running())
            QVERIFY2(app->quit(), qPrintable(app->lastFailure()));
}

// Every step ends with both windows free of errors.
void E2eGroupsTest::cleanup()
{
    for (DrivenApp *app : {m_a.get(), m_b.get()}) {
        if (!app || !app->running())
            continue;
        const QString shown = newErrorsText(*app);
        QVERIFY2(shown.isEmpty(), qPrintable(app->name() + QStringLiteral(" showed errors:\n") + shown));
    }
}

// A makes a normal group with B from the contacts; both list it once and
// write in it, and its settings show both members on both sides.
void E2eGroupsTest::normalGroup()
{
    DrivenApp &a = *m_a;
    DrivenApp &b = *m_b;
    DRIVE(a, click(QStringLiteral("newGroupButton")));
    DRIVE(a, waitItem(QStringLiteral("newGroupDialog/contactRow")));
    DRIVE(a, type(QStringLiteral("newGroupDialog/groupNameField"), kGroupName));
    DRIVE(a, click(QStringLiteral("newGroupDialog/contactRow")));
    STEP(shootBothThemes(a, QStringLiteral("g01-new-group")));
    DRIVE(a, click(QStringLiteral("newGroupDialog/createGroupButton")));
    DRIVE(a, waitItem(QStringLiteral("createGroupConfirm")));
    STEP(shootBothThemes(a, QStringLiteral("g02-confirm-group")));
    DRIVE(a, clickText(QStringLiteral("OK")));
    DRIVE(a, waitTrue(QStringLiteral("Chat.currentPeer.indexOf('group:') === 0")));
    m_groupPeer = a.eval(QStringLiteral("Chat.currentPeer")).toString();
    DRIVE(a, waitItem(QStringLiteral("composer/editor")));
    QCOMPARE(a.eval(listedCount(m_groupPeer)).toInt(), 1);

    // B learns of the group through the relay.
    DRIVE(b, waitTrue(listedCount(m_groupPeer) + QStringLiteral(" === 1"), 30000));
    const QString hello = QStringLiteral("Welcome aboard, 船员们");
    QVERIFY2(exchange(a, b, m_groupPeer, hello), qPrintable(m_failure));
    const QString reply = QStringLiteral("Glad to be here");
    QVERIFY2(exchange(b, a, m_groupPeer, reply), qPrintable(m_failure));
    m_groupTexts = {hello, reply};
    STEP(shootBothThemes(a, QStringLiteral("g03-group-chat")));
    STEP(shootBothThemes(b, QStringLiteral("g03-group-chat")));

    for (DrivenApp *app : {&a, &b}) {
        DRIVE(*app, click(QStringLiteral("chatHeader/groupSettingsButton")));
        DRIVE(*app, waitItem(QStringLiteral("groupSettings/memberRow#1")));
        QCOMPARE(app->eval(QStringLiteral("Chat.currentGroupInfo().memberCount")).toInt(), 2);
        STEP(shootBothThemes(*app, QStringLiteral("g04-group-settings")));
        DRIVE(*app, click(QStringLiteral("groupSettings/popupClose")));
    }

    // A renames the group: the open chat's header takes the new name in
    // both windows without switching conversations.
    const QString renamed = QStringLiteral("Pilots 领航");
    DRIVE(a, click(QStringLiteral("chatHeader/groupSettingsButton")));
    DRIVE(a, waitItem(QStringLiteral("groupSettings/renameButton")));
    DRIVE(a, click(QStringLiteral("groupSettings/renameButton")));
    DRIVE(a, waitItem(QStringLiteral("groupSettings/editField")));
    DRIVE(a, type(QStringLiteral("groupSettings/editField"), QString()));
    DRIVE(a, key(Qt::Key_A, Qt::ControlModifier));
    DRIVE(a, type(QStringLiteral("groupSettings/editField"), renamed));
    DRIVE(a, click(QStringLiteral("groupSettings/savePill")));
    DRIVE(a, waitTrue(QStringLiteral("Chat.currentGroupInfo().name === %1").arg(jsString(renamed))));
    DRIVE(a, click(QStringLiteral("groupSettings/popupClose")));
    for (DrivenApp *app : {&a, &b}) {
        DRIVE(*app, waitTrue(QStringLiteral("Chat.currentPeer === %1").arg(jsString(m_groupPeer))));
        DRIVE(*app, waitText(renamed, 30000));
        QCOMPARE(app->property(QStringLiteral("chatHeader/headerTitle"), QStringLiteral("text")).toString(), renamed);
    }
    STEP(shootBothThemes(b, QStringLiteral("g04b-group-renamed")));
}

// A makes a premium super group with a creation key; B asks to join it by
// its link, A approves in the notifications pane, B is told by the group
// centre and lists the group, and both write in it.
void E2eGroupsTest::superGroupJoinApproved()
{
    DrivenApp &a = *m_a;
    DrivenApp &b = *m_b;
    DRIVE(a, click(QStringLiteral("newGroupButton")));
    DRIVE(a, waitItem(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(a, click(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(a, type(QStringLiteral("newGroupDialog/groupNameField"), kSuperName));
    DRIVE(a, type(QStringLiteral("newGroupDialog/sgKeyField"), QLatin1String(E2eServiceHost::kPremiumKey)));
    STEP(shootBothThemes(a, QStringLiteral("g05-new-super")));
    // The button is usable once the centre has told its free places.
    QVERIFY2(clickWhenEnabled(a, QStringLiteral("newGroupDialog/sgCreateButton")), qPrintable(a.lastFailure()));
    const QString superJs = QStringLiteral("Chat.conversations.filter(function (c) { return c.peer.indexOf('sg:') === 0 })");
    DRIVE(a, waitTrue(superJs + QStringLiteral(".length === 1"), 20000));
    m_superPeer = a.eval(superJs + QStringLiteral("[0].peer")).toString();
    STEP(openChat(a, m_superPeer));
    DRIVE(a, waitTrue(QStringLiteral("Chat.currentGroupKind === 'premium_plus'")));
    DRIVE(a, waitItem(QStringLiteral("composer/editor")));
    STEP(shootBothThemes(a, QStringLiteral("g06-super-created")));

    // B pastes the group's link into the new-chat pane and asks to join.
    const QString link = m_superPeer.mid(3);
    DRIVE(b, click(QStringLiteral("newChatButton")));
    DRIVE(b, type(QStringLiteral("newChatDialog/discoveryField"), link));
    DRIVE(b, click(QStringLiteral("newChatDialog/findButton")));
    DRIVE(b, waitItem(QStringLiteral("newChatDialog/resultCard/resultAction"), 20000));
    DRIVE(b, waitTrue(QStringLiteral("!Chat.discoveryBusy")));
    DRIVE(b, click(QStringLiteral("newChatDialog/resultCard/resultAction")));
    DRIVE(b, waitItem(QStringLiteral("newChatDialog/statusLine")));
    STEP(shootBothThemes(b, QStringLiteral("g07-join-asked")));

    // A sees the request and lets B in.
    DRIVE(a, waitTrue(QStringLiteral("Chat.notificationCount === 1")));
    DRIVE(a, click(QStringLiteral("notificationsButton")));
    DRIVE(a, waitItem(QStringLiteral("notificationsPopup/requestRow/approveButton")));
    STEP(shootBothThemes(a, QStringLiteral("g08-join-request")));
    DRIVE(a, click(QStringLiteral("notificationsPopup/requestRow/approveButton")));
    DRIVE(a, waitItem(QStringLiteral("notificationsPopup/emptyRequests"), 15000));
    QCOMPARE(a.eval(QStringLiteral("Chat.notificationCount")).toInt(), 0);
    DRIVE(a, click(QStringLiteral("notificationsPopup/paneCloseButton")));
    DRIVE(a, waitItem(QStringLiteral("composer/editor")));

    // The centre tells B: the group is listed without a restart.
    DRIVE(b, waitTrue(listedCount(m_superPeer) + QStringLiteral(" === 1"), 30000));
    // The page no longer says the request waits.
    DRIVE(b, waitText(QStringLiteral("已成功加入群组")));
    STEP(shootBothThemes(b, QStringLiteral("g07b-join-approved")));
    DRIVE(b, click(QStringLiteral("newChatDialog/paneCloseButton")));
    const QString hello = QStringLiteral("The lamp is lit");
    QVERIFY2(exchange(a, b, m_superPeer, hello), qPrintable(m_failure));
    const QString reply = QStringLiteral("I can see it from the shore");
    QVERIFY2(exchange(b, a, m_superPeer, reply), qPrintable(m_failure));
    m_superTexts = {hello, reply};
    // Both headers count the two members.
    for (DrivenApp *app : {&a, &b})
        DRIVE(*app, waitTrue(QStringLiteral("Chat.currentGroupSubtitle.indexOf('2 位成员') === 0")));
    STEP(shootBothThemes(a, QStringLiteral("g09-super-chat")));
    STEP(shootBothThemes(b, QStringLiteral("g09-super-chat")));

    DRIVE(b, click(QStringLiteral("chatHeader/sgSettingsButton")));
    DRIVE(b, waitItem(QStringLiteral("sgSettings/sgMemberRow#1")));
    STEP(shootBothThemes(b, QStringLiteral("g10-super-settings")));
    DRIVE(b, click(QStringLiteral("sgSettings/popupClose")));
}

// A opens the voice room from the composer and is in it at once; B joins
// from the banner as a listener; B leaves, A dissolves the room and B's
// banner goes.
void E2eGroupsTest::voiceRoom()
{
    DrivenApp &a = *m_a;
    DrivenApp &b = *m_b;
    DRIVE(a, waitTrue(QStringLiteral("Chat.currentPeer === %1 && VoiceRoom.canOpen").arg(jsString(m_superPeer))));
    DRIVE(a, click(QStringLiteral("composer/chatroomButton")));
    DRIVE(a, waitItem(QStringLiteral("voiceOpenConfirm/openRoomButton")));
    STEP(shootBothThemes(a, QStringLiteral("g11-voice-open")));
    DRIVE(a, click(QStringLiteral("voiceOpenConfirm/openRoomButton")));
    DRIVE(a, waitTrue(QStringLiteral("VoiceRoom.activeForVisible && VoiceRoom.connected"), 20000));
    DRIVE(a, waitItem(QStringLiteral("voiceRoomPopup/exitButton")));
    QVERIFY(a.eval(QStringLiteral("VoiceRoom.amOpener && VoiceRoom.canPublish")).toBool());
    // The opener is in the room as a speaker, under the user's own key.
    DRIVE(a, waitTrue(QStringLiteral("VoiceRoom.speakers.length === 1 && VoiceRoom.speakers[0].self === true"
                                     " && VoiceRoom.speakers[0].pubkey === App.myPublicKey")));
    STEP(shootBothThemes(a, QStringLiteral("g12-voice-room")));

    DRIVE(b, waitTrue(QStringLiteral("Chat.currentPeer === %1 && VoiceRoom.roomOpen").arg(jsString(m_superPeer))));
    DRIVE(b, waitItem(QStringLiteral("voiceBanner")));
    STEP(shootBothThemes(b, QStringLiteral("g13-voice-banner")));
    DRIVE(b, click(QStringLiteral("voiceBanner")));
    DRIVE(b, waitTrue(QStringLiteral("VoiceRoom.activeForVisible && VoiceRoom.connected"), 20000));
    DRIVE(b, waitItem(QStringLiteral("voiceRoomPopup/exitButton")));
    QVERIFY(!b.eval(QStringLiteral("VoiceRoom.amOpener || VoiceRoom.isOwner || VoiceRoom.canPublish")).toBool());
    DRIVE(b, waitTrue(QStringLiteral("VoiceRoom.listeners.length === 1 && VoiceRoom.listeners[0].self === true"
                                     " && VoiceRoom.speakers.length === 0")));
    STEP(shootBothThemes(b, QStringLiteral("g12-voice-room")));

    // B leaves; the room stays open and B's banner offers it again.
    DRIVE(b, click(QStringLiteral("voiceRoomPopup/exitButton")));
    DRIVE(b, waitItem(QStringLiteral("voiceExitConfirm/confirmExit")));
    DRIVE(b, click(QStringLiteral("voiceExitConfirm/confirmExit")));
    DRIVE(b, waitTrue(QStringLiteral("!VoiceRoom.active && VoiceRoom.roomOpen")));
    DRIVE(b, waitItem(QStringLiteral("voiceBanner")));

    // A dissolves it; it closes for B too.
    DRIVE(a, click(QStringLiteral("voiceRoomPopup/exitButton")));
    DRIVE(a, waitItem(QStringLiteral("voiceExitConfirm/confirmExit")));
    DRIVE(a, click(QStringLiteral("voiceExitConfirm/confirmExit")));
    DRIVE(a, waitTrue(QStringLiteral("!VoiceRoom.active && !VoiceRoom.roomOpen")));
    DRIVE(b, waitTrue(QStringLiteral("!VoiceRoom.roomOpen")));
    STEP(shootBothThemes(b, QStringLiteral("g14-voice-closed")));
}

// Killed and started again, each program lists every group once and shows
// every message once.
void E2eGroupsTest::restartKeepsGroups()
{
    // What the group steps cost the GUI thread, before the restarts reset it.
    for (DrivenApp *app : {m_a.get(), m_b.get()})
        qInfo().noquote() << app->name() << "GUI stalls through the group steps:"
                          << QJsonDocument(app->stallReport()).toJson(QJsonDocument::Compact);
    for (DrivenApp *app : {m_a.get(), m_b.get()}) {
        STEP(restartAndCompare(*app));
        for (const auto &[peer, texts] : {std::pair{m_groupPeer, m_groupTexts}, std::pair{m_superPeer, m_superTexts}}) {
            DRIVE(*app, waitTrue(listedCount(peer) + QStringLiteral(" === 1")));
            STEP(openChat(*app, peer));
            for (const QString &text : texts)
                DRIVE(*app, waitTrue(shownCount(text) + QStringLiteral(" === 1")));
        }
        const Snapshot after = snapshot(*app);
        QVERIFY(after.ok);
        QVERIFY2(duplicatesIn(after).isEmpty(), qPrintable(duplicatesIn(after)));
        STEP(shootBothThemes(*app, QStringLiteral("g15-restarted")));
    }
    // Both still talk in the super group after their restarts.
    QVERIFY2(exchange(*m_a, *m_b, m_superPeer, QStringLiteral("Still burning")), qPrintable(m_failure));
}

QTEST_GUILESS_MAIN(E2eGroupsTest)
#include "tst_e2e_groups.moc"
