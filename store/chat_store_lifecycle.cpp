// Opening and closing the store: the file's checks, the damaged file set
// aside and what was read back from it, and the holds that keep a store
// open for a write under way.
#include "store/chat_store_internal.h"

#include "store/page_scan.h"
#include "store/salvage.h"
#include "store/schema.h"
#include "store/store_files.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStandardPaths>

#include <sqlite3.h>

namespace velmor::store {

namespace {

// The exclusive lifecycle lock, taken while statements of other threads
// that wait for another process's lock are told to give up.
class Exclusive
{
public:
    explicit Exclusive(StoreState &state) : m_state(state)
    {
        m_state.closing.store(true);
        m_state.lifecycle.lockForWrite();
        m_state.closing.store(false);
    }
    ~Exclusive() { m_state.lifecycle.unlock(); }
    Exclusive(const Exclusive &) = delete;
    Exclusive &operator=(const Exclusive &) = delete;

private:
    StoreState &m_state;
};

// Each identity that had readable rows in the kept file is told at its
// next sign-in with the count of its messages read back; a row under no
// owner stands for the identities whose rows could not be read at all.
// The identity that opened the file is told now.
void recordSetAside(Connection *conn, const QString &kept, QHash<QString, int> owners, const QString &opener)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString insert = QStringLiteral("INSERT OR REPLACE INTO store_set_asides(owner_raw_public_key,kept_path,"
                                          "saved_messages,created_at,told) VALUES(?,?,?,?,?)");
    owners.insert(QString(), 0);
    for (auto it = owners.cbegin(); it != owners.cend(); ++it) {
        if (it.key() != opener)
            Stmt(conn, insert, {it.key(), kept, it.value(), now, 0});
    }
    Stmt(conn, insert, {opener, kept, owners.value(opener), now, 1});
}

// The latest kept file this identity has not been told of; told from now
// on.
void takeUntoldSetAside(Connection *conn, const QString &owner, OpenReport *out)
{
    {
        Stmt untold(conn,
                    QStringLiteral("SELECT kept_path, saved_messages FROM store_set_asides AS s "
                                   "WHERE (owner_raw_public_key=? AND told=0) OR (owner_raw_public_key='' AND NOT EXISTS("
                                   "SELECT 1 FROM store_set_asides AS t WHERE t.owner_raw_public_key=? "
                                   "AND t.kept_path=s.kept_path)) ORDER BY owner_raw_public_key=? DESC, created_at DESC LIMIT 1"),
                    {owner, owner, owner});
        if (!untold.next())
            return;
        out->setAside = untold.text(0);
        out->salvagedMessages = int(untold.integer(1));
    }
    Stmt(conn, QStringLiteral("UPDATE store_set_asides SET told=1 WHERE owner_raw_public_key=?"), {owner});
    Stmt(conn,
         QStringLiteral("INSERT INTO store_set_asides(owner_raw_public_key,kept_path,saved_messages,created_at,told) "
                        "SELECT ?, kept_path, 0, created_at, 1 FROM store_set_asides WHERE owner_raw_public_key='' "
                        "ON CONFLICT DO NOTHING"),
         {owner});
}

enum class Check { Sound, Damaged, Newer, Failed };

// Opens the connection for `state.path` and looks at the file: a database
// whose quick check passes, in WAL mode when the file system allows it.
Check checkFile(StoreState &state, Connection **out, Condition *failure)
{
    *out = state.connection();
    Connection *conn = *out;
    if (!conn) {
        // The connection's own settings already read the file.
        *failure = conditionOf(state.lastConnectError.load());
        return *failure == Condition::Damaged ? Check::Damaged : Check::Failed;
    }
    // A newer build's file is looked at before anything could write to it
    // (the journal mode below may); a file whose version cannot be read is
    // judged by the quick check.
    {
        Stmt version(conn, QStringLiteral("PRAGMA user_version"), {});
        if (version.next() && version.integer(0) > kSchemaVersion) {
            qCWarning(lcStore) << "refused: written by a newer build, layout version" << version.integer(0)
                               << "above" << kSchemaVersion << state.path;
            return Check::Newer;
        }
    }
    QSqlQuery q(conn->db);
    // Some file systems cannot share WAL memory; the database still works
    // with its rollback journal there, so this is not a reason to fail.
    const bool wal = q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && q.next()
                     && q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    q.finish();
    if (!wal)
        qCWarning(lcStore) << "WAL journal mode refused for" << state.path;
    // Every page of the file is read (no index cross-check: that is the
    // full check's cost); a file that is not a database fails here too.
    bool ran = false;
    bool sound = false;
    QString verdict;
    int code = SQLITE_OK;
    {
        Stmt check(conn, QStringLiteral("PRAGMA quick_check(1)"));
        ran = check.exec();
        sound = ran && check.next() && (verdict = check.text(0)) == QLatin1String("ok");
        code = sqlite3_extended_errcode(conn->handle);
        if (!ran)
            verdict = QString::fromUtf8(sqlite3_errmsg(conn->handle));
    }
    // The pages it read fill this connection's cache (up to its 2 MB), kept
    // for as long as the thread lives, which is the sign-in's worker, idle
    // from now on: they go now.
    sqlite3_db_release_memory(conn->handle);
    if (sound)
        return Check::Sound;
    *failure = ran ? Condition::Damaged : conditionOf(code);
    if (*failure == Condition::Damaged) {
        qCWarning(lcStore) << "damaged database" << state.path << verdict;
        return Check::Damaged;
    }
    return Check::Failed;
}

} // namespace

} // namespace velmor::store

