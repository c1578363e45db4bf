import QtQuick
import QtQuick.Layouts
import Velmor
import ".."
import "../helpers.js" as Helpers

// What a discovery found: a user or a group, with the next step ("聊天" or
// "申请加入"). Shown only for a result whose `ok` is true.
Rectangle {
    id: card

    // The controller's discovery result map.
    property var result: ({})
    // A discovery job runs: the action waits.
    property bool busy: false

    signal actionClicked()

    readonly property bool isUser: result.kind === "user"
    readonly property string titleText: {
        if (isUser)
            return Helpers.shortAddress(result.address || "")
        return result.groupName ? result.groupName : "Pelorin Group"
    }
    readonly property string detailText: {
        if (isUser)
            return I18n.tr(result.existingContact === true ? "newChat.existingContact" : "newChat.verified")
        var count = result.memberCount ? result.memberCount : 0
        var mode = result.kind === "normal_group" ? (result.visibility || "public")
                                                  : (result.joinMode || "invite")
        return I18n.tr("newChat.groupLine", { "count": count, "mode": mode })
    }

    implicitHeight: 84
    radius: 14
    color: "#14ffffff"

    RowLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 12

        Item {
            Layout.preferredWidth: 48
            Layout.preferredHeight: 48
            PaneAvatar {
                anchors.fill: parent
                visible: card.isUser
                inset: 2
                avatarId: card.result.avatarId || ""
            }
            Rectangle {
                anchors.fill: parent
                visible: !card.isUser
                radius: 24
                color: "#21ffffff"
                TgIcon { anchors.centerIn: parent; name: "group"; size: 20; color: "white" }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            Text {
                objectName: "resultTitle"
                Layout.fillWidth: true
                text: card.titleText
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: "white"
                font.pixelSize: 14
                font.weight: Font.DemiBold
            }
            Text {
                objectName: "resultDetail"
                Layout.fillWidth: true
                text: card.detailText
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: "#b3ffffff"
                font.pixelSize: 11
            }
        }

        PaneBtn {
            objectName: "resultAction"
            primary: true
            enabled: !card.busy
            label: I18n.tr(card.isUser ? "newChat.chat" : "newChat.requestJoin")
            onClicked: card.actionClicked()
        }
    }
}
