// What the outbox's test programs share: Alice's client against the local
// relay, her conversations of each kind (one-to-one, a group, a super
// group on a server of its own), and how often a message reached the peer.
#pragma once

#include "chat_fixture.h"
#include "store/failing_vfs.h"

#include "chat/outbox.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"

#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

namespace outboxtest {

using namespace chattest;
using namespace velmor::chat;

// A picture that JPEG cannot make small: every pixel random.
inline QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    return image;
}

// The failures the outbox reported: other parts of the session (super
// groups against a closed centre) may report failures of their own meanwhile.
inline QStringList sendErrors(const QSignalSpy &failed)
{
    static const QStringList words{"all_muted", "invalid_image", "image_too_large", "voice_read_failed",
                                   "empty_voice", "recipientNeverOnline", "store_write_failed"};
    QStringList out;
    for (const QList<QVariant> &args : failed) {
        const QString detail = args.first().toMap().value("detail").toString();
        if (words.contains(detail) || detail.startsWith(QLatin1String("send_")))
            out << detail;
    }
    return out;
}

class OutboxCase : protected ChatFixture
{
protected:
    Outbox &outbox() { return m_chat->messaging().outbox; }

    // Alice's client, started, with a conversation open.
    void startAlice(const User &peer)
    {
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QVERIFY(m_chat->newChat(peer.key()));
        QTRY_VERIFY(!m_chat->messagesLoading());
    }

    // Waits for `count` sends to finish; their (id, status) in order.
    static QList<QPair<QString, int>> finished(QSignalSpy &spy, int count)
    {
        while (spy.count() < count && spy.wait(5000)) {
        }
        QList<QPair<QString, int>> out;
        for (const QList<QVariant> &args : spy)
            out.append({args.at(0).toString(), args.at(1).toInt()});
        return out;
    }

    // A group server where Alice is a member, in her store; its peer.
    QString aliceInASuperGroup(velmor::fakes::FakeGroupServer *&server)
    {
        m_servers.push_back(std::make_unique<velmor::fakes::FakeGroupServer>(m_bob.key()));
        server = m_servers.back().get();
        if (server->start() == 0)
            return {};
        server->addMember(m_alice.key(), QStringLiteral("member"), QStringLiteral("Alice"));
        SuperGroupRecord group = superGroup(server->baseUrl(), QStringLiteral("Harbour"));
        group.role = QStringLiteral("member");
        group.server_enc_public_key = server->serverPublicKey();
        return ChatStore::instance().upsertSuperGroup(group) ? QStringLiteral("sg:") + server->baseUrl() : QString();
    }
    // Alice's conversation of `kind`, signed in: "direct" with Bob, a
    // "group" with Bob, or a "super group" (whose server is `server`); its
    // peer, and the path its sends are posted to.
    QString peerOfKind(const QString &kind, velmor::fakes::FakeGroupServer *&server, QString &send)
    {
        send = kind == "group" ? QStringLiteral("/v1/group/fanout") : QStringLiteral("/v1/message/send");
        if (kind == "super group")
            return aliceInASuperGroup(server);
        if (kind != "group")
            return m_bob.key();
        const GroupCreateResult created = createGroup(GroupRegistry::instance(), QStringLiteral("Hikers"), {m_bob.key()});
        return created.ok ? QStringLiteral("group:") + created.groupId : QString();
    }
    // How often the group server stored a message under `id`.
    static int storedUnder(const velmor::fakes::FakeGroupServer &server, const QString &id)
    {
        const QList<velmor::fakes::FakeStoredMessage> stored = server.messages();
        return int(std::count_if(stored.cbegin(), stored.cend(),
                                 [&](const velmor::fakes::FakeStoredMessage &m) { return m.messageId == id; }));
    }
    // How often message `id` reached Bob (every member of a group gets it
    // through his queue) or the super group's `server`.
    int deliveredOnce(const velmor::fakes::FakeGroupServer *server, const QString &id) const
    {
        return server ? storedUnder(*server, id) : int(m_relay.queuedIds(m_bob.key()).count(id));
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // The test programs' initTestCase(), init() and cleanup().
    void startCases()
    {
        storetest::FailingWrites::install();
        QVERIFY(startRelay());
    }
    void startCase()
    {
        newUsers(0x61);
        // Carol is never online unless a case says so: someone new each case.
        m_carol = makeUser(m_carol.name, char(0x63 + m_sessions));
        // Bob has been online once.
        velmor::net::RelayAuthSession::instance().configure(m_relay.baseUrl(), m_bob.identity);
        QVERIFY(velmor::net::RelayAuthSession::instance().hasToken());
    }
    void endCase()
    {
        storetest::FailingWrites::setFull(false);
        m_relay.http().releaseHeld();
        endClient();
    }
};

} // namespace outboxtest
