// Every emoji the composer's panel offers has a glyph in the face the panel
// draws it with: a missing colour emoji font shows the user empty boxes.
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

class EmojiFontTest : public QObject
{
    Q_OBJECT

private slots:
    void panelEmojiHaveGlyphs()
    {
        QQmlEngine engine;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Velmor\nimport \"qrc:/qt/qml/Velmor/qml/home/composer\"\n"
                          "EmojiPanel { property string family: Theme.emojiFamily }\n",
                          QUrl(QStringLiteral("qrc:/emoji_probe.qml")));
        std::unique_ptr<QObject> panel(component.create());
        QVERIFY2(panel, qPrintable(component.errorString()));

        const QString family = panel->property("family").toString();
        QVERIFY2(QFontDatabase::families().contains(family),
                 qPrintable(family + " is not installed (scripts/setup.sh installs it)"));
        const QFontMetricsF metrics{QFont(family)};
        const QStringList emojis = panel->property("emojis").toStringList();
        QCOMPARE(emojis.size(), 48);
        QStringList missing;
        for (const QString &emoji : emojis) {
            // The first code point carries the picture; a variation selector
            // after it only asks for the colour presentation.
            if (!metrics.inFontUcs4(emoji.toUcs4().value(0)))
                missing << emoji;
        }
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("no glyph for ") + missing.join(' ')));
    }
};

QTEST_MAIN(EmojiFontTest)
#include "emoji_font_test.moc"
