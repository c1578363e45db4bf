// What every chat test stands on: users with fixed identities and a store
// file each in a temporary folder; a sign-in that opens the store and
// configures the relay session as the application's login does; a
// controller for the signed-in user; and, for the tests that need them, the
// local relay (with its group directory), a local group centre and group
// servers, envelopes built and signed as another user's client would, and
// waits for a controller's pull and jobs to settle.
#pragma once

#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "chat/supergroup_parts.h"
#include "identity/content.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "store/store_test_util.h"
#include "support/fake_group_center.h"
#include "support/fake_group_server.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QImage>
#include <QJsonObject>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QThreadPool>

#include <memory>
#include <vector>

namespace chattest {

// Holds every thread of the shared pool until released: a machine so busy
// that no job of the session gets a turn.
class BusyPool
{
public:
    void occupy()
    {
        QThreadPool *pool = QThreadPool::globalInstance();
        m_threads += pool->maxThreadCount();
        for (int i = 0; i < pool->maxThreadCount(); ++i)
            pool->start([gate = m_gate] { gate->acquire(); });
    }
    void release() { m_gate->release(std::exchange(m_threads, 0)); }
    // One more job that holds its thread, queued behind those queued now.
    void queueOne()
    {
        ++m_threads;
        QThreadPool::globalInstance()->start([gate = m_gate] { gate->acquire(); });
    }
    // One held thread goes on to the jobs queued meanwhile.
    void releaseOne()
    {
        if (m_threads > 0) {
            --m_threads;
            m_gate->release();
        }
    }
    ~BusyPool() { release(); }

private:
    // Shared with the held jobs: one let go may still be leaving it.
    std::shared_ptr<QSemaphore> m_gate = std::make_shared<QSemaphore>();
    int m_threads = 0;
};

struct User
{
    QString name;
    velmor::identity::Identity identity;
    QString dbPath;

    QString key() const { return identity.publicKeyText(); }
    QString address() const { return identity.erc20Address(); }
};

velmor::identity::Identity identityFromByte(char byte);
// A peer's key text (uncompressed, base64url) from a fixed secret byte.
QString peerKey(char byte);
// The same key in its 33-byte compressed form.
QString compressedKey(const QString &keyText);
// The public key behind the author account's fixed address.
QString authorKey();

// Messages are built as the store tests build them.
using storetest::message;

// A stored super group of the given kind ("premium" or "premium_plus").
velmor::chat::SuperGroupRecord superGroup(const QString &url, const QString &name, qint64 updatedAt = 0,
                                          const QString &kind = QStringLiteral("premium"));

// Appends the name of every controller signal, as it is emitted, to `log`.
void recordSignals(ChatController &c, QStringList &log);

// The "peer" of each conversation row.
QStringList peersOf(const QVariantList &rows);
// The row of `peer` among conversation rows; empty when it is not there.
QVariantMap rowOf(const QVariantList &rows, const QString &peer);

// A fresh message id, as a client makes one.
QString newId();
velmor::chat::MessageContent textContent(const QString &text);
// A super-group message's text content.
QJsonObject textJson(const QString &text);

// The wire form of an envelope from `sender` to `recipient`, sealed and
// signed as the sender's client does (at `createdAt`, 0: now).
QJsonObject envelopeJson(const User &sender, const User &recipient, const velmor::chat::MessageContent &content,
                         const QString &id, qint64 createdAt = 0);
// A PNG of one colour.
QByteArray pngBytes(int width, int height, QColor colour = Qt::blue);

// The QR code of `text` drawn as the app draws it: black modules on white,
// a quiet zone of four modules.
QImage qrPicture(const QByteArray &text, int moduleSize);

// What one pull of a controller brought.
struct PullOutcome
{
    int envelopes = -1; // -1: no pull came back
    int acknowledged = 0;
};

class ChatFixture
{
protected:
    QTemporaryDir m_dir;
    int m_sessions = 0;

