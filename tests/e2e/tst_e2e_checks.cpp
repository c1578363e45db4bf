// The checks the end-to-end scenarios rest on: a snapshot taken after a
// restart or a sign-in must show every conversation and message of the one
// before, no message twice (by id or by content under a new id), and a
// message unchanged.
#include "e2e_steps.h"

#include <QtTest>

using namespace e2e;

namespace {

MessageEntry text(const QString &id, const QString &body, bool outgoing = false)
{
    return MessageEntry{id, QStringLiteral("text"), body, outgoing, outgoing ? 1 : 4};
}

Snapshot snapshotOf(const QList<ConversationEntry> &conversations)
{
    Snapshot s;
    s.ok = true;
    s.conversations = conversations;
    return s;
}

const Snapshot kBefore = snapshotOf({{QStringLiteral("bob"), QStringLiteral("Bob"),
                                      {text("1", "hello", true), text("2", "hi")}},
                                     {QStringLiteral("carol"), QStringLiteral("Carol"), {text("3", "hey")}}});

} // namespace

class E2eChecksTest : public QObject
{
    Q_OBJECT
private slots:
    void compare_data()
    {
        QTest::addColumn<Snapshot>("after");
        QTest::addColumn<QString>("problem"); // a word the report holds; empty: nothing wrong
        QTest::newRow("all there") << kBefore << QString();
        Snapshot more = kBefore;
        more.conversations[0].messages << text("4", "new one");
        QTest::newRow("a new message") << more << QString();
        Snapshot lost = kBefore;
        lost.conversations[0].messages.removeLast();
        QTest::newRow("message lost") << lost << QStringLiteral("gone");
        Snapshot noCarol = kBefore;
        noCarol.conversations.removeLast();
        QTest::newRow("conversation lost") << noCarol << QStringLiteral("Carol is gone");
        Snapshot sameId = kBefore;
        sameId.conversations[0].messages << text("2", "hi");
        QTest::newRow("same id twice") << sameId << QStringLiteral("shown twice");
        Snapshot newId = kBefore;
        newId.conversations[0].messages << text("9", "hi");
        QTest::newRow("same message under a new id") << newId << QStringLiteral("shown twice");
        Snapshot changed = kBefore;
        changed.conversations[1].messages[0].text = QStringLiteral("hex");
        QTest::newRow("text changed") << changed << QStringLiteral("changed");
        Snapshot listedTwice = kBefore;
        listedTwice.conversations << kBefore.conversations.at(1);
        QTest::newRow("conversation listed twice") << listedTwice << QStringLiteral("listed twice");
    }
    void compare()
    {
        QFETCH(Snapshot, after);
        QFETCH(QString, problem);
        const QString report = compareSnapshots(kBefore, after);
        if (problem.isEmpty())
            QVERIFY2(report.isEmpty(), qPrintable(report));
        else
            QVERIFY2(report.contains(problem), qPrintable(report));
    }

    // The same text sent and received is two messages, not one twice; and
    // system lines may repeat.
    void sameTextBothWaysIsNoDuplicate()
    {
        Snapshot s = snapshotOf({{QStringLiteral("bob"), QStringLiteral("Bob"),
                                  {text("1", "ok", true), text("2", "ok"),
                                   MessageEntry{"3", "system", "joined", false, 4},
                                   MessageEntry{"4", "system", "joined", false, 4}}}});
        QVERIFY(duplicatesIn(s).isEmpty());
    }

    void jsStringQuotes()
    {
        QCOMPARE(jsString(QStringLiteral("it's \"x\"\n")), QStringLiteral("\"it's \\\"x\\\"\\n\""));
    }
};

QTEST_GUILESS_MAIN(E2eChecksTest)
#include "tst_e2e_checks.moc"
