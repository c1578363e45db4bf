import QtQuick
import QtQuick.Layouts
import Velmor

// The three kinds of group the new-group page creates, as equal segments.
RowLayout {
    id: selector

    property string groupType: "normal"

    signal picked(string key)

    spacing: 8

    Repeater {
        model: [
            { "key": "normal", "label": I18n.tr("group.normal"), "color": "white" },
            { "key": "standard", "label": "Super Group ★", "color": "#ffd479" },
            { "key": "premium", "label": "Premium ★", "color": "#ff8d99" }
        ]
        delegate: Rectangle {
            required property var modelData
            readonly property bool active: selector.groupType === modelData.key
            objectName: "mode_" + modelData.key
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            Layout.preferredHeight: 36
            radius: 12
            border.width: 1
            border.color: active ? "#66ffffff" : "#26ffffff"
            color: active ? "#2effffff" : (segMa.containsMouse ? "#1effffff" : "#14ffffff")
            Text {
                anchors.centerIn: parent
                text: modelData.label
                color: modelData.color
                font.pixelSize: 12
                font.weight: Font.DemiBold
            }
            MouseArea {
                id: segMa
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: selector.picked(modelData.key)
            }
        }
    }
}
