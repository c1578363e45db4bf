// The interface language is kept in the settings store (category "ui", key
// "language") and read back by the next engine, as after a program restart.
#include <QLocale>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

class I18nPersistTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // One engine lifetime: reads the current locale, optionally sets one.
    QString runEngine(const QString &setTo = QString(), QString *afterSet = nullptr,
                      const QString &textKey = QString(), QString *text = nullptr)
    {
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import QtQml\nimport Velmor\nQtObject {\n"
                          "  function current() { return I18n.locale }\n"
                          "  function set(v) { I18n.setLocale(v); return I18n.locale }\n"
                          "  function text(k) { return I18n.tr(k) }\n}\n",
                          QUrl(QStringLiteral("qrc:/persist_probe.qml")));
        std::unique_ptr<QObject> probe(component.create());
        if (!probe) {
            qWarning() << component.errorString();
            return QStringLiteral("<error>");
        }
        QVariant current;
        QMetaObject::invokeMethod(probe.get(), "current", Q_RETURN_ARG(QVariant, current));
        if (text) {
            QVariant translated;
            QMetaObject::invokeMethod(probe.get(), "text", Q_RETURN_ARG(QVariant, translated),
                                      Q_ARG(QVariant, textKey));
            *text = translated.toString();
        }
        if (!setTo.isNull()) {
            QVariant after;
            QMetaObject::invokeMethod(probe.get(), "set", Q_RETURN_ARG(QVariant, after),
                                      Q_ARG(QVariant, setTo));
            if (afterSet)
                *afterSet = after.toString();
        }
        return current.toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("QuilletTests"));
        QCoreApplication::setApplicationName(QStringLiteral("PelorinPersist"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init()
    {
        QSettings().clear();
        QSettings().sync();
    }

    void choiceSurvivesRestart()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QString after;
        QCOMPARE(runEngine(QStringLiteral("ja-JP"), &after), QStringLiteral("en"));
        QCOMPARE(after, QStringLiteral("ja-JP"));
        {
            QSettings s;
            QCOMPARE(s.value(QStringLiteral("ui/language")).toString(), QStringLiteral("ja-JP"));
        }
        // The next start reads the stored choice, not the system locale.
        QCOMPARE(runEngine(), QStringLiteral("ja-JP"));
    }

    void unknownLocaleIsNotStored()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QString after;
        QCOMPARE(runEngine(QStringLiteral("it"), &after), QStringLiteral("de"));
        QCOMPARE(after, QStringLiteral("de"));
        QVERIFY(QSettings().value(QStringLiteral("ui/language")).toString().isEmpty());
        QCOMPARE(runEngine(), QStringLiteral("de"));
    }

    void savedChoiceWinsOverSystemLocale()
    {
        {
            QSettings s;
            s.setValue(QStringLiteral("ui/language"), QStringLiteral("fr"));
        }
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
        QCOMPARE(runEngine(), QStringLiteral("fr"));

        // An empty saved value falls back to the system locale.
        {
            QSettings s;
            s.setValue(QStringLiteral("ui/language"), QString());
        }
        QCOMPARE(runEngine(), QStringLiteral("ja-JP"));
    }

    // A stored language the table does not know (written by hand or by an
    // older version) is kept as it is, and every text falls back to English.
    void unknownSavedLanguageFallsBackToEnglish_data()
    {
        QTest::addColumn<QString>("saved");
        QTest::newRow("it") << QStringLiteral("it");
        QTest::newRow("toString") << QStringLiteral("toString");
    }

    void unknownSavedLanguageFallsBackToEnglish()
    {
        QFETCH(QString, saved);
        {
            QSettings s;
            s.setValue(QStringLiteral("ui/language"), saved);
        }
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QString text;
        QCOMPARE(runEngine(QString(), nullptr, QStringLiteral("chat.empty"), &text), saved);
        QCOMPARE(text, QStringLiteral("No conversations yet"));
    }

    void systemLocaleNormalised_data()
    {
        QTest::addColumn<QLocale>("system");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zh_TW") << QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan) << "zh-Hant";
        QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China) << "zh-Hans";
        QTest::newRow("pt_BR") << QLocale(QLocale::Portuguese, QLocale::Brazil) << "pt-PT";
        QTest::newRow("es_ES") << QLocale(QLocale::Spanish, QLocale::Spain) << "es";
        QTest::newRow("ko_KR") << QLocale(QLocale::Korean, QLocale::SouthKorea) << "en";
        QTest::newRow("C") << QLocale::c() << "en";
    }

    void systemLocaleNormalised()
    {
        QFETCH(QLocale, system);
        QFETCH(QString, expected);
        QLocale::setDefault(system);
        QCOMPARE(runEngine(), expected);
    }
};

QTEST_MAIN(I18nPersistTest)
#include "i18n_persist_test.moc"
