pragma Singleton
import QtQuick
import Qt.labs.settings 1.0
import "i18n/tables.js" as Texts
import "i18n/controller.js" as ControllerTexts

// Interface language: the saved choice (settings category "ui", key
// "language"), else the one derived from the system locale. Texts fall back
// to English and then to the key itself, so a missing translation never shows
// an empty label.
QtObject {
    id: i18n

    property Settings preferences: Settings {
        category: "ui"
        property string language: ""
    }

    property string locale: preferences.language !== "" ? preferences.language
                                                        : normalizedSystemLocale()

    readonly property var locales: ["en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"]

    readonly property var localeNames: ({
        "en": "English",
        "zh-Hans": "简体中文",
        "zh-Hant": "繁體中文",
        "ja-JP": "日本語",
        "de": "Deutsch",
        "es": "Español",
        "fr": "Français",
        "pt-PT": "Português"
    })

    // The texts, one table per language (i18n/*.js).
    readonly property var strings: Texts.tables

    // Maps a Qt locale name ("zh_TW", "pt_BR", "C") onto one of `locales`.
    function normalizeLocaleName(name) {
        var n = String(name === undefined || name === null ? "" : name).replace("_", "-")
        if (n.indexOf("zh-Hant") === 0 || n === "zh-TW" || n === "zh-HK")
            return "zh-Hant"
        if (n.indexOf("zh") === 0)
            return "zh-Hans"
        if (n.indexOf("ja") === 0)
            return "ja-JP"
        if (n.indexOf("pt") === 0)
            return "pt-PT"
        var two = n.substring(0, 2)
        return locales.indexOf(two) >= 0 ? two : "en"
    }

    function normalizedSystemLocale() {
        return normalizeLocaleName(Qt.locale().name)
    }

    function setLocale(value) {
        if (locales.indexOf(value) < 0)
            return
        preferences.language = value
        locale = value
    }

    // Placeholders are replaced literally (no regular expression, no "$"
    // replacement patterns), so any argument name or value is safe.
    // Own entries only: a key or locale named like an Object member
    // ("toString", "constructor") must not pick up the inherited function.
    function entry(map, name) {
        return (map && Object.prototype.hasOwnProperty.call(map, name)) ? map[name] : undefined
    }

    // Placeholders: "{count}" is a number the words agree with ("1 member",
    // "2 members"), so its text has plural forms; a number shown beside a
    // label ("Members (12)") is "{n}".
    // The plural category of `count` in `language`: Chinese and Japanese
    // have one form ("other"); French counts 0 and 1 as singular; the other
    // languages of `locales` only 1.
    function pluralCategory(language, count) {
        var n = Math.abs(Number(count))
        if (language === "zh-Hans" || language === "zh-Hant" || language === "ja-JP")
            return "other"
        if (language === "fr")
            return n < 2 ? "one" : "other"
        return n === 1 ? "one" : "other"
    }

    // A key's text in `language`; a text with plural forms ({"one": …, "other": …}) gives
    // the form of `count`. Undefined when the language lacks the key.
    function lookup(language, key, count) {
        var text = entry(entry(strings, language), key)
        if (text !== null && typeof text === "object") {
            var form = entry(text, pluralCategory(language, count === undefined ? 0 : count))
            text = form !== undefined ? form : entry(text, "other")
        }
        return (typeof text === "string" && text !== "") ? text : undefined
    }

    // A text a controller gave (they speak Chinese), in the interface's
    // language when it is one they are known to give (i18n/controller.js);
    // any other text (a server's error word, a name) as it came.
    function said(text) {
        var given = (text === undefined || text === null) ? "" : String(text)
        var key = entry(ControllerTexts.exact, given)
        if (key !== undefined)
            return tr(key)
        for (var i = 0; i < ControllerTexts.patterns.length; ++i) {
            var pattern = ControllerTexts.patterns[i]
            var found = pattern.match.exec(given)
            if (!found)
                continue
            var args = {}
            for (var j = 0; j < pattern.names.length; ++j) {
                var name = pattern.names[j]
                var own = pattern.translated !== undefined && pattern.translated.indexOf(name) >= 0
                args[name] = own ? said(found[j + 1]) : found[j + 1]
                if (pattern.list === name) {
                    var names = found[j + 1].split("、")
                    args.count = names.length
                    args[name] = names.join(tr("common.listSeparator"))
                }
            }
            return tr(pattern.key, args)
        }
        return given
    }

    function tr(key, args) {
        var count = (args !== undefined && args !== null && typeof args === "object") ? args["count"] : undefined
        var text = lookup(locale, key, count)
        if (text === undefined) {
            var en = lookup("en", key, count)
            text = en === undefined ? key : en
        }
        text = String(text)
        if (args !== undefined && args !== null && typeof args === "object") {
            for (var name in args) {
                var value = args[name]
                text = text.split("{" + name + "}").join(String(value))
            }
        }
        return text
    }
}
