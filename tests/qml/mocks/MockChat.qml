import QtQml

// Stands in for the "Chat" context property (the chat controller).
MockController {
    property var conversations: []
    property var messages: []
    property var contacts: []
    property var notifications: []      // notificationsChanged doubles as the count's signal
    property int notificationCount: 0
    property var friendInfo: ({})
    property var discoveryResult: ({})
    property bool discoveryBusy: false
    property var lastError: ({})

    property string currentPeer: ""
    property string currentTitle: ""
    property string currentAddress: ""
    property string currentGroupKind: ""
    property string currentAvatarId: ""
    property string currentAvatarKind: ""
    property bool currentVerified: false
    property bool currentOfficial: false
    property string currentGroupSubtitle: ""
    property bool currentCanSend: true

    signal currentChanged()
    signal discoveryChanged()
    signal operationFailed(var error)
    signal superGroupInfoLoaded(var info)
    signal superGroupEvent(var event)
    signal openNotificationsRequested()
    signal lifecycleRestored()

    function start() { record("start", arguments) }
    function stop() { record("stop", arguments) }
    function openConversation(peer) { record("openConversation", arguments) }
    function deleteConversation(peer) { record("deleteConversation", arguments) }
    function reloadMessages() { record("reloadMessages", arguments) }
    function reloadNotifications() { record("reloadNotifications", arguments) }
    function reloadContacts() { record("reloadContacts", arguments) }
    function clearDiscovery() { record("clearDiscovery", arguments) }
    function loadCurrentFriendInfo() { record("loadCurrentFriendInfo", arguments) }
    function loadSuperGroupInfo() { record("loadSuperGroupInfo", arguments) }
    function syncSuperGroupProfiles() { record("syncSuperGroupProfiles", arguments) }
    function sendText(text) { record("sendText", arguments) }
    function sendImageFromFile(url) { record("sendImageFromFile", arguments) }
    function sendVoice(path, durationMs) { record("sendVoice", arguments) }
    function sendEmoji(codes) { record("sendEmoji", arguments) }
    function resolveQrImage(url) { record("resolveQrImage", arguments) }
    function retryMessage(id) { record("retryMessage", arguments) }
    function currentGroupInfo() { record("currentGroupInfo", arguments); return result("currentGroupInfo", ({ "isGroup": false })) }
    function activateSystemNotification(peer) { record("activateSystemNotification", arguments) }
}
