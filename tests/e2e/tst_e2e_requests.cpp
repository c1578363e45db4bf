// Three real windows: Ann's super group, Ben its admin; Cid's request,
// approved by Ann, leaves Ben's list and bell.
#include "driven_app.h"
#include "e2e_services.h"
#include "e2e_steps.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace e2e;

#define STEP(call) QVERIFY2((call), qPrintable(stepFailure()))
#define DRIVE(app, call) QVERIFY2((app).call, qPrintable((app).name() + QStringLiteral(": ") + (app).lastFailure()))

class E2eRequestsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void requestDecidedByAnotherManager();

private:
    E2eServiceHost m_services;
    QTemporaryDir m_profiles;
    std::unique_ptr<DrivenApp> m_ann;
    std::unique_ptr<DrivenApp> m_ben;
    std::unique_ptr<DrivenApp> m_cid;
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

// No window showed an error.
void E2eRequestsTest::cleanupTestCase()
{
    for (DrivenApp *app : {m_ann.get(), m_ben.get(), m_cid.get()}) {
        if (!app || !app->running())
            continue;
        const QString shown = newErrorsText(*app);
        QVERIFY2(shown.isEmpty(), qPrintable(app->name() + QStringLiteral(" showed errors:\n") + shown));
        QVERIFY2(app->quit(), qPrintable(app->lastFailure()));
    }
}

void E2eRequestsTest::requestDecidedByAnotherManager()
{
    DrivenApp &ann = *m_ann;
    DrivenApp &ben = *m_ben;
    DrivenApp &cid = *m_cid;

    DRIVE(ann, click(QStringLiteral("newGroupButton")));
    DRIVE(ann, waitItem(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(ann, click(QStringLiteral("newGroupDialog/mode_premium")));
    DRIVE(ann, type(QStringLiteral("newGroupDialog/groupNameField"), QStringLiteral("Breakwater")));
    DRIVE(ann, type(QStringLiteral("newGroupDialog/sgKeyField"), QLatin1String(E2eServiceHost::kPremiumKey)));
    QVERIFY2(clickWhenEnabled(ann, QStringLiteral("newGroupDialog/sgCreateButton")), qPrintable(ann.lastFailure()));
    const QString superJs = QStringLiteral("Chat.conversations.filter(function (c) { return c.peer.indexOf('sg:') === 0 })");
    DRIVE(ann, waitTrue(superJs + QStringLiteral(".length === 1"), 20000));
    const QString superPeer = ann.eval(superJs + QStringLiteral("[0].peer")).toString();
    STEP(openChat(ann, superPeer));

    // Ann invites Ben from the settings and makes him an admin.
    DRIVE(ann, click(QStringLiteral("chatHeader/sgSettingsButton")));
    DRIVE(ann, reveal(QStringLiteral("sgSettings/inviteBox")));
    DRIVE(ann, click(QStringLiteral("sgSettings/inviteBox")));
    DRIVE(ann, reveal(QStringLiteral("sgSettings/inviteButton")));
    DRIVE(ann, click(QStringLiteral("sgSettings/inviteButton")));
    DRIVE(ben, waitTrue(listedCount(superPeer) + QStringLiteral(" === 1"), 30000));
    DRIVE(ann, waitItem(QStringLiteral("sgSettings/sgMemberRow#1/roleButton"), 15000));
    DRIVE(ann, reveal(QStringLiteral("sgSettings/sgMemberRow#1/roleButton")));
    DRIVE(ann, click(QStringLiteral("sgSettings/sgMemberRow#1/roleButton")));
    QTRY_VERIFY_WITH_TIMEOUT(
        ann.evalIn(QStringLiteral("sgSettings/sgMemberRow#1"), QStringLiteral("member.role === 'admin'")).toBool(), 15000);
    STEP(shootBothThemes(ann, QStringLiteral("r01-admin-made")));
    DRIVE(ann, click(QStringLiteral("sgSettings/popupClose")));

    // Cid asks to join by the group's address.
    DRIVE(cid, click(QStringLiteral("newChatButton")));
    DRIVE(cid, type(QStringLiteral("newChatDialog/discoveryField"), superPeer.mid(3)));
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
    DRIVE(cid, waitTrue(listedCount(superPeer) + QStringLiteral(" === 1"), 30000));
    DRIVE(cid, click(QStringLiteral("newChatDialog/paneCloseButton")));

    // Ben looks: nothing waits any more, and the bell has no count.
    DRIVE(ben, click(QStringLiteral("notificationsButton")));
    DRIVE(ben, waitItem(QStringLiteral("notificationsPopup/emptyRequests"), 15000));
    DRIVE(ben, waitTrue(QStringLiteral("Chat.notificationCount === 0")));
    QVERIFY(!ben.property(QStringLiteral("notificationBadge"), QStringLiteral("visible")).toBool());
    STEP(shootBothThemes(ben, QStringLiteral("r03-decided-elsewhere")));
    DRIVE(ben, click(QStringLiteral("notificationsPopup/paneCloseButton")));
}

QTEST_GUILESS_MAIN(E2eRequestsTest)
#include "tst_e2e_requests.moc"
