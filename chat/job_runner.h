// Background jobs of the chat controller: the worker runs on Qt's global
// thread pool, its one result comes back on the GUI thread through a heap
// QFutureWatcher parented to the controller, and the continuation runs only
// while the session that started the job is still current.
//
// How a part starts a job:
//
//     m_host.jobs().run<QString>(
//         [peer, text] { return sendOnRelay(peer, text); },           // pool thread
//         [this, id](const QString &error) { markSent(id, error); },  // GUI thread
//         [this] { m_sending = false; });                             // always
//
// The worker gets copies only (never `this` state, never signals). The
// continuation is skipped when stop() or another owner's sign-in came in
// between (ChatSession), so a stale result stores and emits nothing. The
// optional `settle` runs first in every case, stale or not: it clears the
// part's busy flag, so a flag is never left stuck by a dropped result.
#pragma once

#include "chat/chat_session.h"
#include "net/http.h"

#include <QDebug>
#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace velmor::chat {

class JobRunner
{
public:
    JobRunner(QObject *owner, const ChatSession &session)
        : m_owner(owner), m_session(session)
    {
        // The jobs mostly wait on the relay, a group server or the disk, not
        // on a core. A pool sized to the cores (two on a small machine) let
        // two slow relay answers hold back every other job: a burst's rows
        // were neither written nor shown, older pages not read, until the
        // posts timed out.
        QThreadPool *pool = QThreadPool::globalInstance();
        if (pool->maxThreadCount() < kMinPoolThreads)
            pool->setMaxThreadCount(kMinPoolThreads);
    }
    JobRunner(const JobRunner &) = delete;
    JobRunner &operator=(const JobRunner &) = delete;

    static constexpr int kMinPoolThreads = 16;

    // Jobs whose continuation has not run yet (stale ones included).
    int pending() const { return m_pending; }

    template <typename T, typename Worker, typename Done>
    void run(Worker worker, Done done, std::function<void()> settle = {})
    {
        start<T>(std::move(worker),
                 [done = std::move(done)](T &&result, bool current) mutable {
                     if (!current) {
                         qInfo() << "[CHAT-JOB] result of an ended session dropped";
                         return;
                     }
                     done(std::move(result));
                 },
                 std::move(settle));
    }

    // For work whose result still counts once its session ended (a send
    // written for a session that signed out, a post the relay took): `done`
    // gets every result, with whether the session that started the job is
    // still current.
    template <typename T, typename Worker, typename Done>
    void runToEnd(Worker worker, Done done, std::function<void()> settle = {})
    {
        start<T>(std::move(worker), std::move(done), std::move(settle));
    }

    // A job whose result comes in two parts, the first while the worker
    // goes on (a send written, then its post's answer): the worker is
    // given a function that hands `First` to the window at once, and its
    // return value is the second. Like runToEnd, both come with whether the
    // session that started the job is still current; each part's settle
    // runs first, before its part, or at the end if the worker failed
    // before reaching it.
    template <typename First, typename Second, typename Worker, typename DoneFirst, typename DoneSecond>
    void runInTwo(Worker worker, DoneFirst doneFirst, DoneSecond doneSecond, std::function<void()> settleFirst,
                  std::function<void()> settleSecond)
    {
        using Part = std::variant<First, Second>;
        struct Settles
        {
            std::function<void()> parts[2];
            void run(int part)
            {
                if (auto settle = std::exchange(parts[part], {}))
                    settle();
            }
        };
        auto settles = std::make_shared<Settles>(Settles{{std::move(settleFirst), std::move(settleSecond)}});
        const ChatSession::Ticket ticket = m_session.ticket();
        auto *watcher = new QFutureWatcher<Part>(m_owner);
        ++m_pending;
        QObject::connect(watcher, &QFutureWatcherBase::resultReadyAt, m_owner,
                         [this, watcher, ticket, settles, doneFirst = std::move(doneFirst),
                          doneSecond = std::move(doneSecond)](int index) mutable {
                             const velmor::net::GuiThreadWork onTheWindowsThread;
                             Part part = watcher->resultAt(index);
                             const bool current = m_session.isCurrent(ticket);
                             settles->run(int(part.index()));
                             if (auto *first = std::get_if<0>(&part))
                                 doneFirst(std::move(*first), current);
                             else
                                 doneSecond(std::move(std::get<1>(part)), current);
                         });
        QObject::connect(watcher, &QFutureWatcherBase::finished, m_owner, [this, watcher, settles] {
            const velmor::net::GuiThreadWork onTheWindowsThread;
            watcher->deleteLater();
            --m_pending;
            if (settles->parts[0] || settles->parts[1])
                qWarning() << "[CHAT-JOB] worker failed without a result";
            settles->run(0);
            settles->run(1);
        });
        watcher->setFuture(QtConcurrent::run(
            QThreadPool::globalInstance(), [worker = std::move(worker)](QPromise<Part> &promise) mutable {
                try {
                    Second second = worker([&promise](First &&first) {
                        promise.addResult(Part(std::in_place_index<0>, std::move(first)));
                    });
                    promise.addResult(Part(std::in_place_index<1>, std::move(second)));
                } catch (const std::exception &e) {
                    qWarning() << "[CHAT-JOB] worker threw:" << e.what();
                } catch (...) {
                    qWarning() << "[CHAT-JOB] worker threw";
                }
            }));
    }

