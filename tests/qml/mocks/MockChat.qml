import QtQml

// Stands in for the "Chat" context property (the chat controller).
// The real controller announces several properties through one shared signal:
// the current-conversation properties through currentChanged, discoveryBusy
// and discoveryResult through discoveryChanged, notifications and
// notificationCount through notificationsChanged. A test sets the properties,
// then emits the shared signal; views listen to the shared signal only.
MockController {
    // Lists and maps handed to the views.
    property var conversations: []
    property var messages: []
    property var contacts: []
    property var notifications: []      // its change signal is notificationsChanged
    property int notificationCount: 0   // announced by notificationsChanged
    property var friendInfo: ({})
    property var discoveryResult: ({})  // announced by discoveryChanged
    property bool discoveryBusy: false  // announced by discoveryChanged
    property var lastError: ({})
    property bool syncing: false

    // The open conversation, all announced by currentChanged.
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

    signal voiceRoomOpenChanged(string serverUrl, bool open)
    signal currentChanged()
    signal errorOccurred(string msg)
    signal operationFailed(var error)
    signal superGroupInfoLoaded(var info)
    signal superGroupEvent(string serverUrl, string type, var data)
    signal discoveryChanged()
    signal discoveryCompleted(bool ok, string status)
    signal systemNotificationRequested(string peer, string title, string body)
    signal openNotificationsRequested()
    signal lifecycleRestored()
    signal sgCapacityLoaded(bool ok, int standardAvailable, int premiumAvailable)
    signal sgCreateCompleted(bool ok, string error)
    signal superGroupJoinCompleted(string serverUrl, bool ok, string status)
    signal groupOperationFinished(string operation, string groupId, bool ok, string error)

    // Session.
    function start() { record("start", arguments) }
    function stop() { record("stop", arguments) }
    function refresh() { record("refresh", arguments) }
    function resumeAfterNetworkRecovery() { record("resumeAfterNetworkRecovery", arguments) }
    function activateSystemNotification(target) { record("activateSystemNotification", arguments) }

    // Conversations and messages.
    function openConversation(peer) { record("openConversation", arguments) }
    function newChat(peer) { record("newChat", arguments); return result("newChat", false) }
    function deleteConversation(peer) { record("deleteConversation", arguments) }
    function deleteCurrentConversation() { record("deleteCurrentConversation", arguments) }
    function deleteCurrentContact() { record("deleteCurrentContact", arguments) }
    function reloadMessages() { record("reloadMessages", arguments) }
    function sendText(text) { record("sendText", arguments) }
    function sendImageFromFile(url) { record("sendImageFromFile", arguments) }
    function sendVoiceFromFile(path, durationMs) { record("sendVoiceFromFile", arguments) }
    function retryMessage(id) { record("retryMessage", arguments) }

    // Discovery, contacts, friend information, notifications.
    function resolveDiscoveryInput(input) { record("resolveDiscoveryInput", arguments) }
    function resolveQrImage(url) { record("resolveQrImage", arguments) }
    function clearDiscovery() { record("clearDiscovery", arguments) }
    function saveContactAndStartChat(remark) { record("saveContactAndStartChat", arguments); return result("saveContactAndStartChat", false) }
    function joinDiscoveredGroup(note) { record("joinDiscoveredGroup", arguments) }
    function reloadContacts() { record("reloadContacts", arguments) }
    function loadCurrentFriendInfo() { record("loadCurrentFriendInfo", arguments) }
    function updateCurrentFriendRemark(remark) { record("updateCurrentFriendRemark", arguments); return result("updateCurrentFriendRemark", false) }
    function setCurrentFriendBlocked(blocked) { record("setCurrentFriendBlocked", arguments) }
    function setCurrentConversationMuted(muted) { record("setCurrentConversationMuted", arguments) }
    function reloadNotifications() { record("reloadNotifications", arguments) }
    function resolveJoinNotification(kind, target, requesterPublicKey, action) { record("resolveJoinNotification", arguments) }

    // Normal groups.
    function createGroupFromContacts(name, publicKeys) { record("createGroupFromContacts", arguments); return result("createGroupFromContacts", false) }
    function createGroup(name, membersCsv) { record("createGroup", arguments); return result("createGroup", false) }
    function addGroupMembers(groupId, membersCsv) { record("addGroupMembers", arguments); return result("addGroupMembers", false) }
    function addGroupMembersFromContacts(groupId, publicKeys) { record("addGroupMembersFromContacts", arguments); return result("addGroupMembersFromContacts", false) }
    function removeGroupMember(groupId, memberRawPubkey) { record("removeGroupMember", arguments); return result("removeGroupMember", false) }
    function renameGroup(groupId, newName) { record("renameGroup", arguments); return result("renameGroup", false) }
    function updateGroupRemark(groupId, remark) { record("updateGroupRemark", arguments); return result("updateGroupRemark", false) }
    function updateGroupNickname(groupId, nickname) { record("updateGroupNickname", arguments); return result("updateGroupNickname", false) }
    function setGroupVisibility(groupId, visible) { record("setGroupVisibility", arguments); return result("setGroupVisibility", false) }
    function setGroupMuted(groupId, muted) { record("setGroupMuted", arguments) }
    function leaveOrDeleteGroup(groupId) { record("leaveOrDeleteGroup", arguments) }
    function currentGroupInfo() { record("currentGroupInfo", arguments); return result("currentGroupInfo", ({ "isGroup": false })) }

    // Super groups.
    function loadSuperGroupInfo() { record("loadSuperGroupInfo", arguments) }
    function updateSuperGroupMeta(name, notice, joinOpen) { record("updateSuperGroupMeta", arguments) }
    function setSuperGroupAllMuted(muted) { record("setSuperGroupAllMuted", arguments) }
    function updateSuperGroupProfile(nickname) { record("updateSuperGroupProfile", arguments) }
    function setSuperGroupMuted(muted) { record("setSuperGroupMuted", arguments) }
    function inviteSuperGroupMembers(publicKeys) { record("inviteSuperGroupMembers", arguments) }
    function removeSuperGroupMember(publicKey) { record("removeSuperGroupMember", arguments) }
    function setSuperGroupMemberRole(publicKey, role) { record("setSuperGroupMemberRole", arguments) }
    function syncSuperGroupProfiles() { record("syncSuperGroupProfiles", arguments) }
    function refreshSuperGroups() { record("refreshSuperGroups", arguments) }
    function joinSuperGroup(serverUrl, note) { record("joinSuperGroup", arguments); return result("joinSuperGroup", false) }
    function fetchSgCapacity() { record("fetchSgCapacity", arguments) }
    function createSuperGroup(creationKey, name, type) { record("createSuperGroup", arguments) }
}
