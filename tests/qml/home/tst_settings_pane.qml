import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The settings page: sub-pages, avatar choice, address, backup gate, log-out.
Item {
    id: host
    width: 900
    height: 700

    readonly property string address: "0x" + "ab12".repeat(10)
    readonly property string phrase: "apple bridge cactus dune eagle fabric giant harbor island jungle kettle lemon"
    readonly property string key: "0x" + "1f".repeat(32)

    Component { id: paneComponent; SettingsPane { width: 860; height: 660 } }

    TestCase {
        name: "SettingsPane"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            App.reset(); Chat.reset(); Voice.reset(); VoiceRoom.reset()
            App.myErc20 = host.address
            App.myAvatar = "defaultheadphoto"
            VoiceRoom.active = false
        }

        function makePane() {
            var p = createTemporaryObject(paneComponent, host)
            verify(p)
            return p
        }
        function child(p, name) {
            var c = findChild(p, name)
            verify(c, name)
            return c
        }
        // Layouts place newly shown items on the next polish.
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
        function openBackup(p, hasPwd) {
            App.returns = Object.assign({}, App.returns, { "hasBackupPassword": hasPwd })
            click(child(p, "rowBackup"))
            compare(p.sub, "backup")
        }
        function typeInto(field, text) {
            field.forceActiveFocus()
            field.text = text
        }

        function test_opensOnRootAndCloseKeepsSub() {
            var p = makePane()
            compare(p.sub, "root")
            compare(p.confirmingLogout, false)
            compare(child(p, "settingsTitle").text, "设置")
            verify(!child(p, "settingsBack").visible)
            click(child(p, "rowAvatar"))
            compare(child(p, "settingsTitle").text, "选择头像")
            var spy = createTemporaryQmlObject("import QtTest; SignalSpy { signalName: \"closeRequested\" }", host)
            spy.target = p
            click(child(p, "settingsClose"))
            compare(spy.count, 1)
            compare(p.sub, "avatar")
            click(child(p, "settingsBack"))
            compare(p.sub, "root")
        }

        function test_shortAddress_data() {
            return [
                { tag: "42 chars", a: "0x1234567890abcdef1234567890abcdef12345678", s: "0x123456\u2026345678" },
                { tag: "16 chars", a: "0x1234567890abcd", s: "0x1234567890abcd" },
                { tag: "empty", a: "", s: "" },
                { tag: "missing", a: undefined, s: "" }
            ]
        }
        function test_shortAddress(data) {
            var p = makePane()
            compare(p.shortAddr(data.a), data.s)
        }

        function test_avatarSets() {
            var p = makePane()
            // The two boys shown among the animals are not offered twice.
            compare(p.avAnimals[1], "avatar_boys_008")
            verify(p.avBoys.indexOf("avatar_boys_008") < 0 && p.avBoys.indexOf("avatar_boys_021") < 0)
            var all = p.avBoys.concat(p.avGirls, p.avAnimals)
            compare(all.filter((v, i) => all.indexOf(v) === i).length, all.length)
        }

        function test_avatarTabs_data() {
            return [ { tag: "boys", tab: 0, count: 33, first: "avatar_boys_001" },
                     { tag: "girls", tab: 1, count: 28, first: "avatar_girls_001" },
                     { tag: "animals", tab: 2, count: 38, first: "avatar_boys_021" } ]
        }
        function test_avatarTabs(data) {
            var p = makePane()
            click(child(p, "rowAvatar"))
            click(child(p, "avatarTab" + data.tab))
            compare(p.avCat, data.tab)
            var grid = child(p, "setAvGrid")
            compare(grid.count, data.count)
            compare(grid.model[0], data.first)
            // The tab is remembered across closing and reopening on root.
            p.sub = "root"
            p.sub = "avatar"
            compare(p.avCat, data.tab)
            compare(child(p, "setAvGrid").count, data.count)
        }

        function test_pickAvatar() {
            var p = makePane()
            click(child(p, "rowAvatar"))
            var grid = child(p, "setAvGrid")
            tryVerify(() => findChild(grid, "avatarCell_avatar_boys_002") !== null)
            // No border before the user has chosen.
            compare(findChild(grid, "avatarCell_avatar_boys_001").border.width, 0)
            click(findChild(grid, "avatarCell_avatar_boys_002"))
            compare(App.callNames().filter(n => n === "setAvatar").length, 1)
            compare(App.lastArgs("setAvatar")[0], "avatar_boys_002")
            compare(Chat.callCount("syncSuperGroupProfiles"), 1)
            compare(child(p, "setToast").text, "头像已更新")
            verify(child(p, "setToast").timer.running)
            App.myAvatar = "avatar_boys_002"; App.avatarChanged()
            compare(findChild(grid, "avatarCell_avatar_boys_002").border.width, 3)
            compare(findChild(p, "profileAvatar").avatarId, "avatar_boys_002")
            // The current avatar again: still synced and toasted.
            click(findChild(grid, "avatarCell_avatar_boys_002"))
            compare(Chat.callCount("syncSuperGroupProfiles"), 2)
        }

        function test_addressQrAndCopy() {
            App.returns = { "qrSvg": "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10'><rect width='10' height='10'/></svg>" }
            var p = makePane()
            var qr = child(p, "addressQr")
            compare(String(qr.source), "")
            click(child(p, "rowAddress"))
            compare(App.lastArgs("qrSvg")[0], host.address)
            verify(String(qr.source).indexOf("data:image/svg+xml;utf8,%3Csvg") === 0)
            compare(qr.smooth, false)
            compare(child(p, "addressText").text, host.address)
            click(child(p, "copyAddress"))
            compare(App.lastArgs("copyToClipboard")[0], host.address)
            compare(child(p, "setToast").text, "已复制")
            p.visible = false
            compare(String(qr.source), "")
        }

        function test_copyEmptyReportsNothing() {
            App.myErc20 = ""
            var p = makePane()
            click(child(p, "rowAddress"))
            click(child(p, "copyAddress"))
            compare(App.callCount("copyToClipboard"), 0)
            compare(child(p, "setToast").opacity, 0)
        }

        function test_backupSetPassword_data() {
            return [
                { tag: "empty", a: "", b: "", ack: true, enabled: false, mismatch: false },
                { tag: "second empty", a: "pw", b: "", ack: true, enabled: false, mismatch: false },
                { tag: "mismatch", a: "pw", b: "pW", ack: true, enabled: false, mismatch: true },
                { tag: "trailing space", a: "pw", b: "pw ", ack: true, enabled: false, mismatch: true },
                { tag: "no ack", a: "pw", b: "pw", ack: false, enabled: false, mismatch: false },
                { tag: "all good", a: "pw", b: "pw", ack: true, enabled: true, mismatch: false }
            ]
        }
        function test_backupSetPassword(data) {
            var p = makePane()
            openBackup(p, false)
            verify(child(p, "backupSetForm").visible)
            typeInto(child(p, "bkupPwd1"), data.a)
            typeInto(child(p, "bkupPwd2"), data.b)
            if (data.ack)
                click(child(p, "bkupAckMa"))
            compare(child(p, "bkupAck").checked, data.ack)
            compare(child(p, "bkupMismatch").visible, data.mismatch)
            compare(child(p, "bkupSetButton").enabled, data.enabled)
        }

        function test_backupSetFailsAndSucceeds() {
            var p = makePane()
            openBackup(p, false)
            typeInto(child(p, "bkupPwd1"), "secret")
            typeInto(child(p, "bkupPwd2"), "secret")
            click(child(p, "bkupAckMa"))
            click(child(p, "bkupSetButton"))
            compare(child(p, "setToast").text, "设置失败，请重试")
            verify(!p.backupUnlocked)
            compare(child(p, "bkupPwd1").text, "secret")
            compare(App.callCount("revealPrivateKeyString"), 0)
            App.returns = { "setBackupPassword": true, "revealPrivateKeyString": host.key, "revealMnemonic": host.phrase }
            click(child(p, "bkupSetButton"))
            compare(App.lastArgs("setBackupPassword")[0], "secret")
            verify(p.backupUnlocked && p.backupHasPwd)
            verify(child(p, "backupSecrets").visible)
            compare(child(p, "pkText").text, host.key)
            // Back, and the next opening asks for the password, locked again.
            click(child(p, "settingsBack"))
            compare(child(p, "pkText").text, "")
            openBackup(p, true)
            verify(!p.backupUnlocked)
            verify(child(p, "backupEnterForm").visible)
            compare(child(p, "bkupPwd1").text, "")
            compare(child(p, "bkupAck").checked, false)
        }

        function test_backupVerify_data() {
            return [
                { tag: "wrong by button", ok: false, enter: false },
                { tag: "wrong by enter", ok: false, enter: true },
                { tag: "right by button", ok: true, enter: false },
                { tag: "right by enter", ok: true, enter: true }
            ]
        }
        function test_backupVerify(data) {
            App.returns = { "verifyBackupPassword": data.ok, "revealPrivateKeyString": host.key, "revealMnemonic": host.phrase }
            var p = makePane()
            openBackup(p, true)
            App.returns = Object.assign({}, App.returns, { "verifyBackupPassword": data.ok })
            var field = child(p, "bkupPwdIn")
            compare(child(p, "bkupVerifyButton").enabled, false)
            typeInto(field, "pw")
            if (data.enter)
                keyClick(Qt.Key_Return)
            else
                click(child(p, "bkupVerifyButton"))
            compare(App.lastArgs("verifyBackupPassword")[0], "pw")
            compare(p.backupUnlocked, data.ok)
            compare(child(p, "bkupErrText").visible, !data.ok)
            compare(child(p, "bkupErrText").text, "密码错误")
            compare(field.text, "pw")
            if (!data.ok) {
                // Reopening clears the notice.
                click(child(p, "settingsBack"))
                openBackup(p, true)
                verify(!child(p, "bkupErrText").visible)
                compare(child(p, "bkupPwdIn").text, "")
            }
        }

        function test_backupSecrets_data() {
            return [
                { tag: "phrase", phrase: host.phrase, cells: 12, section: true },
                { tag: "key only", phrase: "", cells: 0, section: false }
            ]
        }
        function test_backupSecrets(data) {
            App.returns = { "hasBackupPassword": true, "verifyBackupPassword": true,
                            "revealPrivateKeyString": host.key, "revealMnemonic": data.phrase }
            var p = makePane()
            openBackup(p, true)
            compare(App.callCount("revealMnemonic"), 0)
            typeInto(child(p, "bkupPwdIn"), "pw")
            click(child(p, "bkupVerifyButton"))
            compare(child(p, "mnemonicSection").visible, data.section)
            compare(child(p, "wordRepeater").count, data.cells)
            compare(child(p, "pkText").text, host.key)
            if (data.section) {
                var c0 = child(p, "wordCell0"), c3 = child(p, "wordCell3"), c2 = child(p, "wordCell2")
                tryVerify(() => c3.y > c0.y)    // row by row, three a row
                compare(c2.y, c0.y)
                click(child(p, "copyMnemonic"))
                compare(App.lastArgs("copyToClipboard")[0], host.phrase)
                compare(child(p, "setToast").text, "助记词已复制")
            }
            click(child(p, "copyKey"))
            compare(App.lastArgs("copyToClipboard")[0], host.key)
            compare(child(p, "setToast").text, "私钥已复制")
            // Hidden: the secrets are unbound.
            p.visible = false
            compare(child(p, "pkText").text, "")
            compare(child(p, "wordRepeater").count, 0)
        }

        function test_emptyKeyReportsNothing() {
            App.returns = { "hasBackupPassword": true, "verifyBackupPassword": true }
            var p = makePane()
            openBackup(p, true)
            typeInto(child(p, "bkupPwdIn"), "pw")
            click(child(p, "bkupVerifyButton"))
            click(child(p, "copyKey"))
            compare(App.callCount("copyToClipboard"), 0)
            compare(child(p, "setToast").opacity, 0)
        }

        function test_logout_data() {
            return [ { tag: "in a voice room", inRoom: true }, { tag: "no voice room", inRoom: false } ]
        }
        function test_logout(data) {
            VoiceRoom.active = data.inRoom
            var p = makePane()
            click(child(p, "logoutText"))
            verify(p.confirmingLogout)
            compare(child(p, "logoutText").text, "退出前请确保已备份助记词或私钥")
            click(child(p, "logoutCancel"))
            verify(!p.confirmingLogout)
            click(child(p, "logoutCard"))
            // Confirming survives a visit to another sub-page.
            click(child(p, "rowAddress")); click(child(p, "settingsBack"))
            verify(p.confirmingLogout)
            var order = []
            var note = name => order.push(name)
            var mocks = [VoiceRoom, Voice, Chat, App]
            mocks.forEach(m => m.called.connect(note))
            click(child(p, "logoutConfirm"))
            mocks.forEach(m => m.called.disconnect(note))
            // Voice first, then the chat, then the identity.
            compare(order, data.inRoom ? ["leaveRoom", "stopPlayback", "stop", "logout"]
                                       : ["stopPlayback", "stop", "logout"])
        }

        function test_toastTimer() {
            var p = makePane()
            var t = child(p, "setToast")
            p.toast("one")
            p.toast("two")
            compare(t.text, "two")
            verify(t.timer.running)
            t.timer.triggered()
            tryCompare(t, "visible", false)
        }
    }
}
