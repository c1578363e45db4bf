#include "chat_fixture.h"

#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/qr.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "net/supergroup_client.h"
#include "net/supergroup_realtime.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QPainter>
#include <QThreadPool>
#include <QUuid>
#include <QtTest>

using namespace velmor::chat;

namespace chattest {

velmor::identity::Identity identityFromByte(char byte)
{
    return velmor::identity::Identity(QByteArray(32, byte));
}

QString peerKey(char byte)
{
    return identityFromByte(byte).publicKeyText();
}

QString compressedKey(const QString &keyText)
{
    return velmor::crypto::base64UrlEncode(
        velmor::crypto::normalisePublicKey(velmor::crypto::base64UrlDecode(keyText), true));
}

QString authorKey()
{
    return velmor::identity::Identity(velmor::crypto::sha256("pelorin author account")).publicKeyText();
}

SuperGroupRecord superGroup(const QString &url, const QString &name, qint64 updatedAt, const QString &kind)
{
    SuperGroupRecord g;
    g.server_id = QStringLiteral("srv-") + url;
    g.server_url = url;
    g.group_id = QStringLiteral("gid-") + url;
    g.name = name;
    g.group_kind = kind;
    g.updated_at = updatedAt;
    return g;
}

void recordSignals(ChatController &c, QStringList &log)
{
    auto note = [&log](const char *name) { return [&log, name] { log.append(QString::fromLatin1(name)); }; };
    QObject::connect(&c, &ChatController::conversationsChanged, &c, note("conversationsChanged"));
    QObject::connect(&c, &ChatController::messagesChanged, &c, note("messagesChanged"));
    QObject::connect(&c, &ChatController::currentChanged, &c, note("currentChanged"));
    QObject::connect(&c, &ChatController::contactsChanged, &c, note("contactsChanged"));
    QObject::connect(&c, &ChatController::notificationsChanged, &c, note("notificationsChanged"));
    QObject::connect(&c, &ChatController::friendInfoChanged, &c, note("friendInfoChanged"));
    QObject::connect(&c, &ChatController::discoveryChanged, &c, note("discoveryChanged"));
    QObject::connect(&c, &ChatController::lifecycleRestored, &c, note("lifecycleRestored"));
    QObject::connect(&c, &ChatController::lastErrorChanged, &c, note("lastErrorChanged"));
    QObject::connect(&c, &ChatController::operationFailed, &c, note("operationFailed"));
    QObject::connect(&c, &ChatController::errorOccurred, &c, note("errorOccurred"));
}

QStringList peersOf(const QVariantList &rows)
{
    QStringList peers;
    for (const QVariant &row : rows)
        peers << row.toMap().value(QStringLiteral("peer")).toString();
    return peers;
}

QVariantMap rowOf(const QVariantList &rows, const QString &peer)
{
    for (const QVariant &row : rows) {
        if (row.toMap().value(QStringLiteral("peer")).toString() == peer)
            return row.toMap();
    }
    return {};
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

MessageContent textContent(const QString &text)
{
    MessageContent content;
    content.type = QStringLiteral("text");
    content.text = text;
    return content;
}

QJsonObject textJson(const QString &text)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}};
}

QJsonObject envelopeJson(const User &sender, const User &recipient, const MessageContent &content, const QString &id,
                         qint64 createdAt)
{
    const QString box =
        velmor::identity::sealDirectMessage(sender.identity, recipient.key(), serializeMessageContent(content));
    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        sender.identity, recipient.key(), box, id, createdAt ? createdAt : QDateTime::currentSecsSinceEpoch());
    return RelayApi::envelopeToJson(envelope);
}

QByteArray pngBytes(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage qrPicture(const QByteArray &text, int moduleSize)
{
    const velmor::identity::QrCode code = makeQrCode(text);
    const int side = (code.size + 8) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code.size; ++y)
        for (int x = 0; x < code.size; ++x)
            if (code.isDark(x, y))
                painter.fillRect((x + 4) * moduleSize, (y + 4) * moduleSize, moduleSize, moduleSize, Qt::black);
    return image;
}

User ChatFixture::makeUser(const QString &name, char secretByte)
{
    User user;
    user.name = name;
    user.identity = identityFromByte(secretByte);
    user.dbPath = QDir(m_dir.path()).filePath(name + QStringLiteral(".db"));
    return user;
}

