// Contacts and the friend information panel: the contact list of the views
// (blocked contacts and the user's own key left out), the panel of the open
// one-to-one peer with its texts, voice messages, images and links, the
// remark, block and mute of that peer, and the merge of what a message told
// about its sender into the sender's contact row.
//
// Inbound parts call ChatController::mergePeerProfile (through the façade)
// for every sender; nothing here reports errors: store failures leave the
// rows as they were and the lists show what the store returns.
#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

class CurrentConversation;

class ContactBook
{
public:
    const QVariantList &contacts() const { return m_contacts; }
    const QVariantMap &friendInfo() const { return m_friendInfo; }
    void clear();

    // The owner's contacts, newest first, without `myKey` and blocked rows.
    void reloadContacts(const QString &myKey);
    // The panel of the open peer; empty for no peer, a group, a super group
    // or the official account.
    void loadFriendInfo(const CurrentConversation &current);

    // Writes the trimmed remark (empty clears it); false for no peer or a
    // group peer.
    static bool writeRemark(const CurrentConversation &current, const QString &remark);
    // Creates the row first when there is none; false for no peer.
    static bool writeBlocked(const CurrentConversation &current, bool blocked);
    static void mergePeerProfile(const QString &peerKey, const QString &address, const QString &avatarKind,
                                 const QString &avatarId, qint64 timestamp);

private:
    QVariantList m_contacts;
    QVariantMap m_friendInfo;
};

} // namespace velmor::chat
