import QtQuick
import Velmor

// A bar over the top of the window while the local message store cannot do
// its work (held by another program, the disk full, the file damaged or
// refused), after a damaged file was kept aside (with the messages read back
// from it), after a saved key that was not the phrase's, or was damaged,
// was kept aside, and after sends kept only in the send journal were saved at sign-in.
// Its own texts: the views' shared table stays as it is.
Rectangle {
    id: root

    // "", "busy", "diskFull", "damaged", "foreign" (the folder or file
    // named by `foreign` is a link or another user's) or "newer" (the file
    // named by `foreign` was written by a newer build)
    property string problem: App.storeProblem
    property string setAside: App.storeSetAside
    property int salvaged: App.storeSalvaged
    property string foreign: App.storeForeign
    property string keptKey: App.identityKeptAside
    property bool keptKeyDamaged: App.identityKeptAsideDamaged
    // Sends an earlier run could keep only in its send journal, written at
    // this sign-in and being posted.
    property int restored: 0

    Connections {
        target: Chat
        function onSendsRestored(count) { root.restored += count }
    }

    readonly property var texts: ({
        "en": { "restored": "%1 messages that could not be saved when sent were saved now and are being sent.",
                "busy": "Another program is holding the message store. Retrying…",
                "diskFull": "Disk full: new messages cannot be saved until space is freed.",
                "damaged": "The message store is damaged and cannot be written.",
                "newer": "The message store %1 was written by a newer version of Pelorin; this version did not open it and changed nothing. Use the newer version.",
                "keptKey": "The saved key did not belong to your recovery phrase: you are signed in from the phrase, and the key was kept as %1.",
                "damagedKey": "The saved key was damaged and could not be read: you are signed in from your recovery phrase, and the damaged key was kept as %1.",
                "foreign": "The message store %1 is a link or belongs to another user; it was not opened.",
                "setAside": "The damaged message store was kept as %1; a new one was started.",
                "saved": "%1 messages were read back from it.", "savedOne": "1 message was read back from it.",
                "savedNone": "No message could be read back from it.",
                "retry": "Retry", "dismiss": "OK" },
        "zh-Hans": { "restored": "%1 条发送时未能保存的消息现已保存，正在发送。",
                     "busy": "消息库被其他程序占用，正在重试…",
                     "diskFull": "磁盘已满：腾出空间之前，新消息无法保存。",
                     "damaged": "消息库已损坏，无法写入。",
                     "newer": "消息库 %1 由更新版本的 Pelorin 写入；此版本未打开它，也未做任何改动。请使用更新的版本。",
                     "keptKey": "已保存的私钥不属于您的助记词：已用助记词登录，该私钥另存为 %1。",
                     "damagedKey": "已保存的私钥已损坏，无法读取：已用助记词登录，损坏的私钥另存为 %1。",
                     "foreign": "消息库 %1 是链接或属于其他用户，未打开。",
                     "setAside": "损坏的消息库已另存为 %1，已建立新的消息库。",
                     "saved": "已从中找回 %1 条消息。", "savedNone": "未能从中找回任何消息。",
                     "retry": "重试", "dismiss": "知道了" },
        "zh-Hant": { "restored": "%1 則傳送時未能儲存的訊息現已儲存，正在傳送。",
                     "busy": "訊息庫被其他程式佔用，正在重試…",
                     "diskFull": "磁碟已滿：騰出空間之前，新訊息無法儲存。",
                     "damaged": "訊息庫已損壞，無法寫入。",
                     "newer": "訊息庫 %1 由較新版本的 Pelorin 寫入；此版本未開啟它，也未做任何變更。請使用較新的版本。",
                     "keptKey": "已儲存的私鑰不屬於您的助記詞：已用助記詞登入，該私鑰另存為 %1。",
                     "damagedKey": "已儲存的私鑰已損壞，無法讀取：已用助記詞登入，損壞的私鑰另存為 %1。",
                     "foreign": "訊息庫 %1 是連結或屬於其他使用者，未開啟。",
                     "setAside": "損壞的訊息庫已另存為 %1，已建立新的訊息庫。",
                     "saved": "已從中找回 %1 則訊息。", "savedNone": "未能從中找回任何訊息。",
                     "retry": "重試", "dismiss": "知道了" },
        "ja-JP": { "restored": "送信時に保存できなかった %1 件のメッセージを保存し、送信しています。",
                   "busy": "メッセージ保存領域を別のプログラムが使用中です。再試行しています…",
                   "diskFull": "ディスクがいっぱいです。空きができるまで新しいメッセージを保存できません。",
                   "damaged": "メッセージ保存領域が破損していて書き込めません。",
                   "newer": "メッセージ保存領域 %1 は新しいバージョンの Pelorin で書き込まれています。このバージョンでは開かず、何も変更していません。新しいバージョンをお使いください。",
                   "keptKey": "保存されていた秘密鍵はリカバリーフレーズのものではありませんでした。フレーズでサインインし、その鍵は %1 として残しました。",
                   "damagedKey": "保存されていた秘密鍵は破損していて読めませんでした。リカバリーフレーズでサインインし、破損した鍵は %1 として残しました。",
                   "foreign": "メッセージ保存領域 %1 はリンクか別のユーザーのものです。開きませんでした。",
                   "setAside": "破損した保存領域は %1 として残し、新しく作り直しました。",
                   "saved": "そこから %1 件のメッセージを読み戻しました。",
                   "savedNone": "そこから読み戻せたメッセージはありません。",
                   "retry": "再試行", "dismiss": "OK" },
        "de": { "restored": "%1 Nachrichten, die beim Senden nicht gespeichert werden konnten, sind jetzt gespeichert und werden gesendet.",
                "busy": "Ein anderes Programm hält den Nachrichtenspeicher. Neuer Versuch läuft…",
                "diskFull": "Datenträger voll: Neue Nachrichten werden erst gespeichert, wenn Platz frei ist.",
                "damaged": "Der Nachrichtenspeicher ist beschädigt und kann nicht beschrieben werden.",
                "newer": "Der Nachrichtenspeicher %1 wurde von einer neueren Pelorin-Version geschrieben; diese Version hat ihn nicht geöffnet und nichts verändert. Bitte die neuere Version verwenden.",
                "keptKey": "Der gespeicherte Schlüssel gehörte nicht zu Ihrer Wiederherstellungsphrase: Sie sind mit der Phrase angemeldet, der Schlüssel wurde als %1 aufbewahrt.",
                "damagedKey": "Der gespeicherte Schlüssel war beschädigt und nicht lesbar: Sie sind mit Ihrer Wiederherstellungsphrase angemeldet, der beschädigte Schlüssel wurde als %1 aufbewahrt.",
                "foreign": "Der Nachrichtenspeicher %1 ist ein Link oder gehört einem anderen Benutzer; er wurde nicht geöffnet.",
                "setAside": "Der beschädigte Nachrichtenspeicher wurde als %1 aufbewahrt; ein neuer wurde angelegt.",
                "saved": "%1 Nachrichten wurden daraus übernommen.", "savedOne": "1 Nachricht wurde daraus übernommen.",
                "savedNone": "Keine Nachricht konnte daraus übernommen werden.",
                "retry": "Erneut versuchen", "dismiss": "OK" },
        "es": { "restored": "%1 mensajes que no se pudieron guardar al enviarlos ya están guardados y se están enviando.",
                "busy": "Otro programa está usando el almacén de mensajes. Reintentando…",
                "diskFull": "Disco lleno: los mensajes nuevos no se guardan hasta que haya espacio.",
                "damaged": "El almacén de mensajes está dañado y no se puede escribir.",
                "newer": "El almacén de mensajes %1 lo escribió una versión más reciente de Pelorin; esta versión no lo abrió ni cambió nada. Use la versión más reciente.",
                "keptKey": "La clave guardada no pertenecía a su frase de recuperación: ha iniciado sesión con la frase y la clave se guardó como %1.",
                "damagedKey": "La clave guardada estaba dañada y no se pudo leer: ha iniciado sesión con su frase de recuperación y la clave dañada se guardó como %1.",
                "foreign": "El almacén de mensajes %1 es un enlace o pertenece a otro usuario; no se abrió.",
                "setAside": "El almacén dañado se guardó como %1; se creó uno nuevo.",
                "saved": "Se recuperaron %1 mensajes de él.", "savedOne": "Se recuperó 1 mensaje de él.",
                "savedNone": "No se pudo recuperar ningún mensaje de él.",
                "retry": "Reintentar", "dismiss": "Aceptar" },
        "fr": { "restored": "%1 messages qui n'avaient pas pu être enregistrés à l'envoi sont maintenant enregistrés et en cours d'envoi.",
                "busy": "Un autre programme occupe le stockage des messages. Nouvel essai…",
                "diskFull": "Disque plein : les nouveaux messages ne sont pas enregistrés tant que de la place n'est pas libérée.",
                "damaged": "Le stockage des messages est endommagé et ne peut pas être écrit.",
                "newer": "Le stockage des messages %1 a été écrit par une version plus récente de Pelorin ; cette version ne l'a pas ouvert et n'a rien modifié. Utilisez la version plus récente.",
                "keptKey": "La clé enregistrée n'appartenait pas à votre phrase de récupération : vous êtes connecté avec la phrase, et la clé a été conservée sous %1.",
                "damagedKey": "La clé enregistrée était endommagée et illisible : vous êtes connecté avec votre phrase de récupération, et la clé endommagée a été conservée sous %1.",
                "foreign": "Le stockage des messages %1 est un lien ou appartient à un autre utilisateur ; il n'a pas été ouvert.",
                "setAside": "Le stockage endommagé a été conservé sous %1 ; un nouveau a été créé.",
                "saved": "%1 messages en ont été récupérés.", "savedOne": "1 message en a été récupéré.",
                "savedNone": "Aucun message n'a pu en être récupéré.",
                "retry": "Réessayer", "dismiss": "OK" },
        "pt-PT": { "restored": "%1 mensagens que não puderam ser guardadas ao enviar foram guardadas e estão a ser enviadas.",
                   "busy": "Outro programa está a usar o armazenamento de mensagens. A tentar de novo…",
                   "diskFull": "Disco cheio: as mensagens novas não são guardadas até haver espaço.",
                   "damaged": "O armazenamento de mensagens está danificado e não pode ser escrito.",
                   "newer": "O armazenamento de mensagens %1 foi escrito por uma versão mais recente do Pelorin; esta versão não o abriu nem alterou nada. Use a versão mais recente.",
                   "keptKey": "A chave guardada não pertencia à sua frase de recuperação: tem sessão iniciada com a frase e a chave foi guardada como %1.",
                   "damagedKey": "A chave guardada estava danificada e não pôde ser lida: tem sessão iniciada com a sua frase de recuperação e a chave danificada foi guardada como %1.",
                   "foreign": "O armazenamento de mensagens %1 é uma ligação ou pertence a outro utilizador; não foi aberto.",
                   "setAside": "O armazenamento danificado foi guardado como %1; foi criado um novo.",
                   "saved": "Foram recuperadas %1 mensagens dele.", "savedOne": "Foi recuperada 1 mensagem dele.",
                   "savedNone": "Não foi possível recuperar nenhuma mensagem dele.",
                   "retry": "Tentar de novo", "dismiss": "OK" }
    })

    function text(key) {
        const table = texts[I18n.locale] || texts["en"]
        return table[key] || texts["en"][key]
    }
    // The count in the language's own form: one message, several, or none
    // (said too, so a kept file that gave nothing back is not left unsaid).
    // Languages without a singular form of their own take "saved".
    function savedText(count) {
        const table = texts[I18n.locale] || texts["en"]
        if (count <= 0)
            return text("savedNone")
        if (count === 1 && table["savedOne"] !== undefined)
            return table["savedOne"]
        return text("saved").arg(count)
    }

    readonly property string message: problem === "foreign" || problem === "newer" ? text(problem).arg(foreign)
                                      : problem !== "" ? text(problem)
                                      : setAside !== "" ? text("setAside").arg(setAside.split("/").pop())
                                                          + " " + savedText(salvaged)
                                      : keptKey !== "" ? text(keptKeyDamaged ? "damagedKey" : "keptKey").arg(keptKey)
                                      : restored > 0 ? text("restored").arg(restored)
                                      : ""

    objectName: "storeNotice"
    visible: message !== ""
    implicitWidth: 480
    z: 12000
    height: row.implicitHeight + Theme.space8 * 2
    radius: Theme.radiusSmall
    color: problem === "busy" ? Theme.warning : problem === "" && setAside === "" && keptKey === "" ? Theme.accent : Theme.danger

    // A press on the bar is the bar's: it never reaches what lies under it.
    MouseArea {
        objectName: "storeNoticeCatch"
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
    }

    Row {
        id: row
        anchors.verticalCenter: parent.verticalCenter
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: Theme.space12
        anchors.rightMargin: Theme.space8
        spacing: Theme.space12

        Text {
            objectName: "storeNoticeText"
            width: row.width - action.width - row.spacing
            anchors.verticalCenter: parent.verticalCenter
            text: root.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "white"
            font.pixelSize: Theme.fontFootnote
        }

        Rectangle {
            id: action
            objectName: "storeNoticeAction"
            readonly property string label: root.problem !== "" ? root.text("retry") : root.text("dismiss")
            anchors.verticalCenter: parent.verticalCenter
            width: actionLabel.implicitWidth + Theme.space16
            height: actionLabel.implicitHeight + Theme.space8
            radius: height / 2
            color: mouse.containsMouse ? "#33ffffff" : "#22ffffff"
            Accessible.role: Accessible.Button
            Accessible.name: label

            Text {
                id: actionLabel
                anchors.centerIn: parent
                text: action.label
                textFormat: Text.PlainText
                color: "white"
                font.pixelSize: Theme.fontFootnote
                font.bold: true
            }

            MouseArea {
                id: mouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: {
                    if (root.problem !== "") {
                        App.retryStore()
                        return
                    }
                    root.restored = 0
                    App.dismissStoreNotice()
                }
            }
        }
    }
}
