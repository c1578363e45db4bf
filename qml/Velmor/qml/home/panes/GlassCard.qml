import QtQuick

// A card of the settings popups.
Rectangle {
    radius: 16
    color: "#14ffffff"
    border.width: 1
    border.color: "#26ffffff"
}
