// The messages of the open conversation as the views show them: one map per
// stored message, oldest first, rebuilt whole from the store.
//
// A part that stored or changed a message of the open conversation asks for
// ChatHost::reloadMessages(); nothing updates single entries.
#pragma once

#include "store/records.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

class MessageList
{
public:
    const QVariantList &rows() const { return m_rows; }
    void clear()
    {
        m_rows.clear();
        m_built.clear();
        m_builtPeer.clear();
    }

    // Reads every stored message of the peer's conversation (an empty peer
    // gives an empty list).
    void rebuild(const QString &peer);
    // The same from rows already read.
    void rebuild(const QList<MessageRecord> &records, const QString &peer);

    // One message's status changed: its map alone is patched (a send
    // reports back one row at a time). False when it is not listed.
    bool setStatus(const QString &id, MessageStatus status);

    // The map of one stored message; `inSuperGroup` turns the super-group
    // markers into system lines.
    static QVariantMap messageMap(const MessageRecord &record, bool inSuperGroup);

private:
    // The map of each message of the open conversation as last built, with
    // the row it was built from. The list is rebuilt whole after every
    // change; a row whose stored values did not change keeps its map, so the
    // payloads and images of a long conversation are not decoded again.
    struct Built
    {
        MessageRecord record;     // without its attachment, which can be large
        size_t attachmentHash = 0;
        QVariantMap map;
        quint64 pass = 0;         // the last rebuild that listed the message
    };

    QVariantList m_rows;
    QHash<QString, Built> m_built; // by message id, for m_builtPeer only
    QString m_builtPeer;
    quint64 m_pass = 0;
};

} // namespace velmor::chat
