// Quick sign-out and sign-in with sends in flight, through the real
// program: one window, two identities taking turns. In each round the
// signed-in identity sends two texts to a third user and signs out while
// their posts are under way (the relay takes 60 ms over each), once the
// rows are shown or in the same turn of the window's event loop as the
// sends; the other identity signs in as soon as the login view is back. After the rounds each identity signs
// in once more and its sends settle. Counted: posts the relay refused
// because they went out under the other identity's session
// (sender_mismatch), texts the recipient's queue lacks (lost) or holds
// twice (doubled), sends the window shows as failed, and rounds whose
// sends the open conversation never showed. Needs a display:
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" ./build/bench/e2e/session_switch_bench
//
// PELORIN_BENCH_ROUNDS sets the number of rounds (200).
#include "driven_app.h"
#include "e2e_services.h"
#include "e2e_steps.h"

#include "identity/envelope.h"
#include "identity/identity.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <benchmark/benchmark.h>

namespace {

using namespace e2e;

struct Account
{
    QString privateKey;
    QString key;
};

Account account(char secret)
{
    const QByteArray bytes(32, secret);
    return {QStringLiteral("0x") + QString::fromLatin1(bytes.toHex()), velmor::identity::Identity(bytes).publicKeyText()};
}

bool signIn(DrivenApp &app, const Account &who, const QString &peer)
{
    return app.waitTrue(QStringLiteral("!App.loggedIn"), 20000)
        && !app.eval(QStringLiteral("App.importAndLogin(%1)").arg(jsString(who.privateKey))).isUndefined()
        && app.waitTrue(QStringLiteral("App.loggedIn && App.myPublicKey === %1").arg(jsString(who.key)), 30000)
        && app.eval(QStringLiteral("Chat.newChat(%1)").arg(jsString(peer))).toBool()
        && app.waitTrue(QStringLiteral("Chat.currentPeer === %1 && %2 === 1").arg(jsString(peer), listedCount(peer)));
}

// The stopped program's outgoing messages by status (1 sent, 2 failed).
QHash<int, int> storedStatuses(const QString &profileDir)
{
    QHash<int, int> counts;
    QDirIterator files(profileDir, {QStringLiteral("chat.db")}, QDir::Files, QDirIterator::Subdirectories);
    if (!files.hasNext())
        return counts;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("statuses"));
        db.setDatabaseName(files.next());
        QSqlQuery query(db);
        if (db.open() && query.exec(QStringLiteral("SELECT status, COUNT(*) FROM messages WHERE is_outgoing = 1 GROUP BY status")))
            while (query.next())
                counts[query.value(0).toInt()] = query.value(1).toInt();
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("statuses"));
    return counts;
}