void ChatFixture::newUsers(char firstSecret)
{
    const QString round = QStringLiteral("-") + QString::number(++m_sessions);
    m_alice = makeUser(QStringLiteral("alice") + round, firstSecret);
    m_bob = makeUser(QStringLiteral("bob") + round, char(firstSecret + 1));
    m_carol = makeUser(QStringLiteral("carol") + round, char(firstSecret + 2));
    m_dave = makeUser(QStringLiteral("dave") + round, char(firstSecret + 3));
}

bool ChatFixture::signIn(const User &user, const QString &relayUrl, const QString &centreUrl)
{
    velmor::sg::SuperGroupCenter::setBaseUrl(centreUrl);
    velmor::net::RelayAuthSession::instance().configure(relayUrl, user.identity);
    return ChatStore::instance().open(user.key(), user.dbPath);
}

void ChatFixture::signOut()
{
    ChatStore::instance().close();
    velmor::net::RelayAuthSession::instance().clear();
}

std::unique_ptr<ChatController> ChatFixture::makeController()
{
    auto controller = std::make_unique<ChatController>();
    controller->watchReachability(false);
    return controller;
}

void ChatFixture::beginSession(const QString &name, char secretByte)
{
    QVERIFY(m_dir.isValid());
    m_me = makeUser(name + QStringLiteral("-") + QString::number(++m_sessions), secretByte);
    QVERIFY(signIn(m_me));
    m_chat = makeController();
}

void ChatFixture::endSession()
{
    m_chat.reset();
    // The jobs the session started end inside the test that started them: a
    // warning one logs from its thread while the test runner moves on to
    // the next test can crash the runner.
    QThreadPool::globalInstance()->waitForDone();
    signOut();
}

void ChatFixture::startListed(ChatController &chat)
{
    QSignalSpy listed(&chat, &ChatController::conversationsChanged);
    chat.start();
    QTRY_VERIFY(!listed.isEmpty());
}

void ChatFixture::waitIdle()
{
    QTRY_COMPARE_WITH_TIMEOUT(m_chat->pendingJobs(), 0, 15000);
}

void ChatFixture::openAndShow(const QString &peer)
{
    m_chat->openConversation(peer);
    QTRY_VERIFY_WITH_TIMEOUT(!m_chat->messagesLoading(), 15000);
}

void ChatFixture::endClient(const User *drain)
{
    m_relay.clearFaults();
    if (m_chat) {
        m_chat->stop();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
    }
    m_chat.reset();
    // Leaves nothing queued for the next case.
    if (drain)
        RelayApi::ack(m_relay.queuedIds(drain->key()));
    signOut();
}

bool ChatFixture::startRelay()
{
    if (!m_dir.isValid())
        return false;
    m_groups = std::make_unique<velmor::fakes::FakeRelayGroups>(m_relay);
    return m_relay.start() != 0;
}

bool ChatFixture::startRelayWithUsers(char firstSecret)
{
    if (!startRelay())
        return false;
    newUsers(firstSecret);
    for (const User *user : {&m_alice, &m_bob, &m_carol, &m_dave})
        m_relay.markSeen(user->key());
    return true;
}

void ChatFixture::stopRelay()
{
    m_chat.reset();
    // The session's jobs (a sign-in to a server that is not there) end here,
    // while the application still exists: an HTTP wait left to the exit of
    // the program has no event loop to run in and hangs it.
    QThreadPool::globalInstance()->waitForDone();
    signOut();
    m_relay.stop();
}

void ChatFixture::as(const User &user)
{
    m_chat.reset();
    signOut();
    QVERIFY(signInHere(user));
    m_chat = makeController();
    m_chat->start();
    waitIdle();
}

QString ChatFixture::queueText(const User &sender, const User &recipient, const QString &text, QString id)
{
    if (id.isEmpty())
        id = newId();
    m_relay.enqueueRaw(recipient.key(), envelopeJson(sender, recipient, textContent(text), id));
    return id;
}

namespace {

// Waits for the pull that runs (if any) and its acknowledgement.
PullOutcome settlePull(QSignalSpy &processed, QSignalSpy &settled)
{
    if (processed.isEmpty() && !processed.wait(5000))
        return {};
    const PullOutcome out{processed.first().at(0).toInt(), processed.first().at(1).toInt()};
    if (out.acknowledged > 0 && settled.isEmpty())
        settled.wait(5000);
    return out;
}

} // namespace

