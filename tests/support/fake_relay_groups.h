// The relay's normal-group and discovery side for tests: group fan-out into
// the relay's queues, the signed group registry, join-key and address
// resolution. Attach it to a FakeRelay before the relay starts; it adds its
// routes to the relay's server. Faults go through FakeRelay::setFault with
// the route's path ("/v1/group/fanout", "/v1/group/registry/register",
// "/v1/group/registry/visibility", "/v1/user/resolve-address",
// "/v1/group/join/resolve").
#pragma once

#include "support/fake_relay.h"

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace velmor::fakes {

class FakeRelayGroups
{
public:
    explicit FakeRelayGroups(FakeRelay &relay);

    // A user that "/v1/user/resolve-address" knows, keyed by the address of the key.
    void addUser(const QString &publicKeyText, const QString &avatarKind = QString(),
                 const QString &avatarId = QString());
    // "/v1/user/resolve-address" also knows everybody who has signed in to
    // the relay (off by default: tests list their users with addUser).
    void setKnowsSignedInUsers(bool knows);
    // Answers this key for the address, whatever it hashes to (lying relay).
    void setAddressAnswer(const QString &address, const QString &publicKeyText);
    // Stores a registry entry as given, bypassing every check (forged records).
    void putRecord(const QString &joinKey, const QString &recordText, const QString &signature);

    int fanoutCount() const;
    int fanoutCountFrom(const QString &senderKey) const; // by the token's owner, canonical key
    QJsonObject lastFanout() const;
    QStringList lastFanoutRecipients() const;    // canonical keys
    bool hasRecord(const QString &joinKey) const;
    QString recordText(const QString &joinKey) const;
    QString recordSignature(const QString &joinKey) const;
    QString visibility(const QString &joinKey) const;

private:
    struct Record
    {
        QString groupId;
        QString text;
        QString signature;
        QString visibility;
        qint64 epoch = 0;
        qint64 updatedAt = 0;
    };
    struct User
    {
        QString publicKey;
        QString avatarKind;
        QString avatarId;
    };
    FakeReply handleFanout(const QHttpServerRequest &request);
    FakeReply handleRegister(const QHttpServerRequest &request, bool visibilityOnly);
    FakeReply handleResolveJoin(const QHttpServerRequest &request);
    FakeReply handleResolveAddress(const QHttpServerRequest &request);

    FakeRelay &m_relay;
    mutable QMutex m_mutex;
    QHash<QString, Record> m_records; // join key -> record
    QHash<QString, User> m_users;     // lower-case address -> user
    bool m_knowsSignedInUsers = false;
    int m_fanouts = 0;
    QHash<QString, int> m_fanoutsBy;
    QJsonObject m_lastFanout;
    QStringList m_lastRecipients;
};

} // namespace velmor::fakes
