import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/panes"

// The home view's dialogs sit on a dark frame in both colour schemes: their
// text must stay readable on it whichever scheme is chosen.
Item {
    id: host
    width: 1000
    height: 760

    Component { id: createConfirm; CreateGroupConfirm { groupName: "Harbour"; memberCount: 3 } }
    Component { id: sgSettings; SuperGroupSettingsPopup {} }

    TestCase {
        name: "DarkDialogs"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
        }
        function cleanup() { Theme.dark = false }

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
