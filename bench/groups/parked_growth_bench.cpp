// How much a stranger can grow a user's store through set-aside group
// messages. The stranger makes groups listing the user (Bob) and a second
// identity of its own (one for all groups, or one per group); the second
// identity claims a newer card in each group, Bob asks the owner (the
// stranger), whose answer disproves the claims; then the second identity
// floods every group with 48 messages of about 340 KB claiming that card.
// Run with 3 and 30 groups, for a claimed epoch far ahead (2^52) and for
// the next one, through the local relay and the group engine as Bob's
// client reads them (every page until his queue is empty).
//
// Printed per run: the growth of Bob's store file (closed, so the
// write-ahead log is folded in), the rows set aside, and what was left at
// the relay. A figure, not a timing: run by hand, ./build/bench/parked_growth_bench.
#include "groups/group_test_support.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <vector>

using namespace velmor::chat;
using grouptest::User;

namespace {

constexpr int kFloodPerGroup = 48;
constexpr int kFillerChars = 190'000;

qint64 storeBytes(const User &user)
{
    ChatStore::instance().close();
    return QFileInfo(user.dbPath).size() + QFileInfo(user.dbPath + QStringLiteral("-wal")).size();
}

int parkedRows(const QString &path)
{
    int rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("parked_count"));
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("SELECT COUNT(*) FROM parked_group_messages")) && q.next())
            rows = q.value(0).toInt();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("parked_count"));
    return rows;
}

void run(int groupCount, bool farAhead, bool writerPerGroup)
{
    QTemporaryDir dir;
    velmor::fakes::FakeRelay relay;
    velmor::fakes::FakeRelayGroups groupRoutes(relay);
    if (!dir.isValid() || relay.start() == 0)
        qFatal("no relay");
    User stranger, bob;
    grouptest::makeUser(stranger, QStringLiteral("stranger"), 0x71, dir);
    grouptest::makeUser(bob, QStringLiteral("bob"), 0x73, dir);
    std::vector<User> seconds(writerPerGroup ? groupCount : 1);
    for (size_t i = 0; i < seconds.size(); ++i)
        grouptest::makeUser(seconds[i], QStringLiteral("second%1").arg(i), char(0x80 + i), dir);
    const auto use = [&](User &user) {
        if (!grouptest::use(user, relay.baseUrl()))
            qFatal("no store for %s", qPrintable(user.name));
    };
    // Every page of the user's inbox, until it is empty or stays as it is.
    const auto drain = [&](User &user) {
        use(user);
        for (int pull = 0; pull < 400 && relay.queueSize(user.key()) > 0; ++pull)
            grouptest::pullAndHandle(user);
    };

    use(stranger);
    QStringList groups;
    for (int g = 0; g < groupCount; ++g) {
        const GroupCreateResult created = createGroup(*stranger.registry, QStringLiteral("Bait %1").arg(g),
                                                      {bob.key(), seconds[writerPerGroup ? g : 0].key()});
        if (!created.ok)
            qFatal("group not created: %s", qPrintable(created.error));
        groups.append(created.groupId);
    }
    for (User &second : seconds)
        drain(second);
    drain(bob);
    const qint64 before = storeBytes(bob);

    const auto claims = [&](int count, const QString &tag) {
        const QString filler(kFillerChars, QLatin1Char('x'));
        for (int g = 0; g < groupCount; ++g) {
            const QString &group = groups.at(g);
            User &second = seconds[writerPerGroup ? g : 0];
            use(second);
            const qint64 epoch = farAhead ? (qint64(1) << 52) : second.registry->card(group)->epoch + 1;
            const QString text = grouptest::claimText(*second.registry, second.identity, group, epoch,
                                                      count > 1 ? filler : QStringLiteral("first"));
            for (int i = 0; i < count; ++i)
                if (!grouptest::postSigned(second.identity, bob.key(), text, QStringLiteral("%1-%2-%3").arg(tag, group).arg(i)))
                    qFatal("post refused");
        }
    };
    // One claim per group, asked about and disproved by the owner's answer.
    claims(1, QStringLiteral("claim"));
    drain(bob);
    drain(stranger);
    drain(bob);
    // The flood.
    claims(kFloodPerGroup, QStringLiteral("flood"));
    drain(bob);
    drain(stranger);
    drain(bob);
    use(bob);
    const int left = relay.queueSize(bob.key());
    const qint64 after = storeBytes(bob);
    std::printf("groups=%-3d writers=%-3d epoch=%-5s store_growth_MB=%8.2f parked_rows=%5d left_at_relay=%d\n",
                groupCount, int(seconds.size()), farAhead ? "2^52" : "next", double(after - before) / (1024.0 * 1024.0),
                parkedRows(bob.dbPath), left);
    std::fflush(stdout);
    velmor::net::RelayAuthSession::instance().clear();
    relay.stop();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const bool farAhead : {true, false})
        for (const int groups : {3, 30})
            for (const bool writerPerGroup : {false, true})
                run(groups, farAhead, writerPerGroup);
    return 0;
}