// ---- lifecycle -----------------------------------------------------------

ChatStore &ChatStore::instance()
{
    static ChatStore store;
    return store;
}

ChatStore::ChatStore() : d(std::make_shared<StoreState>())
{
    // Brings Qt's registry of SQL connections and its shared empty query to
    // life first, so that they are torn down after the process-wide store: a
    // connection still open at exit (a thread that never ended) is then
    // closed, and its statements freed, while they exist.
    QSqlDatabase::connectionNames();
    QSqlQuery();
}

ChatStore::~ChatStore()
{
    close();
}

bool ChatStore::open(const QString &ownerKey, const QString &path, velmor::store::OpenReport *report)
{
    using velmor::store::Condition;
    velmor::store::OpenReport scratch;
    velmor::store::OpenReport &out = report ? *report : scratch;
    out = {};
    {
        // A store closed while held open is closed first.
        QMutexLocker held(&d->holdMutex);
        while (d->closeWhenReleased.load())
            d->holdsGone.wait(&d->holdMutex);
    }
    velmor::store::Exclusive lock(*d);
    d->reset();
    if (ownerKey.isEmpty())
        return false;
    d->quiet = true;
    // A store opened on a full disk reads, and says it is full once open.
    Condition openedAs = Condition::Ok;
    const auto speak = qScopeGuard([this, &openedAs] {
        d->quiet = false;
        d->condition.store(int(Condition::Ok));
        if (openedAs != Condition::Ok)
            d->setCondition(openedAs);
    });

    QString file = path;
    if (file.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty()) {
            qCWarning(lcStore) << "no application-data folder";
            return false;
        }
        file = QDir(dir).filePath(QStringLiteral("chat.db"));
    }

    // The vault's rule: a folder or file that is a link or another user's
    // is not opened (nor narrowed, nor moved aside), and the user is told.
    // Looked at before anything is made on the way, and again once the
    // folder is there.
    out.foreign = velmor::store::foreignStorePath(file);
    if (out.foreign.isEmpty() && !velmor::store::makePrivateFolder(QFileInfo(file).absolutePath())) {
        qCWarning(lcStore) << "cannot make the store's folder" << QFileInfo(file).absolutePath();
        return false;
    }
    if (out.foreign.isEmpty())
        out.foreign = velmor::store::foreignStorePath(file);
    if (!out.foreign.isEmpty()) {
        qCWarning(lcStore) << "store refused (a link or another user's):" << out.foreign;
        return false;
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        bool cut = velmor::store::isCutToNothing(file);
        velmor::store::makePrivateFiles(file);
        d->path = file;
        d->owner = ownerKey;
        d->open = true;
        velmor::store::Connection *conn = nullptr;
        Condition failure = Condition::Ok;
        const velmor::store::Check check =
            cut ? velmor::store::Check::Damaged : velmor::store::checkFile(*d, &conn, &failure);
        if (check == velmor::store::Check::Damaged && attempt == 0) {
            // Kept as it is for whoever can still read from it; the user is
            // told, and the new file starts empty.
            d->reset();
            out.setAside = velmor::store::setAside(file);
            if (out.setAside.isEmpty()) {
                qCWarning(lcStore) << "cannot move the damaged database aside" << file;
                out.failure = Condition::Damaged;
                return false;
            }
            qCWarning(lcStore) << (cut ? "database cut to nothing" : "damaged database") << "kept as" << out.setAside;
            continue;
        }
        if (check == velmor::store::Check::Newer)
            out.newer = file;
        if (check != velmor::store::Check::Sound) {
            out.failure = failure;
            d->reset();
            return false;
        }
        QString error;
        // The migration always writes (the layout version at least), so a
        // file that can be read but not written fails here and not at the
        // first write.
        if (!velmor::store::migrate(conn->db, ownerKey, &error)) {
            qCWarning(lcStore) << "cannot open" << file << "for writing:" << error;
            const QString busyText = QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY));
            const QString fullText = QString::fromUtf8(sqlite3_errstr(SQLITE_FULL));
            out.failure = error.contains(busyText)   ? Condition::Busy
                          : error.contains(fullText) ? Condition::DiskFull
                                                     : Condition::Ok;
            // A full disk does not hide what is stored: a file already in
            // the current layout opens for reading, and its writes wait for
            // space like those of a store that filled the disk while open.
            if (out.failure != Condition::DiskFull || !velmor::store::hasCurrentLayout(conn->db)) {
                d->reset();
                return false;
            }
            openedAs = Condition::DiskFull;
        }
        // What can still be read of a file just kept aside comes along;
        // the other identities that had rows in it hear of it at their
        // next sign-in, as this one does now.
        if (!out.setAside.isEmpty() && openedAs == Condition::Ok) {
            // Through SQLite first, then from the pages what it cannot reach.
            QHash<QString, int> owners = velmor::store::salvageRows(out.setAside, conn->handle);
            velmor::store::scanPages(out.setAside, conn->handle, &owners);
            velmor::store::listReadBackConversations(conn->handle);
            out.salvagedMessages = owners.value(ownerKey);
            velmor::store::recordSetAside(conn, out.setAside, owners, ownerKey);
        } else if (openedAs == Condition::Ok) {
            velmor::store::takeUntoldSetAside(conn, ownerKey, &out);
        }
        // A log grown large by an earlier run (a big pull, a full disk that
        // stopped checkpoints) goes back into the file and is cut back now;
        // not while space is short, where copying it into the file could
        // take the last of it.
        if (openedAs == Condition::Ok && !velmor::store::spaceIsShort(file))
            velmor::store::foldLog(*d, conn);
        d->publish(ownerKey, file);
        return true;
    }
    d->reset();
    return false;
}

