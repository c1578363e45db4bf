// Two people take turns in one program window on one machine, so their
// messages share one store file. The file is damaged while the program is
// closed: the first to sign in again sees the notice naming the file kept
// aside, and so does the other at their own next sign-in, once.
#include "driven_app.h"
#include "e2e_services.h"
#include "e2e_steps.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace e2e;

#define STEP(call) QVERIFY2((call), qPrintable(stepFailure()))
#define DRIVE(app, call) QVERIFY2((app).call, qPrintable((app).name() + QStringLiteral(": ") + (app).lastFailure()))

class E2eStoreTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(m_services.start(), qPrintable(m_services.error())); }
    void keptStoreIsNamedToEachIdentity();

private:
    E2eServiceHost m_services;
    QTemporaryDir m_profiles;
};

void E2eStoreTest::keptStoreIsNamedToEachIdentity()
{
    const QString profile = m_profiles.filePath(QStringLiteral("shared"));
    DrivenApp app(QStringLiteral("shared"), profile, m_services.services());
    DRIVE(app, start());
    QStringList keys;
    for (int i = 0; i < 2; ++i) {
        STEP(createIdentity(app));
        keys << app.eval(QStringLiteral("App.revealPrivateKeyString()")).toString();
        QCOMPARE(keys.last().size(), 66);
        STEP(logout(app));
    }
    DRIVE(app, quit());

    QString store;
    for (QDirIterator it(profile, {QStringLiteral("chat.db")}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        store = it.next();
    QVERIFY(!store.isEmpty());
    {
        QFile file(store);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(QByteArray(100, 'x')), 100);
    }

    DRIVE(app, start());
    const QString notice = QStringLiteral("App.storeSetAside.indexOf(%1) === 0").arg(jsString(store + ".damaged-"));
    // The first one back, then the other, each told once.
    for (const auto &[key, told] : {std::pair{keys[0], true}, std::pair{keys[1], true}, std::pair{keys[1], false}}) {
        STEP(importKey(app, key));
        if (told) {
            DRIVE(app, waitTrue(notice));
            const QString kept = app.eval(QStringLiteral("App.storeSetAside")).toString().section('/', -1);
            DRIVE(app, waitItem(QStringLiteral("storeNotice")));
            QVERIFY2(app.shownTexts().join('\n').contains(kept), qPrintable(app.shownTexts().join('\n')));
        } else {
            // Set with the sign-in itself, before the home view shows.
            QCOMPARE(app.eval(QStringLiteral("App.storeSetAside")).toString(), QString());
        }
        STEP(logout(app));
    }
    const QString shown = newErrorsText(app);
    QVERIFY2(shown.isEmpty(), qPrintable(shown));
    DRIVE(app, quit());
}

QTEST_GUILESS_MAIN(E2eStoreTest)
#include "tst_e2e_store.moc"
