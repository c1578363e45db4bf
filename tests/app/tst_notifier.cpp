// The desktop notifier with the real chat controller: notices beep and are
// kept without a tray (as under Xvfb), and a click opens the newest one.
#include "app/desktop_notifier.h"
#include "chat/chat_controller.h"
#include "identity/identity.h"

#include <QApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

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
    void noticesOutliveTheViews();
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
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("known");
    QTest::newRow("new message") << QStringLiteral("收到新消息") << true;
    QTest::newRow("join request") << QStringLiteral("收到新的入群申请") << true;
    QTest::newRow("membership changed") << QStringLiteral("您的群组成员状态已更新") << true;
    QTest::newRow("voice room open") << QStringLiteral("语音聊天室已开启") << true;
    // Titles: a super group's stand-in name, the official account's.
    QTest::newRow("premium group title") << QStringLiteral("Premium 群组") << true;
    QTest::newRow("official account title") << QStringLiteral("Pelorin官方地址账号") << true;
    QTest::newRow("a name, as it came") << QStringLiteral("<b>Alice</b>") << false;
}

// The balloon speaks the language the views show, from the views' own
// tables: a known text is the controller's own only in simplified Chinese.
void NotifierTest::noticesInTheInterfaceLanguage()
{
    QFETCH(QString, text);
    QFETCH(bool, known);
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlComponent component(&engine);
    component.setData("import QtQml\nimport Velmor\nQtObject { function use(l) { I18n.setLocale(l) } }\n",
                      QUrl(QStringLiteral("qrc:/notifier_locale.qml")));
    std::unique_ptr<QObject> views(component.create());
    QVERIFY2(views, qPrintable(component.errorString()));
    ChatController chat;
    DesktopNotifier notifier(&chat, &engine);
    const QStringList languages = {QStringLiteral("en"), QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"),
                                   QStringLiteral("ja-JP"), QStringLiteral("de"), QStringLiteral("es"),
                                   QStringLiteral("fr"), QStringLiteral("pt-PT")};
    for (const QString &language : languages) {
        QVERIFY(QMetaObject::invokeMethod(views.get(), "use", Q_ARG(QVariant, language)));
        const QString balloon = notifier.shown(text);
        QVERIFY(!balloon.isEmpty());
        if (language == QLatin1String("zh-Hans") || !known)
            QCOMPARE(balloon, text);
        else
            QVERIFY2(balloon != text, qPrintable(language));
    }
    // Without the views' engine a notice shows as it came.
    QCOMPARE(DesktopNotifier(&chat).shown(text), text);
}

// The engine going first leaves the notices as they came, not a crash.
void NotifierTest::noticesOutliveTheViews()
{
    ChatController chat;
    auto engine = std::make_unique<QQmlEngine>();
    engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    QSettings().setValue(QStringLiteral("ui/language"), QStringLiteral("de"));
    DesktopNotifier notifier(&chat, engine.get());
    // The language the views saved.
    QCOMPARE(notifier.shown(QStringLiteral("收到新消息")), QStringLiteral("Neue Nachricht"));
    engine.reset();
    QCOMPARE(notifier.shown(QStringLiteral("收到新消息")), QStringLiteral("收到新消息"));
    emit chat.systemNotificationRequested(QStringLiteral("peer-a"), QStringLiteral("Alice"),
                                          QStringLiteral("收到新消息"));
    QCOMPARE(notifier.lastPeer(), QStringLiteral("peer-a"));
}

QTEST_MAIN(NotifierTest)
#include "tst_notifier.moc"
