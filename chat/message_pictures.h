// The pictures of the image messages the message list holds, kept apart
// from the rows: a row carries only the address of its picture,
// "image://messages/<conversation id>/<message id>/<version>" (an id names a
// message only within its conversation), and the window's image provider
// decodes the bytes kept here on Qt's image thread when a row shows it. The
// rows stay small to copy into the views, and a page of pictures costs
// neither an encoding as text nor a decoding on the GUI thread.
//
// Thread-safe: the list holds and lets go on the GUI thread, the provider
// reads on the image thread.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>

#include <utility>

namespace velmor::chat {

class MessagePictures
{
public:
    // The provider's name in the address.
    static constexpr auto kProvider = "messages";
    // Pictures larger than this on either side are drawn at most this large.
    static constexpr int kMaxSide = 4096;

    static MessagePictures &instance();

    // Keeps the encoded picture of a message (taken again by each row that
    // shows it) and gives its address; the address changes when the
    // message's picture does, so a view never shows an old one.
    QString hold(const QString &conversationId, const QString &messageId, const QByteArray &encoded);
    // One holder of the message's picture let go of it; the last one frees it.
    void release(const QString &conversationId, const QString &messageId);
    bool holds(const QString &conversationId, const QString &messageId) const;

    // The picture at an address given by hold() (what follows
    // "image://messages/"), at most `requested` large when that is set,
    // keeping its proportions. Null when it is not held (any more), of
    // another version or undecodable.
    QImage picture(const QString &address, QSize *size, const QSize &requested) const;

private:
    struct Held
    {
        QByteArray encoded;
        int holders = 0;
        quint64 version = 0;
    };
    using Key = std::pair<QString, QString>; // conversation id, message id
    mutable QMutex m_mutex;
    QHash<Key, Held> m_held;
    quint64 m_nextVersion = 1;
};

} // namespace velmor::chat
