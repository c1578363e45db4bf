// Helpers shared by the store tests: a database file in a temporary folder,
// a side connection for poking at the file directly, and record builders.
#pragma once

#include "store/chat_store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <atomic>

namespace storetest {

// Two owners whose keys sort in opposite order relative to the peer keys,
// so conversation ids exercise both branches of the ordering.
inline const QString kOwnerA = QStringLiteral("BOwnerKeyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
inline const QString kOwnerB = QStringLiteral("ZOwnerKeyBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB");
inline const QString kPeer = QStringLiteral("MPeerKeyPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPPP");

// A direct connection to the database file, outside the store, for
// inspecting rows and planting triggers. Closed and removed on destruction.
class SideConnection
{
public:
    explicit SideConnection(const QString &path)
        : m_name(QStringLiteral("store_test_side_%1").arg(s_next.fetch_add(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        m_open = db.open();
    }
    ~SideConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool isOpen() const { return m_open; }

    bool exec(const QString &sql, const QVariantList &binds = {})
    {
        QSqlQuery q = query();
        return run(q, sql, binds);
    }

    // First column of the first row, or an invalid variant.
    QVariant scalar(const QString &sql, const QVariantList &binds = {})
    {
        QSqlQuery q = query();
        if (!run(q, sql, binds) || !q.next())
            return {};
        return q.value(0);
    }

    // Column `column` of every row, as text.
    QStringList column(const QString &sql, int column, const QVariantList &binds = {})
    {
        QStringList out;
        QSqlQuery q = query();
        if (!run(q, sql, binds))
            return out;
        while (q.next())
            out.append(q.value(column).toString());
        return out;
    }

private:
    QSqlQuery query() const { return QSqlQuery(QSqlDatabase::database(m_name, false)); }

    static bool run(QSqlQuery &q, const QString &sql, const QVariantList &binds)
    {
        if (!q.prepare(sql))
            return false;
        for (const QVariant &v : binds)
            q.addBindValue(v);
        return q.exec();
    }

    static inline std::atomic<int> s_next{1};
    QString m_name;
    bool m_open = false;
};

// The fixture of the store tests: a temporary folder for database files and
// the path of the current one.
class StoreFiles
{
protected:
    QTemporaryDir m_dir;
    QString m_path;

    velmor::chat::ChatStore &store() { return velmor::chat::ChatStore::instance(); }

    // A database path in the folder that no earlier call gave:
    // "<stem>-<n>.db".
    QString freshPath(const QString &stem)
    {
        return m_dir.filePath(QStringLiteral("%1-%2.db").arg(stem).arg(++m_files));
    }

private:
    int m_files = 0;
};

inline velmor::chat::MessageRecord message(const QString &id, const QString &conversationId, const QString &text,
                                           qint64 createdAt, bool outgoing = false)
{
    velmor::chat::MessageRecord m;
    m.id = id;
    m.conversation_id = conversationId;
    m.peer_raw_public_key = conversationId;
    m.sender_raw_public_key = outgoing ? QStringLiteral("me") : QStringLiteral("peer");
    m.text = text;
    m.created_at = createdAt;
    m.is_outgoing = outgoing;
    m.status = outgoing ? velmor::chat::MessageStatus::Sending : velmor::chat::MessageStatus::Received;
    return m;
}

} // namespace storetest
