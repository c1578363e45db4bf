import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// The frame of the home view's modal dialogs: centred in the overlay, dark,
// white title, the accepting button filled white.
Dialog {
    id: dialog

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: 360
    padding: 20
    topPadding: 10

    background: Rectangle {
        radius: 14
        color: "#f21f2236"
        border.width: 1
        border.color: "#33ffffff"
    }

    header: Label {
        objectName: "dialogTitle"
        text: dialog.title
        color: "white"
        font.pixelSize: 15
        font.bold: true
        padding: 20
        bottomPadding: 0
    }

    footer: DialogButtonBox {
        alignment: Qt.AlignRight
        spacing: 8
        padding: 16
        topPadding: 0
        background: null
        delegate: Button {
            id: choice
            readonly property bool accepting: choice.DialogButtonBox.buttonRole === DialogButtonBox.AcceptRole
                                              || choice.DialogButtonBox.buttonRole === DialogButtonBox.YesRole
            implicitWidth: Math.max(76, contentItem.implicitWidth + 28)
            implicitHeight: 34
            hoverEnabled: true
            background: Rectangle {
                radius: 10
                color: choice.accepting ? (choice.hovered ? "#f2ffffff" : "#ffffff")
                                        : (choice.hovered ? "#33ffffff" : "#21ffffff")
            }
            // The button box names its standard buttons in Qt's English.
            readonly property string label: {
                switch (choice.DialogButtonBox.buttonRole) {
                case DialogButtonBox.AcceptRole: return I18n.tr("common.ok")
                case DialogButtonBox.YesRole: return I18n.tr("common.yes")
                case DialogButtonBox.NoRole: return I18n.tr("common.no")
                case DialogButtonBox.RejectRole: return I18n.tr("common.cancel")
                }
                return choice.text
            }
            Accessible.name: label
            contentItem: Text {
                text: choice.label
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: choice.accepting ? "#5f608b" : "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
    }
}
