import QtQuick
import QtTest
import Velmor

Item {
    id: host

    // A bound label re-translates when the language changes.
    Text {
        id: boundLabel
        text: I18n.tr("chat.empty")
    }

    TestCase {
        name: "I18n"

        function init() {
            failOnWarning(/.*/)
            I18n.setLocale("en")
        }

        function test_tables() {
            compare(I18n.locales, ["en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"])
            compare(I18n.localeNames["zh-Hant"], "繁體中文")
            compare(I18n.localeNames["pt-PT"], "Português")
            // (Every key in every language, with its plural forms: the
            // qml_i18n_coverage test.)
            for (var l = 0; l < I18n.locales.length; ++l) {
                I18n.setLocale(I18n.locales[l])
                compare(I18n.tr("app.name"), "Pelorin")
            }
        }

        function test_translations() {
            I18n.setLocale("de")
            compare(I18n.tr("chat.empty"), "Noch keine Unterhaltungen")
            I18n.setLocale("zh-Hans")
            compare(I18n.tr("common.loading"), "加载中…")
            compare(I18n.tr("profile.language"), "系统语言")
            compare(I18n.tr("theme.dark"), "深色")
            I18n.setLocale("fr")
            compare(I18n.tr("profile.copyAddress"), "Copier l’adresse")
        }

        function test_fallback() {
            for (var i = 0; i < I18n.locales.length; ++i) {
                I18n.setLocale(I18n.locales[i])
                compare(I18n.tr("no.such.key"), "no.such.key")
                compare(I18n.tr(""), "")
                // Names of Object members are missing keys like any other.
                compare(I18n.tr("toString"), "toString")
                compare(I18n.tr("constructor"), "constructor")
                compare(I18n.tr("hasOwnProperty"), "hasOwnProperty")
                compare(I18n.tr("__proto__"), "__proto__")
            }
        }

        function test_placeholders() {
            compare(I18n.tr("group.members", { "count": 3 }), "3 members")
            compare(I18n.tr("group.members", { "count": 1 }), "1 member")
            I18n.setLocale("fr")
            compare(I18n.tr("group.members", { "count": 0 }), "0 membre")
            compare(I18n.tr("group.members", { "count": 2 }), "2 membres")
            I18n.setLocale("ja-JP")
            compare(I18n.tr("group.members", { "count": 3 }), "3 人のメンバー")
            I18n.setLocale("zh-Hans")
            compare(I18n.tr("group.members", { "count": 3 }), "3 位成员")
            compare(I18n.tr("group.members"), "{count} 位成员")
            I18n.setLocale("en")
            compare(I18n.tr("group.members"), "{count} members")
            compare(I18n.tr("group.members", { "other": 1 }), "{count} members")
            compare(I18n.tr("group.members", { "count": 0 }), "0 members")
            compare(I18n.tr("common.close", { "count": 5 }), "Close")
            // Every occurrence is replaced; names and values are literal.
            compare(I18n.tr("{a}-{a}-{b}", { "a": "x" }), "x-x-{b}")
            compare(I18n.tr("{a.b}{a*}", { "a.b": "1", "a*": "2" }), "12")
            compare(I18n.tr("{n}", { "n": "$&$1$$" }), "$&$1$$")
            compare(I18n.tr("group.members", null), "{count} members")
        }

        function test_setLocale() {
            var conn = Qt.createQmlObject("import QtQuick; import Velmor; Connections { target: I18n; function onLocaleChanged() { hits++ } property int hits: 0 }", host)
            I18n.setLocale("it")
            compare(I18n.locale, "en")
            compare(I18n.preferences.language, "en")
            I18n.setLocale("")
            I18n.setLocale(undefined)
            I18n.setLocale("EN")
            compare(I18n.locale, "en")
            compare(conn.hits, 0)
            compare(boundLabel.text, "No conversations yet")
            I18n.setLocale("ja-JP")
            compare(I18n.locale, "ja-JP")
            compare(I18n.preferences.language, "ja-JP")
            compare(conn.hits, 1)
            compare(boundLabel.text, "会話はありません")
            conn.destroy()
        }

        function test_normalisation_data() {
            return [
                { tag: "zh_TW", name: "zh_TW", want: "zh-Hant" },
                { tag: "zh_HK", name: "zh_HK", want: "zh-Hant" },
                { tag: "zh_Hant_MO", name: "zh_Hant_MO", want: "zh-Hant" },
                { tag: "zh_CN", name: "zh_CN", want: "zh-Hans" },
                { tag: "zh_SG", name: "zh_SG", want: "zh-Hans" },
                { tag: "zh_MO", name: "zh_MO", want: "zh-Hans" },
                { tag: "ja_JP", name: "ja_JP", want: "ja-JP" },
                { tag: "pt_BR", name: "pt_BR", want: "pt-PT" },
                { tag: "pt_PT", name: "pt_PT", want: "pt-PT" },
                { tag: "de_AT", name: "de_AT", want: "de" },
                { tag: "en_GB", name: "en_GB", want: "en" },
                { tag: "es_MX", name: "es_MX", want: "es" },
                { tag: "fr_CA", name: "fr_CA", want: "fr" },
                { tag: "it_IT", name: "it_IT", want: "en" },
                { tag: "ko_KR", name: "ko_KR", want: "en" },
                { tag: "C", name: "C", want: "en" },
                { tag: "empty", name: "", want: "en" }
            ]
        }

        function test_normalisation(data) {
            compare(I18n.normalizeLocaleName(data.name), data.want)
        }

        function test_systemLocale() {
            // The harness pins the system locale to en_US.
            compare(I18n.normalizedSystemLocale(), "en")
        }
    }
}
