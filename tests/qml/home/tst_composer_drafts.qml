import QtQuick
import QtTest
import Velmor

// What the user types in the home view's composer: it stays with the
// conversation it was typed in, and no key goes astray (opening a
// conversation, a toast on screen, Tab).
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    TestCase {
        name: "ComposerDrafts"
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

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        function editorOf(home) { return findChild(findChild(home, "composer"), "editor") }

        function type(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        // Steps: "open:<peer>", "type:<text>" (after a click into the text
        // area), "send", "expect:<text>"; sent lists [peer, text] per send.
        function test_textStaysInItsConversation_data() {
            return [
                { tag: "typed to one, not shown in another",
                  steps: ["open:carol", "type:for carol", "open:alice", "expect:"], sent: [] },
                { tag: "restored on coming back",
                  steps: ["open:carol", "type:for carol", "open:alice", "open:carol", "expect:for carol"], sent: [] },
                { tag: "Enter sends to the conversation it was typed in",
                  steps: ["open:carol", "type:for carol", "open:alice", "send", "open:carol", "send"],
                  sent: [["carol", "for carol"]] },
                { tag: "each keeps its own",
                  steps: ["open:carol", "type:c", "open:alice", "type:a", "open:carol", "expect:c",
                          "open:alice", "expect:a"], sent: [] },
                { tag: "a sent text is not restored",
                  steps: ["open:carol", "type:hi", "send", "open:alice", "open:carol", "expect:"],
                  sent: [["carol", "hi"]] },
                { tag: "kept while no conversation is open",
                  steps: ["open:carol", "type:later", "open:", "open:carol", "expect:later"], sent: [] }
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
                } else {
                    compare(editor.text, arg, step)
                }
            }
            compare(sent, data.sent)
        }

        // Whatever held the focus, typing right after a conversation opens
        // lands in its composer.
        function test_openingFocusesTheComposer_data() {
            return [
                { tag: "first conversation", before: "" },
                { tag: "from another conversation", before: "alice" },
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
            open("carol")
            if (sheet)
                sheet.close()
            var editor = editorOf(home)
            tryVerify(function () { return editor.activeFocus })
            type("hey")
            compare(editor.text, "hey")
            compare(findChild(home, "conversationSearch").text, "")
        }

        // A toast from the friend panel is still showing when the user goes
        // back to the composer: the click and the keys reach it.
        function test_clickWithToastShowingTypes_data() {
            return [
                { tag: "address copied", action: "copy", spot: "text" },
                { tag: "remark saved", action: "remark", spot: "text" },
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

        function test_tabLeavesTheComposer_data() {
            return [
                { tag: "Tab", modifiers: Qt.NoModifier, key: Qt.Key_Tab },
                { tag: "Shift+Tab", modifiers: Qt.ShiftModifier, key: Qt.Key_Backtab }
            ]
        }
        function test_tabLeavesTheComposer(data) {
            var home = makeHome()
            open("carol")
            var editor = editorOf(home)
            mouseClick(editor, 20, 10)
            type("a")
            keyClick(data.key, data.modifiers)
            compare(editor.text, "a")
            verify(!editor.activeFocus)
        }
    }
}