PullOutcome ChatFixture::pullAndSettle(ChatController &chat)
{
    MessagingParts &parts = chat.messaging();
    if (chat.syncing()) {
        QSignalSpy processed(&parts.inbox, &Inbox::pullProcessed);
        QSignalSpy settled(&parts.acks, &AckQueue::settled);
        settlePull(processed, settled);
    }
    QSignalSpy processed(&parts.inbox, &Inbox::pullProcessed);
    QSignalSpy settled(&parts.acks, &AckQueue::settled);
    parts.inbox.pullOnce();
    const PullOutcome out = settlePull(processed, settled);
    // The conversation list is read again on a worker after a pull that
    // stored something: shown once the controller's jobs are done.
    QTest::qWaitFor([&chat] { return chat.pendingJobs() == 0; }, 5000);
    return out;
}

void ChatFixture::startQuiet(ChatController &chat)
{
    QSignalSpy listed(&chat, &ChatController::conversationsChanged);
    chat.start();
    chat.messaging().push.shutDown();
    if (chat.syncing()) {
        QSignalSpy processed(&chat.messaging().inbox, &Inbox::pullProcessed);
        QSignalSpy settled(&chat.messaging().acks, &AckQueue::settled);
        settlePull(processed, settled);
    }
    // The list read in the background at start is shown too: a pull that
    // stores nothing new does not read it again.
    QTRY_VERIFY(!listed.isEmpty());
}

QStringList ChatFixture::receiveGroupTraffic()
{
    QStringList texts, ack;
    QList<GroupFollowUp> followUps;
    for (const RawEnvelope &envelope : RelayApi::pull()) {
        if (!envelope.valid)
            continue;
        const GroupInboundResult result =
            handleGroupMessage(GroupRegistry::instance(), envelope.ciphertext, envelope.senderPubkey);
        followUps += result.followUps;
        if (result.discard)
            ack.append(envelope.messageId);
        if (!result.error.isEmpty())
            continue;
        ack.append(envelope.messageId);
        if (result.hasMessage && result.contentType == QLatin1String("text"))
            texts.append(result.text);
    }
    if (!ack.isEmpty())
        RelayApi::ack(ack);
    runFollowUps(followUps);
    return texts;
}

QStringList ChatFixture::groupTexts(const QString &groupId)
{
    QStringList texts = receiveGroupTraffic();
    for (const MessageRecord &m : ChatStore::instance().messages(QStringLiteral("group:") + groupId))
        texts.append(m.text);
    return texts;
}

void ChatFixture::beginGroups(char secretByte)
{
    beginSession(QStringLiteral("sg"), secretByte);
    velmor::sg::SuperGroupServiceClient::instance().clearTokens();
    m_center = std::make_unique<velmor::fakes::FakeGroupCenter>();
    QVERIFY(m_center->start());
    velmor::sg::SuperGroupCenter::setBaseUrl(m_center->baseUrl());
}

void ChatFixture::endGroups()
{
    if (m_chat) {
        m_chat->disconnect();
        m_chat->stop();
        waitIdle();
    }
    endSession();
    m_servers.clear();
    m_center.reset();
    velmor::sg::SuperGroupCenter::setBaseUrl(QString());
}

velmor::fakes::FakeGroupServer &ChatFixture::addServer(const QString &role, const QString &name,
                                                       const QString &deployStatus, const QString &type)
{
    const QString owner = role == QLatin1String("owner") ? m_me.key() : peerKey(0x61);
    m_servers.push_back(std::make_unique<velmor::fakes::FakeGroupServer>(owner, name));
    velmor::fakes::FakeGroupServer &server = *m_servers.back();
    server.start();
    if (!role.isEmpty() && role != QLatin1String("owner"))
        server.addMember(m_me.key(), role, QStringLiteral("Me"));
    m_center->addServer(&server, type, deployStatus,
                        deployStatus == QLatin1String("ready") ? QString() : QStringLiteral("部署中"));
    return server;
}

QList<MessageRecord> ChatFixture::storedOf(const velmor::fakes::FakeGroupServer &server)
{
    return ChatStore::instance().messages(QStringLiteral("sg:") + server.baseUrl());
}

void ChatFixture::startAndConnect()
{
    m_chat->start();
    QTRY_COMPARE_WITH_TIMEOUT(parts().roster.refreshesPending(), 0, 15000);
    for (const QString &url : parts().roster.clientUrls()) {
        velmor::sg::SuperGroupRealtimeClient *client = parts().roster.client(url);
        QTRY_VERIFY_WITH_TIMEOUT(client->isConnected(), 15000);
    }
    waitIdle();
}

} // namespace chattest
