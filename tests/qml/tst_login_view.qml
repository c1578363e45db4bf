import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/login"

// The login view: modes, the sign-in guards, the busy overlay, the error
// toast, the window buttons and the window drag.
Item {
    id: host
    width: 920
    height: 560

    Component { id: loginComponent; LoginView { anchors.fill: parent } }
    Component { id: dotsComponent; WindowDots {} }
    Component {
        id: windowComponent
        Window {
            width: 920
            height: 560
            visible: true
            property alias view: hostedView
            LoginView { id: hostedView; anchors.fill: parent }
        }
    }

    SignalSpy { id: moveSpy; signalName: "windowMoveStarted" }

    TestCase {
        name: "LoginView"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            App.reset()
            App.busy = false
            App.statusText = ""
            App.errorText = ""
            App.identityNotice = ""
            moveSpy.clear()
        }

        function makeLogin(props) {
            var login = createTemporaryObject(loginComponent, host, props || {})
            verify(login !== null)
            waitForRendering(login)
            moveSpy.target = findChild(login, "dragLayer")
            return login
        }

        function part(login, name) {
            var item = findChild(login, name)
            verify(item !== null, name)
            return item
        }

        // Centre of an item in the login view's coordinates.
        function centreOf(login, item) {
            return item.mapToItem(login, item.width / 2, item.height / 2)
        }

        function test_modeSwitchKeepsTextAndPlaces() {
            var login = makeLogin()
            var keyField = part(login, "keyField")
            var loginBtn = part(login, "loginBtn")
            var orRow = part(login, "orRow")
            keyField.text = "0xabc"
            var btnY = loginBtn.mapToItem(login, 0, 0).y
            var rowY = orRow.mapToItem(login, 0, 0).y

            mouseClick(part(login, "mnemLink"))
            verify(login.mnemonicMode)
            waitForRendering(login)
            verify(!keyField.visible)
            verify(part(login, "mnemGrid").visible)
            part(login, "phraseCell3").text = "about"
            compare(loginBtn.mapToItem(login, 0, 0).y, btnY)
            compare(orRow.mapToItem(login, 0, 0).y, rowY)

            mouseClick(part(login, "keyLink"))
            verify(!login.mnemonicMode)
            compare(keyField.text, "0xabc")
            compare(part(login, "phraseCell3").text, "about")
            compare(loginBtn.mapToItem(login, 0, 0).y, btnY)
        }

        function test_keyGuard_data() {
            return [
                { tag: "empty", text: "", enabled: false },
                { tag: "spaces only", text: "   \t", enabled: false },
                { tag: "key with surrounding spaces is sent as typed", text: "  0xabc  ", enabled: true },
            ]
        }

        function test_keyGuard(data) {
            var login = makeLogin()
            part(login, "keyField").text = data.text
            var loginBtn = part(login, "loginBtn")
            compare(loginBtn.enabled, data.enabled)
            compare(loginBtn.label, "用私钥登录")
            mouseClick(loginBtn)
            compare(App.callCount("importAndLogin"), data.enabled ? 1 : 0)
            if (data.enabled)
                compare(App.lastArgs("importAndLogin"), [data.text])
        }

        // A pasted key, however long, stays inside its field and is not
        // shown in clear; the whole key is what signs in.
        function test_pastedKeyStaysInItsField() {
            var login = makeLogin()
            var keyField = part(login, "keyField")
            var before = grabImage(login)
            var key = "0x" + "4c0883a69102937d6231471b5dbb6204fe5129617082792ae468d01a3f362318".repeat(3)
            keyField.text = key
            keyField.cursorPosition = key.length // as after a paste
            waitForRendering(login)
            var after = grabImage(login)
            var at = keyField.mapToItem(login, 0, 0), changed = 0
            // The strip left of the field, towards the visual panel.
            for (var x = Math.max(0, at.x - 120); x < at.x - 1; ++x)
                for (var y = at.y; y < at.y + keyField.height; ++y)
                    changed += !Qt.colorEqual(before.pixel(x, y), after.pixel(x, y)) ? 1 : 0
            compare(changed, 0, "pixels beside the field changed")
            verify(keyField.displayText.indexOf("4c0883a6") < 0, "the key is shown in clear")
            mouseClick(part(login, "loginBtn"))
            compare(App.lastArgs("importAndLogin"), [key])
        }

        function test_enterNeverSignsIn() {
            var login = makeLogin()
            var keyField = part(login, "keyField")
            keyField.text = "0xabc"
            keyField.forceActiveFocus()
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Enter)
            login.mnemonicMode = true
            var cell = part(login, "phraseCell0")
            cell.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(App.callNames(), [])
        }

        // The saved identity could not be read: the whole notice shows in
        // place of the form until the user has read it.
        function test_identityNotice() {
            var said = "已保存的私钥和助记词都已损坏，无法自动登录。损坏的文件保留在 /home/someone/"
                    + ".local/share/Pelorin/vault。请用助记词或私钥导入原身份；新建账户将得到另一个身份。"
            App.identityNotice = said
            var login = makeLogin()
            var text = part(login, "identityNoticeText")
            compare(text.text, said)
            verify(text.lineCount > 1 && text.height <= text.parent.parent.height)
            verify(!part(login, "genBtn").visible)
            compare(part(login, "identityNoticeTitle").text, "无法自动登录")
            compare(part(login, "identityNoticeOk").label, "我知道了")
            // In another language the notice, its title and its button follow.
            I18n.setLocale("en")
            var english = [text.text, part(login, "identityNoticeTitle").text, part(login, "identityNoticeOk").label]
            I18n.setLocale("zh-Hans")
            compare(english.slice(1), ["Cannot sign in automatically", "Got it"])
            verify(english[0].indexOf("kept in /home/someone/.local/share/Pelorin/vault.") > 0, english[0])
            keyClick(Qt.Key_Space)
            compare(App.callNames(), ["dismissIdentityNotice"])
            verify(part(login, "genBtn").visible)
        }

        // While the store cannot be opened the notice bar names the problem;
        // the line under the spinner only says it waits, in the interface's
        // language, so a problem is never told twice or in two languages.
        function test_waitingForTheStore_data() {
            return [
                { tag: "zh-Hans", locale: "zh-Hans", status: "正在等待消息库…" },
                { tag: "en", locale: "en", status: "Waiting for the message store…" }
            ]
        }
        function test_waitingForTheStore(data) {
            I18n.setLocale(data.locale)
            var login = makeLogin()
            App.statusText = ""
            App.storeProblem = "newer"
            App.busy = true
            var shown = part(part(login, "busyOverlay"), "status").text
            App.busy = false
            App.storeProblem = ""
            I18n.setLocale("zh-Hans")
            compare(shown, data.status)
        }

        function test_createAccount() {
            var login = makeLogin()
            mouseClick(part(login, "genBtn"))
            compare(App.callNames(), ["generateAndLogin"])
        }

        function test_busy() {
            var login = makeLogin()
            part(login, "keyField").text = "0xabc"
            App.statusText = "正在连接节点…"
            App.busy = true
            var loginBtn = part(login, "loginBtn")
            var genBtn = part(login, "genBtn")
            compare(loginBtn.label, "登录中…")
            verify(!loginBtn.enabled)
            verify(!genBtn.enabled)
            compare(loginBtn.opacity, 0.45)
            verify(!part(login, "keyField").enabled)
            var overlay = part(login, "busyOverlay")
            verify(overlay.visible)
            compare(part(overlay, "status").text, "正在连接节点…")
            compare(part(overlay, "status").textFormat, Text.PlainText)
            I18n.setLocale("en")
            compare(part(overlay, "status").text, "Connecting to a node…")
            I18n.setLocale("zh-Hans")

            mouseClick(loginBtn)
            mouseClick(genBtn)
            compare(App.callNames(), [])
            // The window buttons keep their presses under the overlay (a click
            // on close would end this test run; minimising is tried below).
            var layer = part(login, "dragLayer")
            var close = centreOf(login, part(login, "closeDot"))
            verify(layer.overInteractive(close.x, close.y))
            // The mode links stay usable under the overlay.
            mouseClick(part(login, "mnemLink"))
            verify(login.mnemonicMode)
            mouseClick(part(login, "keyLink"))
            verify(!login.mnemonicMode)

            App.busy = false
            verify(!overlay.visible)
            verify(loginBtn.enabled)
            compare(loginBtn.label, "用私钥登录")
        }

        function test_busyStatusHiddenWhenEmpty() {
            var login = makeLogin()
            App.busy = true
            verify(!part(part(login, "busyOverlay"), "status").visible)
        }

        function test_errorToast() {
            var login = makeLogin()
            var toast = part(login, "toast")
            var label = part(toast, "toastLabel")
            var timer = part(toast, "toastTimer")
            verify(!toast.visible)
            compare(label.textFormat, Text.PlainText)

            App.errorText = "节点不可达"
            compare(label.text, "节点不可达")
            tryCompare(toast, "opacity", 1)
            verify(timer.running)
            compare(timer.interval, 2600)
            compare(timer.repeat, false)

            timer.triggered()
            tryCompare(toast, "visible", false)

            // The next attempt fails the same way: the controller clears the
            // text first, then sets it again; the toast comes back.
            App.errorText = ""
            verify(!toast.visible)
            App.errorText = "节点不可达"
            tryCompare(toast, "opacity", 1)
            verify(timer.running)

            // The controller signals every assignment, even of the same text.
            timer.triggered()
            tryCompare(toast, "visible", false)
            App.errorTextChanged()
            tryCompare(toast, "opacity", 1)

            // A new error while the toast is up replaces the text and restarts.
            App.errorText = "<b>登录失败</b>"
            compare(label.text, "<b>登录失败</b>")
            verify(timer.running)
            // An empty error text leaves the toast alone.
            App.errorText = ""
            compare(toast.opacity, 1)

            // A failure told before the view was made shows as it is made.
            App.errorText = "节点不可达"
            var later = makeLogin()
            compare(part(part(later, "toast"), "toastLabel").text, "节点不可达")
            tryCompare(part(later, "toast"), "opacity", 1)
        }

        function test_dragFromFreeSpots_data() {
            return [
                { tag: "visual panel", at: function (login) { return Qt.point(200, 480) } },
                { tag: "title", at: function (login) { return Qt.point(530, 48) } },
                { tag: "divider", at: function (login) {
                    var row = findChild(login, "orRow")
                    return row.mapToItem(login, 20, row.height / 2) } },
                { tag: "gap between key field and link", at: function (login) {
                    var f = findChild(login, "keyField")
                    return f.mapToItem(login, f.width / 2, f.height + 4) } },
                { tag: "disabled sign-in button", at: function (login) {
                    return centreOf(login, findChild(login, "loginBtn")) } },
            ]
        }

        function test_dragFromFreeSpots(data) {
            var login = makeLogin()
            var p = data.at(login)
            mousePress(login, p.x, p.y)
            mouseRelease(login, p.x, p.y)
            compare(moveSpy.count, 1)
            compare(App.callNames(), [])
        }

        function test_controlsTakeTheirPresses() {
            var login = makeLogin()
            var keyField = part(login, "keyField")
            mouseClick(keyField)
            verify(keyField.activeFocus)
            keyField.text = "0xabc"
            mouseClick(part(login, "loginBtn"))
            compare(App.callCount("importAndLogin"), 1)
            compare(moveSpy.count, 0)

            // The gap between two word cells belongs to the grid: no move,
            // and nothing else happens.
            login.mnemonicMode = true
            waitForRendering(login)
            var c0 = part(login, "phraseCell0")
            var p = c0.mapToItem(login, c0.width + 4, c0.height / 2)
            mouseClick(login, p.x, p.y)
            compare(moveSpy.count, 0)
            compare(App.callNames(), ["importAndLogin"])
        }

        function test_edgeCountsAsOnTheItem() {
            var login = makeLogin()
            part(login, "keyField").text = "0xabc"
            var layer = part(login, "dragLayer")
            var btn = part(login, "loginBtn")
            var corner = btn.mapToItem(layer, btn.width, btn.height)
            verify(layer.overInteractive(corner.x, corner.y))
            var origin = btn.mapToItem(layer, 0, 0)
            verify(layer.overInteractive(origin.x, origin.y))
            verify(!layer.overInteractive(origin.x - 1, origin.y))
            // Hidden and disabled items are not spared.
            verify(layer.overInteractive(origin.x + 10, origin.y + 10))
            part(login, "keyField").text = ""
            verify(!layer.overInteractive(origin.x + 10, origin.y + 10))
            // The phrase cells, made by a first visit and hidden again.
            login.mnemonicMode = true
            login.mnemonicMode = false
            waitForRendering(login)
            var grid = part(login, "mnemGrid")
            var g = grid.mapToItem(layer, 5, grid.height - 5)
            verify(!layer.overInteractive(g.x, g.y))
            login.mnemonicMode = true
            verify(layer.overInteractive(g.x, g.y))
        }

        function test_busyStillMovesAndMinimises() {
            var win = createTemporaryObject(windowComponent, null)
            verify(win !== null)
            var login = win.view
            waitForRendering(login)
            moveSpy.target = findChild(login, "dragLayer")
            App.busy = true
            // A press on a disabled field moves the window.
            var keyField = part(login, "keyField")
            mousePress(keyField, 10, 10)
            mouseRelease(keyField, 10, 10)
            compare(moveSpy.count, 1)
            mouseClick(part(login, "minimizeDot"))
            tryCompare(win, "visibility", Window.Minimized)
            compare(moveSpy.count, 1)
        }

        function test_windowDots() {
            var dots = createTemporaryObject(dotsComponent, host)
            var closeSpy = signalSpy.createObject(dots, { target: dots, signalName: "closeClicked" })
            var minSpy = signalSpy.createObject(dots, { target: dots, signalName: "minimizeClicked" })
            var close = findChild(dots, "closeDot")
            var glyph = close.children[0]
            verify(!glyph.visible)
            // Both glyphs show while the pointer is over the row, gap included.
            mouseMove(dots, close.width + 4, close.height / 2)
            tryVerify(function () { return glyph.visible })
            verify(findChild(dots, "minimizeDot").children[0].visible)
            mouseClick(close)
            compare(closeSpy.count, 1)
            compare(minSpy.count, 0)
            mouseClick(findChild(dots, "minimizeDot"))
            compare(minSpy.count, 1)
            mouseMove(host, host.width - 5, host.height - 5)
        }

        // Each tick shows the next frame of the logo's sheet, wrapping after
        // the last, from a sheet with the layout the view cuts it by.
        function test_logoFrames_data() {
            return [
                { tag: "second", from: 0, x: -170, y: 0 },
                { tag: "next row", from: 6, x: 0, y: -170 },
                { tag: "wraps", from: 48, x: 0, y: 0 }
            ]
        }

        function test_logoFrames(data) {
            var login = makeLogin()
            var logo = part(login, "logoAnim")
            var sheet = part(login, "logoSheet")
            tryCompare(sheet, "status", Image.Ready)
            compare(sheet.sourceSize, Qt.size(7 * 170 * Screen.devicePixelRatio, 7 * 170 * Screen.devicePixelRatio))
            logo.idx = data.from
            part(login, "logoTimer").triggered()
            compare([sheet.x, sheet.y], [data.x, data.y])
        }

        // The first frame shows the logo's first frame from a picture of its
        // own; the sheet comes later and only then plays.
        function test_logoWaitsForItsSheet() {
            var login = createTemporaryObject(loginComponent, host)
            var first = part(login, "logoFirst")
            var sheet = part(login, "logoSheet")
            compare([first.status, first.visible, sheet.status, part(login, "logoTimer").running],
                    [Image.Ready, true, Image.Loading, false])
            tryCompare(sheet, "status", Image.Ready)
            verify(!first.visible)
        }

        property Component signalSpy: Component { SignalSpy {} }
    }
}
