#include "chat/outbox.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/error_model.h"
#include "chat/image_shrink.h"
#include "chat/job_runner.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "net/relay_api.h"
#include "store/chat_store.h"
#include "store/private_media.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

#include <memory>

namespace velmor::chat {

namespace {

QString newMessageId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

} // namespace

Outbox::Outbox(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host), m_imageByteLimit(kMaxSentImageBytes)
{
    m_resendTimer.setSingleShot(true);
    connect(&m_resendTimer, &QTimer::timeout, this, &Outbox::pump);
    m_storeTimer.setSingleShot(true);
    m_storeTimer.setInterval(kStoreRetryMs);
    connect(&m_storeTimer, &QTimer::timeout, this, &Outbox::storeUnstored);
    m_typedTimer.setSingleShot(true);
    m_typedTimer.setInterval(0);
    connect(&m_typedTimer, &QTimer::timeout, this, &Outbox::journalTyped);
    m_replayTimer.setSingleShot(true);
    m_replayTimer.setInterval(kStoreRetryMs);
    connect(&m_replayTimer, &QTimer::timeout, this, [this] {
        if (m_host.session().isActive())
            replayJournal();
    });
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(kStatusBatchMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &Outbox::writeSettled);
    m_sealTimer.setSingleShot(true);
    m_sealTimer.setInterval(0);
    connect(&m_sealTimer, &QTimer::timeout, this, &Outbox::sealQueued);
}

QString Outbox::voiceLabel(int durationMs)
{
    const int duration = qMax(durationMs, 0);
    if (duration < 1)
        return QStringLiteral("[语音]");
    return QStringLiteral("[语音 %1\"]").arg((qint64(duration) + 999) / 1000);
}

QString Outbox::localPath(const QString &fileOrUrl)
{
    const QUrl url(fileOrUrl);
    return url.isLocalFile() ? url.toLocalFile() : fileOrUrl;
}

namespace {

// Deletes a file of the private media folder when it goes out of scope (a
// file the user chose elsewhere is left alone).
class DropPrivateMedia
{
public:
    explicit DropPrivateMedia(QString path) : m_path(std::move(path)) {}
    ~DropPrivateMedia() { velmor::store::removePrivateMedia(m_path); }
    DropPrivateMedia(const DropPrivateMedia &) = delete;
    DropPrivateMedia &operator=(const DropPrivateMedia &) = delete;

private:
    QString m_path;
};

} // namespace

// ---- the three sends -----------------------------------------------------------

bool Outbox::sendText(const QString &text)
{
    return textTo(m_host.current().peer(), text, QString());
}

void Outbox::sendImageFromFile(const QString &fileUrl)
{
    imageTo(m_host.current().peer(), localPath(fileUrl), QString());
}

void Outbox::sendVoiceFromFile(const QString &filePath, int durationMs)
{
    voiceTo(m_host.current().peer(), localPath(filePath), durationMs, QString());
}

bool Outbox::mayPost(const QString &peer)
{
    // An all-muted super group takes messages only from its managers; what
    // the open conversation says about it is the one thing known here.
    if (isSuperGroupPeer(peer) && peer == m_host.current().peer() && !m_host.current().canSend()) {
        m_host.errors().publishWord(QStringLiteral("all_muted"));
        return false;
    }
    return true;
}

bool Outbox::textTo(const QString &peer, const QString &textIn, const QString &replaces)
{
    const QString text = textIn.trimmed();
    if (text.isEmpty() || peer.isEmpty() || !mayPost(peer))
        return false;
    MessageRecord row;
    row.text = text;
    Payload payload;
    payload.kind = Payload::Kind::Text;
    payload.text = text;
    return post(peer, row, payload, replaces);
}

void Outbox::imageTo(const QString &peer, const QString &path, const QString &replaces)
{
    // A pasted picture or a retry copy is deleted once the job is over (its
    // message stored, or refused): the continuation holds `drop` until the
    // job lets go of it, whether the continuation ran or not.
    const auto drop = std::make_shared<DropPrivateMedia>(path);
    if (peer.isEmpty() || !mayPost(peer))
        return;
    // Decoding and recompressing a large picture takes long: on the pool.
    const qsizetype limit = m_imageByteLimit;
    ++m_inFlight;
    m_host.jobs().run<ShrunkImage>(
        [path, limit] { return shrinkImageFile(path, limit); },
        [this, peer, replaces, drop](const ShrunkImage &image) {
            if (!image.error.isEmpty()) {
                m_host.errors().publishWord(image.error);
                return;
            }
            MessageRecord row;
            row.text = QStringLiteral("[图片]");
            row.content_type = QStringLiteral("image");
            row.attachment = payload::imagePayload(velmor::crypto::base64UrlEncode(image.jpeg),
                                                   QStringLiteral("image/jpeg"), image.width, image.height);
            Payload payload;
            payload.kind = Payload::Kind::Image;
            payload.bytes = image.jpeg;
            payload.width = image.width;
            payload.height = image.height;
            post(peer, row, payload, replaces);
        },
        [this] { --m_inFlight; });
}

void Outbox::voiceTo(const QString &peer, const QString &path, int durationMs, const QString &replaces)
{
    // A recording or a retry copy goes once its message is stored (below).
    const DropPrivateMedia drop(path);
    if (peer.isEmpty() || !mayPost(peer))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_host.errors().publishWord(QStringLiteral("voice_read_failed"));
        return;
    }
    const QByteArray audio = file.readAll();
    file.close();
    if (audio.isEmpty()) {
        m_host.errors().publishWord(QStringLiteral("empty_voice"));
        return;
    }
    const int duration = qMax(durationMs, 0);
    MessageRecord row;
    row.text = voiceLabel(duration);
    row.attachment = payload::voicePayload(velmor::crypto::base64UrlEncode(audio), duration, {});
    Payload payload;
    payload.kind = Payload::Kind::Voice;
    payload.bytes = audio;
    payload.durationMs = duration;
    post(peer, row, payload, replaces);
}

