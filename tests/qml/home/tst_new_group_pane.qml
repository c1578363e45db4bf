import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The new-group page: a normal group from the contacts, and the super-group
// modes with the group centre's capacity.
Item {
    id: host
    width: 900
    height: 700

    Component { id: paneComponent; NewGroupPane { width: 900; height: 700 } }
    Component { id: spyComponent; SignalSpy {} }
    // The ends of the controller's group jobs (one spy for the file: a spy
    // made per test would stay connected to Chat after it is destroyed).
    SignalSpy { id: finishedSpy; target: Chat; signalName: "groupOperationFinished" }

    function contacts(n) {
        var out = []
        for (var i = 0; i < n; ++i)
            out.push({ "publicKey": "pk" + i, "display": "Friend " + i, "address": "0x" + i, "avatarId": "" })
        return out
    }

    TestCase {
        name: "NewGroupPane"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
            Chat.contacts = []
            finishedSpy.clear()
        }

        function makePane(n) {
            Chat.contacts = host.contacts(n)
            var pane = createTemporaryObject(paneComponent, host)
            verify(pane)
            return pane
        }
        function button(pane) { return findChild(pane, "createGroupButton") }
        function mode(pane, key) { mouseClick(findChild(pane, "mode_" + key)) }
        function sg(pane) { return pane.superGroupCreation }

        function test_noContacts() {
            var pane = makePane(0)
            verify(findChild(pane, "noContacts").visible)
            pane.groupNameField.text = "Team"
            verify(!button(pane).enabled)
            compare(button(pane).label, "创建群组（1/20）")
        }

        function test_pickLimit() {
            var pane = makePane(21)
            for (var i = 0; i < 21; ++i)
                pane.toggleContact("pk" + i)
            compare(pane.selectedKeys.length, 19)
            compare(button(pane).label, "创建群组（20/20）")
            compare(pane.selectedKeys.indexOf("pk19"), -1)
            pane.toggleContact("pk3")
            compare(pane.selectedKeys.length, 18)
            compare(button(pane).label, "创建群组（19/20）")
            compare(pane.selectedKeys[2], "pk2")
            compare(pane.selectedKeys[3], "pk4")
        }

        function test_rowClickToggles() {
            var pane = makePane(3)
            var list = findChild(pane, "contactList")
            mouseClick(list.itemAtIndex(1))
            mouseClick(list.itemAtIndex(0))
            compare(pane.selectedKeys, ["pk1", "pk0"])
            verify(list.itemAtIndex(0).selected)
            mouseClick(list.itemAtIndex(1))
            compare(pane.selectedKeys, ["pk0"])
        }

        // A contact added while the user picks: the rows, the choice and
        // the scroll position stay.
        function test_contactsRepublishedKeepRowsAndPlace() {
            var pane = makePane(30)
            var list = findChild(pane, "contactList")
            list.positionViewAtIndex(20, ListView.Beginning)
            var row = list.itemAtIndex(20)
            mouseClick(row)
            var screenY = row.y - list.contentY
            Chat.contacts = [{ "publicKey": "pkNew", "display": "New", "address": "0xn", "avatarId": "" }]
                            .concat(host.contacts(30))
            Chat.contactsChanged()
            list.forceLayout()
            verify(list.itemAtIndex(21) === row)
            compare(row.y - list.contentY, screenY)
            verify(row.selected)
            compare(pane.selectedKeys, ["pk20"])
        }

        function test_createButtonState_data() {
            return [
                { tag: "name and pick", name: "Team", picks: 1, enabled: true },
                { tag: "blank name", name: "   ", picks: 2, enabled: false },
                { tag: "no pick", name: "Team", picks: 0, enabled: false }
            ]
        }
        function test_createButtonState(data) {
            var pane = makePane(3)
            pane.groupNameField.text = data.name
            for (var i = 0; i < data.picks; ++i)
                pane.toggleContact("pk" + i)
            compare(button(pane).enabled, data.enabled)
        }

        // The creation runs as a job: the pane waits with its button held,
        // closes when the group exists and stays, with its name, choice and
        // the reason, when it does not.
        function test_confirmAndCreate_data() {
            return [
                { tag: "created", result: true, closes: 1, error: "" },
                { tag: "job fails", result: "relay_http_503", closes: 0, error: "创建群组失败（relay_http_503）" },
                { tag: "refused at once", result: false, closes: 0, error: "创建群组失败" }
            ]
        }
        function test_confirmAndCreate(data) {
            var pane = makePane(3)
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            var finished = finishedSpy
            pane.groupNameField.text = "  Hikers "
            pane.toggleContact("pk2")
            pane.toggleContact("pk0")
            mouseClick(button(pane))
            var dialog = pane.createGroupConfirm
            tryCompare(dialog, "opened", true)
            compare(findChild(dialog.contentItem, "confirmText").text, "将创建“Hikers”，共 3 位成员。")
            Chat.returns = { "createGroupFromContacts": data.result }
            dialog.accept()
            compare(Chat.lastArgs("createGroupFromContacts"), ["  Hikers ", ["pk2", "pk0"]])
            compare(closed.count, 0)
            if (data.result !== false) {
                verify(pane.creating)
                verify(!button(pane).enabled)
                compare(button(pane).label, "创建中…")
                pane.createNormal()
                compare(Chat.callCount("createGroupFromContacts"), 1)
                finished.wait()
            }
            verify(!pane.creating)
            compare(closed.count, data.closes)
            compare(findChild(pane, "createError").visible, data.error !== "")
            compare(findChild(pane, "createError").text, data.error)
            compare(pane.selectedKeys.length, 2)
            compare(pane.groupNameField.text, "  Hikers ")
            compare(button(pane).enabled, true)
            compare(button(pane).label, "创建群组（3/20）")
        }

        // Only the end of a creation this visit started counts: another
        // group operation, a creation finished after the pane was reset, or
        // one that ends while the pane is hidden closes nothing.
        function test_creationEndsOnlyItsOwn() {
            var pane = makePane(2)
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            var finished = finishedSpy
            pane.groupNameField.text = "Team"
            pane.toggleContact("pk1")
            pane.createNormal()
            Chat.groupOperationFinished("rename", "g1", false, "not_owner")
            verify(pane.creating)
            compare(findChild(pane, "createError").text, "")
            pane.resetState()
            tryCompare(finished, "count", 2)
            compare(closed.count, 0)
            compare(findChild(pane, "createError").text, "")

            pane.groupNameField.text = "Team"
            pane.toggleContact("pk1")
            pane.createNormal()
            pane.visible = false
            tryCompare(finished, "count", 3)
            compare(closed.count, 0)
            verify(!pane.creating)
        }

        function test_modesKeepInputs() {
            var pane = makePane(2)
            pane.groupNameField.text = "N"
            pane.toggleContact("pk1")
            mode(pane, "standard")
            verify(!findChild(pane, "createGroupButton").visible)
            verify(!findChild(pane, "sizeHint").visible)
            verify(!findChild(pane, "contactList").visible)
            verify(sg(pane).visible)
            sg(pane).sgKeyField.text = "key"
            mode(pane, "normal")
            verify(findChild(pane, "createGroupButton").visible)
            compare(pane.selectedKeys, ["pk1"])
            compare(pane.groupNameField.text, "N")
            compare(sg(pane).sgKeyField.text, "key")
            pane.open()
            compare(pane.selectedKeys, [])
            compare(pane.groupNameField.text, "")
            compare(sg(pane).sgKeyField.text, "")
        }

        // Asked once per visit; again after a failure, and after a reset.
        function test_capacityAskedOnce() {
            var pane = makePane(0)
            mode(pane, "standard")
            mode(pane, "premium")
            compare(Chat.callCount("fetchSgCapacity"), 1)
            compare(findChild(pane, "capacityLine").text, "正在查询容量…")
            Chat.sgCapacityLoaded(false, 0, 0)
            compare(findChild(pane, "capacityLine").text, "网络错误，无法查询容量")
            mode(pane, "premium")
            compare(Chat.callCount("fetchSgCapacity"), 2)
            Chat.sgCapacityLoaded(true, 2, 0)
            mode(pane, "standard")
            mode(pane, "premium")
            mode(pane, "normal")
            mode(pane, "standard")
            compare(Chat.callCount("fetchSgCapacity"), 2)
            pane.resetState()
            mode(pane, "standard")
            compare(Chat.callCount("fetchSgCapacity"), 3)
        }

        function test_capacityLine_data() {
            return [
                { tag: "standard free", mode: "standard", ok: true, s: 2, p: 0, text: "可创建，剩余名额 2", color: "#39c878" },
                { tag: "premium full", mode: "premium", ok: true, s: 2, p: 0, text: "当前类型暂无可用名额", color: "#ff6b6b" },
                { tag: "premium free", mode: "premium", ok: true, s: 0, p: 7, text: "可创建，剩余名额 7", color: "#39c878" },
                { tag: "failed", mode: "standard", ok: false, s: 0, p: 0, text: "网络错误，无法查询容量", color: "#ff6b6b" }
            ]
        }
        function test_capacityLine(data) {
            var pane = makePane(0)
            mode(pane, data.mode)
            compare(String(findChild(pane, "capacityLine").color), "#8cffffff")
            Chat.sgCapacityLoaded(data.ok, data.s, data.p)
            compare(findChild(pane, "capacityLine").text, data.text)
            compare(String(findChild(pane, "capacityLine").color), data.color)
        }

        function test_superGroupCreate_data() {
            return [
                { tag: "standard", mode: "standard", key: "k", name: "N", enabled: true, label: "创建 Super Group" },
                { tag: "premium", mode: "premium", key: " k ", name: " N ", enabled: true, label: "创建 Premium" },
                { tag: "blank key", mode: "standard", key: "  ", name: "N", enabled: false, label: "创建 Super Group" },
                { tag: "blank name", mode: "premium", key: "k", name: "  ", enabled: false, label: "创建 Premium" }
            ]
        }
        function test_superGroupCreate(data) {
            var pane = makePane(0)
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            mode(pane, data.mode)
            Chat.sgCapacityLoaded(true, 3, 3)
            pane.groupNameField.text = data.name
            sg(pane).sgKeyField.text = data.key
            var create = findChild(pane, "sgCreateButton")
            compare(create.enabled, data.enabled)
            compare(create.label, data.label)
            if (!data.enabled)
                return
            mouseClick(create)
            compare(Chat.lastArgs("createSuperGroup"), [data.key, data.name, data.mode])
            compare(create.label, "创建中…")
            verify(!create.enabled)
            Chat.sgCreateCompleted(false, "creation_key_type_mismatch")
            compare(create.label, data.label)
            verify(create.enabled)
            compare(closed.count, 0)
            mouseClick(create)
            Chat.sgCreateCompleted(true, "")
            compare(closed.count, 1)
        }

        // A refused creation says so in the page and leaves the button ready
        // for another try; the next click clears the old message.
        function test_superGroupCreateFailure_data() {
            return [
                { tag: "wrong key type", word: "creation_key_type_mismatch",
                  text: "创建失败（creation_key_type_mismatch）" },
                { tag: "network", word: "network_error", text: "创建失败（network_error）" },
                { tag: "no word", word: "", text: "创建失败（create_failed）" },
            ]
        }
        function test_superGroupCreateFailure(data) {
            var pane = makePane(0)
            mode(pane, "standard")
            Chat.sgCapacityLoaded(true, 2, 2)
            pane.groupNameField.text = "N"
            sg(pane).sgKeyField.text = "bad"
            var create = findChild(pane, "sgCreateButton")
            var line = findChild(pane, "sgCreateError")
            verify(!line.visible)
            mouseClick(create)
            Chat.sgCreateCompleted(false, data.word)
            verify(line.visible)
            compare(line.text, data.text)
            verify(create.enabled)
            mouseClick(create)
            compare(Chat.callCount("createSuperGroup"), 2)
            verify(!line.visible)
            Chat.sgCreateCompleted(false, data.word)
            verify(line.visible)
            // A failure from an earlier visit is not shown on a fresh page.
            mouseClick(create)
            pane.open()
            Chat.sgCreateCompleted(false, data.word)
            verify(!line.visible)
        }

        // A success that arrives after the page was left does not pull the
        // main card back to the chat; nor does one from an earlier visit.
        function test_lateCreationSuccess() {
            var pane = makePane(0)
            var closed = createTemporaryObject(spyComponent, host, { target: pane, signalName: "closeRequested" })
            mode(pane, "standard")
            Chat.sgCapacityLoaded(true, 1, 1)
            pane.groupNameField.text = "N"
            sg(pane).sgKeyField.text = "k"
            mouseClick(findChild(pane, "sgCreateButton"))
            pane.visible = false
            Chat.sgCreateCompleted(true, "")
            compare(closed.count, 0)
            verify(!sg(pane).sgCreating)
            pane.visible = true
            mouseClick(findChild(pane, "sgCreateButton"))
            pane.open()
            Chat.sgCreateCompleted(true, "")
            compare(closed.count, 0)
        }
    }
}
