// Three people on one machine, each in a real program window: Ann makes a
// premium super group, invites Ben (a contact of hers) and makes him an
// admin; Cid, a stranger to both, asks to join. The request reaches both
// managers, Ann lets Cid in, and Ben's list and bell drop it at his next
// look instead of offering a request that no longer waits. Then Cid and
// Ben write in the group: Ann's contacts gain a row for Cid, with the
// address his key gives, and Ben's row stays as Ann had it. Each step is
// shot in the light and the dark theme, and a window that shows an error
// fails the step.
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

const QString kSuperName = QStringLiteral("Breakwater");

bool clickWhenEnabled(DrivenApp &app, const QString &path, int timeoutMs = 15000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!app.click(path)) {
        if (!app.lastFailure().contains(QStringLiteral("disabled")) || deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

QString listedCount(const QString &peer)
{
    return QStringLiteral("Chat.conversations.filter(function (c) { return c.peer === %1 }).length").arg(jsString(peer));
}

// The contact entry of this key as JSON text (empty when none).
QString contactJs(const QString &key)
{
    return QStringLiteral("JSON.stringify(Chat.contacts.filter(function (c) { return c.publicKey === %1 })[0])")
        .arg(jsString(key));
}

// Waits until JS evaluated with the item at `path` as scope is true.
bool waitTrueIn(DrivenApp &app, const QString &path, const QString &js, int timeoutMs = 15000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (app.evalIn(path, js).toBool() != true) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

} // namespace

class E2eRequestsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void requestDecidedByAnotherManager();
    void speakersBecomeContacts();

private:
    E2eServiceHost m_services;
    QTemporaryDir m_profiles;
    std::unique_ptr<DrivenApp> m_ann;
    std::unique_ptr<DrivenApp> m_ben;
    std::unique_ptr<DrivenApp> m_cid;
    QString m_superPeer;
};

void E2eRequestsTest::initTestCase()
{
    QVERIFY2(m_services.start(), qPrintable(m_services.error()));
    QVERIFY(m_profiles.isValid());
    for (auto [app, name] : {std::pair{&m_ann, "ann"}, std::pair{&m_ben, "ben"}, std::pair{&m_cid, "cid"}}) {
        *app = std::make_unique<DrivenApp>(QLatin1String(name), m_profiles.filePath(QLatin1String(name)),
                                           m_services.services());
        QVERIFY2((*app)->start(), qPrintable((*app)->lastFailure()));
        STEP(createIdentity(**app));
    }
    STEP(befriend(*m_ann, *m_ben));
}

void E2eRequestsTest::cleanupTestCase()
{
    for (DrivenApp *app : {m_ann.get(), m_ben.get(), m_cid.get()})
        if (app && app->running())
            QVERIFY2(app->quit(), qPrintable(app->lastFailure()));
}

void E2eRequestsTest::cleanup()
{
    for (DrivenApp *app : {m_ann.get(), m_ben.get(), m_cid.get()}) {
        if (!app || !app->running())
            continue;
        const QString shown = newErrorsText(*app);
        QVERIFY2(shown.isEmpty(), qPrintable(app->name() + QStringLiteral(" showed errors:\n") + shown));
    }
}

// Ann owns the group and Ben administers it; Cid's request waits on both
// their lists. Ann approves it: Ben's next look at his notifications shows
// none, and his bell carries no count.
void E2eRequestsTest::requestDecidedByAnotherManager()
{
    DrivenApp &ann = *m_ann;
    DrivenApp &ben = *m_ben;
    DrivenApp &cid = *m_cid;

    DRIVE(ann, click(QStringLiteral("newGroupButton")));
    DRIVE(ann, waitItem(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(ann, click(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(ann, type(QStringLiteral("newGroupDialog/groupNameField"), kSuperName));
    DRIVE(ann, type(QStringLiteral("newGroupDialog/sgKeyField"), QLatin1String(E2eServiceHost::kPremiumKey)));
    QVERIFY2(clickWhenEnabled(ann, QStringLiteral("newGroupDialog/sgCreateButton")), qPrintable(ann.lastFailure()));
    const QString superJs = QStringLiteral("Chat.conversations.filter(function (c) { return c.peer.indexOf('sg:') === 0 })");
    DRIVE(ann, waitTrue(superJs + QStringLiteral(".length === 1"), 20000));
    m_superPeer = ann.eval(superJs + QStringLiteral("[0].peer")).toString();
    STEP(openChat(ann, m_superPeer));

    // Ann invites Ben from the settings and makes him an admin.
    DRIVE(ann, click(QStringLiteral("chatHeader/sgSettingsButton")));
    DRIVE(ann, waitItem(QStringLiteral("sgSettings/inviteBox")));
    // The invitation card is at the bottom of the settings: scrolled to.
    ann.evalIn(QStringLiteral("sgSettings/sgBody"), QStringLiteral("contentY = contentHeight - height"));
    DRIVE(ann, click(QStringLiteral("sgSettings/inviteBox")));
    DRIVE(ann, click(QStringLiteral("sgSettings/inviteButton")));
    DRIVE(ben, waitTrue(listedCount(m_superPeer) + QStringLiteral(" === 1"), 30000));
    DRIVE(ann, waitItem(QStringLiteral("sgSettings/sgMemberRow#1/roleButton"), 15000));
    ann.evalIn(QStringLiteral("sgSettings/sgBody"), QStringLiteral("contentY = 0"));
    DRIVE(ann, click(QStringLiteral("sgSettings/sgMemberRow#1/roleButton")));
    QVERIFY2(waitTrueIn(ann, QStringLiteral("sgSettings/sgMemberRow#1"), QStringLiteral("member.role === 'admin'")),
             "Ben is not shown as an admin");
    STEP(shootBothThemes(ann, QStringLiteral("r01-admin-made")));
    DRIVE(ann, click(QStringLiteral("sgSettings/popupClose")));

    // Cid asks to join by the group's address.
    DRIVE(cid, click(QStringLiteral("newChatButton")));
    DRIVE(cid, type(QStringLiteral("newChatDialog/discoveryField"), m_superPeer.mid(3)));
    DRIVE(cid, click(QStringLiteral("newChatDialog/findButton")));
    DRIVE(cid, waitItem(QStringLiteral("newChatDialog/resultCard/resultAction"), 20000));
    DRIVE(cid, waitTrue(QStringLiteral("!Chat.discoveryBusy")));
    DRIVE(cid, click(QStringLiteral("newChatDialog/resultCard/resultAction")));
    DRIVE(cid, waitItem(QStringLiteral("newChatDialog/statusLine")));

    // Both managers are told, with the bell's count.
    for (DrivenApp *manager : {&ann, &ben}) {
        DRIVE(*manager, waitTrue(QStringLiteral("Chat.notificationCount === 1"), 30000));
        DRIVE(*manager, waitItem(QStringLiteral("notificationBadge")));
    }
    STEP(shootBothThemes(ben, QStringLiteral("r02-request-on-both")));

    DRIVE(ann, click(QStringLiteral("notificationsButton")));
    DRIVE(ann, waitItem(QStringLiteral("notificationsPopup/requestRow/approveButton")));
    DRIVE(ann, click(QStringLiteral("notificationsPopup/requestRow/approveButton")));
    DRIVE(ann, waitItem(QStringLiteral("notificationsPopup/emptyRequests"), 15000));
    DRIVE(ann, click(QStringLiteral("notificationsPopup/paneCloseButton")));
    DRIVE(cid, waitTrue(listedCount(m_superPeer) + QStringLiteral(" === 1"), 30000));
    DRIVE(cid, click(QStringLiteral("newChatDialog/paneCloseButton")));

    // Ben looks: nothing waits any more, and the bell has no count.
    DRIVE(ben, click(QStringLiteral("notificationsButton")));
    DRIVE(ben, waitItem(QStringLiteral("notificationsPopup/emptyRequests"), 15000));
    DRIVE(ben, waitTrue(QStringLiteral("Chat.notificationCount === 0")));
    QVERIFY(!ben.property(QStringLiteral("notificationBadge"), QStringLiteral("visible")).toBool());
    STEP(shootBothThemes(ben, QStringLiteral("r03-decided-elsewhere")));
    DRIVE(ben, click(QStringLiteral("notificationsPopup/paneCloseButton")));
}

// Cid, a stranger to Ann, and Ben, her contact, write in the group. Ann's
// contacts then hold Cid under the address of his key; Ben's row is as it
// was.
void E2eRequestsTest::speakersBecomeContacts()
{
    DrivenApp &ann = *m_ann;
    DrivenApp &ben = *m_ben;
    DrivenApp &cid = *m_cid;
    const QString cidKey = cid.eval(QStringLiteral("App.myPublicKey")).toString();
    const QString benKey = ben.eval(QStringLiteral("App.myPublicKey")).toString();
    const QString cidAddress = cid.eval(QStringLiteral("App.myErc20")).toString();
    QVERIFY(!cidKey.isEmpty() && !benKey.isEmpty() && !cidAddress.isEmpty());

    DRIVE(ann, click(QStringLiteral("newGroupButton")));
    DRIVE(ann, waitItem(QStringLiteral("newGroupDialog/contactRow")));
    const QString benBefore = ann.eval(contactJs(benKey)).toString();
    QVERIFY(benBefore.contains(benKey));
    QVERIFY(ann.eval(contactJs(cidKey)).toString().isEmpty());
    DRIVE(ann, click(QStringLiteral("newGroupButton")));

    const QString fromCid = QStringLiteral("Thanks for letting me in");
    const QString fromBen = QStringLiteral("Welcome, Cid");
    for (auto [app, text] : {std::pair{&cid, fromCid}, std::pair{&ben, fromBen}}) {
        STEP(openChat(*app, m_superPeer));
        STEP(sendText(*app, text));
    }
    STEP(openChat(ann, m_superPeer));
    STEP(waitIncoming(ann, fromCid));
    STEP(waitIncoming(ann, fromBen));

    // The new-group pane reads the contacts afresh.
    DRIVE(ann, click(QStringLiteral("newGroupButton")));
    DRIVE(ann, waitItem(QStringLiteral("newGroupDialog/contactRow#1")));
    const QJsonObject cidContact =
        QJsonDocument::fromJson(ann.eval(contactJs(cidKey)).toString().toUtf8()).object();
    QCOMPARE(cidContact.value(QStringLiteral("address")).toString().toLower(), cidAddress.toLower());
    QVERIFY(cidContact.value(QStringLiteral("remark")).toString().isEmpty());
    QCOMPARE(ann.eval(contactJs(benKey)).toString(), benBefore);
    STEP(shootBothThemes(ann, QStringLiteral("r04-speaker-contact")));
    DRIVE(ann, click(QStringLiteral("newGroupButton")));
}

QTEST_GUILESS_MAIN(E2eRequestsTest)
#include "tst_e2e_requests.moc"
