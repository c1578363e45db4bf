// The desktop notifier with the real chat controller: notices beep and are
// kept without a tray (as under Xvfb), and a click opens the newest one.
#include "app/desktop_notifier.h"
#include "chat/chat_controller.h"
#include "identity/identity.h"

#include <QApplication>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtTest>

class NotifierTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void withoutTrayNoticesAreKeptNotShown();
    void clickBeforeAnyNoticeDoesNothing();
    void clickOpensTheNewestNotice_data();
    void clickOpensTheNewestNotice();
    void trayPicture();
    void noticesInTheInterfaceLanguage_data();
    void noticesInTheInterfaceLanguage();
};

void NotifierTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
}

void NotifierTest::withoutTrayNoticesAreKeptNotShown()
{
    ChatController chat;
    DesktopNotifier notifier(&chat);
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QVERIFY(!notifier.trayVisible());
    auto *tray = notifier.findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), QStringLiteral("Pelorin"));

    emit chat.systemNotificationRequested(QStringLiteral("peer-a"), QStringLiteral("Alice"),
                                          QStringLiteral("收到新消息"));
    QCOMPARE(notifier.lastPeer(), QStringLiteral("peer-a"));
    QVERIFY(!notifier.trayVisible());
}

void NotifierTest::clickBeforeAnyNoticeDoesNothing()
{
    ChatController chat;
    DesktopNotifier notifier(&chat);
    QSignalSpy opened(&chat, &ChatController::openNotificationsRequested);
    QSignalSpy current(&chat, &ChatController::currentChanged);
    emit notifier.findChild<QSystemTrayIcon *>()->messageClicked();
    QCOMPARE(opened.count(), 0);
    QCOMPARE(current.count(), 0);
    QCOMPARE(chat.currentPeer(), QString());
}

void NotifierTest::clickOpensTheNewestNotice_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("opensNotifications");
    const QString peerA = velmor::identity::Identity::generate().publicKeyText();
    const QString peerB = velmor::identity::Identity::generate().publicKeyText();
    QTest::newRow("two peers: the second opens") << peerA << peerB << false;
    QTest::newRow("peer then event: notifications open") << peerA << "event:normal:g1:key" << true;
    QTest::newRow("event then peer: the peer opens") << "event:normal:g1:key" << peerB << false;
}

void NotifierTest::clickOpensTheNewestNotice()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, opensNotifications);
    ChatController chat;
    DesktopNotifier notifier(&chat);
    QSignalSpy opened(&chat, &ChatController::openNotificationsRequested);
    emit chat.systemNotificationRequested(first, QStringLiteral("One"), QStringLiteral("收到新消息"));
    emit chat.systemNotificationRequested(second, QStringLiteral("Two"), QStringLiteral("收到新消息"));
    emit notifier.findChild<QSystemTrayIcon *>()->messageClicked();
    QCOMPARE(opened.count(), opensNotifications ? 1 : 0);
    QCOMPARE(chat.currentPeer(), opensNotifications ? QString() : second);
}

void NotifierTest::trayPicture()
{
    const QImage image = DesktopNotifier::trayPixmap().toImage();
    QCOMPARE(image.size(), QSize(64, 64));
    // Outside the rounded square: transparent, also in the rounded corners.
    for (const QPoint p : {QPoint(0, 0), QPoint(2, 32), QPoint(63, 63), QPoint(5, 5), QPoint(58, 58)})
        QCOMPARE(qAlpha(image.pixel(p)), 0);
    const QColor blue(0x3d, 0x84, 0xcc);
    for (const QPoint p : {QPoint(32, 10), QPoint(10, 32), QPoint(50, 50), QPoint(42, 32)})
        QCOMPARE(image.pixelColor(p), blue);
    // The three lines, white at their middles.
    for (const QPoint p : {QPoint(32, 23), QPoint(29, 32), QPoint(26, 41)})
        QCOMPARE(image.pixelColor(p), QColor(Qt::white));
}

void NotifierTest::noticesInTheInterfaceLanguage_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("known");
    QTest::newRow("new message") << QStringLiteral("收到新消息") << true;
    QTest::newRow("join request") << QStringLiteral("收到新的入群申请") << true;
    QTest::newRow("membership changed") << QStringLiteral("您的群组成员状态已更新") << true;
    QTest::newRow("voice room open") << QStringLiteral("语音聊天室已开启") << true;
    QTest::newRow("a name, as it came") << QStringLiteral("<b>Alice</b>") << false;
}

void NotifierTest::noticesInTheInterfaceLanguage()
{
    QFETCH(QString, body);
    QFETCH(bool, known);
    const QStringList languages = {QStringLiteral("en"), QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"),
                                   QStringLiteral("ja-JP"), QStringLiteral("de"), QStringLiteral("es"),
                                   QStringLiteral("fr"), QStringLiteral("pt-PT")};
    QSet<QString> shown;
    for (const QString &language : languages) {
        const QString text = DesktopNotifier::shownBody(body, language);
        QVERIFY(!text.isEmpty());
        if (language == QLatin1String("zh-Hans") || !known)
            QCOMPARE(text, body);
        shown.insert(text);
    }
    QCOMPARE(shown.size(), known ? languages.size() : 1);
    QCOMPARE(DesktopNotifier::shownBody(body, QStringLiteral("xx")), body);

    // The balloon follows the language the views saved.
    QSettings settings;
    for (const QString &language : {QStringLiteral("de"), QStringLiteral("zh-Hans")}) {
        settings.setValue(QStringLiteral("ui/language"), language);
        QCOMPARE(DesktopNotifier::interfaceLanguage(), language);
    }
    settings.remove(QStringLiteral("ui/language"));
}

QTEST_MAIN(NotifierTest)
#include "tst_notifier.moc"
