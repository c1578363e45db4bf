// Normal groups the user deleted: remembered with the card epoch they had,
// per owner, across restarts and the deletion of the group's rows; a file
// of an earlier layout that remembered them as a member-profile row keeps
// them, and its lists of members no longer carry that row.
#include "store_test_util.h"

#include "store/schema.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace storetest;

namespace {

QString profileJson(const QString &member, qint64 updatedAt)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("memberRawPublicKey"), member},
                                                       {QStringLiteral("updatedAt"), double(updatedAt)}})
                                 .toJson(QJsonDocument::Compact));
}

} // namespace

class GroupDeletionsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    int m_file = 0;
    ChatStore m_store;

private slots:
    void init() { m_path = m_dir.filePath(QStringLiteral("deletions%1.db").arg(++m_file)); }
    void cleanup() { m_store.close(); }

    void deletionSurvivesRestartAndTheGroupsRows()
    {
        QVERIFY(m_store.open(kOwnerA, m_path));
        QCOMPARE(m_store.normalGroupDeletedEpoch(QStringLiteral("g1")), 0);
        QVERIFY(m_store.ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("G")).id.size() > 0);
        QVERIFY(m_store.deleteConversation(QStringLiteral("g1"), true));
        QVERIFY(m_store.markNormalGroupDeleted(QStringLiteral("g1"), 5));
        // An older epoch never lowers what was remembered.
        QVERIFY(m_store.markNormalGroupDeleted(QStringLiteral("g1"), 3));
        QCOMPARE(m_store.normalGroupDeletedEpoch(QStringLiteral("g1")), 5);

        m_store.close();
        QVERIFY(m_store.open(kOwnerA, m_path));
        QCOMPARE(m_store.normalGroupDeletedEpoch(QStringLiteral("g1")), 5);
        // Deleting the group's rows again (it came back and went) keeps it.
        QVERIFY(m_store.deleteConversation(QStringLiteral("g1"), false));
        QVERIFY(m_store.markNormalGroupDeleted(QStringLiteral("g1"), 8));
        QCOMPARE(m_store.normalGroupDeletedEpoch(QStringLiteral("g1")), 8);
        QVERIFY(m_store.normalGroupMemberProfiles(QStringLiteral("g1")).isEmpty());

        // Another owner of the same file has deleted nothing.
        m_store.close();
        QVERIFY(m_store.open(kOwnerB, m_path));
        QCOMPARE(m_store.normalGroupDeletedEpoch(QStringLiteral("g1")), 0);
    }

    // Rows a version 3 file held: (owner, group, member, epoch in the row).
    void oldMarkersMove_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<qint64>("markerEpoch");
        QTest::addColumn<qint64>("alreadyKept");  // a row of the new table already there; 0 for none
        QTest::addColumn<qint64>("expected");
        QTest::newRow("marker only") << kOwnerA << qint64(7) << qint64(0) << qint64(7);
        QTest::newRow("marker newer than a kept row") << kOwnerA << qint64(9) << qint64(4) << qint64(9);
        QTest::newRow("kept row newer than the marker") << kOwnerA << qint64(2) << qint64(6) << qint64(6);
        QTest::newRow("marker of the other owner") << kOwnerB << qint64(7) << qint64(0) << qint64(0);
    }

    void oldMarkersMove()
    {
        QFETCH(QString, owner);
        QFETCH(qint64, markerEpoch);
        QFETCH(qint64, alreadyKept);
        QFETCH(qint64, expected);
        const QString group = QStringLiteral("old-group");
        QVERIFY(m_store.open(kOwnerA, m_path));
        QVERIFY(m_store.upsertNormalGroupMemberProfile(group, QJsonDocument::fromJson(profileJson(kPeer, 1).toUtf8()).object()));
        if (alreadyKept > 0)
            QVERIFY(m_store.markNormalGroupDeleted(group, alreadyKept));
        m_store.close();
        {
            // The file as the earlier layout left it.
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("INSERT INTO normal_group_member_profiles VALUES(?,?,?,?,?)"),
                              {owner, group, QStringLiteral("group_deleted"), profileJson(QStringLiteral("group_deleted"), markerEpoch),
                               markerEpoch}));
            QVERIFY(side.exec(QStringLiteral("PRAGMA user_version = 3")));
        }

        QVERIFY(m_store.open(kOwnerA, m_path));
        QCOMPARE(m_store.normalGroupDeletedEpoch(group), expected);
        // The member's own row stays; the marker is no member.
        const QList<QJsonObject> members = m_store.normalGroupMemberProfiles(group);
        QCOMPARE(members.size(), 1);
        QCOMPARE(members.first().value(QStringLiteral("memberRawPublicKey")).toString(), kPeer);
        m_store.close();
        {
            SideConnection side(m_path);
            QCOMPARE(side.scalar(QStringLiteral("SELECT COUNT(*) FROM normal_group_member_profiles "
                                                "WHERE member_public_key='group_deleted'"))
                         .toInt(),
                     0);
            QCOMPARE(side.scalar(QStringLiteral("PRAGMA user_version")).toInt(), velmor::store::kSchemaVersion);
        }
        QVERIFY(m_store.open(owner, m_path));
        QCOMPARE(m_store.normalGroupDeletedEpoch(group), owner == kOwnerA ? expected : markerEpoch);
    }
};

QTEST_GUILESS_MAIN(GroupDeletionsTest)
#include "test_group_deletions.moc"
