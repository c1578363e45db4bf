import QtQuick
import QtTest
import Velmor

// The module as a whole: its directory file lists every document, each
// registered document instantiates without a single warning, and the mock
// controllers behave as the views will expect.
Item {
    id: host
    width: 800
    height: 600

    TestCase {
        name: "Module"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
        }

        function readQmldir() {
            var xhr = new XMLHttpRequest()
            xhr.open("GET", "qrc:/qt/qml/Velmor/qmldir", false)
            xhr.send()
            return xhr.responseText
        }

        function registeredTypes() {
            var out = []
            var lines = readQmldir().split("\n")
            for (var i = 0; i < lines.length; ++i) {
                var parts = lines[i].trim().split(/\s+/)
                if (parts[0] === "singleton" && parts.length === 4)
                    out.push({ "name": parts[1], "singleton": true, "version": parts[2], "file": parts[3] })
                else if (parts.length === 3 && /^[A-Z]/.test(parts[0]))
                    out.push({ "name": parts[0], "singleton": false, "version": parts[1], "file": parts[2] })
            }
            return out
        }

        function test_qmldirDeclaresModule() {
            var text = readQmldir()
            verify(text.indexOf("module Velmor") === 0, text)
            verify(text.indexOf("typeinfo VelmorQt.qmltypes") >= 0)
            verify(text.indexOf("prefer :/qt/qml/Velmor/") >= 0)
            var types = registeredTypes()
            var byName = {}
            for (var i = 0; i < types.length; ++i)
                byName[types[i].name] = types[i]
            var expected = ["Theme", "I18n", "AppAvatar", "AssetCatalog", "AppDialog", "AppToast",
                            "ConversationRow", "LoadingOverlay", "MemberRow", "MessageBubble",
                            "PrimaryButton", "SearchField", "TgIcon", "TgScrollBar"]
            for (var j = 0; j < expected.length; ++j) {
                var t = byName[expected[j]]
                verify(t !== undefined, expected[j] + " missing from qmldir")
                compare(t.version, "1.0")
                compare(t.file, "qml/" + expected[j] + ".qml")
            }
            verify(byName["Theme"].singleton)
            verify(byName["I18n"].singleton)
            verify(byName["AssetCatalog"].singleton)
            verify(!byName["TgIcon"].singleton)
        }

        // Documents are declared in one fixed order; the views that join the
        // module later take their places ahead of the shared singletons.
        function test_qmldirOrder() {
            var order = ["Main", "LoginView", "HomeView", "ChatComposer", "FriendInfoPanel", "ProfileView",
                         "Theme", "I18n", "AppAvatar", "AssetCatalog", "AppDialog", "AppToast",
                         "ConversationRow", "LoadingOverlay", "MemberRow", "MessageBubble",
                         "PrimaryButton", "SearchField", "StoreNotice", "TgIcon", "TgScrollBar"]
            var types = registeredTypes()
            var last = -1
            for (var i = 0; i < types.length; ++i) {
                var at = order.indexOf(types[i].name)
                verify(at >= 0, types[i].name + " is not a document of the module")
                verify(at > last, types[i].name + " is declared out of order")
                last = at
            }
            // The module's own lines come before the first document.
            var lines = readQmldir().split("\n")
            var firstType = -1
            for (var j = 0; j < lines.length && firstType < 0; ++j)
                if (/^(singleton\s+)?[A-Z]\w*\s+1\.0\s/.test(lines[j].trim()))
                    firstType = j
            verify(firstType > 0)
            var head = lines.slice(0, firstType).join("\n")
            verify(head.indexOf("typeinfo VelmorQt.qmltypes") >= 0, head)
            verify(head.indexOf("prefer :/qt/qml/Velmor/") >= 0, head)
        }

        function test_everyDocumentInstantiates() {
            var types = registeredTypes()
            verify(types.length >= 14)
            for (var i = 0; i < types.length; ++i) {
                var t = types[i]
                var src = t.singleton
                    ? "import QtQuick; import Velmor; Item { property var probe: " + t.name + " }"
                    : "import QtQuick; import Velmor; Item { property var probe: " + t.name + " {} }"
                var obj = Qt.createQmlObject(src, host, "probe_" + t.name)
                verify(obj !== null, t.name)
                verify(obj.probe !== null && obj.probe !== undefined, t.name + " did not instantiate")
                obj.destroy()
            }
            wait(0)
        }

        function test_assetsResolveFromDocuments() {
            var img = createTemporaryObject(Qt.createComponent("qrc:/qt/qml/Velmor/qml/TgIcon.qml"),
                                            host, { "name": "search" })
            verify(img !== null)
            // The icon's hidden image resolves "../assets/icons/tg/search.svg"
            // against the document folder.
            var found = findChild(img, "iconImage")
            verify(found !== null)
            compare(String(found.source), "../assets/icons/tg/search.svg")
            // Ready means the relative path reached the module's asset folder.
            tryCompare(found, "status", Image.Ready)
            compare(found.sourceSize.width, 48)
        }

        function test_mocksRecordCallsAndEmit() {
            Chat.reset()
            Chat.openConversation("peerA")
            Chat.openConversation("group:g1")
            compare(Chat.callCount("openConversation"), 2)
            compare(Chat.lastArgs("openConversation")[0], "group:g1")
            compare(Chat.callNames(), ["openConversation", "openConversation"])

            var conn = Qt.createQmlObject(
                "import QtQuick; Connections { target: Chat; function onCurrentChanged() { hits++ } property int hits: 0 }",
                host, "conn")
            Chat.currentChanged()
            Chat.currentChanged()
            compare(conn.hits, 2)
            conn.destroy()

            App.reset()
            compare(App.hasSavedIdentity(), false)
            App.returns = { "hasSavedIdentity": true }
            compare(App.hasSavedIdentity(), true)
            compare(App.callCount("hasSavedIdentity"), 2)

            VoiceRoom.reset()
            VoiceRoom.showGroup("https://sg.example", "Title", true)
            compare(VoiceRoom.lastArgs("showGroup"), ["https://sg.example", "Title", true])
            Voice.reset()
            Voice.playBase64("AAAA", "audio/mp4")
            compare(Voice.callCount("playBase64"), 1)
        }
    }
}
