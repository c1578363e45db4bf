import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The new-chat page: its states follow the controller's discovery state.
Item {
    id: host
    width: 900
    height: 600

    Component { id: paneComponent; NewChatPane { width: 900; height: 600 } }
    Component { id: spyComponent; SignalSpy {} }

    TestCase {
        name: "NewChatPane"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset()
            Chat.discoveryBusy = false
            Chat.discoveryResult = ({})
        }

        function makePane() {
            var pane = createTemporaryObject(paneComponent, host)
            verify(pane)
            return pane
        }
        function discovery(busy, result) {
            Chat.discoveryBusy = busy
            Chat.discoveryResult = result
            Chat.discoveryChanged()
        }
        function shown(pane, name) { return findChild(pane, name).visible }

        function test_states_data() {
            var user = { "ok": true, "kind": "user", "address": "0x1234567890abcdef1234567890abcdef12345678" }
            var group = { "ok": true, "kind": "normal_group", "groupName": "Hikers", "memberCount": 3 }
            return [
                { tag: "input", busy: false, result: {}, strip: false, card: false, error: false, find: true, scan: true },
                { tag: "resolving", busy: true, result: {}, strip: true, card: false, error: false, find: false, scan: false },
                { tag: "found", busy: false, result: user, strip: false, card: true, error: false, find: true, scan: true, action: true },
                { tag: "not found", busy: false, result: { "ok": false, "error": "address_not_found" }, strip: false, card: false, error: true, find: true, scan: true },
                { tag: "joining", busy: true, result: group, strip: true, card: true, error: false, find: false, scan: false, action: false },
                { tag: "ok not boolean", busy: false, result: { "ok": "true", "kind": "user", "error": "x" }, strip: false, card: false, error: true, find: true, scan: true }
            ]
        }

        function test_states(data) {
            var pane = makePane()
            pane.discoveryField.text = "0xabc"
            discovery(data.busy, data.result)
            compare(shown(pane, "busyStrip"), data.strip)
            compare(shown(pane, "resultCard"), data.card)
            compare(shown(pane, "errorLine"), data.error)
            compare(findChild(pane, "findButton").enabled, data.find)
            compare(findChild(pane, "scanButton").enabled, data.scan)
            compare(findChild(pane, "pasteButton").enabled, true)
            if (data.action !== undefined)
                compare(findChild(pane, "resultAction").enabled, data.action)
        }

        // The mock's own change signals are not the controller's: only
        // discoveryChanged moves the page.
        function test_followsOnlyTheSharedSignal() {
            var pane = makePane()
            Chat.discoveryBusy = true
            verify(!shown(pane, "busyStrip"))
            Chat.discoveryChanged()
            verify(shown(pane, "busyStrip"))
        }

        function test_errorWordInFullWidthParentheses_data() {
            return [ { tag: "address", word: "address_not_found" }, { tag: "qr", word: "qr_code_not_found" },
                     { tag: "private", word: "group_private" } ]
        }
        function test_errorWordInFullWidthParentheses(data) {
            var pane = makePane()
            discovery(false, { "ok": false, "error": data.word })
            compare(findChild(pane, "errorLine").text, "未找到可用的地址或群组链接（" + data.word + "）")
        }

        function test_cardTexts_data() {
            var addr = "0x1234567890abcdef1234567890abcdef12345678"
            return [
                { tag: "new user", r: { "kind": "user", "address": addr }, title: "0x1234...345678", detail: "地址和钱包公钥已通过本地校验", action: "聊天" },
                { tag: "contact", r: { "kind": "user", "address": addr, "existingContact": true }, title: "0x1234...345678", detail: "已是联系人", action: "聊天" },
                { tag: "normal group", r: { "kind": "normal_group", "groupName": "Hikers", "memberCount": 5, "visibility": "private" }, title: "Hikers", detail: "5 位成员  ·  private", action: "申请加入" },
                { tag: "normal group defaults", r: { "kind": "normal_group" }, title: "Pelorin Group", detail: "0 位成员  ·  public", action: "申请加入" },
                { tag: "super group defaults", r: { "kind": "super_group", "memberCount": 40 }, title: "Pelorin Group", detail: "40 位成员  ·  invite", action: "申请加入" },
                { tag: "super group open", r: { "kind": "super_group", "groupName": "Open", "joinMode": "open" }, title: "Open", detail: "0 位成员  ·  open", action: "申请加入" }
            ]
        }
        function test_cardTexts(data) {
            var pane = makePane()
            var r = data.r
            r.ok = true
            discovery(false, r)
            compare(findChild(pane, "resultTitle").text, data.title)
            compare(findChild(pane, "resultDetail").text, data.detail)
            compare(findChild(pane, "resultAction").label, data.action)
        }

        function test_knownContactOpensChatDirectly() {
            var pane = makePane()
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            Chat.returns = { "saveContactAndStartChat": true }
            discovery(false, { "ok": true, "kind": "user", "address": "0xab", "existingContact": true })
            mouseClick(findChild(pane, "resultAction"))
            compare(Chat.lastArgs("saveContactAndStartChat"), [""])
            verify(!pane.contactSheet.opened)
            compare(closed.count, 1)
            compare(Chat.callCount("clearDiscovery"), 1)
        }

        function test_newContactGoesThroughTheSheet() {
            var pane = makePane()
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            discovery(false, { "ok": true, "kind": "user", "address": "0xfeed" })
            pane.contactSheet.remarkField.text = "old"
            mouseClick(findChild(pane, "resultAction"))
            tryCompare(pane.contactSheet, "opened", true)
            compare(pane.contactSheet.remarkField.text, "")
            compare(Chat.callCount("saveContactAndStartChat"), 0)
            // Refused: the sheet stays with its text.
            pane.contactSheet.remarkField.text = "Bob"
            mouseClick(findChild(pane.contactSheet.contentItem, "startChatButton"))
            compare(Chat.lastArgs("saveContactAndStartChat"), ["Bob"])
            verify(pane.contactSheet.visible)
            compare(closed.count, 0)
            // Accepted by Enter.
            Chat.returns = { "saveContactAndStartChat": true }
            pane.contactSheet.remarkField.forceActiveFocus()
            keyClick(Qt.Key_Return)
            tryCompare(pane.contactSheet, "visible", false)
            compare(closed.count, 1)
        }

        function test_groupJoinAndStatus_data() {
            return [
                { tag: "pending", ok: true, status: "pending", shown: "申请已发送，等待群主或管理员审核", color: "#b3ffffff" },
                { tag: "joined", ok: true, status: "joined", shown: "已成功加入群组", color: "#a8ffc9" },
                { tag: "already", ok: true, status: "already_member", shown: "你已经是该群成员", color: "#a8ffc9" },
                { tag: "resolve completion", ok: true, status: "user", shown: "" },
                { tag: "failure", ok: false, status: "join_failed", shown: "" }
            ]
        }
        function test_groupJoinAndStatus(data) {
            var pane = makePane()
            discovery(false, { "ok": true, "kind": "super_group" })
            mouseClick(findChild(pane, "resultAction"))
            compare(Chat.lastArgs("joinDiscoveredGroup"), [""])
            Chat.discoveryCompleted(data.ok, data.status)
            var line = findChild(pane, "statusLine")
            compare(line.visible, data.shown !== "")
            if (data.shown !== "") {
                compare(line.text, data.shown)
                compare(String(line.color), data.color)
            }
            // open() clears it; further resolves do not.
            pane.open()
            compare(pane.operationStatus, "")
        }

        // A pending request that is approved meanwhile: the group arrives in
        // the list and the page stops saying it waits.
        function test_pendingRequestApproved_data() {
            return [
                { tag: "super group", result: { "ok": true, "kind": "super_group", "serverUrl": "https://a" },
                  arriving: "sg:https://a", shown: "已成功加入群组" },
                { tag: "normal group", result: { "ok": true, "kind": "normal_group", "groupId": "g7" },
                  arriving: "group:g7", shown: "已成功加入群组" },
                { tag: "another group arrives", result: { "ok": true, "kind": "super_group", "serverUrl": "https://a" },
                  arriving: "sg:https://b", shown: "申请已发送，等待群主或管理员审核" },
                // Removed from the group, whose chat stays in the list.
                { tag: "group listed already", result: { "ok": true, "kind": "normal_group", "groupId": "old" },
                  arriving: "group:old", shown: "申请已发送，等待群主或管理员审核" },
            ]
        }
        function test_pendingRequestApproved(data) {
            var pane = makePane()
            Chat.conversations = [{ "peer": "group:old" }]
            discovery(false, data.result)
            mouseClick(findChild(pane, "resultAction"))
            Chat.discoveryCompleted(true, "pending")
            var line = findChild(pane, "statusLine")
            compare(line.text, "申请已发送，等待群主或管理员审核")
            Chat.conversations = [{ "peer": data.arriving }, { "peer": "group:old" }]
            Chat.conversationsChanged()
            compare(line.text, data.shown)
        }

        function test_inputRow() {
            var pane = makePane()
            var scan = createTemporaryObject(spyComponent, host, { target: pane, signalName: "scanRequested" })
            var field = pane.discoveryField
            // Blank text: the find button stays disabled, Enter still asks.
            field.text = "   "
            verify(!findChild(pane, "findButton").enabled)
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            compare(Chat.lastArgs("resolveDiscoveryInput"), ["   "])
            field.text = " 0xab "
            mouseClick(findChild(pane, "findButton"))
            compare(Chat.lastArgs("resolveDiscoveryInput"), [" 0xab "])
            App.returns = { "clipboardText": "pelorin:group:k" }
            discovery(true, {})
            mouseClick(findChild(pane, "pasteButton"))
            compare(field.text, "pelorin:group:k")
            compare(Chat.lastArgs("resolveDiscoveryInput"), ["pelorin:group:k"])
            discovery(false, {})
            mouseClick(findChild(pane, "scanButton"))
            compare(scan.count, 1)
        }
    }
}
