import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The voice-room popups with the voice-room controller's state.
Item {
    id: host
    width: 1000
    height: 760

    Component { id: roomComponent; VoiceRoomPopup { } }
    Component { id: confirmComponent; VoiceOpenConfirm { } }

    function member(pubkey, name, extra) {
        var m = { "pubkey": pubkey, "name": name, "address": "0x" + pubkey + "0000000000000000", "avatarKind": "",
                  "avatarId": "", "role": "", "self": false, "speaker": false, "speaking": false, "muted": false }
        for (var k in extra)
            m[k] = extra[k]
        return m
    }

    TestCase {
        name: "VoiceRoomPopups"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            VoiceRoom.reset(); Chat.reset()
            VoiceRoom.busy = false
            VoiceRoom.roomOpen = false
            VoiceRoom.lastError = ""
            VoiceRoom.amOpener = false
            VoiceRoom.isOwner = false
            VoiceRoom.canPublish = false
            VoiceRoom.micEnabled = false
            VoiceRoom.activeForVisible = true
            VoiceRoom.ownerPubkey = "owner"
            VoiceRoom.roomGroupTitle = ""
            VoiceRoom.connectionText = ""
            VoiceRoom.speakers = []
            VoiceRoom.listeners = []
            VoiceRoom.inputDevices = []
            VoiceRoom.outputDevices = []
            VoiceRoom.stateChanged()
            mouseMove(host, 2, 2)
        }

        property var hooks: []

        // Runs `fn` whenever the view makes the call `name` (as the real
        // controller would change its state).
        function onCall(name, fn) {
            var hook = function (called) { if (called === name) fn() }
            VoiceRoom.called.connect(hook)
            hooks.push(hook)
        }

        function cleanup() {
            for (var i = 0; i < hooks.length; ++i)
                VoiceRoom.called.disconnect(hooks[i])
            hooks = []
        }

        function openRoom() {
            var p = createTemporaryObject(roomComponent, host)
            verify(p)
            p.open()
            tryVerify(function () { return p.opened })
            return p
        }

        function test_confirmBusyThenRoom() {
            var confirm = createTemporaryObject(confirmComponent, host)
            var entered = createTemporaryQmlObject("import QtTest; SignalSpy { signalName: \"roomEntered\" }", host)
            entered.target = confirm
            VoiceRoom.activeForVisible = false
            VoiceRoom.stateChanged()
            confirm.open()
            tryVerify(function () { return confirm.opened })
            var button = findChild(confirm.contentItem, "openRoomButton")
            mouseClick(button)
            compare(VoiceRoom.callCount("openRoom"), 1)
            VoiceRoom.busy = true
            VoiceRoom.stateChanged()
            verify(!button.enabled)
            verify(findChild(confirm.contentItem, "openBusy").visible)
            keyClick(Qt.Key_Escape)
            verify(confirm.opened)
            VoiceRoom.busy = false
            VoiceRoom.activeForVisible = true
            VoiceRoom.stateChanged()
            tryVerify(function () { return !confirm.visible })
            compare(entered.count, 1)
        }

        function test_confirmShowsOpenFailure() {
            var confirm = createTemporaryObject(confirmComponent, host)
            VoiceRoom.activeForVisible = false
            confirm.open()
            tryVerify(function () { return confirm.opened })
            VoiceRoom.lastError = "开启聊天室失败"
            VoiceRoom.stateChanged()
            var error = findChild(confirm.contentItem, "openError")
            verify(error.visible)
            compare(error.text, "开启聊天室失败")
            verify(confirm.opened)
        }

        // The room opens on the server but the join fails: the popup says so
        // at once, and its button tries the join again instead of opening
        // the room a second time.
        function test_confirmShowsJoinFailure() {
            var confirm = createTemporaryObject(confirmComponent, host)
            VoiceRoom.activeForVisible = false
            VoiceRoom.roomOpen = false
            VoiceRoom.connectionText = "已连接" // of a room held elsewhere
            VoiceRoom.stateChanged()
            confirm.open()
            tryVerify(function () { return confirm.opened })
            var state = findChild(confirm.contentItem, "connectionState")
            verify(!state.visible)
            var button = findChild(confirm.contentItem, "openRoomButton")
            mouseClick(button)
            compare(VoiceRoom.callCount("openRoom"), 1)
            VoiceRoom.busy = true
            VoiceRoom.roomOpen = true
            VoiceRoom.connectionText = "连接中…"
            VoiceRoom.stateChanged()
            verify(state.visible)
            compare(state.text, "连接中…")
            VoiceRoom.busy = false
            VoiceRoom.connectionText = "连接失败"
            VoiceRoom.lastError = "LiveKit 连接失败"
            VoiceRoom.stateChanged()
            verify(confirm.opened)
            compare(state.text, "连接失败")
            verify(findChild(confirm.contentItem, "openError").visible)
            compare(findChild(confirm.contentItem, "openError").text, "LiveKit 连接失败")
            verify(button.enabled)
            mouseClick(button)
            compare(VoiceRoom.callCount("openRoom"), 1)
            compare(VoiceRoom.callCount("joinRoom"), 1)
        }

        // Each attempt, first or retry, shows "连接中…" while the controller works.
        function test_attemptShowsConnecting_data() {
            return [
                { tag: "first opening", roomOpen: false, before: "", call: "openRoom" },
                { tag: "retry after a failed join", roomOpen: true, before: "连接失败", call: "joinRoom" },
                { tag: "retry, popup opened anew", roomOpen: true, before: "连接失败", call: "joinRoom", reopen: true }
            ]
        }
        function test_attemptShowsConnecting(data) {
            var confirm = createTemporaryObject(confirmComponent, host)
            VoiceRoom.activeForVisible = false
            VoiceRoom.roomOpen = data.roomOpen
            VoiceRoom.connectionText = data.before
            VoiceRoom.stateChanged()
            confirm.open()
            tryVerify(function () { return confirm.opened })
            if (data.reopen) {
                confirm.close()
                tryVerify(function () { return !confirm.visible })
                confirm.open()
                tryVerify(function () { return confirm.opened })
            }
            var button = findChild(confirm.contentItem, "openRoomButton")
            var state = findChild(confirm.contentItem, "connectionState")
            compare(button.text, "开启聊天室")
            mouseClick(button)
            compare(VoiceRoom.callCount(data.call), 1)
            VoiceRoom.busy = true
            VoiceRoom.stateChanged()
            compare(button.text, "连接中…")
            verify(state.visible)
            compare(state.text, "连接中…")
            VoiceRoom.busy = false
            VoiceRoom.roomOpen = true
            VoiceRoom.connectionText = "连接失败"
            VoiceRoom.stateChanged()
            compare(button.text, "开启聊天室")
            compare(state.text, "连接失败")
        }

        function test_header_data() {
            return [
                { tag: "empty texts", title: "", conn: "", shownTitle: "语音聊天室", shownConn: "连接中…" },
                { tag: "texts", title: "Room", conn: "已连接", shownTitle: "Room", shownConn: "已连接" },
            ]
        }

        function test_header(data) {
            VoiceRoom.roomGroupTitle = data.title
            VoiceRoom.connectionText = data.conn
            var p = openRoom()
            compare(findChild(p.contentItem, "roomTitle").text, data.shownTitle)
            compare(findChild(p.contentItem, "connectionLine").text, data.shownConn)
        }

        function test_listenerFilter_data() {
            return [
                { tag: "empty", query: "", shown: ["k1", "k2", "zz9"] },
                { tag: "blank", query: "   ", shown: ["k1", "k2", "zz9"] },
                { tag: "name any case", query: "ABC", shown: ["k1"] },
                { tag: "address", query: "0XB000", shown: ["k2"] },
                { tag: "key", query: "ZZ9", shown: ["zz9"] },
                { tag: "none", query: "zzz", shown: [] },
            ]
        }

        function test_listenerFilter(data) {
            VoiceRoom.amOpener = true
            VoiceRoom.listeners = [host.member("k1", "xAbCx", { "address": "0xa1" }),
                                   host.member("k2", "Bee", { "address": "0xb0001" }),
                                   host.member("zz9", "", { "address": "" })]
            VoiceRoom.participantsChanged()
            var p = openRoom()
            p.listenerQuery = data.query
            compare(p.filteredListeners().map(function (m) { return m.pubkey }), data.shown)
            // The count stays the size of the whole list.
            compare(findChild(p.contentItem, "listenerCount").text, "听众 · 3")
        }

        function test_gestures_data() {
            return [
                { tag: "opener revokes a speaker", opener: true, who: "s", speaker: true, revokes: 1, grants: 0 },
                { tag: "opener never revokes self", opener: true, who: "self", speaker: true, revokes: 0, grants: 0 },
                { tag: "opener never revokes the owner", opener: true, who: "owner", speaker: true, revokes: 0, grants: 0 },
                { tag: "not the opener", opener: false, who: "s", speaker: true, revokes: 0, grants: 0 },
                { tag: "opener grants a listener", opener: true, who: "l", speaker: false, revokes: 0, grants: 1 },
                { tag: "listener, not the opener", opener: false, who: "l", speaker: false, revokes: 0, grants: 0 },
            ]
        }

        function test_gestures(data) {
            VoiceRoom.amOpener = data.opener
            var m = host.member(data.who, data.who, { "self": data.who === "self", "speaker": data.speaker })
            if (data.speaker)
                VoiceRoom.speakers = [m]
            else
                VoiceRoom.listeners = [m]
            VoiceRoom.participantsChanged()
            var p = openRoom()
            var repeater = findChild(p.contentItem, data.speaker ? "speakerRepeater" : "listenerRepeater")
            tryVerify(function () { return repeater.count === 1 })
            var tile = repeater.itemAt(0)
            // A left click never acts.
            mouseClick(tile, tile.width / 2, 20, Qt.LeftButton)
            compare(VoiceRoom.callCount("revokeSpeaker") + VoiceRoom.callCount("grantSpeaker"), 0)
            mouseClick(tile, tile.width / 2, 20, Qt.RightButton)
            compare(VoiceRoom.callCount("revokeSpeaker"), data.revokes)
            compare(VoiceRoom.callCount("grantSpeaker"), data.grants)
            if (data.revokes)
                compare(VoiceRoom.lastArgs("revokeSpeaker")[0], data.who)
            if (data.grants)
                compare(VoiceRoom.lastArgs("grantSpeaker")[0], data.who)
        }

        function test_deviceChoice_data() {
            return [
                { tag: "none", n: 0, shown: false },
                { tag: "one", n: 1, shown: false },
                { tag: "two", n: 2, shown: true },
            ]
        }

        function test_deviceChoice(data) {
            var list = []
            for (var i = 0; i < data.n; ++i)
                list.push({ "id": "dev" + i, "name": "Device " + i })
            VoiceRoom.inputDevices = list
            VoiceRoom.outputDevices = list
            VoiceRoom.devicesChanged()
            var p = openRoom()
            var input = findChild(p.contentItem, "inputChoice")
            compare(input.visible, data.shown)
            compare(findChild(p.contentItem, "outputChoice").visible, data.shown)
            if (!data.shown)
                return
            compare(input.currentIndex, 0)
            compare(VoiceRoom.callCount("selectInputDevice"), 0)
            input.activated(1)
            compare(VoiceRoom.lastArgs("selectInputDevice")[0], "dev1")
        }

        function test_microphone_data() {
            return [
                { tag: "no speaking right", canPublish: false, mic: false, shown: false },
                { tag: "muted", canPublish: true, mic: false, shown: true },
                { tag: "live", canPublish: true, mic: true, shown: true },
            ]
        }

        function test_microphone(data) {
            VoiceRoom.canPublish = data.canPublish
            VoiceRoom.micEnabled = data.mic
            VoiceRoom.stateChanged()
            var p = openRoom()
            var mic = findChild(p.contentItem, "micButton")
            compare(mic.visible, data.shown)
            if (!data.shown)
                return
            mouseClick(mic)
            compare(VoiceRoom.lastArgs("setMicEnabled")[0], !data.mic)
        }

        function test_remoteCloseClosesBoth() {
            var confirm = createTemporaryObject(confirmComponent, host)
            VoiceRoom.activeForVisible = false
            confirm.open()
            var p = openRoom()
            tryVerify(function () { return confirm.opened })
            VoiceRoom.roomClosedRemotely()
            tryVerify(function () { return !confirm.visible && !p.visible })
        }

        // The capsules' row is laid out at the next polish after opening.
        function waitForRowLayout(confirm) {
            var cancel = findChild(confirm.contentItem, "cancelExit")
            var ok = findChild(confirm.contentItem, "confirmExit")
            tryVerify(function () { return ok.x >= cancel.x + cancel.width })
        }

        function exitThrough(p) {
            mouseClick(findChild(p.contentItem, "exitButton"))
            var confirm = findChild(p, "voiceExitConfirm")
            tryVerify(function () { return confirm.opened })
            waitForRowLayout(confirm)
            mouseClick(findChild(confirm.contentItem, "confirmExit"))
            tryVerify(function () { return !confirm.visible })
        }

        // A dissolve keeps the card shaded until its answer; a refused one
        // leaves it open with the error.
        function test_dissolve_data() {
            return [
                { tag: "accepted", error: "", stillIn: false, open: false },
                { tag: "refused", error: "voice_open_rejected", stillIn: true, open: true },
            ]
        }

        function test_dissolve(data) {
            VoiceRoom.isOwner = true
            VoiceRoom.stateChanged()
            var p = openRoom()
            compare(findChild(p.contentItem, "exitLabel").text, "解散房间")
            onCall("dissolveRoom", function () { VoiceRoom.busy = true; VoiceRoom.stateChanged() })
            exitThrough(p)
            compare(VoiceRoom.callCount("dissolveRoom"), 1)
            compare(VoiceRoom.callCount("leaveRoom"), 0)
            VoiceRoom.stateChanged()
            verify(p.opened)
            verify(findChild(p.contentItem, "busyShade").visible)
            keyClick(Qt.Key_Escape)
            verify(p.opened)
            VoiceRoom.busy = false
            VoiceRoom.lastError = data.error
            VoiceRoom.activeForVisible = data.stillIn
            VoiceRoom.stateChanged()
            if (data.open) {
                verify(p.opened)
                verify(!findChild(p.contentItem, "busyShade").visible)
                compare(findChild(p.contentItem, "roomError").text, data.error)
                verify(findChild(p.contentItem, "roomError").visible)
            } else {
                tryVerify(function () { return !p.visible })
            }
        }

        function test_leaveClosesWhenOut() {
            var p = openRoom()
            compare(findChild(p.contentItem, "exitLabel").text, "退出房间")
            // Leaving disconnects at once.
            onCall("leaveRoom", function () { VoiceRoom.activeForVisible = false; VoiceRoom.stateChanged() })
            exitThrough(p)
            compare(VoiceRoom.callCount("leaveRoom"), 1)
            compare(VoiceRoom.callCount("dissolveRoom"), 0)
            tryVerify(function () { return !p.visible })
        }

        function test_cancelExitChangesNothing() {
            var p = openRoom()
            mouseClick(findChild(p.contentItem, "exitButton"))
            var confirm = findChild(p, "voiceExitConfirm")
            tryVerify(function () { return confirm.opened })
            var cancel = findChild(confirm.contentItem, "cancelExit")
            waitForRowLayout(confirm)
            mouseClick(cancel)
            tryVerify(function () { return !confirm.visible })
            verify(p.opened)
            compare(VoiceRoom.callCount("leaveRoom") + VoiceRoom.callCount("dissolveRoom"), 0)
        }

        function test_memberLabels_data() {
            return [
                { tag: "name", m: { "pubkey": "k", "name": "Ann", "address": "0xabc" }, label: "Ann" },
                { tag: "address", m: { "pubkey": "k", "name": "", "address": "0x1234567890abcdef1234" }, label: "0x1234...ef1234" },
                { tag: "key", m: { "pubkey": "pk0123456789abcdef", "name": "" }, label: "pk0123...abcdef" },
            ]
        }

        function test_memberLabels(data) {
            VoiceRoom.speakers = [data.m]
            VoiceRoom.participantsChanged()
            var p = openRoom()
            var repeater = findChild(p.contentItem, "speakerRepeater")
            tryVerify(function () { return repeater.count === 1 })
            compare(findChild(repeater.itemAt(0), "memberName").text, data.label)
        }

        function test_selfMuteBadgeAndOwnerMark() {
            VoiceRoom.speakers = [host.member("owner", "O", { "speaking": true })]
            VoiceRoom.listeners = [host.member("me", "Me", { "self": true, "muted": true })]
            VoiceRoom.participantsChanged()
            var p = openRoom()
            var s = findChild(p.contentItem, "speakerRepeater").itemAt(0)
            var l = findChild(p.contentItem, "listenerRepeater").itemAt(0)
            verify(findChild(s, "ownerMark").visible)
            verify(findChild(s, "speakingRing").visible)
            verify(!findChild(s, "muteBadge").visible)
            verify(findChild(l, "muteBadge").visible)
            verify(!findChild(l, "ownerMark").visible)
        }
    }
}