    // `done` on the GUI thread once `future` (work started elsewhere on the
    // pool) has finished, while the session that asked is still current. A
    // job waiting for it instead held a pool thread for as long as the work
    // ran (or waited for a thread itself when the pool was full).
    template <typename Done>
    void whenFinished(const QFuture<void> &future, Done done)
    {
        const ChatSession::Ticket ticket = m_session.ticket();
        auto *watcher = new QFutureWatcher<void>(m_owner);
        ++m_pending;
        QObject::connect(watcher, &QFutureWatcherBase::finished, m_owner,
                         [this, watcher, ticket, done = std::move(done)]() mutable {
                             const velmor::net::GuiThreadWork onTheWindowsThread;
                             watcher->deleteLater();
                             --m_pending;
                             if (m_session.isCurrent(ticket))
                                 done();
                             else
                                 qInfo() << "[CHAT-JOB] result of an ended session dropped";
                         });
        watcher->setFuture(future);
    }

private:
    template <typename T, typename Worker, typename Done>
    void start(Worker worker, Done done, std::function<void()> settle)
    {
        static_assert(std::is_invocable_r_v<T, Worker>, "the worker must return the job's result type");
        const ChatSession::Ticket ticket = m_session.ticket();
        auto *watcher = new QFutureWatcher<std::optional<T>>(m_owner);
        ++m_pending;
        QObject::connect(watcher, &QFutureWatcherBase::finished, m_owner,
                         [this, watcher, ticket, done = std::move(done), settle = std::move(settle)]() mutable {
                             const velmor::net::GuiThreadWork onTheWindowsThread;
                             std::optional<T> result = watcher->result();
                             watcher->deleteLater();
                             --m_pending;
                             if (settle)
                                 settle();
                             if (!result) {
                                 qWarning() << "[CHAT-JOB] worker failed without a result";
                                 return;
                             }
                             done(std::move(*result), m_session.isCurrent(ticket));
                         });
        // A worker that throws would rethrow on the GUI thread through
        // result(); it is caught on the pool thread and the job ends without
        // a continuation instead.
        watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(),
                                             [worker = std::move(worker)]() mutable -> std::optional<T> {
                                                 try {
                                                     return std::optional<T>(worker());
                                                 } catch (const std::exception &e) {
                                                     qWarning() << "[CHAT-JOB] worker threw:" << e.what();
                                                 } catch (...) {
                                                     qWarning() << "[CHAT-JOB] worker threw";
                                                 }
                                                 return std::nullopt;
                                             }));
    }

public:
    // Fire-and-forget work with no result and nothing to apply.
    template <typename Worker>
    static void fireAndForget(Worker worker)
    {
        QThreadPool::globalInstance()->start(std::function<void()>([worker = std::move(worker)]() mutable {
            try {
                worker();
            } catch (...) {
                qWarning() << "[CHAT-JOB] fire-and-forget worker threw";
            }
        }));
    }

private:
    QObject *m_owner;
    const ChatSession &m_session;
    int m_pending = 0;
};

} // namespace velmor::chat
