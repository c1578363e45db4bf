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
// A quoted literal of a view, and the Chinese (and full-width) characters.
const QRegularExpression kLiteral(QStringLiteral("\"((?:[^\"\\\\\\n]|\\\\.)*)\""));
const QRegularExpression kHan(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
// A text, title or placeholder given as a literal with a word in it, and
// those that are the same in every language (names, forms of an address).
const QRegularExpression kShownWords(
    QStringLiteral("^\\s*(?:text|title|placeholderText)\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*[A-Za-z]{2}(?:[^\"\\\\]|\\\\.)*)\""));
const QSet<QString> kBrands{QStringLiteral("Pelorin"), QStringLiteral("PELORIN NETWORK"),
                            QStringLiteral("0x… / pelorin:group:… / https://…")};

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
    QJSValue m_tables; // locale -> key -> text or plural forms
    QHash<QString, QString> m_views; // path below qml/ -> source

    QJSValue raw(const QString &locale, const QString &key) const
    {
        return m_tables.property(locale).property(key);
    }
    // What I18n shows in `locale` of a controller's text.
    QString said(const QString &locale, const QString &text)
    {
        QVariant out;
        QMetaObject::invokeMethod(m_probe.get(), "said", Q_RETURN_ARG(QVariant, out), Q_ARG(QVariant, locale),
                                  Q_ARG(QVariant, text));
        return out.toString();
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
                          "  function merged() { return I18n.strings }\n"
                          "  function said(l, text) { I18n.locale = l; return I18n.said(text) }\n}\n",
                          QUrl(QStringLiteral("qrc:/coverage_probe.qml")));
        m_probe.reset(component.create());
        QVERIFY2(m_probe, qPrintable(component.errorString()));
        QVariant merged;
        QVERIFY(QMetaObject::invokeMethod(m_probe.get(), "merged", Q_RETURN_ARG(QVariant, merged)));
        m_tables = m_engine->toScriptValue(merged);

        QDirIterator it(QStringLiteral(VELMOR_QML_SOURCE_DIR), {QStringLiteral("*.qml")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            m_views.insert(path.mid(QStringLiteral(VELMOR_QML_SOURCE_DIR).size() + 1), sourceOf(path));
        }
        QVERIFY(m_views.size() > 100);
    }

    // Every key in every language; "one" and "other" where a count is put in
    // a language whose nouns follow it; the same placeholders.
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
                QList<QJSValue> forms{text};
                if (text.isObject() && !text.isArray())
                    forms = {text.property(QStringLiteral("one")), text.property(QStringLiteral("other"))};
                else if (kPluralLocales.contains(locale) && text.toString().contains(QLatin1String("{count}")))
                    faults << where + QStringLiteral(": a count with one form only");
                // A key or a form missing, or empty (shown as the English text).
                for (const QJSValue &form : std::as_const(forms)) {
                    if (!form.isString() || form.toString().trimmed().isEmpty())
                        faults << where + QStringLiteral(": missing");
                    else if (placeholders(form.toString()) != expected)
                        faults << where + QStringLiteral(": placeholders differ from English");
                }
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Each view: the keys it asks for exist; no Chinese literal of its
    // own, nor a shown text in words of its own; standard dialog buttons
    // come with translated labels.
    void everyViewGoesThroughTheTable()
    {
        static const QRegularExpression keyLike(QStringLiteral("^[a-z][A-Za-z]*\\.[A-Za-z.]*[A-Za-z]$"));
        QStringList faults;
        for (auto it = m_views.cbegin(); it != m_views.cend(); ++it) {
            const QString &view = it.key();
            if (view == QLatin1String("I18n.qml"))
                continue;
            int chinese = 0;
            for (const QString &line : it.value().split(QLatin1Char('\n'))) {
                if (line.trimmed().startsWith(QLatin1String("//")))
                    continue;
                // A shown text bound to words of its own, in one language.
                const QRegularExpressionMatch shown = kShownWords.match(line);
                if (shown.hasMatch() && !kBrands.contains(shown.captured(1)))
                    faults << view + QStringLiteral(": \"") + shown.captured(1) + QStringLiteral("\" outside the table");
                const bool asks = line.contains(QLatin1String("I18n.tr("));
                for (auto match = kLiteral.globalMatch(line); match.hasNext();) {
                    const QRegularExpressionMatch found = match.next();
                    const QString text = found.captured(1);
                    // The keys a line asks for, also those chosen by a
                    // condition inside the call (I18n.tr(on ? "a.b" : "a.c")).
                    if (asks && keyLike.match(text).hasMatch()) {
                        for (const QString &locale : kLocales)
                            if (raw(locale, text).isUndefined())
                                faults << view + QStringLiteral(": ") + text + QStringLiteral(" has no ") + locale;
                    }
                    // A controller's own text it is compared with is not shown.
                    const QString before = line.left(found.capturedStart()).trimmed();
                    if (kHan.match(text).hasMatch() && !before.endsWith(QLatin1String("==="))
                        && !before.endsWith(QLatin1String("!==")))
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
    // language: each text named in i18n/controller.js has a key that gives
    // that very text in Chinese and another in English.
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
            const QString chinese = said(QStringLiteral("zh-Hans"), text);
            const QString english = said(QStringLiteral("en"), text);
            if (chinese != text)
                faults << text + QStringLiteral(": Chinese table gives ") + chinese;
            if (english == text || english == match.captured(2))
                faults << text + QStringLiteral(": no English");
        }
        QVERIFY(named > 25);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Every Chinese text a controller's file gives the user (a property the
    // views show, a desktop notice, a stand-in name) is named in
    // i18n/controller.js, so it is shown in all eight languages; a part
    // between numbered arguments ("%1 位成员  %2") is named on its own.
    void controllerFilesNameTheirTexts_data()
    {
        QTest::addColumn<QString>("file");
        for (const char *file : {"app/app_controller.cpp", "app/relay_login.cpp", "app/image_drafts.cpp",
                                 "chat/inbox.cpp", "chat/conversation_list.cpp", "chat/supergroup_pull.cpp",
                                 "voice/voice_room_controller.cpp",
                                 // Desktop notices: bodies and stand-in titles.
                                 "chat/chat_controller.cpp", "chat/inbound_processor.cpp", "chat/join_requests.cpp",
                                 "chat/supergroup_events.cpp", "chat/supergroup_sync.cpp",
                                 // Titles, names and previews the views show.
                                 "chat/current_conversation.cpp", "chat/supergroup_directory.cpp",
                                 "chat/supergroup_roster.cpp", "chat/supergroup_admin.cpp", "chat/outbox.cpp",
                                 "chat/payloads.cpp", "identity/content.cpp", "voice/room_participants.cpp"})
            QTest::newRow(file) << QString::fromLatin1(file);
    }
    void controllerFilesNameTheirTexts()
    {
        QFETCH(QString, file);
        const QString source = QStringLiteral(VELMOR_QML_SOURCE_DIR);
        const QString map = sourceOf(source + QStringLiteral("/i18n/controller.js"));
        const QString code = sourceOf(source + QStringLiteral("/../../../") + file);
        QVERIFY(!map.isEmpty());
        QVERIFY2(!code.isEmpty(), qPrintable(file));
        static const QRegularExpression literal(QStringLiteral("QStringLiteral\\(\"([^\"]*)\"\\)"));
        static const QRegularExpression argument(QStringLiteral("%\\d"));
        QStringList faults;
        for (auto it = literal.globalMatch(code); it.hasNext();) {
            const QString text = it.next().captured(1);
            for (const QString &part : text.split(argument))
                if (kHan.match(part).hasMatch() && !map.contains(part.trimmed()))
                    faults << QStringLiteral("\"") + text + QStringLiteral("\" is not in controller.js");
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
        QTest::newRow("voice preview with seconds") << "en" << "[语音 12\"]" << "[Voice 12\"]";
        QTest::newRow("link preview") << "es" << "[链接] Harbour news" << "[Enlace] Harbour news";
        // Names joined by the language's own separator; the verb agrees
        // with their number.
        QTest::newRow("members joined") << "fr" << "Ada、Ben 加入了群聊" << "Ada, Ben ont rejoint le groupe";
        QTest::newRow("one member joined") << "fr" << "Ada 加入了群聊" << "Ada a rejoint le groupe";
        QTest::newRow("members joined, German") << "de" << "Ada、Ben、Cy 加入了群聊"
                                                << "Ada, Ben, Cy sind der Gruppe beigetreten";
        QTest::newRow("members joined, Japanese") << "ja-JP" << "Ada、Ben 加入了群聊"
                                                  << "Ada、Ben がグループに参加しました";
        QTest::newRow("members joined, Chinese") << "zh-Hans" << "Ada、Ben 加入了群聊" << "Ada、Ben 加入了群聊";
        QTest::newRow("a message that only starts like a preview") << "en" << "[图片] 是这个" << "[图片] 是这个";
        // The desktop notices, through the same tables.
        QTest::newRow("new message notice") << "ja-JP" << "收到新消息" << "新しいメッセージ";
        QTest::newRow("join request notice") << "zh-Hant" << "收到新的入群申请" << "收到新的入群申請";
        QTest::newRow("voice room notice") << "pt-PT" << "语音聊天室已开启" << "A sala de voz está aberta";
        QTest::newRow("premium group title") << "de" << "Premium 群组" << "Premium-Gruppe";
    }
    void controllerTextsWithParts()
    {
        QFETCH(QString, locale);
        QFETCH(QString, given);
        QFETCH(QString, shown);
        QCOMPARE(said(locale, given), shown);
    }
};

QTEST_MAIN(I18nCoverageTest)
#include "i18n_coverage_test.moc"
