import QtQml
import Velmor.Models 1.0

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
    // The models the views show, kept in step with the lists above as the
    // real controller keeps them: a test sets `conversations` or
    // `messages`, the models follow row by row.
    readonly property ConversationRowModel conversationModel: ConversationRowModel {}
    readonly property MessageRowModel messageModel: MessageRowModel {}
    onConversationsChanged: conversationModel.sync(conversations || [])
    onMessagesChanged: messageModel.sync(messages || [])
    property var contacts: []
    property var notifications: []      // its change signal is notificationsChanged
    property int notificationCount: 0   // announced by notificationsChanged
    property var friendInfo: ({})
    property var discoveryResult: ({})  // announced by discoveryChanged
    property bool discoveryBusy: false  // announced by discoveryChanged
    property var lastError: ({})
    property bool syncing: false
    property string relayStatusText: ""  // announced by relayStatusChanged

    // The open conversation, all announced by currentChanged.
    property string currentPeer: ""
    property string currentTitle: ""
    property bool currentTitleFallback: false
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
    signal relayStatusChanged()
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
    signal textKept(string peer, string text, bool kept)
    signal sendsRestored(int count)
    signal journaledSendsLost(int count)

    // Session.
    function start() { record("start", arguments) }
    function isStarted() { return callCount("start") > callCount("stop") }
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
    function trimOlderMessages() { record("trimOlderMessages", arguments) }
    function loadOlderMessages() { record("loadOlderMessages", arguments); return result("loadOlderMessages", false) }
    function messagesLoading() { return result("messagesLoading", false) }
    function conversationImageIds() { record("conversationImageIds", arguments); return result("conversationImageIds", []) }
    function sendText(text) { record("sendText", arguments); return result("sendText", true) }
    function unkeptSends() { record("unkeptSends", arguments); return result("unkeptSends", 0) }
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

    // Normal groups. The operations that reach the group engine run as jobs,
    // as on the real controller: the call returns true once the job has
    // started and groupOperationFinished(operation, groupId, ok, error)
    // follows on a later turn of the event loop. `returns` decides each
    // call: false refuses it at once (no job, no signal), an error word
    // starts a job that fails with that word, anything else (or nothing) a
    // job that succeeds. A created group is called "g-new".
    property var pendingGroupJobs: []
    function groupJob(method, args, operation, groupId) {
        record(method, args)
        var outcome = result(method, true)
        if (outcome === false)
            return false
        var error = typeof outcome === "string" ? outcome : ""
        var id = operation !== "create" ? groupId : (error === "" ? "g-new" : "")
        var jobs = pendingGroupJobs.slice()
        jobs.push({ "operation": operation, "groupId": id, "error": error })
        pendingGroupJobs = jobs
        Qt.callLater(finishGroupJobs)
        return true
    }
    function finishGroupJobs() {
        var jobs = pendingGroupJobs
        pendingGroupJobs = []
        for (var i = 0; i < jobs.length; ++i)
            groupOperationFinished(jobs[i].operation, jobs[i].groupId, jobs[i].error === "", jobs[i].error)
    }
    function createGroupFromContacts(name, publicKeys) { return groupJob("createGroupFromContacts", arguments, "create", "") }
    function createGroup(name, membersCsv) { return groupJob("createGroup", arguments, "create", "") }
    function addGroupMembers(groupId, membersCsv) { return groupJob("addGroupMembers", arguments, "add", groupId) }
    function addGroupMembersFromContacts(groupId, publicKeys) { return groupJob("addGroupMembersFromContacts", arguments, "add", groupId) }
    function removeGroupMember(groupId, memberRawPubkey) { return groupJob("removeGroupMember", arguments, "remove", groupId) }
    function renameGroup(groupId, newName) { return groupJob("renameGroup", arguments, "rename", groupId) }
    function updateGroupRemark(groupId, remark) { return groupJob("updateGroupRemark", arguments, "remark", groupId) }
    function updateGroupNickname(groupId, nickname) { return groupJob("updateGroupNickname", arguments, "nickname", groupId) }
    function setGroupVisibility(groupId, visible) { return groupJob("setGroupVisibility", arguments, "visibility", groupId) }
    function setGroupMuted(groupId, muted) { record("setGroupMuted", arguments) }
    function leaveOrDeleteGroup(groupId) {
        if (groupId === "")
            record("leaveOrDeleteGroup", arguments)
        else
            groupJob("leaveOrDeleteGroup", arguments, "leave", groupId)
    }
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
