// What the identity key signs to log in to a service (the relay, the group
// centre, a group server), and the tags that keep every signed text apart.
//
// Every text that the identity key signs starts with the tag of its use, and
// no tag is a prefix of another, so a text signed for one use can never be
// read as another: a server that sends the signing text of an envelope, a
// wallet card or an admin proof as its "challenge" gets a login signature,
// which verifies as nothing else.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace velmor::identity {

inline constexpr char kEnvelopeSigningTag[] = "velmor.envelope.v1\n";
inline constexpr char kWalletCardSigningTag[] = "wallet_card_v1|";
inline constexpr char kNoticeSigningTag[] = "official_notice_v1|";
inline constexpr char kGroupAdminSigningTag[] = "velmor_group_admin_v1|";
inline constexpr char kServiceLoginSigningTag[] = "velmor.login.v1\n";

// Every tag above, for checks that they stay apart.
QList<QByteArray> identitySigningTags();

// The service's base URL as it is signed: lower-case scheme, "://",
// lower-case host (IPv6 in brackets), ":" and the port (the scheme's default
// when the URL names none), then the path with "." and ".." segments
// resolved, unreserved characters decoded and trailing "/" removed. Two
// services on one host under different paths sign different texts. Empty
// for a URL that is not http(s) with a host, or that has a query or a
// fragment.
QString serviceLoginUrl(const QString &baseUrl);

// A challenge as services issue it: 16 to 256 characters, each a letter, a
// digit or one of "-_.:~". Anything else (white space, line breaks, JSON,
// another use's signing text) is refused before signing.
bool isWellFormedChallenge(const QString &challenge);

// "velmor.login.v1\n" + length-prefixed login URL + "\n" + length-prefixed
// challenge (decimal byte length, ":", the UTF-8 text), as the envelope's
// fields are. Empty when the URL is empty or the challenge is not well
// formed.
QByteArray serviceLoginSigningBytes(const QString &loginUrl, const QString &challenge);

} // namespace velmor::identity