    velmor::fakes::FakeRelay m_relay; // started by startRelay()
    std::unique_ptr<velmor::fakes::FakeRelayGroups> m_groups;
    std::unique_ptr<velmor::fakes::FakeGroupCenter> m_center;
    std::vector<std::unique_ptr<velmor::fakes::FakeGroupServer>> m_servers;

    User m_me; // beginSession()'s user
    User m_alice, m_bob, m_carol, m_dave;
    std::unique_ptr<ChatController> m_chat;

    User makeUser(const QString &name, char secretByte);
    // Alice, Bob, Carol and Dave with the secret bytes first, first + 1, …
    // and store files of their own, new at each call.
    void newUsers(char firstSecret);

    // As the application's login does: relay session, then the store. The
    // group centre is a closed loopback port unless a test starts one, so
    // the session's centre socket fails at once instead of resolving the
    // build's default host.
    static bool signIn(const User &user, const QString &relayUrl = QStringLiteral("http://127.0.0.1:9"),
                       const QString &centreUrl = QStringLiteral("http://127.0.0.1:9"));
    static void signOut();
    // Signed in against the local relay.
    bool signInHere(const User &user) { return signIn(user, m_relay.baseUrl()); }

    // A controller that ignores the machine's network reachability, so no
    // recovery runs behind a test's back.
    static std::unique_ptr<ChatController> makeController();

    // The usual test: a fresh user (own store file per test) signed in, and
    // a controller. Ended by endSession().
    void beginSession(const QString &name, char secretByte);
    void endSession();

    // Until every background job of the controller has come back.
    void waitIdle();
    // Opens the peer's conversation and waits until its newest page, which
    // is read on a worker, is shown.
    void openAndShow(const QString &peer);
    // The controller stopped, its jobs back, and gone; faults cleared and
    // whatever `drain` still has queued acknowledged; signed out.
    void endClient(const User *drain = nullptr);

    // The relay with its group directory; false when it does not start.
    bool startRelay();
    // startRelay() and newUsers(), every user seen by the relay.
    bool startRelayWithUsers(char firstSecret);
    void stopRelay();

    // Signs `user` in with a fresh, started controller; the first pull (and
    // what it brought) is in.
    void as(const User &user);

    // Queues a text from `sender` for `recipient`; returns its id.
    QString queueText(const User &sender, const User &recipient, const QString &text, QString id = QString());

    // One pull of the controller, processed and its acknowledgement settled.
    static PullOutcome pullAndSettle(ChatController &chat);
    // start() without the push sockets, its first pull settled and its
    // conversation list shown.
    static void startQuiet(ChatController &chat);
    // start(), and the conversation list it reads in the background shown.
    static void startListed(ChatController &chat);

    // What is left in the inbox after the controller's own pull, handed to
    // the group engine and acknowledged as the inbox does; the texts of the
    // group messages read.
    static QStringList receiveGroupTraffic();
    // The texts of a group's stored messages and of those still in the inbox.
    static QStringList groupTexts(const QString &groupId);

    // A session of a fresh user against a fresh group centre.
    void beginGroups(char secretByte = 0x51);
    void endGroups();
    // A running server listed by the centre; `role` is the user's there
    // ("owner" makes the user its owner, "" leaves the user out).
    velmor::fakes::FakeGroupServer &addServer(const QString &role, const QString &name = QStringLiteral("Harbour"),
                                              const QString &deployStatus = QStringLiteral("ready"),
                                              const QString &type = QStringLiteral("standard"));
    velmor::chat::SuperGroupParts &parts() { return m_chat->superGroupParts(); }
    // The stored messages of the server's group.
    static QList<velmor::chat::MessageRecord> storedOf(const velmor::fakes::FakeGroupServer &server);
    // Starts the session and waits until every listed ready group has its
    // realtime socket open.
    void startAndConnect();
};

} // namespace chattest
