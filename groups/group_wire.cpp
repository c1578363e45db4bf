#include "groups/group_wire.h"

#include "groups/canonical_json.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QUuid>

namespace velmor::chat::wire {

using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

Me currentUser()
{
    Me me;
    me.identity = velmor::net::RelayAuthSession::instance().identity();
    if (me.identity.isValid())
        me.key = me.identity.publicKeyText();
    return me;
}

QString shortAddressOf(const QString &key)
{
    const QString address = velmor::identity::ethereumAddress(base64UrlDecode(key));
    if (address.size() < 14)
        return address;
    return address.left(6) + QStringLiteral("...") + address.right(6);
}

QString groupMessageText(const QJsonObject &outer)
{
    return QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(outer));
}

// The card epoch is inside the associated data, so a relay can neither
// hide that a sender holds a newer card nor invent one.
QByteArray boxContext(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch)
{
    return QByteArrayLiteral("velmor_group_v1|") + groupId.toUtf8() + '|' + kind.toUtf8() + '|'
        + QByteArray::number(keyEpoch) + '|' + QByteArray::number(epoch);
}

// A card is sealed to each member on its own, bound to the owner and that
// member: the relay sees no name, member or profile.
QByteArray cardContext(const QString &groupId, const QString &sender, const QString &recipient)
{
    const QByteArray direct = velmor::identity::directMessageContext(sender, recipient);
    if (direct.isEmpty())
        return QByteArray();
    return QByteArrayLiteral("velmor_group_v1|") + groupId.toUtf8() + QByteArrayLiteral("|card|") + direct;
}

QByteArray cardBoxContent(const GroupCard &card, const QString &answers)
{
    QJsonObject inner{
        {QStringLiteral("card"), QString::fromUtf8(card.cardJson)},
        {QStringLiteral("signature"), card.signature},
    };
    // The stamp rides with the card, so each holder can put it on its
    // messages under that card.
    if (!card.stamp.isEmpty())
        inner.insert(QStringLiteral("stamp"), card.stamp);
    // Inside the sealed box of the owner's signed envelope: neither the
    // relay nor another member can make a held card look like this answer.
    if (!answers.isEmpty())
        inner.insert(QStringLiteral("answers"), answers);
    return canonicalJson(inner);
}

QString cardRequestText(const QString &groupId, qint64 claimedEpoch, const QString &nonce)
{
    return groupMessageText(QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kKindCardRequest},
        {QStringLiteral("groupId"), groupId},
        {QStringLiteral("epoch"), double(claimedEpoch)},
        {QStringLiteral("nonce"), nonce},
    });
}

QString cardMessageFor(const Me &me, const GroupCard &card, const QString &recipient, const QString &answers)
{
    const QByteArray context = cardContext(card.groupId, me.key, recipient);
    const QByteArray inner = cardBoxContent(card, answers);
    if (context.isEmpty() || inner.isEmpty())
        return QString();
    const QString sealed = Ecies::seal(base64UrlDecode(recipient), inner, Ecies::ChaCha20Poly1305, context);
    if (sealed.isEmpty())
        return QString();
    return groupMessageText(QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kKindCard},
        {QStringLiteral("groupId"), card.groupId},
        {QStringLiteral("sealed"), sealed},
    });
}

QJsonObject messageStamp(const GroupCard &card)
{
    if (card.stamp.isEmpty())
        return {};
    return QJsonObject{{QStringLiteral("digest"), groupCardDigest(card.cardJson)},
                       {QStringLiteral("signature"), card.stamp}};
}

QString sealedMessage(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch,
                      const QByteArray &groupKey, const QJsonObject &inner, const QJsonObject &stamp)
{
    const QByteArray plaintext = canonicalJson(inner);
    if (plaintext.isEmpty())
        return QString();
    const QString box = velmor::crypto::GroupBox::seal(groupKey, plaintext,
                                                       boxContext(groupId, kind, keyEpoch, epoch));
    if (box.isEmpty())
        return QString();
    QJsonObject outer{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("groupId"), groupId},
        {QStringLiteral("keyEpoch"), double(keyEpoch)},
        {QStringLiteral("epoch"), double(epoch)},
        {QStringLiteral("box"), box},
    };
    // In the clear, so a member lacking the card's key can still check the
    // epoch; the sender's envelope signature covers it, so the relay cannot
    // take it off.
    if (!stamp.isEmpty())
        outer.insert(QStringLiteral("stamp"), stamp);
    return groupMessageText(outer);
}

QByteArray openGroupKey(const GroupRegistry &registry, const QString &groupId, qint64 keyEpoch, const Me &me)
{
    return registry.groupKey(groupId, keyEpoch, me.key, me.identity.privateKey);
}

