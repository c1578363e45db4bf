import QtQuick
import QtTest
import Velmor

// Keys in the home view: typed text stays with its conversation and reaches
// the composer (after opening, with a toast up); Tab leaves it; Escape
// closes the topmost popup.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }
    Component { id: slicedHome; Loader { id: sliced; property string ask; property var asked; asynchronous: true // as a sign-in builds it
            sourceComponent: HomeView { width: 1112; height: 816; Component.onCompleted: sliced.asked = popup(sliced.ask) } } }

    TestCase {
        name: "HomeKeys"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.conversations = []
            Chat.messages = []
            Chat.friendInfo = ({})
            open("")
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function open(peer) {
            Chat.currentPeer = peer
            Chat.currentTitle = peer
            Chat.currentOfficial = false
            Chat.currentCanSend = true
            Chat.currentChanged()
        }

        function makeHome() { return createTemporaryObject(homeComponent, host) }

        function editorOf(home) { return findChild(findChild(home, "composer"), "editor") }

        function type(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        // Steps: "open:<peer>", "type:<text>" (after a click into the text
        // area), "send", "kept:<peer>" (the controller says the text sent
        // there is kept), "expect:<text>"; sent lists [peer, text] per send.
        function test_textStaysInItsConversation_data() {
            return [
                { tag: "Enter sends to the conversation it was typed in",
                  steps: ["open:carol", "type:for carol", "open:alice", "send", "open:carol", "send"],
                  sent: [["carol", "for carol"]] },
                { tag: "each keeps its own",
                  steps: ["open:carol", "type:c", "open:alice", "type:a", "open:carol", "expect:c",
                          "open:alice", "expect:a"], sent: [] },
                { tag: "a sent text is not restored",
                  steps: ["open:carol", "type:hi", "send", "kept:carol", "open:alice", "open:carol", "expect:"],
                  sent: [["carol", "hi"]] },
                { tag: "a text kept after its conversation was left is not restored",
                  steps: ["open:carol", "type:hi", "send", "open:alice", "kept:carol", "open:carol", "expect:"],
                  sent: [["carol", "hi"]] },
                { tag: "a text not kept yet stays",
                  steps: ["open:carol", "type:hi", "send", "open:alice", "open:carol", "expect:hi"],
                  sent: [["carol", "hi"]] }
            ]
        }
        function test_textStaysInItsConversation(data) {
            var home = makeHome()
            var editor = editorOf(home)
            var sent = []
            for (var i = 0; i < data.steps.length; ++i) {
                var step = data.steps[i]
                var arg = step.substring(step.indexOf(":") + 1)
                if (step.indexOf("open:") === 0) {
                    open(arg)
                    wait(0)
                } else if (step.indexOf("type:") === 0) {
                    mouseClick(editor, 20, 10)
                    type(arg)
                } else if (step === "send") {
                    var before = Chat.callCount("sendText")
                    mouseClick(editor, 20, 10)
                    keyClick(Qt.Key_Return)
                    if (Chat.callCount("sendText") > before)
                        sent.push([Chat.currentPeer, Chat.lastArgs("sendText")[0]])
                } else if (step.indexOf("kept:") === 0) {
                    Chat.textKept(arg, "hi", true)
                } else {
                    compare(editor.text, arg, step)
                }
            }
            compare(sent, data.sent)
        }

        // Typing right after a conversation opens lands in its composer.
        function test_openingFocusesTheComposer_data() {
            return [
                { tag: "first conversation", before: "" },
                { tag: "from another conversation", before: "alice" },
                // Kept throughout: taken away and back, it was given up and taken up again.
                { tag: "from another conversation, typing there", before: "alice", keep: true },
                { tag: "from the sidebar search", before: "search" },
                { tag: "from a sheet that closes after opening it", before: "sheet" }
            ]
        }
        function test_openingFocusesTheComposer(data) {
            var home = makeHome()
            var sheet = null
            if (data.before === "alice") {
                open("alice")
                wait(0)
                if (data.keep)
                    tryVerify(function () { return editorOf(home).activeFocus })
                else
                    editorOf(home).focus = false
            } else if (data.before === "search") {
                mouseClick(findChild(home, "conversationSearch"))
                verify(findChild(home, "conversationSearch").activeFocus)
            } else if (data.before === "sheet") {
                home.mainPane = "newChat"
                home.pane("newChat")
                sheet = findChild(home, "contactSheet")
                sheet.show()
                tryVerify(function () { return sheet.opened })
            }
            var lost = 0
            var watched = editorOf(home)
            var watch = function () { if (!watched.activeFocus) ++lost }
            if (watched)
                watched.activeFocusChanged.connect(watch)
            open("carol")
            if (sheet)
                sheet.close()
            var editor = editorOf(home)
            tryVerify(function () { return editor.activeFocus })
            if (watched)
                watched.activeFocusChanged.disconnect(watch)
            if (data.keep)
                compare(lost, 0)
            type("hey")
            compare(editor.text, "hey")
            compare(findChild(home, "conversationSearch").text, "")
        }

        // The friend panel's toast still shows: clicks and keys reach the composer.
        function test_clickWithToastShowingTypes_data() {
            return [
                { tag: "address copied", action: "copy", spot: "text" },
                { tag: "address copied, click beside the tools", action: "copy", spot: "bar" },
                { tag: "the click that closes the panel", action: "copy", spot: "none", closeBy: "click" },
                { tag: "panel closed by Escape", action: "remark", spot: "none", closeBy: "escape" }
            ]
        }
        function test_clickWithToastShowingTypes(data) {
            var home = makeHome()
            open("carol")
            Chat.friendInfo = { "address": "0x12", "shortAddress": "0x12", "remark": "", "avatarKind": "",
                                "avatarId": "avatar_boys_001", "blocked": false }
            Chat.returns = { "updateCurrentFriendRemark": true }
            var panel = home.popup("friendInfo")
            panel.open()
            tryVerify(function () { return panel.opened })
            if (data.action === "copy")
                mouseClick(findChild(panel.contentItem, "copyAction"))
            else
                panel.saveRemark()
            tryVerify(function () { return panel.toastItem.opacity === 1 })
            var editor = editorOf(home)
            if (data.closeBy === "click")
                mouseClick(editor, 20, 10)
            else if (data.closeBy === "escape")
                keyClick(Qt.Key_Escape)
            else
                panel.close()
            tryVerify(function () { return !panel.visible })
            verify(panel.toastItem.visible)

            if (data.closeBy === undefined)
                editor.focus = false
            if (data.spot === "none") {
                wait(0)
            } else if (data.spot === "text") {
                mouseClick(editor, 20, 10)
            } else {
                var bar = findChild(findChild(home, "composer"), "composerBar")
                mouseClick(bar, bar.width / 2, bar.height - 20)
            }
            type("ok")
            compare(editor.text, "ok")
        }

        // The backup form by keyboard alone: Tab goes round its controls,
        // each shows its focus, Space acts on the focused one only.
        function test_backupFormByKeyboard() {
            App.returns = { "hasBackupPassword": false }
            var home = makeHome()
            mouseClick(findChild(home, "settingsButton"))
            var row = findChild(home, "rowBackup")
            tryVerify(() => row.width > 0)
            mouseClick(row)
            var first = findChild(home, "bkupPwd1"), ack = findChild(home, "bkupAck")
            tryVerify(() => first.width > 0)
            mouseClick(first)
            type("pw"); keyClick(Qt.Key_Tab); type("pw"); keyClick(Qt.Key_Tab)
            verify(ack.activeFocus && ack.border.width === 2)
            keyClick(Qt.Key_Space)
            verify(ack.checked)
            keyClick(Qt.Key_Tab)
            verify(findChild(findChild(home, "bkupSetButton"), "focusRing").visible)
            keyClick(Qt.Key_Space)
            compare(App.lastArgs("setBackupPassword"), ["pw"])
            keyClick(Qt.Key_Tab)
            verify(first.activeFocus)
            compare(home.mainPane, "settings")
        }

        function test_tabLeavesTheComposer() {
            var home = makeHome()
            open("carol")
            var editor = editorOf(home)
            mouseClick(editor, 20, 10)
            type("a")
            keyClick(Qt.Key_Tab)
            compare(editor.text, "a")
            verify(!editor.activeFocus)
        }

        function openPopup(home, name, made) {
            var popup = made !== undefined ? made : home.popup(name)
            if (name === "groupSettings")
                popup.reload()
            if (name === "imagePreview")
                popup.openAt("qrc:/qt/qml/Velmor/assets/logo_sheet_156.png")
            else
                popup.open()
            tryVerify(function () { return popup.opened }, 3000, name)
            return popup
        }

        // Opened while the composer (which has its own Escape) had the focus.
        function test_escapeCloses_data() {
            var rows = ["groupQrPopup", "groupSettings", "sgSettings", "deleteChatConfirm", "friendInfo",
                        "voiceOpenConfirm", "imagePreview"].map(function (name) { return { tag: name, name: name } })
            return rows.concat([{ tag: "QR over group settings", name: "groupQrPopup", over: "groupSettings" },
                                { tag: "opened while the view is built", name: "friendInfo", sliced: true }])
        }
        function test_escapeCloses(data) {
            open("group:g1")
            Chat.friendInfo = { "address": "0x12", "shortAddress": "0x12", "remark": "", "avatarKind": "",
                                "avatarId": "avatar_boys_001", "blocked": false }
            App.returns = { "qrSvg": "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 9 9'/>" }
            Chat.returns = { "currentGroupInfo": { "isGroup": true, "groupId": "g1", "name": "Hikers",
                                                   "isOwner": false, "members": [], "memberCount": 0,
                                                   "joinAddress": "pelorin:group:abc" } }
            var loader = data.sliced ? createTemporaryObject(slicedHome, host, { "ask": data.name }) : null
            tryVerify(function () { return !loader || loader.status === Loader.Ready })
            var home = loader ? loader.item : makeHome()
            editorOf(home).forceActiveFocus()
            verify(editorOf(home).activeFocus)
            var under = data.over ? openPopup(home, data.over) : null
            var popup = openPopup(home, data.name, loader ? loader.asked : undefined)
            keyClick(Qt.Key_Escape)
            tryVerify(function () { return !popup.visible }, 3000, "Escape left it open")
            if (under) {
                verify(under.visible, "Escape closed the popup beneath too")
                keyClick(Qt.Key_Escape)
                tryVerify(function () { return !under.visible })
            }
        }
    }
}
