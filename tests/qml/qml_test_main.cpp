// Qt Quick Test entry for the Velmor module. Each test file gets a fresh
// engine carrying mock controllers under the context-property names the
// views use, so views can be driven without the real controllers.
#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QQmlEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

#include "mock_controllers.h"

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

class VelmorQmlTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("QuilletTests"));
        QCoreApplication::setApplicationName(QStringLiteral("PelorinQmlTests"));
        // Settings go to a private folder so the tests never touch (or read)
        // the user's real language choice.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        // A fixed system locale keeps the default language predictable.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        QSettings().clear();
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QString error;
        if (velmor::qmltest::installMockControllers(engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error)
                .isEmpty()) {
            qFatal("mock controllers failed: %s", qPrintable(error));
        }
    }

private:
    QTemporaryDir m_settingsDir;
};

QUICK_TEST_MAIN_WITH_SETUP(velmor_qml, VelmorQmlTestSetup)

#include "qml_test_main.moc"
