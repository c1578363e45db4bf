import QtQuick

// The signed-in user's home view: the main window shows it while App.loggedIn
// is true and creates it afresh at every sign-in. For now it only starts the
// chat session; the sidebar, chat pane and pages grow here.
Item {
    id: home

    Component.onCompleted: Chat.start()
}
