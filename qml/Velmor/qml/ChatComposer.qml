import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "home/composer"

// The message input at the foot of the chat pane: a text area that grows
// with its text, the image / voice-room / emoji tools, the send capsule, a
// floating emoji panel, a notice while sending is not allowed and an error
// tool tip. It sends typed text and pasted images itself; picking a file
// and opening a voice room are left to the host (requestImage,
// requestChatroom).
Item {
    id: root

    // White translucent look for the home view's gradient card.
    property bool onGradient: false
    property bool allowImages: true
    property bool allowChatroom: false
    property bool sendingEnabled: true
    property string disabledReason: ""
    // Shown as a tool tip for 3500 ms, then emptied.
    property string errorText: ""
    // The conversation the typed text belongs to. Each conversation keeps
    // its unsent text while the window lives: leaving it keeps the text,
    // coming back restores it, and no text follows the user elsewhere.
    property string conversation: ""

    // Each insertion through the text area's editing (its own paste, an
    // insert()) keeps undo records of about 0.4 KB per character, and more
    // again once deleted (2,000,000 characters inserted: 770 MB, and 2.2 GB
    // more once deleted); a text set whole costs a few bytes per character
    // (45 MB for the same text) but is laid out at once on the window's
    // thread (0.7 s for it, 26 ms for 100,000 characters). So a paste of up
    // to maxPasteLength characters is the text area's own; a longer one is
    // set into it whole (a new undo history) while the text stays within
    // maxEditorLength characters, and past that it is held whole beside the
    // text area: shown by its opening words and length, sent as one
    // message, removed with one click (and brought back with another), and
    // taken back into the text area by "Edit" up to maxEditableLength
    // characters. Typing is never limited nor moved. Nothing is cut.
    readonly property int maxPasteLength: 20000
    readonly property int maxEditorLength: 100000
    readonly property int maxEditableLength: 200000
    readonly property bool holdsLongText: held.text !== ""

    // Read from the text area only while it holds something.
    readonly property bool hasContent: holdsLongText || (editor.length > 0 && editor.text.trim().length > 0)
    readonly property bool emojiShown: emojiPanel.visible

    signal requestImage()
    signal requestChatroom()

    // Hides the emoji panel and takes the focus from the text area.
    function dismissPanels() {
        hidePanels()
        editor.focus = false
    }

    // Hides the emoji panel; the focus stays where it is.
    function hidePanels() {
        emojiPanel.visible = false
    }

    // Puts the keyboard focus in the text area, so typing goes there (on
    // the long draft while one is held, so Enter sends it).
    function focusEditor() {
        if (holdsLongText)
            longDraft.forceActiveFocus(Qt.OtherFocusReason)
        else
            editor.forceActiveFocus(Qt.OtherFocusReason)
    }

    // Whether the item is part of the composer.
    function holds(item) {
        for (var it = item; it; it = it.parent) {
            if (it === root)
                return true
        }
        return false
    }

    property var _drafts: ({})
    property string _draftOwner: ""
    // The conversation whose sent text waits to be kept ("" while none
    // does): the text stays, read-only, until the controller says it is
    // written or journaled (then it clears: a cleared composer is a message
    // that survives a kill) or that it was not sent (then it is the user's
    // again).
    property string _sendingTo: ""
    property bool _sending: false

    LongTextKeeper { id: held }

    onConversationChanged: {
        held.forgetRemoved()
        // Nothing typed here (nor undone) and nothing kept for there, as
        // in most openings: the text area is left as it is.
        if (!holdsLongText && editor.length === 0 && !editor.canUndo && _drafts[conversation] === undefined) {
            delete _drafts[_draftOwner]
            _draftOwner = conversation
            return
        }
        if (holdsLongText)
            _drafts[_draftOwner] = { "text": held.text, "long": true }
        else if (editor.length > 0)
            _drafts[_draftOwner] = { "text": editor.text, "long": false }
        else
            delete _drafts[_draftOwner]
        _draftOwner = conversation
        var draft = _drafts[conversation]
        // Setting the text also starts a new undo history: nothing typed
        // elsewhere is kept for Ctrl+Z.
        held.text = draft !== undefined && draft.long ? draft.text : ""
        editor.text = draft !== undefined && !draft.long ? draft.text : ""
        editor.cursorPosition = editor.length
    }

    // Holds `text` as the long draft and empties the text area.
    function _holdLong(text) {
        held.hold(text)
        editor.text = ""
        if (editor.activeFocus)
            longDraft.forceActiveFocus(Qt.OtherFocusReason)
    }

    // Lets the long draft go, kept aside for an undo when `undoable`; the
    // focus it had goes to the text area.
    function _letGoLongText(undoable) {
        var refocus = longDraft.activeFocus
        held.letGo(undoable)
        if (refocus)
            editor.forceActiveFocus(Qt.OtherFocusReason)
    }

    function _undoRemove() {
        if (held.removed === "" || editor.length > 0)
            return
        _holdLong(held.takeRemoved())
    }

    // Moves a long draft short enough to be edited into the text area (set
    // whole, as a long paste is).
    function _editLongText() {
        if (!holdsLongText || held.text.length > maxEditableLength)
            return
        var text = held.text
        _letGoLongText(false)
        editor.text = text
        editor.cursorPosition = editor.length
    }

    // Tab and Shift+Tab leave the text area for the next or previous item
    // that takes the focus; they never type a tab.
    function _moveFocus(forward) {
        var next = editor.nextItemInFocusChain(forward)
        if (next && next !== editor)
            next.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
    }

    function send() {
        if (!hasContent || _sending)
            return
        _sendingTo = conversation
        _sending = true
        // A send that did not happen leaves the text to the user (the
        // controller says why).
        if (!Chat.sendText(holdsLongText ? held.text : editor.text))
            _sending = false
    }

    Connections {
        target: Chat
        function onTextKept(peer, text, kept) {
            if (!root._sending || peer !== root._sendingTo)
                return
            root._sending = false
            if (!kept)
                return
            if (peer !== root.conversation) {
                if (root._drafts[peer] !== undefined && root._drafts[peer].long)
                    held.collectSoon()
                delete root._drafts[peer]
            } else if (root.holdsLongText)
                root._letGoLongText(false)
            else
                editor.clear()
        }
    }

    function insertEmoji(emoji) {
        if (_sending && _sendingTo === conversation)
            return
        if (holdsLongText)
            held.join(emoji)
        else
            editor.insert(editor.cursorPosition, emoji)
    }

    // A paste in the place of the selection (or at `at` for a middle
    // click): held beside the text area, with its text around it, when that
    // would pass maxEditorLength, however short the paste (one after
    // another would grow the text area without end); else, when longer than
    // maxPasteLength, set into the text area whole. A paste onto a held
    // draft joins it. True when it was taken so; false leaves the paste to
    // the text area.
    function _pasteLongText(pasted, at) {
        // The text being sent stays as it is until it is kept or refused
        // (a kept one is cleared with whatever joined it).
        if (_sending && _sendingTo === conversation)
            return true
        if (holdsLongText) {
            held.join(pasted)
            return true
        }
        var from = at === undefined ? editor.selectionStart : at
        var to = at === undefined ? editor.selectionEnd : at
        var grown = editor.length - (to - from) + pasted.length
        if (grown <= maxEditorLength && pasted.length <= maxPasteLength)
            return false
        var joined = editor.getText(0, from) + pasted + editor.getText(to, editor.length)
        if (grown > maxEditorLength) {
            _holdLong(joined)
            // With text around it the paste was copied into the draft.
            if (joined.length !== pasted.length)
                held.collectSoon()
            return true
        }
        editor.text = joined
        editor.cursorPosition = from + pasted.length
        return true
    }

    // The middle click's paste of the selection, under the same bound as
    // Ctrl+V.
    function _pasteSelection(x, y) {
        if (!root.sendingEnabled || editor.readOnly)
            return
        var pasted = App.clipboardSelectionText()
        if (pasted === "")
            return
        var at = editor.positionAt(x, y)
        if (!_pasteLongText(pasted, at)) {
            editor.insert(at, pasted)
            editor.cursorPosition = at + pasted.length
        }
    }

    function handleKey(event) {
        var enter = event.key === Qt.Key_Return || event.key === Qt.Key_Enter
        if (enter && !(event.modifiers & Qt.ShiftModifier)) {
            if (root.sendingEnabled && root.hasContent)
                root.send()
            event.accepted = true
        } else if (event.key === Qt.Key_Escape) {
            root.dismissPanels()
            event.accepted = true
        } else if (event.key === Qt.Key_Tab || event.key === Qt.Key_Backtab) {
            root._moveFocus(event.key === Qt.Key_Tab && !(event.modifiers & Qt.ShiftModifier))
            event.accepted = true
        } else if ((event.key === Qt.Key_V && (event.modifiers & (Qt.ControlModifier | Qt.MetaModifier)))
                   || (event.key === Qt.Key_Insert && (event.modifiers & Qt.ShiftModifier))) {
            var draft = App.clipboardImageDraft()
            if (draft && draft.ok === true) {
                Chat.sendImageFromFile(draft.url)
                event.accepted = true
                return
            }
            if (draft && draft.problem === "diskFull")
                root.errorText = I18n.tr("chat.imageDiskFull")
            else if (draft && draft.error)
                root.errorText = String(draft.error)
            // Not consumed when it fits: the text area pastes the text.
            event.accepted = root.sendingEnabled && root._pasteLongText(App.clipboardText())
        } else if (event.matches(StandardKey.Undo) && held.removed !== "" && editor.length === 0) {
            root._undoRemove()
            event.accepted = true
        }
    }

    implicitHeight: (emojiPanel.visible ? 224 : 0) + composer.height

    onErrorTextChanged: {
        if (errorText !== "")
            errorTip.open()
    }

    ToolTip {
        id: errorTip
        objectName: "errorTip"
        parent: root
        y: 0
        text: I18n.said(root.errorText)
        timeout: 3500
        onClosed: root.errorText = ""
    }

    Rectangle {
        id: emojiSurface
        objectName: "emojiSurface"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.bottom: composer.top
        anchors.bottomMargin: 8
        height: 214
        radius: Theme.radiusMedium
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
        visible: emojiPanel.visible
    }

    EmojiPanel {
        id: emojiPanel
        objectName: "emojiPanel"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 22
        anchors.rightMargin: 22
        anchors.bottom: composer.top
        anchors.bottomMargin: 12
        height: 206
        visible: false
        onPicked: (emoji) => root.insertEmoji(emoji)
    }

    Rectangle {
        objectName: "disabledNoticeBacking"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: composer.top
        anchors.bottomMargin: 4
        width: notice.implicitWidth + 2 * Theme.space12
        height: notice.implicitHeight + Theme.space4
        radius: height / 2
        color: Theme.gradientNoticeBg
        visible: !root.sendingEnabled && root.disabledReason !== ""
        Text {
            id: notice
            objectName: "disabledNotice"
            anchors.centerIn: parent
            text: root.disabledReason
            textFormat: Text.PlainText
            color: Theme.gradientNoticeDanger
            font.pixelSize: Theme.fontCaption
        }
    }

    Rectangle {
        id: composer
        objectName: "composerBar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: Math.max(115, Math.min(230, editor.contentHeight + 66))

        // The text sits 12 below the bar's top edge and 4 above the tool row
        // (44 high, 6 from the bottom): 66 in all, so a text that fits shows
        // whole. A taller one scrolls in a room trimmed to whole lines, so
        // that, scrolled to the cursor at its end, its top line is whole too.
        readonly property real lineHeight: editor.lineCount > 0 ? editor.contentHeight / editor.lineCount : 0
        readonly property real textRoom: height - 50 - 12
        readonly property real slack: lineHeight > 0 && editor.contentHeight + 4 > textRoom + 0.5
                                      ? (textRoom - 4) % lineHeight : 0
        radius: 14
        border.width: 1
        color: root.onGradient ? "#1fffffff" : Theme.composerBg
        border.color: editor.activeFocus ? (root.onGradient ? "#4dffffff" : Theme.accent)
                                         : (root.onGradient ? "#2effffff" : Theme.border)

        // A press anywhere on the bar that no control takes (beside a short
        // text, between the tools) puts the focus in the text area.
        MouseArea {
            objectName: "barFocusArea"
            anchors.fill: parent
            onPressed: root.focusEditor()
        }

        ColumnLayout {
            anchors.fill: parent
            spacing: 0

            // A text taller than the bar's ceiling scrolls here, keeping the
            // cursor in view.
            Flickable {
                id: editorFlick
                objectName: "editorFlick"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.topMargin: 12
                Layout.bottomMargin: composer.slack
                visible: !root.holdsLongText
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: TgScrollBar { objectName: "editorScrollBar" }

                TextArea.flickable: TextArea {
                    id: editor
                    objectName: "editor"
                    placeholderText: I18n.tr("chat.message")
                    wrapMode: TextEdit.Wrap
                    font.pixelSize: Theme.fontBody
                    background: null
                    leftPadding: 14
                    rightPadding: 14
                    topPadding: 0
                    bottomPadding: 4
                    selectByMouse: true
                    enabled: root.sendingEnabled
                    readOnly: root._sending && root._sendingTo === root.conversation
                    color: root.onGradient ? "white" : Theme.textPrimary
                    placeholderTextColor: root.onGradient ? "#8cffffff" : Theme.placeholder
                    Keys.onPressed: (event) => root.handleKey(event)
                    onActiveFocusChanged: {
                        if (activeFocus)
                            emojiPanel.visible = false
                    }
                    onLengthChanged: {
                        if (length > 0)
                            held.forgetRemoved()
                    }

                    // The selection's paste by the middle button goes through
                    // the same bound as Ctrl+V, before the text area takes it.
                    MouseArea {
                        objectName: "middlePasteArea"
                        anchors.fill: parent
                        acceptedButtons: Qt.MiddleButton
                        onClicked: (mouse) => root._pasteSelection(mouse.x, mouse.y)
                    }
                }
            }

            LongTextDraft {
                id: longDraft
                objectName: "longTextDraft"
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.topMargin: 12
                visible: root.holdsLongText
                text: held.text
                onGradient: root.onGradient
                Keys.onPressed: (event) => root.handleKey(event)
                editable: held.text.length <= root.maxEditableLength
                onRemoveRequested: root._letGoLongText(true)
                onEditRequested: root._editLongText()
            }

            ToolRow {
                Layout.fillWidth: true
                Layout.preferredHeight: 44
                Layout.leftMargin: 8
                Layout.rightMargin: 10
                Layout.bottomMargin: 6
                onGradient: root.onGradient
                allowImages: root.allowImages
                allowChatroom: root.allowChatroom
                emojiShown: emojiPanel.visible
                undoShown: held.removed !== "" && !root.holdsLongText
                ready: root.hasContent && root.sendingEnabled
                onImageClicked: {
                    emojiPanel.visible = false
                    root.requestImage()
                }
                onChatroomClicked: {
                    emojiPanel.visible = false
                    root.requestChatroom()
                }
                onEmojiClicked: {
                    editor.focus = false
                    emojiPanel.visible = !emojiPanel.visible
                }
                onUndoClicked: root._undoRemove()
                onSendClicked: root.send()
            }
        }
    }
}
