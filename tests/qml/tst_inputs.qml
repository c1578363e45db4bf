import QtQuick
import QtQuick.Controls.Basic
import QtTest
import Velmor

// Search field, scroll bar and primary button.
Item {
    id: host
    width: 480
    height: 400

    Component { id: searchComponent; SearchField { width: 300 } }
    Component { id: buttonComponent; PrimaryButton { text: "Go"; width: 160 } }
    Component {
        id: listComponent
        ListView {
            id: list
            property int rows: 5
            width: 200
            height: 200
            model: rows
            delegate: Rectangle { width: 200; height: 40; color: index % 2 ? "#eeeeee" : "#ffffff" }
            ScrollBar.vertical: TgScrollBar {}
        }
    }

    TestCase {
        name: "Inputs"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            // Park the pointer away from every control.
            mouseMove(host, host.width - 5, host.height - 5)
            if (Theme.dark)
                Theme.toggle()
        }

        function cleanup() {
            if (Theme.dark)
                Theme.toggle()
        }

        function test_searchClearButton() {
            var f = createTemporaryObject(searchComponent, host, { "placeholderText": "Find" })
            var clear = findChild(f, "clearButton")
            verify(clear !== null)
            verify(!clear.visible)
            compare(f.rightPadding, Theme.space16)
            compare(f.Accessible.name, "Find")
            compare(clear.Accessible.name, I18n.tr("common.close"))

            f.text = " "
            verify(clear.visible)
            compare(f.rightPadding, 34)
            compare(clear.width, 22)
            compare(clear.x + clear.width, f.width - 7)

            var changes = 0
            f.textChanged.connect(function () { changes++ })
            mouseClick(clear)
            compare(f.text, "")
            verify(!clear.visible)
            compare(f.rightPadding, Theme.space16)
            compare(changes, 1)
        }

        function test_searchTyping() {
            var f = createTemporaryObject(searchComponent, host)
            f.forceActiveFocus()
            tryCompare(f, "activeFocus", true)
            keyClick(Qt.Key_A)
            compare(f.text, "a")
            verify(findChild(f, "clearButton").visible)
            keyClick(Qt.Key_Backspace)
            compare(f.text, "")
            verify(!findChild(f, "clearButton").visible)
        }

        function test_searchClearHover() {
            var f = createTemporaryObject(searchComponent, host, { "text": "abc" })
            var clear = findChild(f, "clearButton")
            verify(Qt.colorEqual(clear.color, "transparent"))
            mouseMove(clear, clear.width / 2, clear.height / 2)
            tryVerify(function () { return Qt.colorEqual(clear.color, Theme.listBgOver) })
            mouseMove(f, 10, 10)
            tryVerify(function () { return Qt.colorEqual(clear.color, "transparent") })
        }

        function test_searchSchemes() {
            var plain = createTemporaryObject(searchComponent, host)
            var mag = findChild(plain, "magnifier")
            verify(Qt.colorEqual(plain.color, Theme.textPrimary))
            verify(Qt.colorEqual(plain.placeholderTextColor, Theme.placeholder))
            verify(Qt.colorEqual(plain.background.color, Theme.buttonBg))
            verify(Qt.colorEqual(mag.color, Theme.textSecondary))
            verify(Qt.colorEqual(plain.background.border.color, "transparent"))
            plain.forceActiveFocus()
            tryCompare(plain, "activeFocus", true)
            verify(Qt.colorEqual(mag.color, Theme.accent))
            verify(Qt.colorEqual(plain.background.border.color, Theme.searchBorder))
            plain.focus = false
            tryCompare(plain, "activeFocus", false)
            verify(Qt.colorEqual(mag.color, Theme.textSecondary))
            verify(Qt.colorEqual(plain.background.border.color, "transparent"))

            var grad = createTemporaryObject(searchComponent, host, { "onGradient": true, "text": "x" })
            var gmag = findChild(grad, "magnifier")
            verify(Qt.colorEqual(grad.color, "white"))
            verify(Qt.colorEqual(grad.placeholderTextColor, "#8cffffff"))
            verify(Qt.colorEqual(grad.background.color, "#21ffffff"))
            verify(Qt.colorEqual(gmag.color, "#d9ffffff"))
            verify(Qt.colorEqual(findChild(grad, "clearGlyph").color, "#d9ffffff"))
            grad.forceActiveFocus()
            tryCompare(grad, "activeFocus", true)
            verify(Qt.colorEqual(gmag.color, "#d9ffffff"))
            verify(Qt.colorEqual(grad.background.border.color, "#66ffffff"))
        }

        function test_searchCapsuleFollowsHeight() {
            var f = createTemporaryObject(searchComponent, host, { "height": 34 })
            compare(f.background.radius, 17)
            f.height = 50
            compare(f.background.radius, 25)
        }

        function test_scrollBarHiddenWhenContentFits() {
            var list = createTemporaryObject(listComponent, host, { "rows": 3 })
            var bar = list.ScrollBar.vertical
            verify(bar.size >= 1.0)
            compare(bar.contentItem.opacity, 0)
            mouseMove(bar, bar.width / 2, 20)
            wait(Theme.durationNormal + 50)
            compare(bar.contentItem.opacity, 0)
        }

        // Whether the thumb shows follows the content at once: a list being
        // made learns its size a moment after it appears, and a fade there
        // flashed the thumb on every list as it was created.
        function test_scrollBarFollowsContentAtOnce() {
            var list = createTemporaryObject(listComponent, host, { "rows": 8 })
            var thumb = list.ScrollBar.vertical.contentItem
            compare(thumb.opacity, 0.55)
            list.rows = 3
            compare(thumb.opacity, 0)
        }

        function test_scrollBarIdleHoverAndMinimum() {
            var list = createTemporaryObject(listComponent, host, { "rows": 400 })
            var bar = list.ScrollBar.vertical
            verify(bar.size < 1.0)
            compare(bar.minimumSize, 0.08)
            compare(bar.policy, ScrollBar.AsNeeded)
            verify(bar.background === null)
            tryCompare(bar.contentItem, "opacity", 0.55)
            compare(bar.contentItem.implicitWidth, 5)
            // Thumb never shorter than 8 % of the bar, however long the list.
            verify(bar.visualSize >= 0.08 - 1e-9)
            verify(bar.contentItem.height >= 0.08 * bar.height - 1)
            // Visible in both themes: a thumb with some alpha.
            verify(bar.contentItem.color.a > 0.2)
            Theme.toggle()
            verify(bar.contentItem.color.a > 0.2)
            verify(bar.contentItem.color.r > 0.9)
            Theme.toggle()

            mouseMove(bar, bar.width - 2, bar.contentItem.y + 4)
            tryCompare(bar, "hovered", true)
            tryCompare(bar.contentItem, "implicitWidth", 8)
            tryCompare(bar.contentItem, "opacity", 1.0)
            compare(bar.contentItem.radius, 4)
            mouseMove(host, 400, 350)
            tryCompare(bar.contentItem, "implicitWidth", 5)
            tryCompare(bar.contentItem, "opacity", 0.55)
        }

        function test_scrollBarWhileMoving() {
            var list = createTemporaryObject(listComponent, host, { "rows": 400 })
            var bar = list.ScrollBar.vertical
            tryCompare(bar.contentItem, "opacity", 0.55)
            list.flick(0, -4000)
            tryCompare(bar, "active", true)
            tryCompare(bar.contentItem, "opacity", 1.0)
            compare(bar.contentItem.implicitWidth, 5)
            list.cancelFlick()
            tryCompare(bar.contentItem, "opacity", 0.55, 3000)
        }

        function test_buttonColours() {
            var b = createTemporaryObject(buttonComponent, host)
            var bg = b.background
            compare(b.Accessible.name, "Go")
            compare(b.focusPolicy & Qt.TabFocus, Qt.TabFocus)
            verify(Qt.colorEqual(bg.color, Theme.brandBlue))

            var base = b.buttonColor
            mousePress(b)
            tryVerify(function () { return Qt.colorEqual(bg.color, Qt.darker(base, 1.12)) })
            mouseRelease(b)
            tryVerify(function () { return Qt.colorEqual(bg.color, base) })

            b.enabled = false
            tryVerify(function () { return Math.abs(bg.color.a - 0.42) < 0.01 })
            fuzzyCompare(bg.color.r, base.r, 0.01)
            fuzzyCompare(bg.color.g, base.g, 0.01)
            fuzzyCompare(bg.color.b, base.b, 0.01)
            // Disabled wins over pressed.
            mousePress(b)
            wait(Theme.durationFast + 30)
            verify(Math.abs(bg.color.a - 0.42) < 0.01)
            mouseRelease(b)

            b.enabled = true
            b.buttonColor = "#dd4b39"
            tryVerify(function () { return Qt.colorEqual(bg.color, "#dd4b39") })
        }

        function test_buttonClickAndLabel() {
            var b = createTemporaryObject(buttonComponent, host, { "text": "<b>bold</b>" })
            var spy = createTemporaryObject(spyComponent, host, { "target": b, "signalName": "clicked" })
            mouseClick(b)
            compare(spy.count, 1)
            compare(b.contentItem.textFormat, Text.PlainText)
            compare(b.contentItem.elide, Text.ElideRight)
        }
    }

    Component { id: spyComponent; SignalSpy {} }
}
