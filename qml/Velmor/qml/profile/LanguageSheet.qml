import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// The interface languages; a tap makes one current (and stored) at once.
Popup {
    id: languageSheet

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: 380
    padding: Theme.space16

    background: Rectangle {
        radius: Theme.radiusSheet
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: Theme.space8

        Text {
            objectName: "languageTitle"
            Layout.bottomMargin: Theme.space8
            text: I18n.tr("profile.language")
            color: Theme.textPrimary
            font.pixelSize: Theme.fontTitle3
            font.weight: Font.DemiBold
        }

        Repeater {
            model: I18n.locales
            Rectangle {
                objectName: "langRow_" + modelData
                readonly property bool current: modelData === I18n.locale
                Layout.fillWidth: true
                Layout.preferredHeight: Theme.controlHeight
                radius: Theme.radiusMedium
                color: current ? Theme.buttonBg : "transparent"
                Text {
                    anchors.left: parent.left
                    anchors.leftMargin: Theme.space12
                    anchors.verticalCenter: parent.verticalCenter
                    text: I18n.localeNames[modelData] || ""
                    color: Theme.textPrimary
                    font.pixelSize: Theme.fontBody
                }
                Text {
                    objectName: "langMark_" + modelData
                    anchors.right: parent.right
                    anchors.rightMargin: Theme.space12
                    anchors.verticalCenter: parent.verticalCenter
                    visible: parent.current
                    text: "✓"
                    color: Theme.brandBlue
                    font.bold: true
                }
                TapHandler {
                    onTapped: {
                        I18n.setLocale(modelData)
                        languageSheet.close()
                    }
                }
            }
        }
    }
}
