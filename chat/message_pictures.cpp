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

QString MessagePictures::hold(const QString &messageId, const QByteArray &encoded)
{
    QMutexLocker locker(&m_mutex);
    Held &held = m_held[messageId];
    // Equal bytes share their data as a rule; comparing costs little either way.
    if (held.version == 0 || held.encoded != encoded) {
        held.encoded = encoded;
        held.version = m_nextVersion++;
    }
    ++held.holders;
    return QStringLiteral("image://%1/%2/%3")
        .arg(QLatin1String(kProvider), QString::fromLatin1(QUrl::toPercentEncoding(messageId)))
        .arg(held.version);
}

void MessagePictures::release(const QString &messageId)
{
    QMutexLocker locker(&m_mutex);
    const auto it = m_held.find(messageId);
    if (it != m_held.end() && --it->holders <= 0)
        m_held.erase(it);
}

bool MessagePictures::holds(const QString &messageId) const
{
    QMutexLocker locker(&m_mutex);
    return m_held.contains(messageId);
}

QImage MessagePictures::picture(const QString &address, QSize *size, const QSize &requested) const
{
    const qsizetype slash = address.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return {};
    const QString messageId = QUrl::fromPercentEncoding(address.left(slash).toLatin1());
    bool numeric = false;
    const quint64 version = address.mid(slash + 1).toULongLong(&numeric);
    QByteArray encoded;
    {
        QMutexLocker locker(&m_mutex);
        const auto it = m_held.constFind(messageId);
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
