#include "chat/supergroup_creation.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/supergroup_roster.h"
#include "chat/supergroup_rows.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "net/supergroup_center.h"
#include "store/chat_store.h"

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace velmor::chat {

using velmor::sg::SGCapacity;
using velmor::sg::SGCreateResult;
using velmor::sg::SGJoinResult;

namespace {

// A job whose caller is always answered: `done(result, current)` runs on the
// GUI thread also when the session that started it has ended (current is
// then false and nothing may be stored).
template <typename T, typename Worker, typename Done>
void runAnswered(QObject *owner, const ChatSession &session, Worker worker, Done done)
{
    const ChatSession::Ticket ticket = session.ticket();
    auto *watcher = new QFutureWatcher<T>(owner);
    QObject::connect(watcher, &QFutureWatcherBase::finished, owner,
                     [watcher, ticket, &session, done = std::move(done)]() {
                         const T result = watcher->result();
                         watcher->deleteLater();
                         done(result, session.isCurrent(ticket));
                     });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), std::move(worker)));
}

} // namespace

SuperGroupCreation::SuperGroupCreation(ChatHost &host, SuperGroupRoster &roster, QObject *parent)
    : QObject(parent), m_host(host), m_roster(roster)
{
}

void SuperGroupCreation::fetchCapacity()
{
    // Every call gets its signal, also when the session ended meanwhile.
    runAnswered<SGCapacity>(this, m_host.session(), [] { return velmor::sg::SuperGroupCenter::capacity(); },
                            [this](const SGCapacity &capacity, bool) {
                                emit capacityLoaded(capacity.ok, capacity.standardAvailable,
                                                    capacity.premiumAvailable);
                            });
}

void SuperGroupCreation::create(const QString &creationKey, const QString &name, const QString &type)
{
    const QString key = creationKey.trimmed();
    const QString groupName = name.trimmed();
    if (key.isEmpty()) {
        emit createCompleted(false, QStringLiteral("empty_creation_key"));
        return;
    }
    if (groupName.isEmpty()) {
        emit createCompleted(false, QStringLiteral("empty_name"));
        return;
    }
    runAnswered<SGCreateResult>(
        this, m_host.session(),
        [key, groupName, type] { return velmor::sg::SuperGroupCenter::createGroup(key, groupName, type); },
        [this, type](const SGCreateResult &result, bool current) {
            if (!current) {
                // Created, but for a session that is over: the next sign-in
                // of its owner finds the group in the centre's list.
                emit createCompleted(false, QStringLiteral("session_ended"));
                return;
            }
            if (!result.ok) {
                m_host.errors().publishWord(result.error);
                emit createCompleted(false, result.error);
                return;
            }
            SuperGroupRecord row;
            row.server_id = result.group.serverId;
            row.server_url = result.group.serverUrl;
            row.group_id = result.group.groupId;
            row.name = result.group.name;
            row.group_kind = sg::groupKindForType(type);
            row.role = QStringLiteral("owner");
            row.info_json = QStringLiteral("{}");
            row.updated_at = sg::nowSeconds();
            m_host.session().store().upsertSuperGroup(row);
            m_roster.refresh();
            emit createCompleted(true, QString());
        });
}

bool SuperGroupCreation::join(const QString &serverUrl, const QString &note)
{
    if (serverUrl.trimmed().isEmpty()) {
        m_host.errors().publishWord(QStringLiteral("invalid_server_url"));
        return false;
    }
    m_host.jobs().run<SGJoinResult>(
        [serverUrl, note] { return velmor::sg::SuperGroupApi::instance().requestJoin(serverUrl, note); },
        [this, serverUrl](const SGJoinResult &result) {
            if (result.ok) {
                m_roster.refresh();
                emit joinCompleted(serverUrl, true, result.status);
                return;
            }
            if (result.serviceError.isError())
                m_host.errors().publish(result.serviceError);
            else
                m_host.errors().publishWord(result.error);
            emit joinCompleted(serverUrl, false, result.error);
        });
    return true;
}

} // namespace velmor::chat
