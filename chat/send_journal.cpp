#include "chat/send_journal.h"

#include "store/chat_store.h"
#include "store/store_files.h"

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
#include <QThreadPool>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <cstring>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::chat {

namespace {

// A record: magic, payload length, the payload's digest, the payload (JSON).
constexpr quint32 kMagic = 0x314a5350; // "PSJ1"
// A record whose send is in the store (or was dropped), or a damaged stretch:
// the same header with this magic, its bytes zeroed. Skipped by the reader.
constexpr quint32 kHoleMagic = 0x304a5350; // "PSJ0"
constexpr int kHeaderBytes = 16;
constexpr int kDigestBytes = 8;
// A record larger than this is no record (a damaged length).
constexpr quint32 kMaxRecordBytes = 64 * 1024 * 1024;

// One writer at a time in this process: appends, replays and their reading
// of where the records end.
QMutex g_mutex;
// What this process knows of each file once it has read it whole (under
// g_mutex; every write to the file goes through here): where its records
// end, past which byte it is all zeros, and how large it is. A send's
// clean-up then reads its records only, not the whole reserve (a megabyte
// at least), and a send's room is asked for without opening the file.
struct Known
{
    qint64 end = 0;
    qint64 written = 0;
    qint64 size = -1; // unknown
};
QHash<QString, Known> g_known;

// The journal obeys the store's own rules for its files: no link anywhere
// the store refuses one, no file or folder of another user, owner-only.
class Fd
{
public:
    explicit Fd(const QString &path, bool create) : m_fd(openChecked(path, create)) {}
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
    static int openChecked(const QString &path, bool create)
    {
        if (path.isEmpty())
            return -1;
        const QString foreign = velmor::store::foreignStorePath(path);
        if (!foreign.isEmpty()) {
            qWarning().noquote() << "[JOURNAL] not opened: not the user's own:" << foreign;
            return -1;
        }
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0600);
        if (fd < 0) {
            if (errno != ENOENT)
                qWarning().noquote() << "[JOURNAL] not opened:" << path << strerror(errno);
            return -1;
        }
        // Made between the check and the open, or a second name for
        // another file: not the journal.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1
            || ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0)) {
            qWarning().noquote() << "[JOURNAL] not opened: not an owner-only file of the user:" << path;
            ::close(fd);
            return -1;
        }
        return fd;
    }

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
    QJsonObject object{
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
    if (send.waiting)
        object.insert(QStringLiteral("waiting"), true);
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
    send.waiting = object.value(QStringLiteral("waiting")).toBool();
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

// What the file holds: its whole records in order, each with its place,
// and the stretches that could not be read, each followed by a whole
// record (a damaged byte costs its own record, not every later one).
struct Scanned
{
    QList<JournaledSend> sends;
    QList<QPair<qint64, qint64>> places;  // offset and length of each send's record
    QList<QPair<qint64, qint64>> damaged; // offset and length of each unreadable stretch
    int lost = 0;                         // records in those stretches
    qint64 end = 0;                       // where the next record goes
    qint64 written = 0;                   // past the last byte that is not zero
    bool holes = false;                   // settled records are in the file
};

QByteArray headerMagic(quint32 magic)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(magic, bytes.data());
    return bytes;
}

