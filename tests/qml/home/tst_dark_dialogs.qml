import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/panes"

// The home view's dialogs sit on a dark frame in both colour schemes: their
// text must stay readable on it whichever scheme is chosen, as must the
// warnings on the purple gradient cards.
Item {
    id: host
    width: 1000
    height: 760

    Component { id: createConfirm; CreateGroupConfirm { groupName: "Harbour"; memberCount: 3 } }
    Component { id: sgSettings; SuperGroupSettingsPopup {} }
    Component { id: sideCard; SideCard { width: 300; height: 700 } }
    Component {
        id: mutedComposer
        ChatComposer {
            width: 600
            onGradient: true
            sendingEnabled: false
            disabledReason: "全员禁言中，仅群主和管理员可以发送消息"
        }
    }

    TestCase {
        name: "DarkDialogs"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
        }
        function cleanup() {
            Theme.dark = false
            Chat.relayStatusText = ""
            Chat.relayStatusChanged()
        }

        // WCAG relative luminance and contrast ratio.
        function luminance(c) {
            function lin(v) { return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4) }
            return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b)
        }
        function contrast(a, b) {
            var x = luminance(a), y = luminance(b)
            return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05)
        }

        function dialogOf(which) {
            if (which === "create")
                return createTemporaryObject(createConfirm, host)
            var popup = createTemporaryObject(sgSettings, host)
            popup.open()
            tryCompare(popup, "opened", true)
            return findChild(popup, "sgRemoveConfirm")
        }

        // `top` drawn over the opaque `under`.
        function over(top, under) {
            var a = top.a
            return Qt.rgba(top.r * a + under.r * (1 - a), top.g * a + under.g * (1 - a),
                           top.b * a + under.b * (1 - a), 1)
        }

        function noticeOf(which) {
            if (which === "muted") {
                var composer = createTemporaryObject(mutedComposer, host)
                return findChild(composer, "disabledNotice")
            }
            if (which === "relay failed" || which === "relay warning") {
                Chat.relayStatusText = which === "relay failed" ? "连接失败" : "重新连接中…"
                Chat.relayStatusChanged()
                return findChild(createTemporaryObject(sideCard, host), "relayStatus")
            }
            Chat.conversations = []
            return findChild(createTemporaryObject(sideCard, host), "emptyText")
        }

        // Measured on its backing over white and over black (any card).
        function test_gradientNoticesAreReadable_data() {
            var rows = []
            for (var which of ["muted", "relay failed", "relay warning", "no conversations"])
                for (var dark of [false, true])
                    rows.push({ tag: which + (dark ? " dark" : " light"), which: which, dark: dark })
            return rows
        }
        function test_gradientNoticesAreReadable(data) {
            Theme.dark = data.dark
            var text = noticeOf(data.which)
            verify(text)
            verify(text.visible && text.text !== "")
            var behind = text.parent && text.parent.objectName.endsWith("Backing") ? text.parent.color
                                                                                  : Qt.rgba(0, 0, 0, 0)
            for (var backdrop of [Qt.rgba(1, 1, 1, 1), Qt.rgba(0, 0, 0, 1)]) {
                var ratio = contrast(text.color, over(behind, backdrop))
                verify(ratio >= 4.5, "contrast " + ratio.toFixed(2) + " of " + text.color + " over " + backdrop)
            }
        }

        function test_textIsReadable_data() {
            var rows = []
            for (var which of ["create", "sgRemove"])
                for (var dark of [false, true])
                    rows.push({ tag: which + (dark ? " dark" : " light"), which: which, dark: dark })
            return rows
        }
        function test_textIsReadable(data) {
            Theme.dark = data.dark
            var dialog = dialogOf(data.which)
            verify(dialog)
            dialog.open()
            tryCompare(dialog, "opened", true)
            var text = findChild(dialog.contentItem, "confirmText")
            verify(text && text.text !== "")
            var ratio = contrast(text.color, dialog.background.color)
            verify(ratio >= 4.5, "contrast " + ratio.toFixed(2) + " of " + text.color)
            dialog.close()
        }
    }
}
