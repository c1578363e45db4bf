// Internal to the group engine (not part of the library's interface): the
// group message forms of docs/protocol.md and the fan-out that carries them,
// shared by the owner's operations and the inbound side.
#pragma once

#include "groups/group_card.h"
#include "identity/identity.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmor::chat::wire {

inline const QString kProfileType = QStringLiteral("group_member_profile_update");
inline const QString kKindCard = QStringLiteral("card");
inline const QString kKindMessage = QStringLiteral("message");
inline const QString kKindProfile = QStringLiteral("profile");
inline const QString kKindCardRequest = QStringLiteral("card_request");

qint64 nowSeconds();

struct Me
{
    velmor::identity::Identity identity;
    QString key; // canonical key text
    bool valid() const { return identity.isValid() && !key.isEmpty(); }
};

// The user is whoever the relay session holds now: the same process may
// switch identities between calls.
Me currentUser();
QString shortAddressOf(const QString &key);

// "velmor_group_v1:" + base64url of the canonical outer object.
QString groupMessageText(const QJsonObject &outer);
// Associated data of a sealed message or profile (the card epoch included).
QByteArray boxContext(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch);
// Associated data of a card sealed from `sender` to `recipient`; empty when
// either is not a key.
QByteArray cardContext(const QString &groupId, const QString &sender, const QString &recipient);
QString cardMessageFor(const Me &me, const GroupCard &card, const QString &recipient);
QString sealedMessage(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch,
                      const QByteArray &groupKey, const QJsonObject &inner);
// The group key of one key epoch, opened from the user's own box; empty when
// there is none or it does not open.
QByteArray openGroupKey(const QMap<qint64, QString> &ring, qint64 keyEpoch, const Me &me);

bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients,
            const std::function<QString(const QString &)> &ciphertextFor, QString *messageId, QString *error);
bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients, const QString &ciphertext,
            QString *messageId, QString *error);
// The card, sealed to each recipient on its own.
bool sendCard(const Me &me, const GroupCard &card, const QStringList &recipients, QString *error);
void requestCard(GroupRegistry &registry, const Me &me, const GroupCard &card, qint64 claimedEpoch);
// Sends the held card to a current member seen writing under an older one
// (rate-limited by the registry).
void resendCard(GroupRegistry &registry, const Me &me, const GroupCard &card, const QString &member);
qint64 deletedAtEpoch(const QString &groupId);

} // namespace velmor::chat::wire