// ---- the local row and the job -------------------------------------------------

void Outbox::show(const MessageRecord &row, const QString &replaces)
{
    // One row more (and the failed one of a retry less) in the open
    // conversation; the conversation list for its preview.
    if (!replaces.isEmpty() && m_host.session().store().deleteMessage(row.conversation_id, replaces))
        m_host.messageRemoved(replaces);
    m_host.messageStored(row);
    // The sidebar's preview on a worker: a burst of sends reads the list a
    // few times, not once per message on the window's thread.
    m_host.reloadConversationsSoon();
}

bool Outbox::post(const QString &peer, MessageRecord row, const Payload &payload, const QString &replaces)
{
    ChatSession &session = m_host.session();
    ChatStore &store = session.store();
    const bool group = isGroupPeer(peer) || isSuperGroupPeer(peer);
    row.id = newMessageId();
    row.conversation_id = group ? peer : store.conversationIdFor(peer);
    row.peer_raw_public_key = peer;
    row.sender_raw_public_key = session.myKey();
    row.created_at = QDateTime::currentSecsSinceEpoch();
    row.is_outgoing = true;
    row.status = MessageStatus::Sending;
    // Sealed (a super group's: its request) and stored with the row on the
    // pool, then shown and posted by the queue.
    queueSeal(peer, row, payload, replaces);
    return true;
}

// ---- retry ---------------------------------------------------------------------

void Outbox::retryMessage(const QString &messageId)
{
    ChatStore &store = m_host.session().store();
    const auto row = store.ownMessage(messageId);
    if (!row || !row->is_outgoing
        || (row->status != MessageStatus::Failed && row->status != MessageStatus::AddressUnreachable))
        return;
    if (retryStored(*row))
        return;
    const QString peer = row->peer_raw_public_key;
    const QJsonObject media = QJsonDocument::fromJson(row->attachment.toUtf8()).object();
    const QString kind = media.value(QStringLiteral("kind")).toString();
    if (kind != QLatin1String("image") && kind != QLatin1String("voice")) {
        textTo(peer, row->text, messageId);
        return;
    }
    const bool image = kind == QLatin1String("image");
    // The decrypted copy is the user's alone, and is deleted by the send.
    QFile file;
    const QString name = QStringLiteral("velmor-retry-%1.%2").arg(messageId, image ? "jpg" : "m4a");
    const QString path = velmor::store::openPrivateMedia(file, name);
    if (path.isEmpty()
        || file.write(velmor::crypto::base64UrlDecode(media.value(QStringLiteral("b64")).toString())) < 0) {
        qWarning() << "[SEND] retry copy not written" << name;
        velmor::store::removePrivateMedia(path);
        return;
    }
    file.close();
    if (image)
        imageTo(peer, path, messageId);
    else
        voiceTo(peer, path, media.value(QStringLiteral("dur")).toInt(), messageId);
}

} // namespace velmor::chat
