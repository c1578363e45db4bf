// Peer keys and the fixed accounts. A conversation partner is named by a
// text: the peer's base64url public key, "group:" + group id for a normal
// group, or "sg:" + server URL for a super group.
#pragma once

#include <QString>

namespace velmor::chat {

inline constexpr char kGroupPeerPrefix[] = "group:";
inline constexpr char kSuperGroupPeerPrefix[] = "sg:";

// Case-sensitive prefix tests.
bool isGroupPeer(const QString &peer);
bool isSuperGroupPeer(const QString &peer);
QString groupIdOfPeer(const QString &peer);      // text after "group:"
QString serverUrlOfPeer(const QString &peer);    // text after "sg:"

// The store's conversation id: the peer key itself for a group or a super
// group, the owner/peer id of the store for a one-to-one peer.
QString conversationIdForPeer(const QString &peer);

// Fewer than 15 UTF-16 units: unchanged; else first 6, "…", last 6.
QString shortAddress(const QString &text);

// The ERC-20 address of a base64url key of 33 or 65 bytes; empty otherwise.
QString addressOfKey(const QString &keyText);
// isOfficialAccountKey, remembered per key text.
bool isOfficialPeer(const QString &keyText);

// The fixed author account: its wallet address ("0x" + 40 lower-case hex)
// and whether a one-to-one key (not the official one) belongs to it.
QString authorAccountAddress();
QString authorAccountName();   // "Pelorin author"
bool isAuthorAccountKey(const QString &keyText);

} // namespace velmor::chat