// One envelope per recipient, all under one message id, posted in one
// request; `ciphertextFor` gives each recipient's ciphertext.
QJsonObject fanOutBody(const Me &me, const QString &groupId, const QStringList &recipients,
                       const std::function<QString(const QString &)> &ciphertextFor, const QString &messageId,
                       QString *error)
{
    const QString id = messageId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : messageId;
    const qint64 now = nowSeconds();
    QJsonArray envelopes;
    for (const QString &recipient : recipients) {
        const QString ciphertext = ciphertextFor(recipient);
        if (ciphertext.isEmpty()) {
            *error = QStringLiteral("encrypt_failed");
            return {};
        }
        const velmor::identity::Envelope envelope =
            velmor::identity::signEnvelope(me.identity, recipient, ciphertext, id, now);
        if (envelope.signature.isEmpty()) {
            *error = QStringLiteral("sign_failed");
            return {};
        }
        QJsonObject json = RelayApi::envelopeToJson(envelope);
        json.insert(QStringLiteral("notify_type"), QStringLiteral("group"));
        envelopes.append(json);
    }
    return QJsonObject{{QStringLiteral("group_id"), groupId},
                       {QStringLiteral("message_id"), id},
                       {QStringLiteral("envelopes"), envelopes}};
}

bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients,
            const std::function<QString(const QString &)> &ciphertextFor, QString *error)
{
    const QJsonObject body = fanOutBody(me, groupId, recipients, ciphertextFor, QString(), error);
    if (body.isEmpty())
        return false;
    const RelaySendResult posted = postGroupFanOut(body);
    if (!posted.ok)
        *error = posted.error;
    return posted.ok;
}

bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients, const QString &ciphertext,
            QString *error)
{
    return fanOut(me, groupId, recipients, [&ciphertext](const QString &) { return ciphertext; }, error);
}

bool sendCard(const Me &me, const GroupCard &card, const QStringList &recipients, QString *error,
              const QString &answers)
{
    return fanOut(me, card.groupId, recipients,
                  [&](const QString &recipient) { return cardMessageFor(me, card, recipient, answers); }, error);
}

// Asks the owner for its current card (a member whose card is older than
// an epoch a member's message showed); the registry decides how often.
GroupFollowUp requestCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card, qint64 claimedEpoch,
                               const QString &nonce)
{
    const QString groupId = card.groupId;
    const QString owner = card.ownerRawPublicKey;
    GroupFollowUp followUp;
    followUp.send = [&registry, me, groupId, owner, claimedEpoch, nonce] {
        const QString request = cardRequestText(groupId, claimedEpoch, nonce);
        QString error;
        if (!fanOut(me, groupId, {owner}, request, &error)) {
            registry.releaseCardRequest(groupId, nonce);
            qWarning().noquote() << "[GROUPKEY] card request failed group=" << groupId << "err=" << error;
        }
    };
    followUp.cancel = [&registry, groupId, nonce] { registry.releaseCardRequest(groupId, nonce); };
    return followUp;
}

std::optional<GroupFollowUp> resendCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card,
                                             const QString &member)
{
    if (member == me.key || !card.hasMember(member)
        || !registry.takeCardResend(card.groupId, member, card.epoch, QDateTime::currentSecsSinceEpoch()))
        return std::nullopt;
    const QString groupId = card.groupId;
    GroupFollowUp followUp;
    followUp.send = [&registry, me, card, member] {
        QString error;
        if (!sendCard(me, card, {member}, &error)) {
            registry.releaseCardResend(card.groupId, member);
            qWarning().noquote() << "[GROUPKEY] card resend failed group=" << card.groupId << "err=" << error;
        }
    };
    followUp.cancel = [&registry, groupId, member] { registry.releaseCardResend(groupId, member); };
    return followUp;
}

GroupFollowUp answerCardLater(GroupRegistry &registry, const Me &me, const GroupCard &card, const QString &member,
                              const QString &nonce)
{
    const QString groupId = card.groupId;
    GroupFollowUp followUp;
    followUp.send = [&registry, me, card, member, nonce] {
        QString error;
        if (!sendCard(me, card, {member}, &error, nonce)) {
            registry.releaseCardAnswer(card.groupId, member);
            qWarning().noquote() << "[GROUPKEY] card answer failed group=" << card.groupId << "err=" << error;
        }
    };
    followUp.cancel = [&registry, groupId, member] { registry.releaseCardAnswer(groupId, member); };
    return followUp;
}

// The card epoch the group had when the user deleted it; 0 when it never was.
qint64 deletedAtEpoch(const QString &groupId)
{
    ChatStore &store = ChatStore::instance();
    return store.isOpen() ? store.normalGroupDeletedEpoch(groupId) : 0;
}

} // namespace velmor::chat::wire
