import QtQuick

// The private-key field of the login card: a text input with a placeholder
// on a rounded translucent ground, drawn as the card's other fields are.
// Made of Qt Quick items alone, so the card's first frame waits for no
// controls module; the fields shown later (the phrase cells) use it.
TextInput {
    id: field

    property string placeholderText
    property color placeholderTextColor

    leftPadding: 16
    rightPadding: 12
    topPadding: 12
    bottomPadding: 12
    verticalAlignment: TextInput.AlignVCenter
    // A key is a secret: shown masked, and a long one scrolls inside the
    // field instead of running over the card beside it.
    echoMode: TextInput.Password
    clip: true
    selectByMouse: true
    // The controls' Basic style's selection, as the phrase cells have it.
    selectionColor: "#0066ff"
    selectedTextColor: "#090909"
    activeFocusOnTab: true

    Rectangle {
        z: -1
        anchors.fill: parent
        radius: 14
        color: "#14ffffff"
        border.width: 1
        border.color: field.activeFocus ? "#66ffffff" : "#26ffffff"
    }

    Text {
        id: placeholder
        x: field.leftPadding
        y: field.topPadding
        width: field.width - field.leftPadding - field.rightPadding
        height: field.height - field.topPadding - field.bottomPadding
        text: field.placeholderText
        font: field.font
        color: field.placeholderTextColor
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        visible: !field.length && !field.preeditText
    }
}
