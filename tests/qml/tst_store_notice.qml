import QtQuick
import QtTest
import Velmor

// The notice after a damaged store was kept aside names the file and, when
// any came back, how many messages were read back from it; a refused store
// is named with the reason.
Item {
    id: host
    width: 800
    height: 200

    Component { id: noticeComponent; StoreNotice { width: 600 } }

    TestCase {
        name: "StoreNotice"
        when: windowShown

        function cleanup() {
            App.storeSetAside = ""
            App.storeSalvaged = 0
            App.storeProblem = ""
            App.storeForeign = ""
            App.identityKeptAside = ""
            App.identityKeptAsideDamaged = false
        }

        // A refused store is named in every language, its own text for why.
        function test_refusedFile_data() {
            var rows = []
            for (var locale of ["en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"])
                for (var problem of ["foreign", "newer"])
                    rows.push({ tag: problem + " " + locale, problem: problem, locale: locale })
            return rows
        }
        function test_refusedFile(data) {
            var locale = I18n.locale
            I18n.locale = data.locale
            App.storeProblem = data.problem
            App.storeForeign = "/home/u/.local/share/Pelorin/chat.db"
            var notice = createTemporaryObject(noticeComponent, host)
            var text = findChild(notice, "storeNoticeText").text
            var foreignText = I18n.tr("store.foreign", { "file": App.storeForeign })
            I18n.locale = locale
            verify(notice.visible)
            verify(text.indexOf("/home/u/.local/share/Pelorin/chat.db") >= 0, text)
            compare(text === foreignText, data.problem === "foreign", text)
        }

        // A saved key kept aside is named with why: another identity's key
        // or a damaged one, in every language.
        function test_keptKey_data() {
            var rows = []
            for (var locale of ["en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"])
                for (var damaged of [false, true])
                    rows.push({ tag: (damaged ? "damaged " : "foreign ") + locale, locale: locale, damaged: damaged })
            return rows
        }
        function test_keptKey(data) {
            var locale = I18n.locale
            I18n.locale = data.locale
            App.identityKeptAside = "/home/u/.local/share/Pelorin/vault/com.quillet.pelorin.private_key.damaged-20261208"
            App.identityKeptAsideDamaged = data.damaged
            var notice = createTemporaryObject(noticeComponent, host)
            var text = findChild(notice, "storeNoticeText").text
            var args = { "file": App.identityKeptAside }
            var damagedText = I18n.tr("store.damagedKey", args)
            var keptText = I18n.tr("store.keptKey", args)
            I18n.locale = locale
            verify(notice.visible)
            compare(text, data.damaged ? damagedText : keptText)
            verify(damagedText !== keptText)
        }

        function test_keptFile_data() {
            return [
                { tag: "en many", locale: "en", salvaged: 200, said: "200 messages were read back" },
                { tag: "en none", locale: "en", salvaged: 0, said: "No message could be read back" },
                { tag: "en one", locale: "en", salvaged: 1, said: "1 message was read back" },
                { tag: "de one", locale: "de", salvaged: 1, said: "1 Nachricht wurde" },
                { tag: "fr one", locale: "fr", salvaged: 1, said: "1 message en a été récupéré" },
                { tag: "es one", locale: "es", salvaged: 1, said: "Se recuperó 1 mensaje" },
                { tag: "pt one", locale: "pt-PT", salvaged: 1, said: "Foi recuperada 1 mensagem" }
            ]
        }
        function test_keptFile(data) {
            var locale = I18n.locale
            I18n.locale = data.locale
            App.storeSetAside = "/home/u/.local/share/Pelorin/chat.db.damaged-20261207-101500"
            App.storeSalvaged = data.salvaged
            var notice = createTemporaryObject(noticeComponent, host)
            verify(notice.visible)
            var text = findChild(notice, "storeNoticeText").text
            I18n.locale = locale
            verify(text.indexOf("chat.db.damaged-20261207-101500") >= 0, text)
            verify(text.indexOf(data.said) >= 0, text)
        }

        // Sends saved at sign-in from the journal, and sends the journal lost
        // to a damaged record, are told with their count, in the singular
        // where the language has one (every language's forms: qml_i18n_coverage).
        function test_journalCounts_data() {
            return [
                { tag: "restored en one", what: "restored", locale: "en", count: 1, said: "1 message that could not be saved when sent was saved" },
                { tag: "restored en two", what: "restored", locale: "en", count: 2, said: "2 messages that could not be saved when sent were saved" },
                { tag: "restored zh one", what: "restored", locale: "zh-Hans", count: 1, said: "1 条发送时未能保存的消息现已保存" },
                { tag: "lost en one", what: "lost", locale: "en", count: 1, said: "1 message kept while it could not be saved was damaged" },
                { tag: "lost en many", what: "lost", locale: "en", count: 7, said: "7 messages kept while they could not be saved were damaged" },
                { tag: "lost zh-Hans", what: "lost", locale: "zh-Hans", count: 7, said: "7 条在无法保存时暂存的消息" }
            ]
        }
        function test_journalCounts(data) {
            var locale = I18n.locale
            I18n.locale = data.locale
            var notice = createTemporaryObject(noticeComponent, host)
            verify(!notice.visible)
            if (data.what === "restored")
                notice.restored = data.count
            else
                Chat.journaledSendsLost(data.count)
            var text = findChild(notice, "storeNoticeText").text
            I18n.locale = locale
            verify(notice.visible)
            var at = text.indexOf(data.said)
            verify(data.what === "restored" ? at === 0 : at >= 0, text)
            // Told once: its button lets it go.
            mouseClick(findChild(notice, "storeNoticeAction"))
            verify(!notice.visible)
        }
    }
}
