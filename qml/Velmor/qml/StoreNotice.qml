import QtQuick
import Velmor

// A bar over the top of the window while the local message store cannot do
// its work (held by another program, the disk full, the file damaged or
// refused), after a damaged file was kept aside (with the messages read back
// from it), after a saved key that was not the phrase's, or was damaged,
// was kept aside, after sends kept only in the send journal were saved at
// sign-in, and after damaged records of the send journal were passed over.
Rectangle {
    id: root

    // "", "busy", "diskFull", "damaged", "foreign" (the folder or file
    // named by `foreign` is a link or another user's) or "newer" (the file
    // named by `foreign` was written by a newer build)
    property string problem: App.storeProblem
    property string setAside: App.storeSetAside
    property int salvaged: App.storeSalvaged
    property string foreign: App.storeForeign
    property string keptKey: App.identityKeptAside
    property bool keptKeyDamaged: App.identityKeptAsideDamaged
    // Sends an earlier run could keep only in its send journal, written at
    // this sign-in and being posted.
    property int restored: 0
    // Sends of the send journal lost to damaged records, passed over to
    // read the later ones.
    property int lost: 0

    Connections {
        target: Chat
        function onSendsRestored(count) { root.restored += count }
        function onJournaledSendsLost(count) { root.lost += count }
    }

    function text(key, args) {
        return I18n.tr("store." + key, args)
    }
    // The count in the language's own form: one message, several, or none
    // (said too, so a kept file that gave nothing back is not left unsaid).
    function savedText(count) {
        return count <= 0 ? text("savedNone") : text("saved", { "count": count })
    }

    readonly property string message: problem === "foreign" || problem === "newer" ? text(problem, { "file": foreign })
                                      : problem !== "" ? text(problem)
                                      : setAside !== "" ? text("setAside", { "file": setAside.split("/").pop() })
                                                          + " " + savedText(salvaged)
                                      : keptKey !== "" ? text(keptKeyDamaged ? "damagedKey" : "keptKey", { "file": keptKey })
                                      : lost > 0 ? text("lost", { "count": lost })
                                                   + (restored > 0 ? " " + text("restored", { "count": restored }) : "")
                                      : restored > 0 ? text("restored", { "count": restored })
                                      : ""

    objectName: "storeNotice"
    visible: message !== ""
    implicitWidth: 480
    z: 12000
    height: row.implicitHeight + Theme.space8 * 2
    radius: Theme.radiusSmall
    color: problem === "busy" ? Theme.warning : problem === "" && setAside === "" && keptKey === "" ? Theme.accent : Theme.danger

    // A press on the bar is the bar's: it never reaches what lies under it.
    MouseArea {
        objectName: "storeNoticeCatch"
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
    }

    Row {
        id: row
        anchors.verticalCenter: parent.verticalCenter
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: Theme.space12
        anchors.rightMargin: Theme.space8
        spacing: Theme.space12

        Text {
            objectName: "storeNoticeText"
            width: row.width - action.width - row.spacing
            anchors.verticalCenter: parent.verticalCenter
            text: root.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "white"
            font.pixelSize: Theme.fontFootnote
        }

        Rectangle {
            id: action
            objectName: "storeNoticeAction"
            readonly property string label: root.problem !== "" ? root.text("retry") : root.text("dismiss")
            anchors.verticalCenter: parent.verticalCenter
            width: actionLabel.implicitWidth + Theme.space16
            height: actionLabel.implicitHeight + Theme.space8
            radius: height / 2
            color: mouse.containsMouse ? "#33ffffff" : "#22ffffff"
            Accessible.role: Accessible.Button
            Accessible.name: label

            Text {
                id: actionLabel
                anchors.centerIn: parent
                text: action.label
                textFormat: Text.PlainText
                color: "white"
                font.pixelSize: Theme.fontFootnote
                font.bold: true
            }

            MouseArea {
                id: mouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    if (root.problem !== "") {
                        App.retryStore()
                        return
                    }
                    root.restored = 0
                    root.lost = 0
                    App.dismissStoreNotice()
                }
            }
        }
    }
}
