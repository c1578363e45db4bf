// Every text of the views in all eight languages: each key of the
// translation tables exists in every language, with singular and plural
// where a count is put in ("{count}" is a number the words agree with; a
// number shown beside a label is "{n}"); placeholders match across
// languages; every key a view asks for exists; and no view carries a literal Chinese text of its
// own, or a dialog whose standard buttons would show Qt's English.
#include <QDirIterator>
#include <QFile>
#include <QJSValue>
#include <QJSValueIterator>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

const QStringList kLocales{"en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"};
// Languages whose nouns change with the count (I18n.pluralCategory).
const QSet<QString> kPluralLocales{"en", "de", "es", "fr", "pt-PT"};


QSet<QString> placeholders(const QString &text)
{
    QSet<QString> names;
    static const QRegularExpression name(QStringLiteral("\\{([a-zA-Z]+)\\}"));
    for (auto it = name.globalMatch(text); it.hasNext();)
        names.insert(it.next().captured(1));
    return names;
}

QString sourceOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class I18nCoverageTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_settings;
    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<QObject> m_probe;
    QJSValue m_tables; // locale -> key -> text or plural forms, both tables merged
    QHash<QString, QString> m_views; // path below qml/ -> source

    QJSValue raw(const QString &locale, const QString &key) const
    {
        return m_tables.property(locale).property(key);
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("QuilletTests"));
        QCoreApplication::setApplicationName(QStringLiteral("PelorinCoverage"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
        m_engine = new QQmlEngine(this);
        m_engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(m_engine);
        component.setData("import QtQml\nimport Velmor\nQtObject {\n"
                          "  function merged() {\n"
                          "    var out = {}\n"
                          "    for (var i = 0; i < I18n.locales.length; ++i) {\n"
                          "      var l = I18n.locales[i], t = {}\n"
                          "      var parts = [I18n.viewStrings[l] || {}, I18n.strings[l] || {}]\n"
                          "      for (var p = 0; p < 2; ++p) for (var k in parts[p]) t[k] = parts[p][k]\n"
                          "      out[l] = t\n"
                          "    }\n"
                          "    return out\n"
                          "  }\n"
                          "  function tr(l, k, args) { I18n.locale = l; return I18n.tr(k, args) }\n"
                          "  function said(l, text) { I18n.locale = l; return I18n.said(text) }\n}\n",
                          QUrl(QStringLiteral("qrc:/coverage_probe.qml")));
        m_probe.reset(component.create());
        QVERIFY2(m_probe, qPrintable(component.errorString()));
        QVariant merged;
        QVERIFY(QMetaObject::invokeMethod(m_probe.get(), "merged", Q_RETURN_ARG(QVariant, merged)));
        m_tables = m_engine->toScriptValue(merged);
        QCOMPARE(QSet<QString>(kLocales.begin(), kLocales.end()).size(), 8);

        QDirIterator it(QStringLiteral(VELMOR_QML_SOURCE_DIR), {QStringLiteral("*.qml")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            m_views.insert(path.mid(QStringLiteral(VELMOR_QML_SOURCE_DIR).size() + 1), sourceOf(path));
        }
        QVERIFY(m_views.size() > 100);
    }

    // Every key in every language; plural forms where a count is put in,
    // one text in the languages without them; the same placeholders.
    void everyKeyInEveryLanguage()
    {
        QSet<QString> keys;
        for (const QString &locale : kLocales)
            for (QJSValueIterator it(m_tables.property(locale)); it.hasNext();) {
                it.next();
                keys.insert(it.name());
            }
        QVERIFY(keys.size() > 100);
        QStringList faults;
        for (const QString &key : std::as_const(keys)) {
            const QJSValue english = raw(QStringLiteral("en"), key);
            const QSet<QString> expected = placeholders(
                english.isString() ? english.toString() : english.property(QStringLiteral("other")).toString());
            for (const QString &locale : kLocales) {
                const QJSValue text = raw(locale, key);
                const QString where = locale + QLatin1Char(' ') + key;
                QStringList forms;
                if (text.isString()) {
                    forms << text.toString();
                    if (kPluralLocales.contains(locale) && forms.first().contains(QLatin1String("{count}")))
                        faults << where + QStringLiteral(": a count with one form only");
                } else if (text.isObject() && !text.isArray()) {
                    if (!kPluralLocales.contains(locale))
                        faults << where + QStringLiteral(": plural forms in a language without them");
                    if (!text.property(QStringLiteral("one")).isString()
                        || !text.property(QStringLiteral("other")).isString())
                        faults << where + QStringLiteral(": a plural without \"one\" and \"other\"");
                    forms << text.property(QStringLiteral("one")).toString()
                          << text.property(QStringLiteral("other")).toString();
                } else {
                    faults << where + QStringLiteral(": missing");
                    continue;
                }
                for (const QString &form : std::as_const(forms)) {
                    if (form.trimmed().isEmpty())
                        faults << where + QStringLiteral(": empty");
                    if (placeholders(form) != expected)
                        faults << where + QStringLiteral(": placeholders differ from English");
                }
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // The form follows the count in each language's own way.
    void pluralFormsFollowTheCount_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("en one") << "en" << 1 << "1 member";
        QTest::newRow("en none") << "en" << 0 << "0 members";
        QTest::newRow("en many") << "en" << 2 << "2 members";
        QTest::newRow("fr none is singular") << "fr" << 0 << "0 message n'est pas encore enregistré";
        QTest::newRow("fr one") << "fr" << 1 << "1 message n'est pas encore enregistré";
        QTest::newRow("fr many") << "fr" << 2 << "2 messages ne sont pas encore enregistrés";
        QTest::newRow("de one") << "de" << 1 << "1 Nachricht ist noch nicht";
        QTest::newRow("pt many") << "pt-PT" << 3 << "3 mensagens ainda não estão";
        QTest::newRow("zh") << "zh-Hans" << 1 << "1 条消息尚未保存到本机";
    }
    void pluralFormsFollowTheCount()
    {
        QFETCH(QString, locale);
        QFETCH(int, count);
        QFETCH(QString, text);
        const QString key = locale == QLatin1String("en") ? QStringLiteral("group.members")
                                                          : QStringLiteral("quit.unsaved");
        QVariant said;
        const QVariantMap args{{QStringLiteral("count"), count}};
        QVERIFY(QMetaObject::invokeMethod(m_probe.get(), "tr", Q_RETURN_ARG(QVariant, said),
                                          Q_ARG(QVariant, locale), Q_ARG(QVariant, key),
                                          Q_ARG(QVariant, QVariant(args))));
        QVERIFY2(said.toString().startsWith(text), qPrintable(said.toString()));
    }

    // Each view: the keys it asks for exist; no Chinese literal of its
    // own; standard dialog buttons come with translated labels.
    void everyViewGoesThroughTheTable()
    {
        static const QRegularExpression keyLike(QStringLiteral("^[a-z][A-Za-z]*\\.[A-Za-z.]*[A-Za-z]$"));
        static const QRegularExpression literal(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
        static const QRegularExpression han(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        QStringList faults;
        for (auto it = m_views.cbegin(); it != m_views.cend(); ++it) {
            const QString &view = it.key();
            if (view == QLatin1String("I18n.qml"))
                continue;
            int chinese = 0;
            const QStringList lines = it.value().split(QLatin1Char('\n'));
            for (const QString &line : lines) {
                if (line.trimmed().startsWith(QLatin1String("//")))
                    continue;
                // The keys a line asks for, also those chosen by a condition
                // inside the call (I18n.tr(on ? "a.b" : "a.c")).
                if (line.contains(QLatin1String("I18n.tr("))) {
                    for (auto match = literal.globalMatch(line); match.hasNext();) {
                        const QString key = match.next().captured(1);
                        if (!keyLike.match(key).hasMatch())
                            continue;
                        for (const QString &locale : kLocales)
                            if (raw(locale, key).isUndefined())
                                faults << view + QStringLiteral(": ") + key + QStringLiteral(" has no ") + locale;
                    }
                }
                for (auto match = literal.globalMatch(line); match.hasNext();) {
                    const QRegularExpressionMatch found = match.next();
                    // A controller's own text it is compared with is not shown.
                    const QString before = line.left(found.capturedStart()).trimmed();
                    if (before.endsWith(QLatin1String("===")) || before.endsWith(QLatin1String("!==")))
                        continue;
                    if (han.match(found.captured(1)).hasMatch())
                        ++chinese;
                }
            }
            if (chinese > 0)
                faults << view + QStringLiteral(": ") + QString::number(chinese)
                              + QStringLiteral(" Chinese literal(s) outside the table");
            if (it.value().contains(QLatin1String("standardButtons:"))
                && !it.value().contains(QLatin1String("DarkDialog {"))
                && !it.value().contains(QLatin1String("DialogButtonBox.buttonRole")))
                faults << view + QStringLiteral(": standard buttons named by Qt in English");
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // What the controllers give in Chinese is shown in the interface's
    // language: each text they set is named in i18n/controller.js, whose
    // key gives that very text in Chinese and another in English.
    void controllerTextsAreTranslated()
    {
        const QString source = QStringLiteral(VELMOR_QML_SOURCE_DIR);
        const QString map = sourceOf(source + QStringLiteral("/i18n/controller.js"));
        QVERIFY(!map.isEmpty());
        static const QRegularExpression pair(QStringLiteral("^\\s*\"([^\"]+)\": \"([a-zA-Z.]+)\",?$"),
                                             QRegularExpression::MultilineOption);
        QStringList faults;
        int named = 0;
        for (auto it = pair.globalMatch(map); it.hasNext(); ++named) {
            const QRegularExpressionMatch match = it.next();
            const QString text = match.captured(1);
            QVariant chinese;
            QVariant english;
            QMetaObject::invokeMethod(m_probe.get(), "said", Q_RETURN_ARG(QVariant, chinese),
                                      Q_ARG(QVariant, QStringLiteral("zh-Hans")), Q_ARG(QVariant, text));
            QMetaObject::invokeMethod(m_probe.get(), "said", Q_RETURN_ARG(QVariant, english),
                                      Q_ARG(QVariant, QStringLiteral("en")), Q_ARG(QVariant, text));
            if (chinese.toString() != text)
                faults << text + QStringLiteral(": Chinese table gives ") + chinese.toString();
            if (english.toString() == text || english.toString() == match.captured(2))
                faults << text + QStringLiteral(": no English");
        }
        QVERIFY(named > 25);
        // Every Chinese text these controllers set is named there.
        static const QRegularExpression literal(QStringLiteral("QStringLiteral\\(\"([^\"]*)\"\\)"));
        static const QRegularExpression han(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
        for (const char *file : {"app/app_controller.cpp", "app/relay_login.cpp",
                                 "chat/inbox.cpp", "chat/conversation_list.cpp", "chat/supergroup_pull.cpp",
                                 "voice/voice_room_controller.cpp"}) {
            const QString code = sourceOf(source + QStringLiteral("/../../../") + QLatin1String(file));
            QVERIFY2(!code.isEmpty(), file);
            for (auto it = literal.globalMatch(code); it.hasNext();) {
                const QString text = it.next().captured(1);
                if (han.match(text).hasMatch() && !map.contains(text))
                    faults << QLatin1String(file) + QStringLiteral(": \"") + text + QStringLiteral("\" is not in controller.js");
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    void controllerTextsWithParts_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("shown");
        QTest::newRow("signed in") << "en" << "已登录 · 节点 https://n1.example" << "Signed in · node https://n1.example";
        QTest::newRow("signed in, Chinese") << "zh-Hans" << "已登录 · 节点 https://n1.example"
                                            << "已登录 · 节点 https://n1.example";
        QTest::newRow("damaged identity")
            << "de"
            << "已保存的私钥已损坏，且没有可用的助记词，无法自动登录。损坏的文件保留在 /home/u/v。请用助记词或私钥导入原身份；新建账户将得到另一个身份。"
            << "Der gespeicherte private Schlüssel ist beschädigt, und es gibt keine verwendbare Phrase, daher ist keine "
               "automatische Anmeldung möglich. Die beschädigten Dateien liegen in /home/u/v. Importieren Sie Ihre "
               "Identität mit Phrase oder privatem Schlüssel; ein neues Konto ergibt eine andere Identität.";
        QTest::newRow("group subtitle, one") << "en" << "1 位成员  连接中" << "1 member  connecting";
        QTest::newRow("group subtitle, many") << "fr" << "12 位成员  35ms" << "12 membres  35ms";
        QTest::newRow("a server's own word") << "en" << "rate_limited" << "rate_limited";
        QTest::newRow("picture preview") << "de" << "[图片]" << "[Bild]";
        QTest::newRow("voice preview with seconds") << "en" << "[语音 12\"]" << "[Voice 12\"]";
        QTest::newRow("link preview") << "es" << "[链接] Harbour news" << "[Enlace] Harbour news";
        QTest::newRow("members joined") << "fr" << "Ada、Ben 加入了群聊" << "Ada、Ben a rejoint le groupe";
        QTest::newRow("group title") << "ja-JP" << "群聊" << "グループチャット";
        QTest::newRow("pasted picture unreadable") << "pt-PT" << "无法读取剪贴板图片"
                                                   << "Não é possível ler a imagem da área de transferência";
        QTest::newRow("a message that only starts like a preview") << "en" << "[图片] 是这个" << "[图片] 是这个";
    }
    void controllerTextsWithParts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, given);
        QFETCH(QString, shown);
        QVariant said;
        QVERIFY(QMetaObject::invokeMethod(m_probe.get(), "said", Q_RETURN_ARG(QVariant, said),
                                          Q_ARG(QVariant, locale), Q_ARG(QVariant, given)));
        QCOMPARE(said.toString(), shown);
    }
};

QTEST_MAIN(I18nCoverageTest)
#include "i18n_coverage_test.moc"
