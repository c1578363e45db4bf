// The resolver that turns a pasted text (or the text of a QR code) into a
// contact, a normal group or a super group. Blocking; meant for a pool thread.
#pragma once

#include "identity/identity.h"

#include <QString>

#include <optional>

class ChatStore;

namespace velmor::chat {

struct DiscoveryResult
{
    enum Kind { Invalid = 0, User = 1, NormalGroup = 2, SuperGroup = 3 };

    bool ok = false;
    int kind = Invalid;
    QString error;
    QString address;
    QString publicKey;
    QString avatarKind;
    QString avatarId;
    bool existingContact = false;
    QString joinKey;
    QString groupId;
    QString groupName;
    QString groupAvatar;
    QString ownerPublicKey;
    QString ownerEncryptionKey;
    QString visibility;
    QString serverUrl;
    QString joinMode;
    QString groupKind;
    int memberCount = 0;
};

// Where the resolver takes the user and the contacts from. By default the
// relay session's identity and the process-wide store.
struct DiscoveryContext
{
    std::optional<velmor::identity::Identity> identity;
    ChatStore *store = nullptr;
};

inline constexpr char kSuperGroupLinkPrefix[] = "pelorin:supergroup:";
inline constexpr char kNormalGroupLinkPrefix[] = "pelorin:group:";
constexpr int kDiscoveryTimeoutMs = 10000;

DiscoveryResult discover(const QString &text);
DiscoveryResult discover(const QString &text, const DiscoveryContext &context);

} // namespace velmor::chat
