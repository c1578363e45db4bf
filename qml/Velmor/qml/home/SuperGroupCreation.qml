import QtQuick
import QtQuick.Layouts
import "panes"
import Velmor

// The super-group part of the new-group page: free places of the group
// centre's tiers, the creation key and the create button. The name field
// belongs to the page; `groupName` is its text.
ColumnLayout {
    id: section

    // "standard" or "premium" (the page's mode).
    property string groupType: "standard"
    property string groupName: ""

    property bool capLoading: false
    property bool capOk: false
    property int capStandard: 0
    property int capPremium: 0
    property bool sgCreating: false
    // The error word of the last creation this section started that failed;
    // empty while none failed or a new one runs.
    property string createError: ""
    readonly property int sgAvail: groupType === "premium" ? capPremium : capStandard
    readonly property alias sgKeyField: sgKeyField
    // Set while a capacity request or a creation runs.
    readonly property bool busy: capLoading || sgCreating

    readonly property bool canCreate: !sgCreating && capOk && sgAvail > 0
                                      && sgKeyField.text.trim() !== "" && groupName.trim() !== ""

    // The group centre accepted a creation this section started.
    signal created()

    // Clears capacity and creation state and the creation-key field.
    function resetState() {
        sgKeyField.text = ""
        sgCreating = false
        createError = ""
        capLoading = false
        capOk = false
        capStandard = 0
        capPremium = 0
    }
    // Asks the centre for its capacity unless a query runs or one succeeded.
    function ensureCapacity() {
        if (capLoading || capOk)
            return
        capLoading = true
        Chat.fetchSgCapacity()
    }
    function create() {
        createError = ""
        sgCreating = true
        Chat.createSuperGroup(sgKeyField.text, groupName, groupType)
    }

    Connections {
        target: Chat
        function onSgCapacityLoaded(ok, standardAvailable, premiumAvailable) {
            section.capLoading = false
            section.capOk = ok
            section.capStandard = standardAvailable
            section.capPremium = premiumAvailable
        }
        function onSgCreateCompleted(ok, error) {
            // A completion after resetState belongs to an earlier visit.
            var mine = section.sgCreating
            section.sgCreating = false
            if (ok && mine)
                section.created()
            else if (!ok && mine)
                section.createError = error !== "" ? error : "create_failed"
        }
    }

    spacing: 14

    PaneField {
        id: sgKeyField
        objectName: "sgKeyField"
        Layout.fillWidth: true
        Layout.maximumWidth: 620
        placeholderText: I18n.tr("sgCreate.keyPlaceholder")
    }
    Text {
        objectName: "capacityLine"
        Layout.fillWidth: true
        font.pixelSize: 12
        text: section.capLoading ? I18n.tr("sgCreate.checking")
              : !section.capOk ? I18n.tr("sgCreate.networkError")
              : section.sgAvail > 0 ? I18n.tr("sgCreate.available", { "count": section.sgAvail })
              : I18n.tr("sgCreate.none")
        color: section.capLoading ? "#8cffffff"
               : (section.capOk && section.sgAvail > 0) ? "#39c878" : "#ff6b6b"
    }
    // A refused creation would otherwise look as if the click did nothing.
    Text {
        objectName: "sgCreateError"
        Layout.fillWidth: true
        Layout.maximumWidth: 620
        visible: section.createError !== ""
        wrapMode: Text.Wrap
        font.pixelSize: 12
        color: "#ffb0a8"
        text: I18n.tr("sgCreate.failed", { "reason": section.createError })
        // The word may come from the group server.
        textFormat: Text.PlainText
    }
    PaneBtn {
        objectName: "sgCreateButton"
        Layout.fillWidth: true
        Layout.maximumWidth: 620
        Layout.preferredHeight: 42
        primary: true
        enabled: section.canCreate
        label: section.sgCreating ? I18n.tr("common.creating")
                                  : I18n.tr("sgCreate.create", { "type": section.groupType === "premium" ? "Premium" : "Super Group" })
        onClicked: section.create()
    }
}
