import QtQuick
import QtTest
import Velmor

// The chat composer alone: height, keys, clipboard images, the error tool
// tip, the muted state and the emoji panel.
Item {
    id: host
    width: 700
    height: 500

    Component {
        id: composerComponent
        ChatComposer { width: 600; anchors.bottom: parent.bottom; onGradient: true }
    }

    TestCase {
        name: "Composer"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            I18n.setLocale("zh-Hans")
            Chat.reset(); App.reset()
            mouseMove(host, host.width - 2, 2)
        }

        function make(props) {
            var c = createTemporaryObject(composerComponent, host, props || {})
            verify(c)
            return c
        }

        function editorOf(c) { return findChild(c, "editor") }
        function bar(c) { return findChild(c, "composerBar") }

        function lines(n) {
            var out = []
            for (var i = 0; i < n; ++i)
                out.push("line " + i)
            return out.join("\n")
        }

        function test_height_data() {
            return [
                { tag: "empty", text: "", min: 115, max: 115 },
                { tag: "two lines", text: lines(2), min: 115, max: 115 },
                { tag: "six lines", text: lines(6), min: 116, max: 229 },
                { tag: "forty lines", text: lines(40), min: 230, max: 230 },
            ]
        }

        function test_height(data) {
            var c = make()
            var editor = editorOf(c)
            editor.text = data.text
            var h = bar(c).height
            verify(h >= data.min && h <= data.max, "bar height " + h)
            compare(h, Math.max(115, Math.min(230, editor.contentHeight + 66)))
            compare(c.implicitHeight, h)
            mouseClick(findChild(c, "emojiButton"))
            verify(c.emojiShown)
            compare(c.implicitHeight, h + 224)
        }

        // A draft taller than the bar scrolls with a scroll bar; scrolled to
        // the cursor at its end, neither its top line nor the cursor's line
        // is cut.
        function test_longDraft_data() {
            var wrapped = []
            for (var i = 0; i < 30; ++i)
                wrapped.push("sentence " + i + " of a draft that wraps")
            return [
                { tag: "three lines", text: lines(3), scrolls: false },
                { tag: "twelve lines", text: lines(12), scrolls: true },
                { tag: "forty lines", text: lines(40), scrolls: true },
                { tag: "one wrapped paragraph", text: wrapped.join(" "), scrolls: true },
            ]
        }
        function test_longDraft(data) {
            var c = make()
            var editor = editorOf(c)
            editor.text = data.text
            editor.forceActiveFocus()
            editor.cursorPosition = editor.length
            waitForRendering(c)
            var flick = findChild(c, "editorFlick")
            var scrollBar = findChild(c, "editorScrollBar")
            verify(scrollBar)
            compare(flick.contentHeight > flick.height + 0.5, data.scrolls)
            compare(scrollBar.size < 1, data.scrolls)
            var top = editor.positionToRectangle(editor.positionAt(editor.leftPadding + 1, flick.contentY + 0.5))
            verify(top.y >= flick.contentY - 0.5, "top line starts at " + top.y + ", view at " + flick.contentY)
            var cursor = editor.cursorRectangle
            verify(cursor.y >= flick.contentY - 0.5
                   && cursor.y + cursor.height <= flick.contentY + flick.height + 0.5,
                   "cursor " + cursor.y + "+" + cursor.height + " outside " + flick.contentY + "+" + flick.height)
        }

        function test_keys_data() {
            return [
                { tag: "Return sends", key: Qt.Key_Return, mods: Qt.NoModifier, text: "  hi  ", sent: 1, after: "" },
                { tag: "keypad Enter sends", key: Qt.Key_Enter, mods: Qt.KeypadModifier, text: "hi", sent: 1, after: "" },
                { tag: "Ctrl+Return sends", key: Qt.Key_Return, mods: Qt.ControlModifier, text: "hi", sent: 1, after: "" },
                { tag: "Alt+Return sends", key: Qt.Key_Return, mods: Qt.AltModifier, text: "hi", sent: 1, after: "" },
                { tag: "Shift+Return adds a line", key: Qt.Key_Return, mods: Qt.ShiftModifier, text: "hi", sent: 0, after: "hi\n" },
                { tag: "blank Return is consumed", key: Qt.Key_Return, mods: Qt.NoModifier, text: "  \n ", sent: 0, after: "  \n " },
                { tag: "a send that did not happen keeps the text", key: Qt.Key_Return, mods: Qt.NoModifier, text: "keep me", sent: 1, after: "keep me", refused: true },
                { tag: "a text kept nowhere stays", key: Qt.Key_Return, mods: Qt.NoModifier, text: "not kept", sent: 1, after: "not kept", kept: false },
            ]
        }

        function test_keys(data) {
            if (data.refused)
                Chat.returns = { "sendText": false }
            var c = make()
            var editor = editorOf(c)
            editor.text = data.text
            editor.forceActiveFocus()
            editor.cursorPosition = editor.length
            keyClick(data.key, data.mods)
            compare(Chat.callCount("sendText"), data.sent)
            if (data.sent)
                compare(Chat.lastArgs("sendText")[0], data.text)
            if (data.sent && !data.refused) {
                // Until the text is kept it stays, and a second Return sends nothing.
                compare(editor.text, data.text)
                verify(editor.readOnly)
                keyClick(data.key, data.mods)
                compare(Chat.callCount("sendText"), 1)
                // Nor does a long paste change it.
                App.returns = { "clipboardText": "x".repeat(30000) }
                keyClick(Qt.Key_V, Qt.ControlModifier)
                compare(editor.text, data.text)
                verify(!c.holdsLongText)
                Chat.textKept("", data.text.trim(), data.kept !== false)
                verify(!editor.readOnly)
            }
            compare(editor.text, data.after)
        }

        function test_escapeDismisses() {
            var c = make()
            var editor = editorOf(c)
            mouseClick(findChild(c, "emojiButton"))
            verify(c.emojiShown)
            editor.forceActiveFocus()
            // Focusing the text area closes the panel.
            verify(!c.emojiShown)
            mouseClick(findChild(c, "emojiButton"))
            verify(c.emojiShown)
            verify(!editor.activeFocus)
            editor.forceActiveFocus()
            keyClick(Qt.Key_Escape)
            verify(!c.emojiShown)
            verify(!editor.activeFocus)
        }

        function test_sendCapsule() {
            var c = make()
            var send = findChild(c, "sendBtn")
            verify(!send.ready)
            mouseClick(send)
            compare(Chat.callCount("sendText"), 0)
            editorOf(c).text = "hello"
            verify(send.ready)
            mouseClick(send)
            compare(Chat.lastArgs("sendText")[0], "hello")
            compare(editorOf(c).text, "hello")
            Chat.textKept("", "hello", true)
            compare(editorOf(c).text, "")
        }

        function test_pasteImage_data() {
            return [
                { tag: "Ctrl+V", mods: Qt.ControlModifier },
                { tag: "Ctrl+Shift+V", mods: Qt.ControlModifier | Qt.ShiftModifier },
                { tag: "Meta+V", mods: Qt.MetaModifier },
            ]
        }

        function test_pasteImage(data) {
            App.returns = { "clipboardImageDraft": { "ok": true, "url": "file:///tmp/clip.png" } }
            var c = make()
            var editor = editorOf(c)
            editor.text = "draft"
            editor.forceActiveFocus()
            keyClick(Qt.Key_V, data.mods)
            compare(Chat.callCount("sendImageFromFile"), 1)
            compare(Chat.lastArgs("sendImageFromFile")[0], "file:///tmp/clip.png")
            compare(editor.text, "draft")
        }

        function test_pasteTextWithoutImage() {
            var c = make()
            var editor = editorOf(c)
            editor.text = "copied"
            editor.selectAll()
            editor.copy()
            editor.text = ""
            editor.forceActiveFocus()
            keyClick(Qt.Key_V, Qt.ControlModifier)
            compare(App.callCount("clipboardImageDraft"), 1)
            compare(Chat.callCount("sendImageFromFile"), 0)
            compare(editor.text, "copied")
            compare(c.errorText, "")
        }

        // A text longer than the text area takes is held whole beside it
        // (the text area never lays it out), in the place of the selection,
        // and sent as one message; nothing of it is cut or lost.
        function test_longText_data() {
            var big = ""
            while (big.length < 25000)
                big += "a long pasted line of text\n"
            var full = big.substring(0, 20000)
            var huge = big.repeat(5)       // past what a paste leaves in the text area
            var vast = huge.repeat(9)      // past what "Edit" takes back
            var brim = big.repeat(4).substring(0, 99998) // the text area's bound, but for two
            return [
                { tag: "a paste that fits goes into the text area", text: "ab", select: [1, 1], paste: "xyz",
                  then: "send", held: false, sent: "axyzb" },
                { tag: "a long paste goes into the text area whole, at the cursor", text: "ab", select: [1, 1],
                  paste: big, then: "send", held: false, sent: "a" + big + "b" },
                { tag: "a long paste replaces the selection", text: "abcdef", select: [1, 5], paste: big,
                  then: "send", held: false, sent: "a" + big + "f" },
                { tag: "a paste past what the text area takes is held, at the cursor", text: "ab", select: [1, 1],
                  paste: huge, then: "send", held: true, sent: "a" + huge + "b" },
                { tag: "a paste onto a held text joins it", text: "", select: [0, 0], paste: huge,
                  then: "paste again", held: true, sent: huge + huge },
                { tag: "typing past 20,000 characters stays in the text area", text: full, select: [20000, 20000],
                  paste: "", then: "type", held: false, sent: full + "x" },
                { tag: "a short paste into a long text stays in the text area", text: full, select: [20000, 20000],
                  paste: "xyz", then: "send", held: false, sent: full + "xyz" },
                { tag: "a short paste past what the text area takes is held", text: brim, select: [3, 3],
                  paste: "xyz", then: "send", held: true, sent: brim.substring(0, 3) + "xyz" + brim.substring(3) },
                { tag: "a middle click's long paste goes into the text area", text: "ab", select: [0, 0],
                  paste: "", selection: big, then: "middle click", held: false, sent: "ab" + big },
                { tag: "a middle click pastes under the same bound", text: "ab", select: [0, 0],
                  paste: "", selection: huge, then: "middle click", held: true, sent: "ab" + huge },
                { tag: "the remove button lets it go", text: "", select: [0, 0], paste: huge,
                  then: "remove", held: false, sent: null },
                { tag: "a removal is undone by its button", text: "", select: [0, 0], paste: huge,
                  then: "remove, undo", held: true, sent: huge },
                { tag: "a removal is undone by Ctrl+Z", text: "", select: [0, 0], paste: huge,
                  then: "remove, ctrl+z", held: true, sent: huge },
                { tag: "typing after a removal forgets it", text: "", select: [0, 0], paste: huge,
                  then: "remove, type", held: false, sent: "q" },
                { tag: "a held draft is taken back to be edited", text: "ab", select: [1, 1], paste: huge,
                  then: "edit", held: false, sent: "a" + huge + "b" },
                { tag: "a draft too long to edit stays held", text: "", select: [0, 0], paste: vast,
                  then: "edit", held: true, sent: vast },
                { tag: "a refused send keeps it", text: "", select: [0, 0], paste: huge,
                  then: "refused send", held: true, sent: huge },
                { tag: "it stays with its conversation", text: "", select: [0, 0], paste: huge,
                  then: "switch", held: true, sent: huge },
            ]
        }
        function test_longText(data) {
            if (data.then === "refused send")
                Chat.returns = { "sendText": false }
            var c = make({ "conversation": "carol" })
            var editor = editorOf(c)
            editor.text = data.text
            editor.forceActiveFocus()
            editor.select(data.select[0], data.select[1])
            if (data.paste !== "") {
                App.returns = { "clipboardText": data.paste }
                if (data.paste.length < 100) {
                    // The text area pastes from the clipboard itself.
                    var scratch = createTemporaryQmlObject("import QtQuick; TextEdit { text: \"" + data.paste + "\" }", host)
                    scratch.selectAll()
                    scratch.copy()
                }
                keyClick(Qt.Key_V, Qt.ControlModifier)
            }
            if (data.then === "paste again") {
                keyClick(Qt.Key_V, Qt.ControlModifier)
            } else if (data.then === "type") {
                keyClick(Qt.Key_X)
                keyClick(Qt.Key_Y)
                keyClick(Qt.Key_Backspace)
                compare(editor.length, data.sent.length, "typing and Backspace work past the limit")
            } else if (data.then === "middle click") {
                App.returns = { "clipboardSelectionText": data.selection }
                mouseClick(editor, editor.width - 2, 2, Qt.MiddleButton)
            } else if (data.then.indexOf("remove, ") === 0) {
                mouseClick(findChild(c, "longTextRemove"))
                verify(!c.holdsLongText)
                var undo = findChild(c, "longTextUndo")
                verify(undo.visible)
                if (data.then === "remove, undo")
                    mouseClick(undo)
                else if (data.then === "remove, ctrl+z")
                    keyClick(Qt.Key_Z, Qt.ControlModifier)
                else
                    keyClick(Qt.Key_Q)
                compare(undo.visible, false)
            } else if (data.then === "edit") {
                var edit = findChild(c, "longTextEdit")
                compare(edit.visible, !data.held)
                if (edit.visible)
                    mouseClick(edit)
                if (!data.held)
                    compare(editor.text, data.sent)
            } else if (data.then === "remove") {
                mouseClick(findChild(c, "longTextRemove"))
            } else if (data.then === "switch") {
                c.conversation = "alice"
                verify(!c.holdsLongText)
                compare(editor.text, "")
                c.conversation = "carol"
                c.focusEditor() // as the chat pane does on opening
            }
            tryCompare(c, "holdsLongText", data.held)
            compare(findChild(c, "longTextDraft").visible, data.held)
            if (data.held)
                verify(editor.length <= c.maxEditorLength)
            compare(findChild(c, "sendBtn").ready, data.sent !== null)
            keyClick(Qt.Key_Return)
            compare(Chat.callCount("sendText"), data.sent !== null ? 1 : 0)
            if (data.sent !== null)
                verify(Chat.lastArgs("sendText")[0] === data.sent, "the whole text is sent")
            if (data.sent !== null && data.then !== "refused send") {
                // Held until the controller says the text is kept.
                verify(c.holdsLongText === data.held)
                Chat.textKept("carol", data.sent.trim(), true)
            }
            compare(c.holdsLongText, data.then === "refused send")
        }

        // What a long draft costs the heap, in copies of its text: one while
        // it is held or kept to undo its removal, none once it is let go; a
        // paste copied into a longer draft is freed, not left to the
        // engine's next collection.
        function test_longTextMemory_data() {
            return [
                { tag: "a held paste is one copy", before: "", then: "", copies: 1 },
                { tag: "a paste joined with the text around it is one copy", before: "ab", then: "", copies: 1 },
                { tag: "a paste onto a held draft is the longer draft alone", before: "", then: "paste again", copies: 2 },
                { tag: "an emoji added to a held draft leaves one copy", before: "", then: "emoji", copies: 1 },
                { tag: "a removed draft is one copy, kept for an undo", before: "", then: "remove", copies: 1 },
                { tag: "a removed draft is freed once typing forgets it", before: "", then: "remove, type", copies: 0 },
                { tag: "a removed draft is freed once another conversation opens", before: "", then: "remove, switch", copies: 0 },
                { tag: "a sent draft is freed once it is kept", before: "", then: "send", copies: 0 },
            ]
        }
        // A paste of `chars` characters that nothing of the test holds once
        // it returns. Ctrl+V is handed to the composer's key handler, as its
        // text area does, with no event run on the way (a key click runs the
        // posted ones while the test's clipboard still holds the text).
        function pasteFresh(c, chars) {
            App.returns = { "clipboardText": "x".repeat(chars) }
            var paste = { "key": Qt.Key_V, "modifiers": Qt.ControlModifier, "accepted": false }
            c.handleKey(paste)
            App.returns = ({})
            verify(paste.accepted)
        }
        function sendAndKeep() {
            keyClick(Qt.Key_Return)
            Chat.textKept("carol", Chat.lastArgs("sendText")[0], true)
            Chat.reset() // its record of the call holds the text
        }
        function test_longTextMemory(data) {
            if (Process.heapInUse() < 0)
                skip("the heap's figures are not told here")
            var chars = 2000000
            var c = make({ "conversation": "carol" })
            var editor = editorOf(c)
            editor.text = data.before
            editor.forceActiveFocus()
            editor.cursorPosition = 1
            gc()
            var before = Process.heapInUse()
            pasteFresh(c, chars)
            verify(c.holdsLongText)
            if (data.then === "paste again")
                pasteFresh(c, chars)
            else if (data.then === "emoji")
                c.insertEmoji("\u2764\uFE0F")
            else if (data.then === "send")
                sendAndKeep()
            else if (data.then !== "")
                mouseClick(findChild(c, "longTextRemove"))
            if (data.then === "remove, type")
                keyClick(Qt.Key_Q)
            else if (data.then === "remove, switch")
                c.conversation = "alice"
            wait(0)
            var copies = (Process.heapInUse() - before) / (2 * chars)
            verify(Math.abs(copies - data.copies) < 0.5, copies.toFixed(2) + " copies of the text in use")
            compare(c.holdsLongText, data.then === "" || data.then === "paste again" || data.then === "emoji")
        }

        // A clipboard picture that could not be kept is told, and why: a
        // full disk in the user's language, not as an unreadable picture.
        function test_pasteErrorShowsTipThenClears_data() {
            return [
                { tag: "copy not saved", draft: { "ok": false, "error": "无法读取剪贴板图片" }, shown: "无法读取剪贴板图片",
                  tip: "Cannot read the picture on the clipboard" },
                { tag: "disk full", draft: { "ok": false, "error": "磁盘已满，无法保存粘贴的图片", "problem": "diskFull" },
                  shown: "Disk full: the pasted picture could not be saved and was not sent. Free some space, then paste it again." }
            ]
        }
        function test_pasteErrorShowsTipThenClears(data) {
            // Checked in English: the full disk's own text is the table's.
            I18n.setLocale("en")
            App.returns = { "clipboardImageDraft": data.draft }
            var c = make()
            editorOf(c).forceActiveFocus()
            keyClick(Qt.Key_V, Qt.ControlModifier)
            compare(Chat.callCount("sendImageFromFile"), 0)
            compare(c.errorText, data.shown)
            var tip = findChild(c, "errorTip")
            tryVerify(function () { return tip.visible })
            // The controller's text in the interface's language.
            compare(tip.text, data.tip !== undefined ? data.tip : data.shown)
            compare(tip.timeout, 3500)
            // Closing by itself after the timeout empties the text.
            tryCompare(c, "errorText", "", 6000)
            verify(!tip.visible)
            // The next error shows again.
            c.errorText = "无法读取所选图片"
            tryVerify(function () { return tip.visible })
        }

        function test_muted() {
            var c = make({ "sendingEnabled": false, "disabledReason": "全员禁言中，仅群主和管理员可以发送消息" })
            var editor = editorOf(c)
            var notice = findChild(c, "disabledNotice")
            verify(notice.visible)
            compare(notice.text, "全员禁言中，仅群主和管理员可以发送消息")
            compare(notice.color, Theme.gradientNoticeDanger)
            verify(!editor.enabled)
            mouseClick(editor)
            keyClick(Qt.Key_A)
            compare(editor.text, "")
            // The tools still work.
            var images = createTemporaryQmlObject("import QtTest; SignalSpy { signalName: \"requestImage\" }", host)
            images.target = c
            mouseClick(findChild(c, "imageButton"))
            compare(images.count, 1)
            mouseClick(findChild(c, "emojiButton"))
            verify(c.emojiShown)
            mouseClick(findChild(c, "emojiCell13"))
            compare(editor.text, "👍")
            verify(!findChild(c, "sendBtn").ready)
        }

        function test_emojiAtCursor() {
            var c = make()
            var editor = editorOf(c)
            editor.text = "ab"
            editor.cursorPosition = 1
            mouseClick(findChild(c, "emojiButton"))
            for (var i = 0; i < 3; ++i)
                mouseClick(findChild(c, "emojiCell13"))
            compare(editor.text, "a👍👍👍b")
            verify(c.emojiShown)
            verify(findChild(c, "sendBtn").ready)
        }

        function test_variationSelectors_data() {
            return [ { tag: "heart", cell: 20, text: "\u2764\uFE0F" }, { tag: "sun", cell: 27, text: "\u2600\uFE0F" } ]
        }

        function test_variationSelectors(data) {
            var c = make()
            mouseClick(findChild(c, "emojiButton"))
            var grid = findChild(c, "emojiPanel")
            compare(grid.count, 48)
            grid.positionViewAtIndex(data.cell, GridView.Contain)
            var cell = findChild(c, "emojiCell" + data.cell)
            tryVerify(function () { return cell !== null })
            mouseClick(cell)
            compare(editorOf(c).text, data.text)
            compare(Array.from(editorOf(c).text).length, 2)
        }

        function test_toolsCloseThePanel_data() {
            return [ { tag: "image", button: "imageButton", signal: "requestImage" },
                     { tag: "voice room", button: "chatroomButton", signal: "requestChatroom" } ]
        }

        function test_toolsCloseThePanel(data) {
            var c = make({ "allowChatroom": true })
            var spy = createTemporaryQmlObject("import QtTest; SignalSpy {}", host)
            spy.target = c
            spy.signalName = data.signal
            mouseClick(findChild(c, "emojiButton"))
            verify(c.emojiShown)
            mouseClick(findChild(c, data.button))
            verify(!c.emojiShown)
            compare(spy.count, 1)
        }

        function test_dismissPanelsKeepsText() {
            var c = make()
            editorOf(c).text = "unsent"
            mouseClick(findChild(c, "emojiButton"))
            c.dismissPanels()
            verify(!c.emojiShown)
            compare(editorOf(c).text, "unsent")
        }

        function test_chatroomButtonOnlyWhenAllowed() {
            var c = make()
            verify(!findChild(c, "chatroomButton").visible)
            c.allowChatroom = true
            verify(findChild(c, "chatroomButton").visible)
            c.allowImages = false
            verify(!findChild(c, "imageButton").visible)
        }
    }
}