void ChatStore::close()
{
    {
        QMutexLocker lock(&d->holdMutex);
        if (d->holds > 0) {
            // Read as closed from now on; the last hold closes the file.
            d->closeWhenReleased.store(true);
            d->publish(QString(), QString());
            return;
        }
    }
    velmor::store::Exclusive lock(*d);
    d->reset();
}

std::shared_ptr<void> ChatStore::holdOpen()
{
    QMutexLocker lock(&d->holdMutex);
    if (!isOpen() || d->closeWhenReleased.load())
        return {};
    ++d->holds;
    return std::shared_ptr<void>(d.get(), [state = d](void *) { state->releaseHold(); });
}

void velmor::store::StoreState::releaseHold()
{
    QMutexLocker lock(&holdMutex);
    if (--holds > 0 || !closeWhenReleased.load())
        return;
    lock.unlock();
    {
        Exclusive exclusive(*this);
        reset();
    }
    lock.relock();
    closeWhenReleased.store(false);
    holdsGone.wakeAll();
}

bool ChatStore::isOpen() const
{
    QMutexLocker lock(&d->publishedMutex);
    return !d->publishedOwner.isEmpty();
}

QString ChatStore::ownerKey() const
{
    QMutexLocker lock(&d->publishedMutex);
    return d->publishedOwner;
}

QString ChatStore::databasePath() const
{
    QMutexLocker lock(&d->publishedMutex);
    return d->publishedPath;
}
