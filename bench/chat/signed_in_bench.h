// What the chat controller's benchmarks share: a user signed in as the
// login does (the relay session, a loopback group centre, the store in a
// temporary folder), a started controller and its stop, waits that keep the
// event loop turning, and the program's run: Google Benchmark's table, then
// each measured pair's counters side by side (ours beside its bare
// baseline, each run once per process).
#pragma once

#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmor::bench {

// Waits, asleep as a window's event loop is, until an event comes or `ms`
// pass, and handles what came. (processEvents with a time handles what is
// there and returns at once: looped, it keeps the thread polling without a
// pause, which takes a core from the pool threads the work waits for and
// counts the polling as the window's work.)
inline void waitForEvents(int ms)
{
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Turns the event loop until `done` or `ms` have passed; false on time-out.
template <typename Done>
bool spinUntil(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        waitForEvents(5);
    }
    return true;
}

inline void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

// Runs `start` and the event loop until `done` (or `limitMs` pass): the time
// it took in seconds and the longest gap between two ticks of a 1 ms timer
// on this (the GUI) thread in milliseconds. The call itself counts as a
// stall of the loop.
template <typename Start, typename Done>
std::pair<double, double> timed(Start start, Done done, int limitMs = 30000)
{
    QTimer ticker;
    ticker.setInterval(1);
    QElapsedTimer clock, sinceTick;
    qint64 longestGapNs = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    start();
    longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
    while (!done() && clock.elapsed() < limitMs)
        waitForEvents(5);
    ticker.stop();
    return {clock.nsecsElapsed() / 1e9, longestGapNs / 1e6};
}

// A user signed in as the application's login does, with a store file of
// its own; signed out (store closed, relay session cleared) when it goes.
class SignedIn
{
public:
    explicit SignedIn(const velmor::identity::Identity &me, const QString &relayUrl = deadLoopbackUrl(),
                      const QString &file = QStringLiteral("chat.db"))
        : m_me(me)
    {
        velmor::net::RelayAuthSession::instance().configure(relayUrl, me);
        useLoopbackGroupCentre();
        m_ok = m_dir.isValid() && ChatStore::instance().open(me.publicKeyText(), m_dir.filePath(file));
        m_path = m_dir.filePath(file);
    }
    ~SignedIn()
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
    }
    SignedIn(const SignedIn &) = delete;
    SignedIn &operator=(const SignedIn &) = delete;

    bool ok() const { return m_ok; }
    const velmor::identity::Identity &me() const { return m_me; }
    QString key() const { return m_me.publicKeyText(); }
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    velmor::identity::Identity m_me;
    QString m_path;
    bool m_ok = false;
};

// A controller as the window has one (the machine's reachability left out,
// so no recovery runs behind a measurement's back); started unless asked not to.
inline std::unique_ptr<ChatController> makeController(bool started = true)
{
    auto chat = std::make_unique<ChatController>();
    chat->watchReachability(false);
    if (started)
        chat->start();
    return chat;
}

// Stopped, and its jobs back (stale ones included).
inline bool stopController(ChatController &chat, int ms = 60000)
{
    chat.stop();
    return spinUntil([&chat] { return chat.pendingJobs() == 0; }, ms);
}

// A measured run and its bare baseline: their counters are printed side by
// side after the table.
struct CounterPair
{
    std::string ours; // run names as Google Benchmark prints them, e.g. "BM_Read/12000/iterations:1/real_time"
    std::string bare;
};

class CounterReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred)
                m_counters[run.run_name.str()] = run.counters;
        }
    }

    void printPairs(const std::vector<CounterPair> &pairs) const
    {
        for (const CounterPair &pair : pairs) {
            const auto ours = m_counters.find(pair.ours);
            const auto bare = m_counters.find(pair.bare);
            if (ours == m_counters.end() || bare == m_counters.end())
                continue;
            std::printf("\n%s beside %s\n", pair.ours.c_str(), pair.bare.c_str());
            for (const auto &[name, counter] : ours->second) {
                const auto other = bare->second.find(name);
                if (other == bare->second.end())
                    std::printf("  %-24s %12.2f\n", name.c_str(), counter.value);
                else
                    std::printf("  %-24s %12.2f %12.2f (bare)\n", name.c_str(), counter.value, other->second.value);
            }
        }
    }

private:
    std::map<std::string, benchmark::UserCounters> m_counters;
};

// The body of a benchmark program's main(), after its QCoreApplication.
inline int runBenchmarks(int argc, char **argv, const std::vector<CounterPair> &pairs = {})
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CounterReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printPairs(pairs);
    benchmark::Shutdown();
    return 0;
}

} // namespace velmor::bench
