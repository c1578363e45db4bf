#include "chat/send_journal.h"

#include "store/chat_store.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::chat {

namespace {

// A record: magic, payload length, the payload's digest, the payload (JSON).
constexpr quint32 kMagic = 0x314a5350; // "PSJ1"
constexpr int kHeaderBytes = 16;
constexpr int kDigestBytes = 8;
// A record larger than this is no record (a damaged length).
constexpr quint32 kMaxRecordBytes = 64 * 1024 * 1024;

// One writer at a time in this process: appends, replays and their reading
// of where the records end.
QMutex g_mutex;
// Where the records of each file end, once read (under g_mutex).
QHash<QString, qint64> g_ends;

class Fd
{
public:
    explicit Fd(const QString &path, bool create)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600))
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    qint64 size() const
    {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : -1;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray &bytes, qint64 offset)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray digestOf(const QByteArray &payload)
{
    return QCryptographicHash::hash(payload, QCryptographicHash::Sha256).left(kDigestBytes);
}

QByteArray record(const QJsonObject &object)
{
    const QByteArray payload = QJsonDocument(object).toJson(QJsonDocument::Compact);
    QByteArray record(kHeaderBytes - kDigestBytes, Qt::Uninitialized);
    qToLittleEndian<quint32>(kMagic, record.data());
    qToLittleEndian<quint32>(quint32(payload.size()), record.data() + 4);
    return record + digestOf(payload) + payload;
}

QByteArray encode(const JournaledSend &send)
{
    const MessageRecord &row = send.row;
    // Named apart from a send's "id": a build that knows no answers skips
    // the record as one without an id.
    if (send.answer)
        return record(QJsonObject{{QStringLiteral("owner"), send.owner},
                                  {QStringLiteral("answered"), row.id},
                                  {QStringLiteral("status"), int(row.status)}});
    const QJsonObject object{
        {QStringLiteral("owner"), send.owner},
        {QStringLiteral("envelope"), send.envelope},
        {QStringLiteral("id"), row.id},
        {QStringLiteral("conversation"), row.conversation_id},
        {QStringLiteral("peer"), row.peer_raw_public_key},
        {QStringLiteral("sender"), row.sender_raw_public_key},
        {QStringLiteral("text"), row.text},
        {QStringLiteral("createdAt"), row.created_at},
        {QStringLiteral("status"), int(row.status)},
        {QStringLiteral("attachment"), row.attachment},
        {QStringLiteral("contentType"), row.content_type},
    };
    return record(object);
}

JournaledSend decode(const QByteArray &payload)
{
    const QJsonObject object = QJsonDocument::fromJson(payload).object();
    JournaledSend send;
    send.owner = object.value(QStringLiteral("owner")).toString();
    if (object.contains(QStringLiteral("answered"))) {
        send.answer = true;
        send.row.id = object.value(QStringLiteral("answered")).toString();
        send.row.status = MessageStatus(object.value(QStringLiteral("status")).toInt());
        return send;
    }
    send.envelope = object.value(QStringLiteral("envelope")).toString();
    MessageRecord &row = send.row;
    row.id = object.value(QStringLiteral("id")).toString();
    row.conversation_id = object.value(QStringLiteral("conversation")).toString();
    row.peer_raw_public_key = object.value(QStringLiteral("peer")).toString();
    row.sender_raw_public_key = object.value(QStringLiteral("sender")).toString();
    row.text = object.value(QStringLiteral("text")).toString();
    row.created_at = object.value(QStringLiteral("createdAt")).toInteger();
    row.status = MessageStatus(object.value(QStringLiteral("status")).toInt());
    row.attachment = object.value(QStringLiteral("attachment")).toString();
    row.content_type = object.value(QStringLiteral("contentType")).toString(QStringLiteral("text"));
    row.is_outgoing = true;
    return send;
}

// The whole records from the start of the file, and where they end.
QList<JournaledSend> scan(const Fd &fd, qint64 *end)
{
    QList<JournaledSend> sends;
    const qint64 size = fd.size();
    qint64 at = 0;
    for (;;) {
        char header[kHeaderBytes];
        if (size - at < kHeaderBytes || ::pread(fd.get(), header, kHeaderBytes, off_t(at)) != kHeaderBytes
            || qFromLittleEndian<quint32>(header) != kMagic)
            break;
        const quint32 length = qFromLittleEndian<quint32>(header + 4);
        if (length > kMaxRecordBytes || size - at - kHeaderBytes < length)
            break;
        QByteArray payload(length, Qt::Uninitialized);
        if (::pread(fd.get(), payload.data(), length, off_t(at + kHeaderBytes)) != qint64(length)
            || digestOf(payload) != QByteArray(header + 8, kDigestBytes))
            break;
        JournaledSend send = decode(payload);
        if (!send.owner.isEmpty() && !send.row.id.isEmpty())
            sends.append(std::move(send));
        at += kHeaderBytes + length;
    }
    if (end)
        *end = at;
    return sends;
}

// Room for `bytes` from the start of the file, taken from the disk now.
bool reserveRoom(const Fd &fd, qint64 bytes)
{
    if (fd.size() >= bytes)
        return true;
    const int error = ::posix_fallocate(fd.get(), 0, off_t(bytes));
    if (error != 0) {
        qWarning().noquote() << "[JOURNAL] no room reserved:" << strerror(error);
        return false;
    }
    return true;
}

