import QtQml

// Stands in for the "VoiceRoom" context property (super-group voice rooms).
// As on the real controller, every flag and text is announced by the one
// signal stateChanged, speakers and listeners by participantsChanged, the
// device lists by devicesChanged: a test sets the properties, then emits.
MockController {
    property bool supported: true
    property bool busy: false
    property bool roomOpen: false
    property bool active: false
    property bool activeForVisible: false
    property bool connected: false
    property bool canOpen: false
    property bool canPublish: false
    property bool micEnabled: false
    property bool amOpener: false
    property bool isOwner: false
    property string connectionText: ""
    property string visibleServerUrl: ""
    property string groupTitle: ""
    property string roomGroupTitle: ""
    property string ownerPubkey: ""
    property string lastError: ""
    // Participant maps: pubkey, name, address, avatarKind, avatarId, role,
    // self, speaker, speaking, muted.
    property var speakers: []
    property var listeners: []
    // Device maps: id, name.
    property var inputDevices: []
    property var outputDevices: []

    signal stateChanged()
    signal participantsChanged()
    signal devicesChanged()
    signal roomClosedRemotely()

    function showGroup(serverUrl, title, premiumPlus) { record("showGroup", arguments) }
    function refreshStatus() { record("refreshStatus", arguments) }
    function setRoomOpenExternally(serverUrl, open) { record("setRoomOpenExternally", arguments) }
    function openRoom() { record("openRoom", arguments) }
    function joinRoom() { record("joinRoom", arguments) }
    function setMicEnabled(enabled) { record("setMicEnabled", arguments) }
    function leaveRoom() { record("leaveRoom", arguments) }
    function dissolveRoom() { record("dissolveRoom", arguments) }
    function grantSpeaker(pubkey) { record("grantSpeaker", arguments) }
    function revokeSpeaker(pubkey) { record("revokeSpeaker", arguments) }
    function selectInputDevice(id) { record("selectInputDevice", arguments) }
    function selectOutputDevice(id) { record("selectOutputDevice", arguments) }
    function handleSuperGroupEvent(serverUrl, type, data) { record("handleSuperGroupEvent", arguments) }
}