// Mode 0: the sign-out comes once the two rows are shown (stored, their
// posts under way). Mode 1: in the same turn as the sends, before the
// window has stored them.
void BM_SignOutSignInWithSendsInFlight(benchmark::State &state)
{
    const bool sameTurn = state.range(0) == 1;
    const int rounds = qEnvironmentVariableIsSet("PELORIN_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("PELORIN_BENCH_ROUNDS") : 200;
    for (auto _ : state) {
        E2eServiceHost services;
        QTemporaryDir profiles;
        profiles.setAutoRemove(qEnvironmentVariableIsEmpty("PELORIN_BENCH_KEEP"));
        if (!services.start() || !profiles.isValid()) {
            state.SkipWithError("no services");
            break;
        }
        const velmor::identity::Identity recipient(QByteArray(32, 0x33));
        services.relay().markSeen(recipient.publicKeyText());
        const Account accounts[2] = {account(0x11), account(0x22)};
        DrivenApp app(QStringLiteral("switcher"), profiles.filePath(QStringLiteral("switcher")), services.services());
        if (!app.start() || !signIn(app, accounts[0], recipient.publicKeyText())) {
            state.SkipWithError(qPrintable(QStringLiteral("no first sign-in: ") + app.lastFailure()));
            break;
        }
        // What each identity's window took, by text.
        QStringList sent[2];
        QElapsedTimer clock;
        clock.start();
        bool ok = true;
        int notShown = 0; // rounds whose sends the open conversation did not show
        // The relay takes its time over each post, so that posts are under way
        // as the identities change.
        services.relay().setFault(QStringLiteral("/v1/message/send"), velmor::fakes::Fault::delay(60));
        for (int round = 0; round < rounds && ok; ++round) {
            const QString texts[2] = {QStringLiteral("round %1 a").arg(round), QStringLiteral("round %1 b").arg(round)};
            const QStringList taken =
                app.eval(QStringLiteral("(function () { var taken = [Chat.sendText(%1), Chat.sendText(%2)];"
                                        " if (%3) App.logout(); return taken.join(',') })()")
                             .arg(jsString(texts[0]), jsString(texts[1]), sameTurn ? "true" : "false"))
                    .toString()
                    .split(QLatin1Char(','));
            for (int i = 0; i < 2; ++i)
                if (taken.value(i) == QLatin1String("true"))
                    sent[round % 2] << texts[i];
            // Mode 0: the open conversation shows both (within 5 s), whichever
            // identity wrote to this peer before.
            if (!sameTurn
                && !app.waitTrue(QStringLiteral("Chat.messages.filter(function (m) { return m.outgoing"
                                                " && (m.text === %1 || m.text === %2) }).length === 2")
                                     .arg(jsString(texts[0]), jsString(texts[1])),
                                 5000))
                ++notShown;
            // Mode 0 signs out once the store or the journal holds both.
            ok = taken.size() == 2
                && (sameTurn
                    || (app.waitTrue(QStringLiteral("Chat.unkeptSends() === 0"))
                        && app.eval(QStringLiteral("(function () { App.logout(); return true })()")).toBool()))
                && signIn(app, accounts[(round + 1) % 2], recipient.publicKeyText());
        }
        services.relay().clearFaults();
        const double roundsMs = double(clock.elapsed());
        if (!ok) {
            state.SkipWithError(qPrintable(QStringLiteral("a round failed: ") + app.lastFailure() + app.logTail(20)));
            break;
        }
        // The texts the recipient's queue holds, by text.
        const auto received = [&] {
            QHash<QString, int> texts;
            for (const QJsonObject &envelope : services.relay().queuedEnvelopes(recipient.publicKeyText())) {
                const QByteArray plain = velmor::identity::openDirectMessage(
                    envelope.value(QStringLiteral("ciphertext")).toString(),
                    envelope.value(QStringLiteral("sender_pubkey")).toString(), recipient);
                ++texts[QJsonDocument::fromJson(plain).object().value(QStringLiteral("text")).toString()];
            }
            return texts;
        };
        const auto missing = [&](const QStringList &texts) {
            const QHash<QString, int> got = received();
            return std::count_if(texts.cbegin(), texts.cend(), [&](const QString &t) { return got.value(t) == 0; });
        };
        // Each identity signs in once more: what its sessions left under
        // way goes out now (or within 30 s), or is lost.
        for (int turn = 0; turn < 2 && ok; ++turn) {
            const int who = (rounds + 1 + turn) % 2;
            ok = app.eval(QStringLiteral("(function () { App.logout(); return true })()")).toBool()
                && signIn(app, accounts[who], recipient.publicKeyText());
            QTest::qWaitFor([&] { return missing(sent[who]) == 0; }, 30000);
        }
        app.quit();
        const QHash<int, int> stored = storedStatuses(app.profileDir());
        const QHash<QString, int> got = received();
        const QStringList all = sent[0] + sent[1];
        int lost = 0;
        int doubled = 0;
        for (const QString &text : all) {
            lost += got.value(text) == 0;
            doubled += qMax(0, got.value(text) - 1);
        }
        state.counters["rounds"] = rounds;
        state.counters["sends_taken"] = double(all.size());
        state.counters["sender_mismatch"] = services.relay().sendRefusals(QStringLiteral("sender_mismatch"));
        state.counters["lost"] = lost;
        state.counters["queued_for_recipient"] = services.relay().queueSize(recipient.publicKeyText());
        state.counters["doubled"] = doubled;
        state.counters["stored_sent"] = stored.value(1);
        state.counters["stored_failed"] = stored.value(2);
        state.counters["stored_sending"] = stored.value(0);
        state.counters["rounds_not_shown"] = notShown;
        state.counters["round_ms"] = roundsMs / rounds;
        if (!ok) {
            state.SkipWithError(qPrintable(QStringLiteral("the last sign-ins failed: ") + app.lastFailure()));
            break;
        }
    }
}
BENCHMARK(BM_SignOutSignInWithSendsInFlight)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