// Room for `bytes` more after the records that end at `end` (and the zeroed
// header that follows them). While the disk has space the file grows ahead
// of need, to twice what it would then hold, so that a disk that fills later
// still finds the room taken; true when the bytes fit, grown or not.
bool roomFor(const Fd &fd, qint64 end, qint64 bytes)
{
    const qint64 needed = end + bytes + kHeaderBytes;
    const qint64 size = fd.size();
    if (size >= needed + SendJournal::kReservedBytes / 2)
        return true;
    return reserveRoom(fd, std::max({SendJournal::kReservedBytes, 2 * needed, needed + SendJournal::kReservedBytes}))
           || size >= needed;
}

// Where the records of the file end: known, or read now (under g_mutex).
qint64 endOf(const QString &path, const Fd &fd)
{
    const auto known = g_ends.constFind(path);
    if (known != g_ends.cend())
        return *known;
    qint64 end = 0;
    scan(fd, &end);
    g_ends.insert(path, end);
    return end;
}

} // namespace

QString SendJournal::pathBeside(const QString &databasePath)
{
    if (databasePath.isEmpty())
        return {};
    return QFileInfo(databasePath).dir().filePath(QStringLiteral("unsent-sends.journal"));
}

bool SendJournal::reserve(const QString &path)
{
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, true);
    if (!fd.ok())
        return false;
    qint64 end = 0;
    scan(fd, &end);
    g_ends.insert(path, end);
    // Twice what is in use: an append never finds the room taken.
    return reserveRoom(fd, std::max(kReservedBytes, 2 * end)) && ::fsync(fd.get()) == 0;
}

bool SendJournal::append(const QString &path, const QList<JournaledSend> &sends)
{
    if (sends.isEmpty())
        return true;
    if (path.isEmpty())
        return false;
    QByteArray records;
    for (const JournaledSend &send : sends)
        records += encode(send);
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, true);
    if (!fd.ok())
        return false;
    const qint64 end = endOf(path, fd);
    // The next record's place is zeroed with these, so that what an emptied
    // file held there is not read as their continuation.
    records += QByteArray(kHeaderBytes, '\0');
    if (!roomFor(fd, end, records.size() - kHeaderBytes) || !writeAll(fd.get(), records, end)
        || ::fdatasync(fd.get()) != 0) {
        qWarning().noquote() << "[JOURNAL] could not keep" << sends.size() << "sends in" << path;
        g_ends.remove(path);
        return false;
    }
    g_ends.insert(path, end + records.size() - kHeaderBytes);
    return true;
}

bool SendJournal::reserveFor(const QString &path, qint64 bytes)
{
    if (path.isEmpty())
        return false;
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, true);
    return fd.ok() && roomFor(fd, endOf(path, fd), bytes);
}

qint64 SendJournal::sizeOf(const JournaledSend &send)
{
    // The JSON of the row and the envelope: a UTF-16 unit of the text is at
    // most three bytes of UTF-8 (control characters, escaped, are rare; the
    // append checks the exact size anyway).
    constexpr qint64 kFields = 1024;
    const MessageRecord &row = send.row;
    return kHeaderBytes + kFields + 3 * row.text.size() + row.attachment.size() + send.envelope.size();
}

QList<JournaledSend> SendJournal::read(const QString &path)
{
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, false);
    return fd.ok() ? scan(fd, nullptr) : QList<JournaledSend>();
}

std::optional<QList<MessageRecord>> SendJournal::replay(const QString &path, const QString &owner,
                                                       ChatStore &store)
{
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, false);
    if (!fd.ok())
        return QList<MessageRecord>();
    const QList<JournaledSend> sends = scan(fd, nullptr);
    if (sends.isEmpty())
        return QList<MessageRecord>();
    QList<MessageRecord> rows;
    QStringList envelopes;
    QSet<QString> taken;
    bool othersLeft = false;
    // The relay's answers to sends of this owner, the last for each.
    QHash<QString, MessageStatus> answers;
    for (const JournaledSend &send : sends) {
        if (send.answer && send.owner == owner)
            answers.insert(send.row.id, send.row.status);
    }
    for (const JournaledSend &send : sends) {
        if (send.owner != owner) {
            othersLeft = true;
            continue;
        }
        if (send.answer)
            continue;
        // Stored since (or deleted: the store remembers the ids it deleted).
        if (taken.contains(send.row.id) || store.messageIdKnown(send.row.id))
            continue;
        taken.insert(send.row.id);
        MessageRecord row = send.row;
        // Answered: taken (or refused) by the relay, never posted again. A
        // send without an envelope cannot be posted again: it ended with the
        // program that ran it.
        row.status = answers.value(row.id, row.status);
        if (send.envelope.isEmpty() && row.status == MessageStatus::Sending)
            row.status = MessageStatus::Failed;
        rows.append(row);
        envelopes.append(row.status == MessageStatus::Sending ? send.envelope : QString());
    }
    if (!rows.isEmpty() && !store.upsertOutgoing(owner, rows, envelopes))
        return std::nullopt;
    if (!othersLeft) {
        // Emptied: the first record's place zeroed, the room kept.
        if (!writeAll(fd.get(), QByteArray(kHeaderBytes, '\0'), 0) || ::fdatasync(fd.get()) != 0)
            qWarning().noquote() << "[JOURNAL] could not empty" << path;
        else
            g_ends.insert(path, 0);
    }
    return rows;
}

} // namespace velmor::chat
