import QtQuick
import QtTest
import Velmor

// The profile view: its list, the theme and language, its sheets, the
// toast and signing out.
Item {
    id: host
    width: 900
    height: 720

    readonly property string address: "0x" + "cd34".repeat(10)
    readonly property string phrase: "apple bridge cactus dune eagle fabric giant harbor island jungle kettle lemon"
    readonly property string key: "0x" + "2e".repeat(32)
    readonly property string svg: "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 37 37'><rect width='37' height='37' fill='white'/></svg>"

    Component { id: viewComponent; ProfileView {} }

    TestCase {
        name: "ProfileView"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            // This view's texts are checked in English.
            I18n.setLocale("en")
            App.reset(); Chat.reset(); Voice.reset(); VoiceRoom.reset()
            App.myErc20 = host.address
            App.myAvatar = "defaultheadphoto"
            VoiceRoom.active = false
        }
        function cleanup() {
            Theme.dark = false
            I18n.setLocale("en")
        }

        function makeView() {
            var v = createTemporaryObject(viewComponent, host)
            verify(v)
            return v
        }
        function child(parentItem, name) {
            var c = findChild(parentItem, name)
            verify(c, name)
            return c
        }
        function inSheet(sheet, name) { return child(sheet.contentItem, name) }
        function settled(item) {
            for (var i = item; i; i = i.parent)
                if (isPolishScheduled(i))
                    return false
            return item.width > 0
        }
        function click(item) {
            verify(item.visible, item.objectName + " visible")
            tryVerify(() => settled(item))
            mouseClick(item)
        }
        function openSheet(v, rowName, sheetName) {
            click(child(v, rowName))
            var sheet = child(v, sheetName)
            tryCompare(sheet, "opened", true)
            return sheet
        }
        function typeInto(field, text) {
            field.forceActiveFocus()
            field.text = text
        }

        function test_blocks_data() {
            return [
                { tag: "account", group: "accountGroup", height: 138, rows: ["avatarRow", "addressRow", "backupRow"] },
                { tag: "display", group: "displayGroup", height: 92, rows: ["languageRow", "themeRow"] },
                { tag: "logout", group: "logoutGroup", height: 46, rows: ["logoutRow"] }
            ]
        }
        function test_blocks(data) {
            var v = makeView()
            var g = child(v, data.group)
            tryVerify(() => settled(g))
            compare(g.height, data.height)
            for (var i = 0; i < data.rows.length; ++i) {
                var row = child(g, data.rows[i])
                compare(row.height, 46)
                compare(row.width, g.width)
                // Only the last row of a group goes without a divider.
                compare(child(row, "rowDivider").visible, i < data.rows.length - 1)
                compare(child(row, "rowChevron").visible, !row.danger)
            }
        }

        function test_headerAndColumn_data() {
            return [
                { tag: "wide", width: 900, column: 560, short: "0xcd34cd\u202634cd34", avatar: "avatar_girls_003" },
                { tag: "narrow", width: 500, column: 436, short: "0xcd34cd\u202634cd34", avatar: "avatar_girls_003" },
                { tag: "no identity", width: 900, column: 560, address: "", short: "", avatar: "" }
            ]
        }
        function test_headerAndColumn(data) {
            if (data.address !== undefined)
                App.myErc20 = data.address
            App.myAvatar = data.avatar
            var v = makeView()
            host.width = data.width
            var group = child(v, "accountGroup")
            tryCompare(group, "width", data.column)
            compare(child(v, "headerShortAddress").text, data.short)
            compare(child(v, "headerAddress").text, App.myErc20)
            // The empty id shows the default picture.
            verify(String(child(child(v, "headerAvatar"), "avatarViewImage").source)
                   .endsWith("/assets/avatars/" + (data.avatar || "defaultheadphoto") + ".png"))
            host.width = 900
            // A new address follows identityChanged.
            App.myErc20 = "0x" + "ef".repeat(20); App.identityChanged()
            compare(child(v, "headerAddress").text, App.myErc20)
        }

        function test_avatarFrames_data() {
            return [
                { tag: "still", id: "avatar_boys_001", animate: true, tick: 30, file: "avatars/avatar_boys_001.png" },
                { tag: "18 frames", id: "lottiehead_01", animate: true, tick: 30, file: "lottiehead_01_frames/f12.svg" },
                { tag: "24 frames", id: "lottiehead_02", animate: true, tick: 30, file: "lottiehead_02_frames/f6.svg" },
                { tag: "held still", id: "lottiehead_02", animate: false, tick: 30, file: "lottiehead_02_frames/f0.svg" }
            ]
        }
        function test_avatarFrames(data) {
            App.myAvatar = data.id
            var v = makeView()
            var av = child(v, "headerAvatar")
            av.animate = data.animate
            v.lottieTick = data.tick
            verify(String(child(av, "avatarViewImage").source).endsWith("/assets/" + data.file),
                   String(child(av, "avatarViewImage").source))
            // The row's small avatar never plays.
            var rowAv = findChild(child(v, "avatarRow"), "avatarViewImage")
            verify(/\.png$|f0\.svg$/.test(String(rowAv.source)))
        }

        function test_clockPausesWhileHidden() {
            var v = makeView()
            var clock = child(v, "lottieClock")
            verify(clock.running)
            v.lottieTick = 7
            v.visible = false
            verify(!clock.running)
            compare(v.lottieTick, 7)
        }

        function test_themeToggles() {
            var v = makeView()
            var value = child(child(v, "themeRow"), "rowValue")
            compare(value.text, "Light")
            var seen = []
            for (var i = 0; i < 2; ++i) {
                click(child(v, "themeRow"))
                seen.push(Theme.dark, value.text)
            }
            compare(seen, [true, "Dark", false, "Light"])
            compare(v.color, Theme.windowBg)
        }

        function test_languageSheet_data() {
            return [ { tag: "german", code: "de", name: "Deutsch", title: "Sprache" },
                     { tag: "simplified", code: "zh-Hans", name: "简体中文", title: "系统语言" },
                     { tag: "same again", code: "en", name: "English", title: "Language" } ]
        }
        function test_languageSheet(data) {
            var v = makeView()
            var sheet = openSheet(v, "languageRow", "languageSheet")
            var marked = () => I18n.locales.filter(c => inSheet(sheet, "langMark_" + c).visible)
            compare(marked(), ["en"])
            compare(inSheet(sheet, "langRow_en").color, Theme.buttonBg)
            click(inSheet(sheet, "langRow_" + data.code))
            compare(I18n.locale, data.code)
            tryCompare(sheet, "visible", false)
            compare(child(child(v, "languageRow"), "rowValue").text, data.name)
            compare(child(child(v, "languageRow"), "rowTitle").text, I18n.tr("profile.language"))
            sheet.open()
            tryCompare(sheet, "opened", true)
            compare(marked(), [data.code])
            compare(inSheet(sheet, "languageTitle").text, I18n.tr("profile.language"))
            // A code outside the list marks no row and names no language.
            I18n.locale = "xx"
            compare(marked(), [])
            compare(child(child(v, "languageRow"), "rowValue").visible, false)
            keyClick(Qt.Key_Escape)
            tryCompare(sheet, "visible", false)
        }

        function test_toast() {
            var v = makeView()
            var t = child(v, "toastBox")
            // Each message stays 2200 ms from its own show().
            compare(t.timer.interval, 2200)
            compare(t.opacity, 0)
            v.toast("one")
            v.toast("a second, longer message")
            compare(t.text, "a second, longer message")
            verify(t.timer.running)
            tryCompare(t, "visible", true)
            t.timer.triggered()
            tryCompare(t, "visible", false)
        }

        function test_avatarTabs_data() {
            return [ { tag: "boys", tab: 0, count: 33, first: "avatar_boys_001" },
                     { tag: "girls", tab: 1, count: 28, first: "avatar_girls_001" },
                     { tag: "animals", tab: 2, count: 38, first: "avatar_boys_021" } ]
        }
        function test_avatarTabs(data) {
            var v = makeView()
            var sheet = openSheet(v, "avatarRow", "avatarSheet")
            compare(sheet.width, 480)
            compare(sheet.height, 600)
            var grid = inSheet(sheet, "avGrid")
            compare(grid.cols, 5)
            tryCompare(grid, "width", 390)
            click(inSheet(sheet, "avatarTab" + data.tab))
            compare(grid.count, data.count)
            compare(grid.model[0], data.first)
            sheet.close()
            tryCompare(sheet, "visible", false)
            // Reopens on the tab last shown.
            sheet.open()
            tryCompare(sheet, "opened", true)
            compare(sheet.cat, data.tab)
            compare(grid.count, data.count)
        }

        function test_pickAvatar_data() {
            return [ { tag: "new", current: "defaultheadphoto", pick: "avatar_boys_002" },
                     { tag: "already held", current: "avatar_boys_002", pick: "avatar_boys_002" } ]
        }
        function test_pickAvatar(data) {
            App.myAvatar = data.current
            var v = makeView()
            var sheet = openSheet(v, "avatarRow", "avatarSheet")
            var grid = inSheet(sheet, "avGrid")
            tryVerify(() => findChild(grid, "avatarCell_" + data.pick) !== null)
            var cell = findChild(grid, "avatarCell_" + data.pick)
            compare(cell.border.width, data.current === data.pick ? 3 : 0)
            var order = []
            var note = name => order.push(name)
            App.called.connect(note); Chat.called.connect(note)
            click(cell)
            App.called.disconnect(note); Chat.called.disconnect(note)
            // Stored first: the sync reads the stored avatar.
            compare(order, ["setAvatar", "syncSuperGroupProfiles"])
            compare(App.lastArgs("setAvatar")[0], data.pick)
            compare(child(v, "toastBox").text, "Avatar updated")
            tryCompare(sheet, "visible", false)
            App.myAvatar = data.pick; App.avatarChanged()
            compare(cell.border.width, 3)
            compare(child(v, "avatarRow").trailingAvatarId, data.pick)
            compare(child(v, "headerAvatar").avatarId, data.pick)
        }

        function test_addressSheet_data() {
            return [ { tag: "address", address: host.address, copied: true },
                     { tag: "no identity", address: "", copied: false } ]
        }
        function test_addressSheet(data) {
            App.myErc20 = data.address
            App.returns = { "qrSvg": host.svg }
            var v = makeView()
            var sheet = child(v, "addressSheet")
            var qr = inSheet(sheet, "addressQr")
            compare(App.callCount("qrSvg"), 0)
            openSheet(v, "addressRow", "addressSheet")
            compare(App.lastArgs("qrSvg")[0], data.address)
            var prefix = "data:image/svg+xml;utf8,"
            var src = String(qr.source)
            compare(src.slice(0, prefix.length), prefix)
            compare(decodeURIComponent(src.slice(prefix.length)), host.svg)
            // Sharp: rasterised at the size shown, five whole pixels for
            // each of the 37 modules, never smoothed.
            tryCompare(qr, "width", 185)
            compare(qr.sourceSize.width, qr.width)
            compare(qr.sourceSize.height, qr.height)
            verify(!qr.smooth && !qr.mipmap)
            compare(inSheet(sheet, "addressText").text, data.address)
            click(inSheet(sheet, "copyAddress"))
            if (data.copied) {
                compare(App.lastArgs("copyToClipboard"), [data.address])
                compare(child(v, "toastBox").text, "Copied")
            } else {
                compare(App.callCount("copyToClipboard"), 0)
                compare(child(v, "toastBox").opacity, 0)
            }
            verify(sheet.opened)
            keyClick(Qt.Key_Escape)
            tryCompare(sheet, "visible", false)
            sheet.open()
            tryCompare(sheet, "opened", true)
            // A new address draws a new code while the sheet shows.
            App.myErc20 = "0x" + "ab".repeat(20); App.identityChanged()
            compare(App.lastArgs("qrSvg")[0], App.myErc20)
            sheet.close()
            tryCompare(sheet, "visible", false)
            compare(String(qr.source), "")
        }

        function test_backupGate_data() {
            return [
                { tag: "wrong password", ok: false, phrase: host.phrase, cells: 0 },
                { tag: "phrase", ok: true, phrase: host.phrase, cells: 12 },
                { tag: "key only", ok: true, phrase: "", cells: 0 }
            ]
        }
        function test_backupGate(data) {
            App.returns = { "hasBackupPassword": true, "verifyBackupPassword": data.ok,
                            "revealPrivateKeyString": host.key, "revealMnemonic": data.phrase }
            var v = makeView()
            var sheet = openSheet(v, "backupRow", "backupSheet")
            verify(inSheet(sheet, "backupEnterForm").visible)
            verify(!inSheet(sheet, "backupSecrets").visible)
            compare(App.callCount("revealMnemonic") + App.callCount("revealPrivateKeyString"), 0)
            typeInto(inSheet(sheet, "bkupPwdIn"), "pw")
            click(inSheet(sheet, "bkupVerifyButton"))
            compare(App.lastArgs("verifyBackupPassword"), ["pw"])
            compare(inSheet(sheet, "bkupErrText").visible, !data.ok)
            compare(inSheet(sheet, "bkupErrText").text, "Wrong password")
            compare(inSheet(sheet, "backupSecrets").visible, data.ok)
            compare(inSheet(sheet, "pkText").text, data.ok ? host.key : "")
            compare(inSheet(sheet, "wordRepeater").count, data.cells)
            compare(inSheet(sheet, "mnemonicSection").visible, data.cells > 0)
            if (data.ok) {
                // The view's height: the sheet fits the window and scrolls inside.
                verify(sheet.height <= host.height - 80 + 1)
                if (data.cells > 0) {
                    click(inSheet(sheet, "copyMnemonic"))
                    compare(App.lastArgs("copyToClipboard"), [host.phrase])
                    compare(child(v, "toastBox").text, "Recovery phrase copied")
                }
                click(inSheet(sheet, "copyKey"))
                compare(App.lastArgs("copyToClipboard"), [host.key])
                compare(child(v, "toastBox").text, "Private key copied")
            }
            // Closing drops the secrets; the next opening starts locked.
            click(inSheet(sheet, "sheetClose"))
            tryCompare(sheet, "visible", false)
            compare(inSheet(sheet, "pkText").text, "")
            compare(inSheet(sheet, "wordRepeater").count, 0)
            sheet.open()
            tryCompare(sheet, "opened", true)
            verify(!v.backupUnlocked)
            verify(inSheet(sheet, "backupEnterForm").visible)
            compare(inSheet(sheet, "bkupPwdIn").text, "")
            verify(!inSheet(sheet, "bkupErrText").visible)
        }

        function test_backupSetPasswordThenHide() {
            App.returns = { "hasBackupPassword": false, "setBackupPassword": true,
                            "revealPrivateKeyString": host.key, "revealMnemonic": host.phrase }
            var v = makeView()
            var sheet = openSheet(v, "backupRow", "backupSheet")
            verify(inSheet(sheet, "backupSetForm").visible)
            typeInto(inSheet(sheet, "bkupPwd1"), "secret")
            typeInto(inSheet(sheet, "bkupPwd2"), "secret")
            click(inSheet(sheet, "bkupAckMa"))
            click(inSheet(sheet, "bkupSetButton"))
            compare(App.lastArgs("setBackupPassword"), ["secret"])
            verify(v.backupUnlocked)
            compare(inSheet(sheet, "pkText").text, host.key)
            // Hiding the whole view unbinds the secrets as well.
            v.visible = false
            compare(inSheet(sheet, "pkText").text, "")
            compare(inSheet(sheet, "wordRepeater").count, 0)
        }

        function test_emptyKeyReportsNothing() {
            App.returns = { "hasBackupPassword": true, "verifyBackupPassword": true }
            var v = makeView()
            var sheet = openSheet(v, "backupRow", "backupSheet")
            typeInto(inSheet(sheet, "bkupPwdIn"), "pw")
            click(inSheet(sheet, "bkupVerifyButton"))
            click(inSheet(sheet, "copyKey"))
            compare(App.callCount("copyToClipboard"), 0)
            compare(child(v, "toastBox").opacity, 0)
        }

        function test_logout_data() {
            return [ { tag: "in a voice room", inRoom: true, how: "confirm" },
                     { tag: "no voice room", inRoom: false, how: "confirm" },
                     { tag: "cancelled", inRoom: true, how: "cancel" },
                     { tag: "escaped", inRoom: false, how: "escape" } ]
        }
        function test_logout(data) {
            VoiceRoom.active = data.inRoom
            var v = makeView()
            var popup = openSheet(v, "logoutRow", "logoutConfirm")
            compare(inSheet(popup, "confirmTitle").text, "Sign out")
            compare(inSheet(popup, "confirmBody").text, "Before signing out, make sure the recovery phrase or private key is backed up, or the account cannot be recovered. Sign out?")
            compare(inSheet(popup, "confirmOk").label, "Sign out")
            var order = []
            var note = name => order.push(name)
            var mocks = [VoiceRoom, Voice, Chat, App]
            mocks.forEach(m => m.called.connect(note))
            if (data.how === "confirm")
                click(inSheet(popup, "confirmOk"))
            else if (data.how === "cancel")
                click(inSheet(popup, "confirmCancel"))
            else
                keyClick(Qt.Key_Escape)
            tryCompare(popup, "visible", false)
            mocks.forEach(m => m.called.disconnect(note))
            // Voice first, then the chat, then the identity.
            compare(order, data.how !== "confirm" ? []
                           : data.inRoom ? ["leaveRoom", "stopPlayback", "stop", "logout"]
                                         : ["stopPlayback", "stop", "logout"])
        }

        function test_confirmWithoutCancel() {
            var v = makeView()
            var popup = child(v, "logoutConfirm")
            popup.cancelText = ""
            popup.open()
            tryCompare(popup, "opened", true)
            verify(!inSheet(popup, "confirmCancel").visible)
            var ok = inSheet(popup, "confirmOk")
            tryVerify(() => settled(ok))
            compare(ok.mapToItem(popup.contentItem, ok.width, 0).x, popup.width - 12)
            popup.close()
        }
    }
}
