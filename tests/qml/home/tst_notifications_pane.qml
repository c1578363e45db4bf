import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The notifications page: one row per pending join request.
Item {
    id: host
    width: 900
    height: 600

    Component { id: paneComponent; NotificationsPane { width: 900; height: 600 } }
    Component { id: spyComponent; SignalSpy {} }

    function request(i, extra) {
        var r = { "stableId": "ev" + i, "kind": "normal", "target": "g" + i, "requesterPublicKey": "pk" + i,
                  "address": "0x" + i, "display": "User " + i, "groupName": "Group " + i,
                  "note": "", "busy": false, "createdAt": 0, "avatarId": "" }
        for (var k in extra)
            r[k] = extra[k]
        return r
    }

    TestCase {
        name: "NotificationsPane"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
            Chat.notifications = []
        }

        function makePane(list) {
            Chat.notifications = list
            var pane = createTemporaryObject(paneComponent, host)
            verify(pane)
            return pane
        }
        function rows(pane) {
            var list = findChild(pane, "requestList")
            var out = []
            for (var i = 0; i < list.count; ++i) {
                list.currentIndex = i
                out.push(list.itemAtIndex(i))
            }
            return out
        }

        function test_emptyList() {
            var pane = makePane([])
            verify(findChild(pane, "emptyRequests").visible)
            Chat.notifications = [host.request(1, {})]
            Chat.notificationsChanged()
            verify(!findChild(pane, "emptyRequests").visible)
            compare(rows(pane).length, 1)
        }

        function test_rowTexts_data() {
            return [
                { tag: "display", r: { "display": "Alice" }, title: "Alice 申请加入", sub: "Group 1", kind: "普通群" },
                { tag: "long display", r: { "display": "abcdefghijklmnopqrst" }, title: "abcdef...opqrst 申请加入", sub: "Group 1", kind: "普通群" },
                { tag: "address", r: { "display": "", "address": "0x1234567890abcdef1234" }, title: "0x1234...ef1234 申请加入", sub: "Group 1", kind: "普通群" },
                { tag: "nothing", r: { "display": "", "address": "" }, title: "未知地址 申请加入", sub: "Group 1", kind: "普通群" },
                { tag: "note", r: { "note": "hi there", "kind": "super" }, title: "User 1 申请加入", sub: "Group 1 · hi there", kind: "P/P+" },
                { tag: "no group name", r: { "groupName": "", "kind": "other" }, title: "User 1 申请加入", sub: "群组", kind: "普通群" }
            ]
        }
        function test_rowTexts(data) {
            var pane = makePane([host.request(1, data.r)])
            var row = rows(pane)[0]
            compare(findChild(row, "requestTitle").text, data.title)
            compare(findChild(row, "requestSubtitle").text, data.sub)
            compare(findChild(row, "requestKind").text, data.kind)
        }

        // Each row calls with its own arguments and disables only itself.
        function test_decisionsPerRow_data() {
            return [ { tag: "reject", button: "rejectButton", action: "reject" },
                     { tag: "block", button: "blockButton", action: "block" },
                     { tag: "approve", button: "approveButton", action: "approve" } ]
        }
        function test_decisionsPerRow(data) {
            var pane = makePane([host.request(1, {}), host.request(2, { "kind": "super", "target": "https://s" })])
            var r = rows(pane)
            mouseClick(findChild(r[1], data.button))
            compare(Chat.lastArgs("resolveJoinNotification"), ["super", "https://s", "pk2", data.action])
            // The controller republishes the list with that request busy.
            Chat.notifications = [host.request(1, {}), host.request(2, { "kind": "super", "target": "https://s", "busy": true })]
            Chat.notificationsChanged()
            r = rows(pane)
            verify(!findChild(r[1], "approveButton").enabled)
            verify(!findChild(r[1], "rejectButton").enabled)
            verify(!findChild(r[1], "blockButton").enabled)
            verify(findChild(r[1], "requestBusy").visible)
            verify(findChild(r[0], "approveButton").enabled)
            verify(!findChild(r[0], "requestBusy").visible)
            mouseClick(findChild(r[0], data.button))
            compare(Chat.lastArgs("resolveJoinNotification"), ["normal", "g1", "pk1", data.action])
        }

        function test_busyFromControllerAndBack() {
            var pane = makePane([host.request(1, { "busy": true }), host.request(2, {})])
            var r = rows(pane)
            verify(!findChild(r[0], "approveButton").enabled)
            verify(findChild(r[1], "approveButton").enabled)
            // A failed decision: the row comes back usable.
            Chat.notifications = [host.request(1, {}), host.request(2, {})]
            Chat.notificationsChanged()
            r = rows(pane)
            verify(findChild(r[0], "approveButton").enabled)
        }

        // A new request at the top and another one turning busy: the rows
        // the user looks at stay where they are, the same rows.
        function test_republishKeepsRowsAndPlace() {
            var before = []
            for (var i = 0; i < 20; ++i)
                before.push(host.request(i, {}))
            var pane = makePane(before)
            var list = findChild(pane, "requestList")
            list.positionViewAtIndex(15, ListView.Beginning)
            var row = list.itemAtIndex(15)
            var screenY = row.y - list.contentY
            var after = [host.request(99, {})].concat(JSON.parse(JSON.stringify(before)))
            after[16].busy = true
            Chat.notifications = after
            Chat.notificationsChanged()
            list.forceLayout()
            compare(list.count, 21)
            verify(list.itemAtIndex(16) === row)
            compare(row.y - list.contentY, screenY)
            verify(!findChild(row, "approveButton").enabled)
        }

        // A decision that changed nothing is told.
        function test_failedDecisionIsTold_data() {
            return [
                { tag: "decided elsewhere", detail: "join_request_gone", text: "该申请已被其他管理员处理" },
                { tag: "server refused", detail: "join_resolution_failed", text: "操作失败，请稍后重试" }
            ]
        }
        function test_failedDecisionIsTold(data) {
            var pane = makePane([host.request(1, { "kind": "super", "target": "https://s" })])
            var toast = findChild(pane, "decisionToast")
            verify(!toast.visible)
            Chat.operationFailed({ "code": "unknown", "detail": data.detail })
            tryCompare(toast, "visible", true)
            compare(findChild(toast, "toastLabel").text, data.text)
        }

        function test_openReloads() {
            var pane = makePane([])
            var opened = createTemporaryObject(spyComponent, host, { target: pane, signalName: "openRequested" })
            pane.open()
            compare(Chat.callCount("reloadNotifications"), 1)
            compare(opened.count, 1)
        }
    }
}
