import QtQuick
import QtQuick.Layouts
import Velmor

// The avatar picker: three sets of still pictures behind a segmented
// control. The set shown is kept between openings.
SheetPopup {
    id: avatarSheet

    property var boys: []
    property var girls: []
    property var animals: []
    property int cat: 0
    readonly property var cats: [I18n.tr("avatar.boys"), I18n.tr("avatar.girls"), I18n.tr("avatar.animals")]
    property string currentAvatar: ""

    signal avatarPicked(string avatarId)

    function items() {
        return cat === 0 ? boys : cat === 1 ? girls : animals
    }

    width: 480
    height: parent ? Math.min(600, parent.height - 80) : 600

    contentItem: ColumnLayout {
        spacing: 0

        SheetHeader {
            title: I18n.tr("profile.chooseAvatar")
            onCloseClicked: avatarSheet.close()
        }

        Rectangle {
            objectName: "avatarTabs"
            Layout.fillWidth: true
            Layout.margins: 12
            Layout.preferredHeight: 34
            radius: 10
            color: Theme.buttonBg
            RowLayout {
                anchors.fill: parent
                anchors.margins: 3
                spacing: 3
                Repeater {
                    model: avatarSheet.cats
                    Rectangle {
                        objectName: "avatarTab" + index
                        readonly property bool selected: index === avatarSheet.cat
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.preferredWidth: 1
                        radius: 8
                        color: selected ? Theme.windowBg : "transparent"
                        border.width: selected ? 1 : 0
                        border.color: Theme.border
                        Text {
                            anchors.centerIn: parent
                            text: modelData
                            font.pixelSize: 13
                            font.weight: parent.selected ? Font.DemiBold : Font.Normal
                            color: parent.selected ? Theme.textPrimary : Theme.textMuted
                        }
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: avatarSheet.cat = index
                        }
                    }
                }
            }
        }

        GridView {
            id: avGrid
            objectName: "avGrid"
            readonly property int cell: 78
            // Exactly as wide as its whole columns, so no strip is left over.
            readonly property int cols: Math.max(1, Math.floor((avatarSheet.width - 24) / cell))
            Layout.preferredWidth: cols * cell
            Layout.alignment: Qt.AlignHCenter
            Layout.fillHeight: true
            Layout.topMargin: 4
            Layout.bottomMargin: 12
            clip: true
            cellWidth: cell
            cellHeight: cell
            boundsBehavior: Flickable.StopAtBounds
            model: avatarSheet.items()
            delegate: Item {
                width: avGrid.cell
                height: avGrid.cell
                Rectangle {
                    objectName: "avatarCell_" + modelData
                    anchors.centerIn: parent
                    width: 64
                    height: 64
                    radius: 32
                    color: Theme.avatarBg
                    clip: true
                    border.width: modelData === avatarSheet.currentAvatar ? 3 : 0
                    border.color: Theme.brandBlue
                    AvatarView {
                        anchors.fill: parent
                        anchors.margins: 2
                        avatarId: modelData
                    }
                    MouseArea {
                        anchors.fill: parent
                        cursorShape: Qt.PointingHandCursor
                        onClicked: avatarSheet.avatarPicked(modelData)
                    }
                }
            }
        }
    }
}
