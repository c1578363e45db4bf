import QtQml

// Stands in for the "VoiceRoom" context property (super-group voice rooms).
MockController {
    property bool roomOpen: false
    property bool activeForVisible: false
    property bool canOpen: false
    property bool busy: false
    property string connectionText: ""
    property string lastError: ""
    property string visibleServerUrl: ""
    property string groupTitle: ""
    property var participants: []

    signal stateChanged()

    function showGroup(serverUrl, title, premiumPlus) { record("showGroup", arguments) }
    function refreshStatus() { record("refreshStatus", arguments) }
    function openRoom() { record("openRoom", arguments) }
    function joinRoom() { record("joinRoom", arguments) }
    function leaveRoom() { record("leaveRoom", arguments) }
    function closeRoom() { record("closeRoom", arguments) }
    function setMicEnabled(on) { record("setMicEnabled", arguments) }
}
