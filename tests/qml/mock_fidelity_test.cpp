// The mock controllers stand in for the real ones in every view test and
// screenshot: each property, signal and invokable the real controllers offer
// QML must exist on the mock under the same name with as many arguments, or a
// view could pass its tests against the mocks and fail against the program.
#include <QQmlEngine>
#include <QSet>
#include <QtTest>

#include "app/app_controller.h"
#include "chat/chat_controller.h"
#include "mock_controllers.h"
#include "voice/voice_io.h"
#include "voice/voice_room_controller.h"

namespace {

// "name/argc" of every signal, or of every public invokable and slot, that a
// meta-object adds beyond QObject.
QSet<QString> methods(const QMetaObject &meta, bool wantSignals)
{
    QSet<QString> names;
    for (int i = QObject::staticMetaObject.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        const bool isSignal = m.methodType() == QMetaMethod::Signal;
        if (isSignal != wantSignals || m.access() != QMetaMethod::Public
            || m.methodType() == QMetaMethod::Constructor)
            continue;
        names.insert(QString::fromLatin1(m.name()) + QLatin1Char('/')
                     + QString::number(m.parameterCount()));
    }
    return names;
}

QSet<QString> properties(const QMetaObject &meta)
{
    QSet<QString> names;
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta.propertyCount(); ++i)
        names.insert(QString::fromLatin1(meta.property(i).name()));
    return names;
}

// A QML function takes any number of arguments; a QML signal declares its own.
QSet<QString> mockFunctionNames(const QMetaObject &meta)
{
    QSet<QString> names;
    for (int i = QObject::staticMetaObject.methodCount(); i < meta.methodCount(); ++i)
        if (meta.method(i).methodType() == QMetaMethod::Method
            || meta.method(i).methodType() == QMetaMethod::Slot)
            names.insert(QString::fromLatin1(meta.method(i).name()));
    return names;
}

} // namespace

class MockFidelityTest : public QObject
{
    Q_OBJECT

private slots:
    void mockCarriesEveryMember_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<const QMetaObject *>("real");
        QTest::newRow("App") << QStringLiteral("App") << &AppController::staticMetaObject;
        QTest::newRow("Chat") << QStringLiteral("Chat") << &ChatController::staticMetaObject;
        QTest::newRow("Voice") << QStringLiteral("Voice") << &VoiceIO::staticMetaObject;
        QTest::newRow("VoiceRoom") << QStringLiteral("VoiceRoom")
                                   << &VoiceRoomController::staticMetaObject;
    }

    void mockCarriesEveryMember()
    {
        QFETCH(QString, name);
        QFETCH(const QMetaObject *, real);
        QQmlEngine engine;
        QString error;
        const auto mocks = velmor::qmltest::installMockControllers(
            &engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error);
        QVERIFY2(!mocks.isEmpty(), qPrintable(error));
        const QMetaObject *mock = mocks.value(name)->metaObject();

        for (const QString &p : properties(*real))
            QVERIFY2(mock->indexOfProperty(p.toLatin1().constData()) >= 0,
                     qPrintable(name + QStringLiteral(" mock lacks property ") + p));

        const QSet<QString> mockSignals = methods(*mock, true);
        for (const QString &s : methods(*real, true))
            QVERIFY2(mockSignals.contains(s),
                     qPrintable(name + QStringLiteral(" mock lacks signal ") + s));

        const QSet<QString> mockFunctions = mockFunctionNames(*mock);
        for (const QString &m : methods(*real, false)) {
            const QString bare = m.section(QLatin1Char('/'), 0, 0);
            QVERIFY2(mockFunctions.contains(bare),
                     qPrintable(name + QStringLiteral(" mock lacks invokable ") + m));
        }
    }
};

QTEST_MAIN(MockFidelityTest)

#include "mock_fidelity_test.moc"
