// Message content of one-to-one envelopes, the media payloads of group
// messages, wallet cards and official notices.
#pragma once

#include "identity/identity.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmor::chat {

// The decrypted JSON content of a one-to-one message.
struct MessageContent
{
    bool ok = false;
    QString type; // "text", "emoji", "image", "voice", "site", "transfer", "system", "bridge.*", "group_join_request", …
    QString text;
    QString senderAvatarKind;
    QString senderAvatarId;
    QStringList emojiCodes;
    qint64 durationMs = 0;
    QString siteTitle;
    QString siteUrl;
    QString siteIconUrl;
    QString transferAmountRaw;
    QString transferSymbol;
    QString transferTxHash;
    QString transferExplorerUrl;
    QString walletCard;
    int hasPeerWalletCard = -1; // -1 when absent
    QString bridgeOriginalText;
    QString bridgeTranslatedText;
    QString bridgeTranslationDirection;
    QString targetClientMessageId;
    QString imageB64;
    QString imageMime;
    int imageWidth = 0;
    int imageHeight = 0;
    QString voiceB64;
    QList<int> voiceWaveform;
    QString groupId;
    QString groupJoinKey;
    QString groupJoinRequesterCanonicalKey;
    QString groupJoinRequesterDisplayName;
    QString groupJoinRequesterAvatarId;
    // The sender's clock in ms when it sent the message, rising with each
    // message it sends; 0 when absent. Parallel posts reach the relay in
    // any order: a reader files one sender's messages of a pull by it.
    qint64 sentAtMs = 0;
};

// ok false when the plaintext is not a JSON object.
MessageContent parseMessageContent(const QByteArray &plaintext);
// Compact JSON with "v":1 and every non-empty member; parseMessageContent reads it back.
QByteArray serializeMessageContent(const MessageContent &content);
// List preview: the text for "text", a bracketed label for the other known types, empty for unknown ones.
QString messageTypeName(const MessageContent &content);

// Media content of normal-group messages.
QString groupImageContent(const QByteArray &image, const QString &mime, int width, int height);
QString groupVoiceContent(const QByteArray &audio, qint64 durationMs, const QList<int> &waveform);
struct GroupMediaContent
{
    bool ok = false;
    QString kind; // "image" or "voice"
    QString imageB64;
    QString mime;
    int width = 0;
    int height = 0;
    qint64 bytes = 0;
    QString audioB64;
    qint64 durationMs = 0;
    QList<int> waveform;
};
GroupMediaContent parseGroupMediaContent(const QString &text);

// The official account.
QByteArray officialAccountPublicKey(); // fixed 65-byte point
bool isOfficialAccountKey(const QString &keyText);
QString officialAccountName(); // "Pelorin Network"

struct OfficialNotice
{
    bool ok = false;
    QString text;
    // Lower-case hex SHA-256 of the signed payload: one notice has one id
    // however its envelope or outer JSON is wrapped, and two notices with
    // the same words issued apart have two.
    QString id;
};
OfficialNotice parseOfficialNotice(const QString &noticeText, const QString &language);
// The same check against a given key; the two-argument form uses the official key.
OfficialNotice parseOfficialNoticeWithKey(const QString &noticeText, const QString &language,
                                          const QByteArray &officialPublicKey);

// One language entry of an official notice.
struct OfficialNoticeEntry
{
    QString language; // e.g. "zh-Hans", "en"
    QString title;
    QString body;
};
// Builds and signs a notice (tools and tests; docs/protocol.md). Empty when the
// secret is not a valid secp256k1 key or there is no entry.
QString makeOfficialNotice(const QByteArray &signingSecret32, const QList<OfficialNoticeEntry> &entries,
                           qint64 issuedAt);

// Wallet cards: the identity key vouches for a wallet address ("wallet_card_v1|…").
QString makeWalletCard(const velmor::identity::Identity &issuer, qint64 issuedAt);
bool verifyWalletCard(const QString &cardJson, const QString &peerKey,
                      QString *walletAddress = nullptr, qint64 *issuedAt = nullptr);

} // namespace velmor::chat
