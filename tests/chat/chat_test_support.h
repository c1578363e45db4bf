// What the chat tests stand on: users with fixed identities and a store file
// each in a temporary folder, a sign-in that opens the store for a user and
// configures the relay session as the application's login does, and record
// builders for stored rows.
#pragma once

#include "chat/chat_controller.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "store/chat_store.h"
#include "store/store_test_util.h"

#include <QDir>
#include <QSignalSpy>
#include <QStringList>
#include <QThreadPool>
#include <QTemporaryDir>

#include <memory>

namespace chattest {

struct User
{
    QString name;
    velmor::identity::Identity identity;
    QString dbPath;

    QString key() const { return identity.publicKeyText(); }
    QString address() const { return identity.erc20Address(); }
};

inline velmor::identity::Identity identityFromByte(char byte)
{
    return velmor::identity::Identity(QByteArray(32, byte));
}

// A peer's key text (uncompressed, base64url) from a fixed secret byte.
inline QString peerKey(char byte)
{
    return identityFromByte(byte).publicKeyText();
}

// The same key in its 33-byte compressed form.
inline QString compressedKey(const QString &keyText)
{
    return velmor::crypto::base64UrlEncode(
        velmor::crypto::normalisePublicKey(velmor::crypto::base64UrlDecode(keyText), true));
}

// The public key behind the author account's fixed address.
inline QString authorKey()
{
    return velmor::identity::Identity(velmor::crypto::sha256("pelorin author account")).publicKeyText();
}

class ChatFixture
{
protected:
    QTemporaryDir m_dir;
    int m_sessions = 0;

    User makeUser(const QString &name, char secretByte)
    {
        User user;
        user.name = name;
        user.identity = identityFromByte(secretByte);
        user.dbPath = QDir(m_dir.path()).filePath(name + QStringLiteral(".db"));
        return user;
    }

    // As the application's login does: relay session, then the store. The
    // group centre is a closed loopback port unless a test starts one, so
    // the session's centre socket fails at once instead of resolving the
    // build's default host.
    static bool signIn(const User &user, const QString &relayUrl = QStringLiteral("http://127.0.0.1:9"),
                       const QString &centreUrl = QStringLiteral("http://127.0.0.1:9"))
    {
        velmor::sg::SuperGroupCenter::setBaseUrl(centreUrl);
        velmor::net::RelayAuthSession::instance().configure(relayUrl, user.identity);
        return ChatStore::instance().open(user.key(), user.dbPath);
    }

    static void signOut()
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
    }

    // The usual test: a fresh user (own store file per test) signed in, and
    // a controller. Ended by endSession().
    User m_me;
    std::unique_ptr<ChatController> m_chat;

    void beginSession(const QString &name, char secretByte)
    {
        QVERIFY(m_dir.isValid());
        m_me = makeUser(name + QStringLiteral("-") + QString::number(++m_sessions), secretByte);
        QVERIFY(signIn(m_me));
        m_chat = makeController();
    }
    void endSession()
    {
        m_chat.reset();
        // The jobs the session started end inside the test that started
        // them: a warning one logs from its thread while the test runner
        // moves on to the next test can crash the runner.
        QThreadPool::globalInstance()->waitForDone();
        signOut();
    }

    // A controller that ignores the machine's network reachability, so no
    // recovery runs behind a test's back.
    static std::unique_ptr<ChatController> makeController()
    {
        auto controller = std::make_unique<ChatController>();
        controller->watchReachability(false);
        return controller;
    }
};

// Messages are built as the store tests build them.
using storetest::message;

// A stored super group of the given kind ("premium" or "premium_plus").
inline velmor::chat::SuperGroupRecord superGroup(const QString &url, const QString &name, qint64 updatedAt = 0,
                                                 const QString &kind = QStringLiteral("premium"))
{
    velmor::chat::SuperGroupRecord g;
    g.server_id = QStringLiteral("srv-") + url;
    g.server_url = url;
    g.group_id = QStringLiteral("gid-") + url;
    g.name = name;
    g.group_kind = kind;
    g.updated_at = updatedAt;
    return g;
}

// Appends the name of every controller signal, as it is emitted, to `log`.
inline void recordSignals(ChatController &c, QStringList &log)
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

} // namespace chattest
