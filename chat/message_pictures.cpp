#include "chat/message_pictures.h"

#include <QBuffer>
#include <QImageReader>
#include <QMutexLocker>
#include <QUrl>

namespace velmor::chat {

MessagePictures &MessagePictures::instance()
{
    static MessagePictures pictures;
    return pictures;
}

namespace {

QString addressPart(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

} // namespace

QString MessagePictures::hold(const QString &conversationId, const QString &messageId, const QByteArray &encoded)
{
    QMutexLocker locker(&m_mutex);
    Held &held = m_held[Key(conversationId, messageId)];
    // Equal bytes share their data as a rule; comparing costs little either way.
    if (held.version == 0 || held.encoded != encoded) {
        held.encoded = encoded;
        held.version = m_nextVersion++;
    }
    ++held.holders;
    // Joined, not filled in: an escaped id holds "%2F" and the like.
    return QStringLiteral("image://") + QLatin1String(kProvider) + QLatin1Char('/') + addressPart(conversationId)
         + QLatin1Char('/') + addressPart(messageId) + QLatin1Char('/') + QString::number(held.version);
}

void MessagePictures::release(const QString &conversationId, const QString &messageId)
{
    QMutexLocker locker(&m_mutex);
    const auto it = m_held.find(Key(conversationId, messageId));
    if (it != m_held.end() && --it->holders <= 0)
        m_held.erase(it);
}

bool MessagePictures::holds(const QString &conversationId, const QString &messageId) const
{
    QMutexLocker locker(&m_mutex);
    return m_held.contains(Key(conversationId, messageId));
}

QImage MessagePictures::picture(const QString &address, QSize *size, const QSize &requested) const
{
    // Both ids are percent-encoded, so the address has exactly two slashes.
    const QStringList parts = address.split(QLatin1Char('/'));
    if (parts.size() != 3)
        return {};
    const Key key(QUrl::fromPercentEncoding(parts.at(0).toLatin1()), QUrl::fromPercentEncoding(parts.at(1).toLatin1()));
    bool numeric = false;
    const quint64 version = parts.at(2).toULongLong(&numeric);
    QByteArray encoded;
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_held.constFind(key);
        if (!numeric || it == m_held.cend() || it->version != version)
            return {};
        encoded = it->encoded; // shared, not copied
    }
    QBuffer buffer(&encoded);
    QImageReader reader(&buffer);
    // A peer's picture may claim any size: it is drawn no larger than asked
    // for, and never larger than kMaxSide, without decoding it whole first.
    QSize full = reader.size();
    if (!full.isValid())
        return {};
    QSize wanted = full;
    if (requested.width() > 0 || requested.height() > 0) {
        const QSize bound(requested.width() > 0 ? requested.width() : full.width(),
                          requested.height() > 0 ? requested.height() : full.height());
        if (wanted.width() > bound.width() || wanted.height() > bound.height())
            wanted.scale(bound, Qt::KeepAspectRatio);
    }
    if (wanted.width() > kMaxSide || wanted.height() > kMaxSide)
        wanted.scale(kMaxSide, kMaxSide, Qt::KeepAspectRatio);
    if (wanted != full)
        reader.setScaledSize(wanted.expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (size)
        *size = full;
    return image;
}

} // namespace velmor::chat
