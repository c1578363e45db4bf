.pragma library

// The controllers put their texts for the user into their properties in
// Chinese (App.statusText and errorText, Chat.relayStatusText and the group
// subtitle, VoiceRoom.connectionText and lastError), and Chat its desktop
// notices (which the notifier shows through I18n.said too). Each text they
// can give is named here by its key in the views' tables, so the views show
// it in the interface's language; a text not named here (a server's own
// error word, a name) is shown as it came.
var exact = {
    "正在生成身份…": "app.generating",
    "正在登录…": "app.signingIn",
    "自动登录中…": "app.autoSignIn",
    "正在连接节点…": "app.connectingNode",
    "私钥格式不正确": "app.badKey",
    "助记词无效（词或校验位不对）": "app.badPhrase",
    "助记词派生失败": "app.phraseDerive",
    "身份无效": "app.badIdentity",
    "无法打开本地数据库": "app.storeOpenFailed",
    "无法保存身份密钥": "app.keySaveFailed",
    "节点不可达": "app.nodeUnreachable",
    "登录失败": "app.loginFailed",
    "已保存的私钥和助记词都已损坏": "identity.bothDamaged",
    "已保存的私钥已损坏，且没有可用的助记词": "identity.keyDamaged",
    "已保存的助记词已损坏，且没有可用的私钥": "identity.phraseDamaged",
    "已保存的身份无法读取": "identity.unreadable",
    "重新连接中…": "relay.reconnecting",
    "连接失败": "relay.failed",
    "连接中": "sg.connecting",
    "连接中…": "common.connecting",
    "已连接": "voice.connected",
    "已断开": "voice.disconnected",
    "LiveKit SDK 初始化失败": "voice.sdkInitFailed",
    "无法读取聊天室状态": "voice.statusFailed",
    "开启聊天室失败": "voice.openFailed",
    "当前构建未启用 LiveKit 语音 SDK": "voice.noSdk",
    "LiveKit 连接失败": "voice.connectFailed",
    "解散聊天室失败": "voice.dissolveFailed",
    "设置发言人失败": "voice.grantFailed",
    "取消发言人失败": "voice.revokeFailed",
    "无法读取所选图片": "image.unreadable",
    "无法读取剪贴板图片": "image.clipboardUnreadable",
    "磁盘已满，无法保存粘贴的图片": "image.diskFull",
    "不支持此图片格式或文件已损坏": "image.unsupported",
    "[图片]": "preview.picture",
    "[语音]": "preview.voice",
    "[链接]": "preview.link",
    "[转账]": "preview.transfer",
    "[表情]": "preview.emoji",
    "[系统消息]": "preview.system",
    "暂无消息": "preview.none",
    "Pelorin官方地址账号": "preview.official",
    "群聊": "title.group",
    "超级群": "title.superGroup",
    "Premium 群组": "title.premiumGroup",
    "未知地址": "common.unknownAddress",
    "收到新消息": "notice.newMessage",
    "收到新的入群申请": "notice.joinRequest",
    "您的群组成员状态已更新": "notice.membership",
    "语音聊天室已开启": "notice.voiceOpen"
}

// Texts with a part of their own: the pattern, the key, and the names of
// its captured parts (a part named in `translated` is itself looked up; the
// part named `list` is names joined by "、", joined again by the language's
// own separator, and their number is the count the words agree with).
var patterns = [
    { "match": /^已登录 · 节点 (.*)$/, "key": "app.signedIn", "names": ["node"] },
    { "match": /^(.*)，无法自动登录。损坏的文件保留在 (.*)。请用助记词或私钥导入原身份；新建账户将得到另一个身份。$/,
      "key": "identity.damagedNotice", "names": ["what", "folder"], "translated": ["what"] },
    { "match": /^(\d+) 位成员  (.*)$/, "key": "sg.subtitle", "names": ["count", "status"], "translated": ["status"] },
    { "match": /^\[语音 (\d+)"\]$/, "key": "preview.voiceSeconds", "names": ["n"] },
    { "match": /^\[链接\] (.+)$/, "key": "preview.linkTitled", "names": ["title"] },
    { "match": /^\[转账\] (.+)$/, "key": "preview.transferSymbol", "names": ["symbol"] },
    { "match": /^(.+) 加入了群聊$/, "key": "system.joined", "names": ["names"], "list": "names" }
]
