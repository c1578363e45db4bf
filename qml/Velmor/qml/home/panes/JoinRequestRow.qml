import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."
import "../helpers.js" as Helpers
import Velmor

// One pending join request: who asks, for which group and when, and the
// three decisions. `decided(action)` carries "reject", "block" or "approve";
// the caller passes this row's own kind, target and requester with it.
Rectangle {
    id: row

    property var request: ({})
    // The controller marks the row busy while its decision runs (it
    // republishes the list at once when a decision starts).
    readonly property bool busy: request.busy === true

    signal decided(string action)

    function titleFor(r) {
        var who = r.display ? r.display : (r.address ? r.address : I18n.tr("common.unknownAddress"))
        return I18n.tr("joins.asks", { "who": Helpers.shortAddress(who) })
    }
    function subtitleFor(r) {
        var text = r.groupName ? r.groupName : I18n.tr("joins.group")
        return r.note ? text + " · " + r.note : text
    }
    function decide(action) { decided(action) }

    implicitHeight: 112
    radius: 14
    color: "#14ffffff"

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            PaneAvatar {
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                avatarId: row.request.avatarId || ""
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "requestTitle"
                    Layout.fillWidth: true
                    text: row.titleFor(row.request)
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: "white"
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                }
                Text {
                    objectName: "requestSubtitle"
                    Layout.fillWidth: true
                    text: row.subtitleFor(row.request)
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: "#b3ffffff"
                    font.pixelSize: 11
                }
            }
            Text {
                objectName: "requestTime"
                text: Helpers.formatTime(row.request.createdAt || 0)
                textFormat: Text.PlainText
                color: "#8cffffff"
                font.pixelSize: 10
            }
            Text {
                objectName: "requestKind"
                text: row.request.kind === "super" ? "P/P+" : I18n.tr("group.normal")
                color: "#8cffffff"
                font.pixelSize: 10
            }
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            Item { Layout.fillWidth: true }
            PaneBtn {
                objectName: "rejectButton"
                implicitHeight: 30
                label: I18n.tr("joins.reject")
                enabled: !row.busy
                onClicked: row.decide("reject")
            }
            PaneBtn {
                objectName: "blockButton"
                implicitHeight: 30
                label: I18n.tr("joins.block")
                enabled: !row.busy
                onClicked: row.decide("block")
            }
            PaneBtn {
                objectName: "approveButton"
                implicitHeight: 30
                label: I18n.tr("joins.approve")
                primary: true
                enabled: !row.busy
                onClicked: row.decide("approve")
            }
            BusyIndicator {
                objectName: "requestBusy"
                Layout.preferredWidth: 22
                Layout.preferredHeight: 22
                visible: row.busy
                running: visible
            }
        }
    }
}
