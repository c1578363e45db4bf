// Internal to the group engine (not part of the library's interface): the
// group message forms of docs/protocol.md and the fan-out that carries them,
// shared by the owner's operations and the inbound side.
#pragma once

#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/identity.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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
// What a card message seals: {"card", "signature"}, the card's "stamp"
// when it has one and, in the owner's answer to a card request, "answers"
// with the request's nonce.
QByteArray cardBoxContent(const GroupCard &card, const QString &answers);
// A member's request for the owner's current card.
QString cardRequestText(const QString &groupId, qint64 claimedEpoch, const QString &nonce);
// `answers`: the nonce of the card request this card answers, sealed with it.
QString cardMessageFor(const Me &me, const GroupCard &card, const QString &recipient,
                       const QString &answers = QString());
// The owner's stamp of `card` as a message carries it: {"digest", "signature"};
// empty when the card has none.
QJsonObject messageStamp(const GroupCard &card);
QString sealedMessage(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch,
                      const QByteArray &groupKey, const QJsonObject &inner, const QJsonObject &stamp = {});
// The group key of one key epoch, opened from the user's own box (once:
// the registry keeps it); empty when there is none or it does not open.
QByteArray openGroupKey(const GroupRegistry &registry, const QString &groupId, qint64 keyEpoch, const Me &me);

// The fan-out's body ("group_id", "message_id" and an envelope for each
// recipient, all under `messageId`, a new id when empty); empty on failure.
QJsonObject fanOutBody(const Me &me, const QString &groupId, const QStringList &recipients,
                       const std::function<QString(const QString &)> &ciphertextFor, const QString &messageId,
                       QString *error);
// Posts fanOutBody()'s body (postGroupFanOut); *error set when it fails.
bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients,
            const std::function<QString(const QString &)> &ciphertextFor, QString *error);
bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients, const QString &ciphertext,
            QString *error);
// The card, sealed to each recipient on its own.
bool sendCard(const Me &me, const GroupCard &card, const QStringList &recipients, QString *error,
              const QString &answers = QString());
// The sending that reading a message calls for, made later off the window's
// thread (GroupFollowUp). Asks the owner for its current card with `nonce`.
GroupFollowUp requestCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card, qint64 claimedEpoch,
                               const QString &nonce);
// Sends the held card to a current member seen writing under an older one;
// nothing when the registry's rate limit says no.
std::optional<GroupFollowUp> resendCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card,
                                             const QString &member);
// The owner's answer to a member's card request, carrying its nonce.
GroupFollowUp answerCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card, const QString &member,
                              const QString &nonce);
qint64 deletedAtEpoch(const QString &groupId);

} // namespace velmor::chat::wire