// The next place after `from` that starts like a record (or a hole); -1 for none.
qint64 nextHeader(const QByteArray &bytes, qint64 from)
{
    static const QByteArray record = headerMagic(kMagic);
    static const QByteArray hole = headerMagic(kHoleMagic);
    const qint64 a = bytes.indexOf(record, from);
    const qint64 b = bytes.indexOf(hole, from);
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

// Reads the records of the file, and the rest of it up to `limit` bytes:
// where the records end is then seen by the zeroed header after them.
Scanned scan(const Fd &fd, qint64 limit = std::numeric_limits<qint64>::max())
{
    Scanned out;
    const qint64 size = std::min(std::max<qint64>(fd.size(), 0), limit);
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd.get(), bytes.data() + got, size_t(size - got), off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    out.written = got;
    while (out.written > 0 && bytes.at(out.written - 1) == '\0')
        --out.written;
    qint64 at = 0;
    qint64 damageFrom = -1;
    int damagedRecords = 0;
    static const QByteArray zeroHeader(kHeaderBytes, '\0');
    while (got - at >= kHeaderBytes) {
        const char *header = bytes.constData() + at;
        const quint32 magic = qFromLittleEndian<quint32>(header);
        const quint32 length = qFromLittleEndian<quint32>(header + 4);
        const bool plausible = (magic == kMagic || magic == kHoleMagic) && length <= kMaxRecordBytes
                               && got - at - kHeaderBytes >= length;
        if (plausible && magic == kHoleMagic) {
            out.holes = true;
            at += kHeaderBytes + length;
            continue;
        }
        if (plausible) {
            const QByteArray payload = bytes.mid(at + kHeaderBytes, length);
            if (digestOf(payload) == QByteArray(header + 8, kDigestBytes)) {
                if (damageFrom >= 0) {
                    out.damaged.append({damageFrom, at - damageFrom});
                    out.lost += std::max(damagedRecords, 1);
                    damageFrom = -1;
                    damagedRecords = 0;
                }
                JournaledSend send = decode(payload);
                if (!send.owner.isEmpty() && !send.row.id.isEmpty()) {
                    out.sends.append(std::move(send));
                    out.places.append({at, kHeaderBytes + qint64(length)});
                }
                at += kHeaderBytes + length;
                out.end = at;
                continue;
            }
        }
        // Where the records end (the zeroed place an append leaves after
        // its records), or a record cut short by a kill with nothing after
        // it: nothing more. Else a damaged record: the reader looks for
        // the next whole one.
        if (damageFrom < 0 && bytes.mid(at, kHeaderBytes) == zeroHeader)
            break;
        if (damageFrom < 0)
            damageFrom = at;
        if (plausible)
            ++damagedRecords;
        const qint64 next = nextHeader(bytes, at + 1);
        if (next < 0)
            break;
        at = next;
    }
    return out;
}

// Overwrites a record (or a damaged stretch) with a hole of its length:
// its text is gone from the file, and the reader passes over it.
bool punchHole(const Fd &fd, qint64 offset, qint64 length)
{
    if (length < kHeaderBytes)
        return false;
    QByteArray hole(length, '\0');
    qToLittleEndian<quint32>(kHoleMagic, hole.data());
    qToLittleEndian<quint32>(quint32(length - kHeaderBytes), hole.data() + 4);
    return writeAll(fd.get(), hole, offset);
}

// Nothing in the file is left to write: every byte that held a record is
// zeroed and the file cut back to its reserve (a burst may have grown it
// far beyond), so no message text stays on the disk in it. Synced by the
// caller.
bool emptyFile(const Fd &fd, qint64 written)
{
    if (fd.size() > SendJournal::kReservedBytes && ::ftruncate(fd.get(), off_t(SendJournal::kReservedBytes)) != 0)
        return false;
    // Past `written` the file is zero already (its reserve, or zeroed before).
    const qint64 used = std::min(written, std::max(fd.size(), qint64(0)));
    return writeAll(fd.get(), QByteArray(used, '\0'), 0);
}

// The records at `settled` (indexes into scanned.sends) are in the store or
// dropped, and the damaged stretches are told: they leave the file, which is
// emptied when nothing in it is left to write. Synced by the caller.
bool settle(const Fd &fd, const Scanned &scanned, const QList<qsizetype> &settled)
{
    if (settled.size() == scanned.sends.size())
        return emptyFile(fd, scanned.written);
    bool ok = true;
    for (qsizetype i : settled)
        ok = punchHole(fd, scanned.places.at(i).first, scanned.places.at(i).second) && ok;
    for (const auto &stretch : scanned.damaged)
        punchHole(fd, stretch.first, stretch.second);
    return ok;
}

// Waits for what was written through `fd` to reach the disk. Called with
// g_mutex released: a send's seal job asks for room (reserveFor) while the
// journal's thread syncs a typed text, and would otherwise wait out that
// sync (milliseconds on a busy disk) before it writes and shows the send.
// What is written stays in the file meanwhile: only a later call, under the
// mutex, removes records, and only those the store holds.
bool syncData(const Fd &fd)
{
    return ::fdatasync(fd.get()) == 0;
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
bool hasLittleRoom(qint64 size, qint64 end, qint64 bytes)
{
    return size < end + bytes + kHeaderBytes + SendJournal::kReservedBytes / 2;
}

bool roomFor(const Fd &fd, qint64 end, qint64 bytes)
{
    const qint64 needed = end + bytes + kHeaderBytes;
    const qint64 size = fd.size();
    if (!hasLittleRoom(size, end, bytes))
        return true;
    return reserveRoom(fd, std::max({SendJournal::kReservedBytes, 2 * needed, needed + SendJournal::kReservedBytes}))
           || size >= needed;
}

// The file read whole: what is known of it from now on.
Known learn(const QString &path, const Fd &fd, const Scanned &scanned)
{
    const Known known{scanned.end, scanned.written, fd.size()};
    g_known.insert(path, known);
    return known;
}

// Where the records of the file end: known, or read now (under g_mutex).
qint64 endOf(const QString &path, const Fd &fd)
{
    const auto known = g_known.constFind(path);
    if (known != g_known.cend())
        return known->end;
    return learn(path, fd, scan(fd)).end;
}

// Nothing is left in the file to write (under g_mutex).
void knownEmptied(const QString &path, const Fd &fd)
{
    g_known.insert(path, Known{0, 0, fd.size()});
}

// One thread: what it is given lands in the order it was given, and a pool
// busy with posts and pictures holds none of it back.
QThreadPool *journalThread()
{
    static QThreadPool *const pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return pool;
}

void onJournalThread(std::function<void()> work)
{
    journalThread()->start([work = std::move(work)] {
        try {
            work();
        } catch (...) {
            qWarning() << "[JOURNAL] a journal job threw";
        }
    });
}

// Returns once what was given to the journal's thread before the call has
// run. A reading of the file waits for it: a typed text's record queued to
// be taken out, after its send was given back to the composer, would
// otherwise be read as a text still to send, and sent as well as typed again.
void afterQueuedWork()
{
    std::promise<void> ran;
    const std::future<void> done = ran.get_future();
    onJournalThread([&ran] { ran.set_value(); });
    done.wait();
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
    const qint64 end = learn(path, fd, scan(fd)).end;
    // Twice what is in use: an append never finds the room taken.
    const bool reserved = reserveRoom(fd, std::max(kReservedBytes, 2 * end));
    g_known[path].size = fd.size();
    return reserved && ::fsync(fd.get()) == 0;
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
    if (!roomFor(fd, end, records.size() - kHeaderBytes) || !writeAll(fd.get(), records, end)) {
        qWarning().noquote() << "[JOURNAL] could not keep" << sends.size() << "sends in" << path;
        g_known.remove(path);
        return false;
    }
    Known &known = g_known[path];
    known.end = end + records.size() - kHeaderBytes;
    known.written = std::max(known.written, known.end);
    known.size = fd.size();
    lock.unlock();
    if (!syncData(fd)) {
        qWarning().noquote() << "[JOURNAL] could not sync" << sends.size() << "sends in" << path;
        return false;
    }
    return true;
}

bool SendJournal::reserveFor(const QString &path, qint64 bytes)
{
    if (path.isEmpty())
        return false;
    QMutexLocker lock(&g_mutex);
    // The room this process took is there still: nothing else writes the file.
    const auto known = g_known.constFind(path);
    if (known != g_known.cend() && known->size >= 0 && !hasLittleRoom(known->size, known->end, bytes))
        return true;
    const Fd fd(path, true);
    if (!fd.ok())
        return false;
    const bool room = roomFor(fd, endOf(path, fd), bytes);
    g_known[path].size = fd.size();
    return room;
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

QList<JournaledSend> SendJournal::read(const QString &path, int *lost)
{
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, false);
    const Scanned scanned = fd.ok() ? scan(fd) : Scanned();
    if (lost)
        *lost = scanned.lost;
    return scanned.sends;
}

std::optional<SendJournal::Replayed> SendJournal::replay(const QString &path, const QString &owner, ChatStore &store,
                                                         const ReplayFilter &filter)
{
    afterQueuedWork();
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, false);
    if (!fd.ok())
        return Replayed();
    const Scanned scanned = scan(fd);
    learn(path, fd, scanned);
    Replayed out;
    out.lost = scanned.lost;
    if (scanned.sends.isEmpty()) {
        // Nothing to write; what is left of settled, damaged or cut-short
        // records goes.
        if (scanned.written > 0 && emptyFile(fd, scanned.written) && syncData(fd))
            knownEmptied(path, fd);
        g_known[path].size = fd.size();
        return out;
    }
    QList<MessageRecord> rows;
    QStringList envelopes;
    QList<qsizetype> toWrite;  // index of each row in scanned.sends
    QList<qsizetype> settled;  // records that leave the file
    QSet<QString> taken;
    QSet<QString> sealed; // a sealed record stands for the typed text it was
    // The relay's answers to sends of this owner, the last for each.
    QHash<QString, MessageStatus> answers;
    QList<qsizetype> answeredStored; // answers to sends the store holds
    for (const JournaledSend &send : scanned.sends) {
        if (send.owner != owner)
            continue;
        if (send.answer)
            answers.insert(send.row.id, send.row.status);
        else if (!send.waiting)
            sealed.insert(send.row.id);
    }
    for (qsizetype i = 0; i < scanned.sends.size(); ++i) {
        const JournaledSend &send = scanned.sends.at(i);
        // Another owner's waits for that owner's sign-in; a send this
        // session still holds is written by it.
        if (send.owner != owner || (filter.held && filter.held(send.row.id)))
            continue;
        // Taken into its send's row below; a send stored already (by a
        // session that ended before the relay answered) takes it after.
        if (send.answer) {
            if (sealed.contains(send.row.id))
                settled.append(i);
            else
                answeredStored.append(i);
            continue;
        }
        if (send.waiting) {
            // Sealed since, or its conversation deleted: it leaves; else it
            // stays until the send made of it is stored.
            if (sealed.contains(send.row.id) || store.messageIdKnown(send.row.id)
                || (filter.dropped && filter.dropped(send.row)))
                settled.append(i);
            else if (!taken.contains(send.row.id)) {
                taken.insert(send.row.id);
                out.waiting.append(send);
            }
            continue;
        }
        // Stored since (or deleted: the store remembers the ids it deleted).
        if (taken.contains(send.row.id) || store.messageIdKnown(send.row.id)) {
            settled.append(i);
            continue;
        }
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
        toWrite.append(i);
    }
    if (!rows.isEmpty()) {
        QList<bool> written;
        // A conversation deleted meanwhile is asked about inside the write.
        const auto wanted = [&](qsizetype k) { return !filter.dropped || !filter.dropped(rows.at(k)); };
        if (!store.upsertOutgoing(owner, rows, envelopes, wanted, &written))
            return std::nullopt;
        for (qsizetype k = 0; k < rows.size(); ++k) {
            if (written.value(k))
                out.rows.append(rows.at(k));
            settled.append(toWrite.at(k));
        }
    }
    if (!answeredStored.isEmpty()) {
        // Left sending by a session that ended before the relay answered:
        // the answer is written now, so the send is not posted again.
        QSet<QString> ids;
        for (const qsizetype i : std::as_const(answeredStored)) {
            const QString &id = scanned.sends.at(i).row.id;
            if (!ids.contains(id)) {
                ids.insert(id);
                out.answered.append({id, answers.value(id)});
            }
        }
        QList<bool> found;
        if (!store.setMessageStatuses(out.answered, &found))
            return std::nullopt;
        for (qsizetype k = out.answered.size() - 1; k >= 0; --k) {
            if (!found.value(k))
                out.answered.removeAt(k);
        }
        settled.append(answeredStored);
    }
    if (out.lost > 0)
        qWarning().noquote() << "[JOURNAL]" << out.lost << "damaged records could not be read in" << path;
    std::sort(settled.begin(), settled.end());
    if (!settle(fd, scanned, settled) || !syncData(fd))
        qWarning().noquote() << "[JOURNAL] could not empty" << path;
    else if (settled.size() == scanned.sends.size())
        knownEmptied(path, fd);
    g_known[path].size = fd.size();
    return out;
}

bool SendJournal::forget(const QString &path, const QString &owner, const QSet<QString> &ids, bool waitingOnly)
{
    if (ids.isEmpty())
        return true;
    QMutexLocker lock(&g_mutex);
    const Fd fd(path, false);
    if (!fd.ok())
        return true;
    // Known: only its records are read (and the zeroed header after them),
    // and what lies beyond them, zero or not, is known too.
    const auto known = g_known.constFind(path);
    Scanned scanned;
    if (known != g_known.cend()) {
        scanned = scan(fd, known->end + kHeaderBytes);
        scanned.written = std::max(scanned.written, known->written);
    } else {
        scanned = scan(fd);
        learn(path, fd, scanned);
    }
    QList<qsizetype> settled;
    for (qsizetype i = 0; i < scanned.sends.size(); ++i) {
        const JournaledSend &send = scanned.sends.at(i);
        if (send.owner == owner && ids.contains(send.row.id) && (send.waiting || !waitingOnly))
            settled.append(i);
    }
    if (settled.isEmpty())
        return true;
    const bool ok = settle(fd, scanned, settled);
    if (ok && settled.size() == scanned.sends.size())
        knownEmptied(path, fd);
    g_known[path].size = fd.size();
    if (!ok)
        return false;
    lock.unlock();
    return syncData(fd);
}


void SendJournal::appendSoon(const QString &path, const QList<JournaledSend> &sends)
{
    onJournalThread([path, sends] { append(path, sends); });
}

bool SendJournal::finishQueued(int msecs)
{
    return journalThread()->waitForDone(msecs);
}

void SendJournal::forgetSoon(const QString &path, const QString &owner, const QSet<QString> &ids, bool waitingOnly,
                             std::function<void()> then)
{
    onJournalThread([path, owner, ids, waitingOnly, then = std::move(then)] {
        forget(path, owner, ids, waitingOnly);
        if (then)
            then();
    });
}

} // namespace velmor::chat
