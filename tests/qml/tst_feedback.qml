import QtQuick
import QtQuick.Controls
import QtTest
import Velmor

// Toast, loading overlay and dialog.
Item {
    id: host
    width: 400
    height: 400

    Component { id: toastComponent; AppToast {} }
    Component { id: spyComponent; SignalSpy {} }
    Component {
        id: overlayComponent
        Item {
            id: stack
            property alias overlay: ov
            property int hits: 0
            anchors.fill: parent
            MouseArea { anchors.fill: parent; onClicked: stack.hits++ }
            LoadingOverlay { id: ov; anchors.fill: parent }
        }
    }
    Component {
        id: dialogComponent
        AppDialog {
            title: "Dialog title"
            content: [
                Rectangle { objectName: "first"; width: 50; height: 30 },
                Rectangle { objectName: "second"; width: 50; height: 30 }
            ]
        }
    }

    TestCase {
        name: "Feedback"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            I18n.setLocale("en")
            if (Theme.dark)
                Theme.toggle()
        }

        function cleanup() {
            if (Theme.dark)
                Theme.toggle()
            I18n.setLocale("en")
        }

        function test_toastHiddenUntilShown() {
            var t = createTemporaryObject(toastComponent, host)
            compare(t.opacity, 0)
            verify(!t.visible)
            compare(t.z, 11000)
            t.text = "quiet"
            compare(findChild(t, "label").text, "quiet")
            wait(50)
            compare(t.opacity, 0)
            verify(!t.visible)
        }

        function test_toastTimerRestarts() {
            var t = createTemporaryObject(toastComponent, host)
            var timer = findChild(t, "timer")
            verify(!timer.running)
            // Long enough that no countdown can end between the two shows,
            // however slow the machine.
            timer.interval = 600000
            t.show("first")
            verify(timer.running)
            tryCompare(t, "opacity", 1)
            compare(t.text, "first")
            // A second show() while the first countdown runs starts it anew
            // from the full interval: the timer stops and runs again. (A
            // start() of a running timer would change nothing, and the first
            // countdown would hide the second message early.)
            var spy = createTemporaryObject(spyComponent, host,
                                            { "target": timer, "signalName": "runningChanged" })
            t.show("second")
            compare(t.text, "second")
            compare(spy.count, 2)
            verify(timer.running)
            compare(t.opacity, 1)
            // And the toast still goes away by itself.
            timer.interval = 1800
            tryCompare(t, "visible", false, 5000)
            compare(t.opacity, 0)
        }

        function test_toastGeometryAndColours() {
            var t = createTemporaryObject(toastComponent, host)
            var label = findChild(t, "label")
            t.show("short")
            compare(t.implicitWidth, Math.min(420, label.implicitWidth + 40))
            compare(t.implicitHeight, label.implicitHeight + 22)
            compare(t.radius, t.height / 2)
            verify(Qt.colorEqual(t.color, "#22252a"))
            verify(Qt.colorEqual(label.color, "white"))
            var wide = ""
            for (var i = 0; i < 60; ++i)
                wide += "wide "
            t.show(wide)
            compare(t.implicitWidth, 420)
            compare(label.lineCount, 1)
            verify(label.implicitWidth > 380)
            // The long message stays inside the capsule, cut short.
            verify(label.truncated)
            verify(label.x >= 0 && label.x + label.width <= t.width,
                   "label spans " + label.x + ".." + (label.x + label.width) + " of " + t.width)
            compare(label.textFormat, Text.PlainText)
            Theme.toggle()
            verify(Qt.colorEqual(t.color, "#f0f0f0"))
            verify(Qt.colorEqual(label.color, "#202124"))
        }

        function test_overlayBlocksClicks() {
            var stack = createTemporaryObject(overlayComponent, host)
            var ov = stack.overlay
            var indicator = findChild(ov, "indicator")
            verify(!ov.visible)
            verify(!indicator.running)
            compare(ov.z, 10000)
            verify(Qt.colorEqual(ov.color, Theme.scrim))
            mouseClick(stack, 50, 50)
            compare(stack.hits, 1)
            ov.visible = true
            verify(indicator.running)
            mouseClick(stack, 50, 50)
            mouseClick(stack, 200, 200)
            compare(stack.hits, 1, "clicks stop at the overlay")
            ov.visible = false
            verify(!indicator.running)
            mouseClick(stack, 50, 50)
            compare(stack.hits, 2)
        }

        function luminance(c) {
            return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b
        }

        // The label is read against the scrim laid over the window, in
        // either scheme.
        function test_overlayLabelLegible() {
            var stack = createTemporaryObject(overlayComponent, host)
            var label = findChild(stack.overlay, "labelText")
            for (var pass = 0; pass < 2; ++pass) {
                var s = Theme.scrim, w = Theme.windowBg
                var under = Qt.rgba(s.a * s.r + (1 - s.a) * w.r, s.a * s.g + (1 - s.a) * w.g,
                                    s.a * s.b + (1 - s.a) * w.b, 1)
                verify(Math.abs(luminance(label.color) - luminance(under)) > 0.5,
                       "label " + label.color + " on " + under + " (dark " + Theme.dark + ")")
                Theme.toggle()
            }
        }

        function test_overlayLabelFollowsLanguage() {
            var stack = createTemporaryObject(overlayComponent, host)
            var ov = stack.overlay
            compare(ov.label, "Loading…")
            compare(ov.Accessible.name, "Loading…")
            I18n.setLocale("zh-Hans")
            compare(ov.label, "加载中…")
            compare(findChild(ov, "labelText").text, "加载中…")
            ov.label = "Working"
            I18n.setLocale("de")
            compare(ov.label, "Working")
        }

        function test_dialogWidthFollowsOverlay() {
            var d = createTemporaryObject(dialogComponent, host)
            var win = host.Window.window
            var oldW = win.width
            win.width = 400
            tryCompare(d, "width", 352)
            win.width = 508
            tryCompare(d, "width", 460)
            win.width = 900
            tryCompare(d, "width", 460)
            win.width = oldW
        }

        function test_dialogContentAndClosing() {
            var d = createTemporaryObject(dialogComponent, host)
            verify(d.modal)
            compare(d.closePolicy, Popup.CloseOnEscape | Popup.CloseOnPressOutside)
            d.open()
            tryCompare(d, "opened", true)
            var title = findChild(d.contentItem, "titleText")
            var body = findChild(d.contentItem, "body")
            compare(title.text, "Dialog title")
            compare(title.textFormat, Text.PlainText)
            compare(body.children.length, 2)
            compare(body.children[0].objectName, "first")
            verify(body.children[1].y > body.children[0].y)
            compare(body.children[1].y - body.children[0].y, 30 + Theme.space12)
            verify(body.y > title.y)
            compare(title.width, d.width - 2 * Theme.space20)
            keyClick(Qt.Key_Escape)
            tryCompare(d, "visible", false)

            d.open()
            tryCompare(d, "opened", true)
            mouseClick(host, host.width - 5, host.height - 5)
            tryCompare(d, "visible", false)
        }

        function test_dialogTitleWraps() {
            var d = createTemporaryObject(dialogComponent, host)
            d.title = "averyveryverylongtitlewithoutanyspacesatallthatmustbreaksomewhereinsidethewordbecauseitistoolong"
            d.open()
            tryCompare(d, "opened", true)
            var title = findChild(d.contentItem, "titleText")
            verify(title.lineCount > 1)
            compare(title.wrapMode, Text.WrapAtWordBoundaryOrAnywhere)
            d.close()
            tryCompare(d, "visible", false)
        }
    }
}
