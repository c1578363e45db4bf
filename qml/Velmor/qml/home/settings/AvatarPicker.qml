import QtQuick
import QtQuick.Layouts
import QtQuick.Controls.Basic
import Velmor
import ".."

// Avatar choice: three sets behind a segmented control, one grid.
ColumnLayout {
    id: picker

    property var boys: []
    property var girls: []
    property var animals: []
    property int category: 0
    property string currentAvatar: ""

    signal categoryPicked(int index)
    signal avatarPicked(string avatarId)

    spacing: 12

    Rectangle {
        objectName: "avatarTabs"
        Layout.preferredWidth: 300
        Layout.preferredHeight: 36
        radius: 10
        color: "#14ffffff"
        RowLayout {
            anchors.fill: parent
            anchors.margins: 3
            spacing: 3
            Repeater {
                model: [I18n.tr("avatar.boys"), I18n.tr("avatar.girls"), I18n.tr("avatar.animals")]
                Rectangle {
                    objectName: "avatarTab" + index
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    radius: 8
                    readonly property bool selected: index === picker.category
                    color: selected ? "#33ffffff" : "transparent"
                    Text {
                        anchors.centerIn: parent
                        text: modelData
                        font.pixelSize: 13
                        font.weight: parent.selected ? Font.DemiBold : Font.Normal
                        color: parent.selected ? "white" : "#b3ffffff"
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: picker.categoryPicked(index)
                    }
                }
            }
        }
    }

    GridView {
        id: grid
        objectName: "setAvGrid"
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        cellWidth: 86
        cellHeight: 86
        model: picker.category === 0 ? picker.boys : picker.category === 1 ? picker.girls : picker.animals
        ScrollBar.vertical: TgScrollBar {}
        delegate: Item {
            width: 86
            height: 86
            Rectangle {
                objectName: "avatarCell_" + modelData
                readonly property bool current: modelData === picker.currentAvatar
                anchors.centerIn: parent
                width: 70
                height: 70
                radius: 35
                color: "#21ffffff"
                border.width: current ? 3 : 0
                border.color: "white"
                CircleAvatar {
                    anchors.fill: parent
                    anchors.margins: 3
                    avatarId: modelData
                    animate: false
                }
                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: picker.avatarPicked(modelData)
                }
            }
        }
    }
}
