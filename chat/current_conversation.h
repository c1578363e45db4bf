// The conversation open in the chat pane: its peer key and what the header
// shows (title, address, avatar, verification marks), plus the values
// computed from the store at each read (group kind, subtitle, whether the
// user may send).
//
// Parts read it through ChatHost::current(); they change it only through
// ChatHost::openConversation().
#pragma once

#include <QString>

namespace velmor::chat {

class SuperGroupDirectory;

class CurrentConversation
{
public:
    QString peer() const { return m_peer; }
    QString title() const { return m_title; }
    // The title is the system's own stand-in ("群聊", "超级群", "未知地址"),
    // not a name someone gave.
    bool titleFallback() const { return m_titleFallback; }
    QString address() const { return m_address; }
    QString avatarKind() const { return m_avatarKind; }
    QString avatarId() const { return m_avatarId; }
    bool verified() const { return m_verified; }
    bool official() const { return m_official; }

    // Sets every field for the peer (any text is accepted; a peer without a
    // stored conversation still gets a title). Writes nothing to the store.
    void open(const QString &peer, const SuperGroupDirectory &superGroups);
    // Reads a normal group's title again from its card (renamed here or by a
    // card from another member); true when it changed. Other peers: false.
    bool refreshGroupTitle(const SuperGroupDirectory &superGroups);
    // Forgets the peer and the title only (the open conversation was deleted).
    void closePeer();
    // Forgets everything (end of the session).
    void clear();

    // "premium" or "premium_plus" for a stored super group; empty otherwise.
    QString groupKind() const;
    // "%1 位成员  %2" for a super group; empty otherwise.
    QString groupSubtitle(const SuperGroupDirectory &superGroups) const;
    // False only in a stored, all-muted super group for a user who is
    // neither owner nor admin.
    bool canSend() const;

    // The canonical (65-byte) form of a pasted one-to-one key. Empty, with
    // the error word in `error`, for a text that is no secp256k1 point
    // ("invalid_public_key") or the user's own key ("self_add").
    static QString normaliseNewChatKey(const QString &text, const QString &myKey, QString *error);

private:
    QString m_peer;
    QString m_title;
    QString m_address;
    QString m_avatarKind;
    QString m_avatarId;
    bool m_verified = false;
    bool m_official = false;
    bool m_titleFallback = false;
};

} // namespace velmor::chat
