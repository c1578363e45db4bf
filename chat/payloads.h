// Formats of what a stored message carries in its two text columns.
//
// `text`: plain text, or a prefix followed by the base64url (no padding) of a
// compact JSON object: "velmor_emoji_v1:", "velmor_site_v1:",
// "velmor_transfer_v1:", "velmor_textmeta_v1:" (and, for normal-group media
// contents, "velmor_image_v1:" and "velmor_voice_v1:"). Super-group texts may
// begin with the plain markers "__sg_system__:" or "__group_system_invite__:".
// `attachment`: empty, or the plain compact JSON of an image
// ({"kind":"image","b64","mime","w","h"}) or a voice clip
// ({"kind":"voice","b64","dur","wf"}).
//
// Pure functions, safe on any thread. A malformed payload is plain text:
// decoders give an empty object, an empty list or no fields, never an error.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace velmor::chat::payload {

inline constexpr char kEmojiPrefix[] = "velmor_emoji_v1:";
inline constexpr char kSitePrefix[] = "velmor_site_v1:";
inline constexpr char kTransferPrefix[] = "velmor_transfer_v1:";
inline constexpr char kTextMetaPrefix[] = "velmor_textmeta_v1:";
inline constexpr char kGroupImagePrefix[] = "velmor_image_v1:";
inline constexpr char kGroupVoicePrefix[] = "velmor_voice_v1:";
inline constexpr char kSuperGroupSystemMarker[] = "__sg_system__:";
inline constexpr char kGroupInviteMarker[] = "__group_system_invite__:";
inline constexpr char kGroupInviteMarkerShort[] = "_group_system_invite__:";

QString encodePrefixedJson(const QString &prefix, const QJsonObject &object);
QJsonObject decodePrefixedJson(const QString &text, const QString &prefix);

// The codes of an emoji payload, trimmed and lower-cased, empty ones dropped.
QStringList decodeEmojiPayload(const QString &text);
// The characters a code list stands for: each "-"-separated part read as a
// hexadecimal code point. Zero, unreadable, surrogate and out-of-range
// (above U+10FFFF) parts add nothing.
QString splitEmojiCodes(const QStringList &codes);

// Attachment layouts; members in ascending key order, compact.
QString imagePayload(const QString &b64, const QString &mime, int width, int height);
QString voicePayload(const QString &b64, int durationMs, const QList<int> &waveform);

// Adds the view fields of an attachment ("kind", "imageW", "imageH",
// "imageSrc" or "kind", "durMs", "voiceB64", "voiceMime", "voiceWaveform").
// With `picture`, an image's bytes go there and "imageSrc" is left for the
// caller to set (the address the picture is served at); else "imageSrc" is
// a data: URL holding them.
void appendMediaFields(const QString &attachment, QVariantMap &map, QByteArray *picture = nullptr);
// Applies the view fields of a prefixed text (emoji, link card, transfer,
// text with translation) to a message map whose "text" holds `storedText`.
void applyTextPayload(const QString &storedText, QVariantMap &map);

// The one-line preview of a stored text for the conversation list. `kind`
// gets what it is: "text" for what the user or a peer wrote, to be shown
// as written, else the kind of the system's own text ("image", "voice",
// "site", "transfer", "emoji", "system"), told by the text's payload form
// or else by `type`, the content type of the message it was stored from.
QString lastMessagePreview(const QString &text, const QString &type = {}, QString *kind = nullptr);

} // namespace velmor::chat::payload
