pragma Singleton
import QtQuick
import Qt.labs.settings 1.0
import "i18n/tables.js" as ViewTexts
import "i18n/controller.js" as ControllerTexts

// Interface language: the saved choice (settings category "ui", key
// "language"), else the one derived from the system locale. Texts fall back
// to English and then to the key itself, so a missing translation never shows
// an empty label.
QtObject {
    id: i18n

    property Settings preferences: Settings {
        category: "ui"
        property string language: ""
    }

    property string locale: preferences.language !== "" ? preferences.language
                                                        : normalizedSystemLocale()

    readonly property var locales: ["en", "zh-Hans", "zh-Hant", "ja-JP", "de", "es", "fr", "pt-PT"]

    readonly property var localeNames: ({
        "en": "English",
        "zh-Hans": "简体中文",
        "zh-Hant": "繁體中文",
        "ja-JP": "日本語",
        "de": "Deutsch",
        "es": "Español",
        "fr": "Français",
        "pt-PT": "Português"
    })

    // The views' texts, one table per language (i18n/*.js); `tr` looks in
    // `strings` first.
    readonly property var viewStrings: ViewTexts.tables

    readonly property var strings: ({
        "en": {
            "app.name": "Pelorin",
            "common.close": "Close",
            "common.cancel": "Cancel",
            "common.confirm": "Confirm",
            "common.copy": "Copy",
            "common.save": "Save",
            "common.search": "Search",
            "common.loading": "Loading…",
            "common.back": "Back",
            "common.next": "Next",
            "common.send": "Send",
            "common.address": "Address",
            "login.privateKey": "Account private key",
            "login.mnemonic": "Use recovery phrase",
            "login.signIn": "Sign in",
            "login.create": "Create account",
            "login.paste": "Paste",
            "login.importKey": "Use private key",
            "nav.chats": "Chats",
            "nav.profile": "Profile",
            "chat.message": "Message",
            "chat.longText": { "one": "Long text, {count} character: kept outside the text box and sent whole as one message",
                               "other": "Long text, {count} characters: kept outside the text box and sent whole as one message" },
            "chat.longTextRemove": "Remove",
            "chat.longTextEdit": "Edit",
            "chat.longTextUndo": "Undo remove",
            "chat.imageDiskFull": "Disk full: the pasted picture could not be saved and was not sent. Free some space, then paste it again.",
            "chat.empty": "No conversations yet",
            "chat.search": "Search conversations",
            "chat.attach": "Add attachment",
            "chat.emoji": "Emoji",
            "chat.chooseImage": "Choose image",
            "profile.title": "Profile",
            "profile.avatar": "My avatar",
            "profile.address": "My address",
            "profile.backup": "Back up account",
            "profile.language": "Language",
            "profile.theme": "Appearance",
            "profile.network": "My network",
            "profile.about": "About us",
            "profile.logout": "Sign out",
            "profile.chooseAvatar": "Choose avatar",
            "profile.copyAddress": "Copy address",
            "profile.copied": "Copied",
            "theme.light": "Light",
            "theme.dark": "Dark",
            "group.members": { "one": "{count} member", "other": "{count} members" }
        },
        "zh-Hans": {
            "app.name": "Pelorin",
            "common.close": "关闭",
            "common.cancel": "取消",
            "common.confirm": "确认",
            "common.copy": "复制",
            "common.save": "保存",
            "common.search": "搜索",
            "common.loading": "加载中…",
            "common.back": "返回",
            "common.next": "下一步",
            "common.send": "发送",
            "common.address": "地址",
            "login.privateKey": "账户私钥",
            "login.mnemonic": "使用助记词",
            "login.signIn": "登录",
            "login.create": "创建账户",
            "login.paste": "粘贴",
            "login.importKey": "使用私钥",
            "nav.chats": "聊天",
            "nav.profile": "我的",
            "chat.message": "输入消息",
            "chat.longText": "长文本，共 {count} 字：不在输入框中编辑，发送时整体作为一条消息",
            "chat.longTextRemove": "移除",
            "chat.longTextEdit": "编辑",
            "chat.longTextUndo": "撤销移除",
            "chat.imageDiskFull": "磁盘已满：粘贴的图片无法保存，未发送。请腾出空间后重新粘贴。",
            "chat.empty": "暂无会话",
            "chat.search": "搜索聊天",
            "chat.attach": "添加附件",
            "chat.emoji": "表情",
            "chat.chooseImage": "选择图片",
            "profile.title": "我的",
            "profile.avatar": "我的头像",
            "profile.address": "我的地址",
            "profile.backup": "备份账户",
            "profile.language": "系统语言",
            "profile.theme": "系统配色",
            "profile.network": "我的网络",
            "profile.about": "关于我们",
            "profile.logout": "退出登录",
            "profile.chooseAvatar": "选择头像",
            "profile.copyAddress": "复制地址",
            "profile.copied": "已复制",
            "theme.light": "浅色",
            "theme.dark": "深色",
            "group.members": "{count} 位成员"
        },
        "zh-Hant": {
            "app.name": "Pelorin",
            "common.close": "關閉",
            "common.cancel": "取消",
            "common.confirm": "確認",
            "common.copy": "複製",
            "common.save": "儲存",
            "common.search": "搜尋",
            "common.loading": "載入中…",
            "common.back": "返回",
            "common.next": "下一步",
            "common.send": "傳送",
            "common.address": "地址",
            "login.privateKey": "帳戶私鑰",
            "login.mnemonic": "使用助記詞",
            "login.signIn": "登入",
            "login.create": "建立帳戶",
            "login.paste": "貼上",
            "login.importKey": "使用私鑰",
            "nav.chats": "聊天",
            "nav.profile": "我的",
            "chat.message": "輸入訊息",
            "chat.longText": "長文字，共 {count} 字：不在輸入框中編輯，傳送時整體作為一則訊息",
            "chat.longTextRemove": "移除",
            "chat.longTextEdit": "編輯",
            "chat.longTextUndo": "復原移除",
            "chat.imageDiskFull": "磁碟已滿：貼上的圖片無法儲存，未傳送。請騰出空間後重新貼上。",
            "chat.empty": "暫無對話",
            "chat.search": "搜尋聊天",
            "profile.title": "我的",
            "profile.avatar": "我的頭像",
            "profile.address": "我的地址",
            "profile.backup": "備份帳戶",
            "profile.language": "系統語言",
            "profile.theme": "系統外觀",
            "profile.network": "我的網路",
            "profile.about": "關於我們",
            "profile.logout": "登出",
            "profile.chooseAvatar": "選擇頭像",
            "profile.copyAddress": "複製地址",
            "profile.copied": "已複製",
            "chat.attach": "新增附件",
            "chat.emoji": "表情",
            "chat.chooseImage": "選擇圖片",
            "theme.light": "淺色",
            "theme.dark": "深色",
            "group.members": "{count} 位成員"
        },
        "ja-JP": {
            "app.name": "Pelorin",
            "common.close": "閉じる",
            "common.cancel": "キャンセル",
            "common.confirm": "確認",
            "common.copy": "コピー",
            "common.save": "保存",
            "common.search": "検索",
            "common.loading": "読み込み中…",
            "common.back": "戻る",
            "common.next": "次へ",
            "common.send": "送信",
            "common.address": "アドレス",
            "login.privateKey": "アカウント秘密鍵",
            "login.mnemonic": "復元フレーズを使用",
            "login.signIn": "ログイン",
            "login.create": "アカウント作成",
            "login.paste": "貼り付け",
            "login.importKey": "秘密鍵を使用",
            "nav.chats": "チャット",
            "nav.profile": "プロフィール",
            "chat.message": "メッセージ",
            "chat.longText": "長いテキスト（{count} 文字）：入力欄の外に保持し、1 件のメッセージとしてそのまま送信します",
            "chat.longTextRemove": "削除",
            "chat.longTextEdit": "編集",
            "chat.longTextUndo": "削除を取り消す",
            "chat.imageDiskFull": "ディスクがいっぱいです。貼り付けた画像を保存できず、送信していません。空きを作ってからもう一度貼り付けてください。",
            "chat.empty": "会話はありません",
            "chat.search": "チャットを検索",
            "profile.title": "プロフィール",
            "profile.avatar": "マイアバター",
            "profile.address": "マイアドレス",
            "profile.backup": "アカウントをバックアップ",
            "profile.language": "言語",
            "profile.theme": "外観",
            "profile.network": "ネットワーク",
            "profile.about": "このアプリについて",
            "profile.logout": "ログアウト",
            "profile.chooseAvatar": "アバターを選択",
            "profile.copyAddress": "アドレスをコピー",
            "profile.copied": "コピーしました",
            "chat.attach": "添付ファイルを追加",
            "chat.emoji": "絵文字",
            "chat.chooseImage": "画像を選択",
            "theme.light": "ライト",
            "theme.dark": "ダーク",
            "group.members": "{count} 人のメンバー"
        },
        "de": {
            "app.name": "Pelorin",
            "common.close": "Schließen",
            "common.cancel": "Abbrechen",
            "common.confirm": "Bestätigen",
            "common.copy": "Kopieren",
            "common.save": "Speichern",
            "common.search": "Suchen",
            "common.loading": "Wird geladen…",
            "common.back": "Zurück",
            "common.next": "Weiter",
            "common.send": "Senden",
            "common.address": "Adresse",
            "login.privateKey": "Privater Kontoschlüssel",
            "login.mnemonic": "Wiederherstellungsphrase verwenden",
            "login.signIn": "Anmelden",
            "login.create": "Konto erstellen",
            "login.paste": "Einfügen",
            "login.importKey": "Privaten Schlüssel verwenden",
            "nav.chats": "Chats",
            "nav.profile": "Profil",
            "chat.message": "Nachricht",
            "chat.longText": { "one": "Langer Text, {count} Zeichen: außerhalb des Eingabefelds gehalten und als eine Nachricht gesendet",
                               "other": "Langer Text, {count} Zeichen: außerhalb des Eingabefelds gehalten und als eine Nachricht gesendet" },
            "chat.longTextRemove": "Entfernen",
            "chat.longTextEdit": "Bearbeiten",
            "chat.longTextUndo": "Entfernen rückgängig",
            "chat.imageDiskFull": "Datenträger voll: Das eingefügte Bild konnte nicht gespeichert werden und wurde nicht gesendet. Bitte Platz schaffen und erneut einfügen.",
            "chat.empty": "Noch keine Unterhaltungen",
            "chat.search": "Chats durchsuchen",
            "profile.title": "Profil",
            "profile.avatar": "Mein Avatar",
            "profile.address": "Meine Adresse",
            "profile.backup": "Konto sichern",
            "profile.language": "Sprache",
            "profile.theme": "Darstellung",
            "profile.network": "Mein Netzwerk",
            "profile.about": "Über uns",
            "profile.logout": "Abmelden",
            "profile.chooseAvatar": "Avatar auswählen",
            "profile.copyAddress": "Adresse kopieren",
            "profile.copied": "Kopiert",
            "chat.attach": "Anhang hinzufügen",
            "chat.emoji": "Emoji",
            "chat.chooseImage": "Bild auswählen",
            "theme.light": "Hell",
            "theme.dark": "Dunkel",
            "group.members": { "one": "{count} Mitglied", "other": "{count} Mitglieder" }
        },
        "es": {
            "app.name": "Pelorin",
            "common.close": "Cerrar",
            "common.cancel": "Cancelar",
            "common.confirm": "Confirmar",
            "common.copy": "Copiar",
            "common.save": "Guardar",
            "common.search": "Buscar",
            "common.loading": "Cargando…",
            "common.back": "Atrás",
            "common.next": "Siguiente",
            "common.send": "Enviar",
            "common.address": "Dirección",
            "login.privateKey": "Clave privada de la cuenta",
            "login.mnemonic": "Usar frase de recuperación",
            "login.signIn": "Iniciar sesión",
            "login.create": "Crear cuenta",
            "login.paste": "Pegar",
            "login.importKey": "Usar clave privada",
            "nav.chats": "Chats",
            "nav.profile": "Perfil",
            "chat.message": "Mensaje",
            "chat.longText": { "one": "Texto largo, {count} carácter: se guarda fuera del cuadro de texto y se envía entero como un mensaje",
                               "other": "Texto largo, {count} caracteres: se guarda fuera del cuadro de texto y se envía entero como un mensaje" },
            "chat.longTextRemove": "Quitar",
            "chat.longTextEdit": "Editar",
            "chat.longTextUndo": "Deshacer eliminación",
            "chat.imageDiskFull": "Disco lleno: la imagen pegada no se pudo guardar y no se envió. Libere espacio y péguela de nuevo.",
            "chat.empty": "Aún no hay conversaciones",
            "chat.search": "Buscar chats",
            "profile.title": "Perfil",
            "profile.avatar": "Mi avatar",
            "profile.address": "Mi dirección",
            "profile.backup": "Respaldar cuenta",
            "profile.language": "Idioma",
            "profile.theme": "Apariencia",
            "profile.network": "Mi red",
            "profile.about": "Acerca de",
            "profile.logout": "Cerrar sesión",
            "profile.chooseAvatar": "Elegir avatar",
            "profile.copyAddress": "Copiar dirección",
            "profile.copied": "Copiado",
            "chat.attach": "Añadir archivo adjunto",
            "chat.emoji": "Emoji",
            "chat.chooseImage": "Elegir imagen",
            "theme.light": "Claro",
            "theme.dark": "Oscuro",
            "group.members": { "one": "{count} miembro", "other": "{count} miembros" }
        },
        "fr": {
            "app.name": "Pelorin",
            "common.close": "Fermer",
            "common.cancel": "Annuler",
            "common.confirm": "Confirmer",
            "common.copy": "Copier",
            "common.save": "Enregistrer",
            "common.search": "Rechercher",
            "common.loading": "Chargement…",
            "common.back": "Retour",
            "common.next": "Suivant",
            "common.send": "Envoyer",
            "common.address": "Adresse",
            "login.privateKey": "Clé privée du compte",
            "login.mnemonic": "Utiliser la phrase de récupération",
            "login.signIn": "Se connecter",
            "login.create": "Créer un compte",
            "login.paste": "Coller",
            "login.importKey": "Utiliser la clé privée",
            "nav.chats": "Discussions",
            "nav.profile": "Profil",
            "chat.message": "Message",
            "chat.longText": { "one": "Texte long, {count} caractère : gardé hors de la zone de saisie et envoyé en entier comme un seul message",
                               "other": "Texte long, {count} caractères : gardé hors de la zone de saisie et envoyé en entier comme un seul message" },
            "chat.longTextRemove": "Retirer",
            "chat.longTextEdit": "Modifier",
            "chat.longTextUndo": "Annuler le retrait",
            "chat.imageDiskFull": "Disque plein : l'image collée n'a pas pu être enregistrée et n'a pas été envoyée. Libérez de l'espace, puis collez-la de nouveau.",
            "chat.empty": "Aucune conversation",
            "chat.search": "Rechercher des discussions",
            "profile.title": "Profil",
            "profile.avatar": "Mon avatar",
            "profile.address": "Mon adresse",
            "profile.backup": "Sauvegarder le compte",
            "profile.language": "Langue",
            "profile.theme": "Apparence",
            "profile.network": "Mon réseau",
            "profile.about": "À propos",
            "profile.logout": "Se déconnecter",
            "profile.chooseAvatar": "Choisir un avatar",
            "profile.copyAddress": "Copier l’adresse",
            "profile.copied": "Copié",
            "chat.attach": "Ajouter une pièce jointe",
            "chat.emoji": "Emoji",
            "chat.chooseImage": "Choisir une image",
            "theme.light": "Clair",
            "theme.dark": "Sombre",
            "group.members": { "one": "{count} membre", "other": "{count} membres" }
        },
        "pt-PT": {
            "app.name": "Pelorin",
            "common.close": "Fechar",
            "common.cancel": "Cancelar",
            "common.confirm": "Confirmar",
            "common.copy": "Copiar",
            "common.save": "Guardar",
            "common.search": "Pesquisar",
            "common.loading": "A carregar…",
            "common.back": "Voltar",
            "common.next": "Seguinte",
            "common.send": "Enviar",
            "common.address": "Endereço",
            "login.privateKey": "Chave privada da conta",
            "login.mnemonic": "Usar frase de recuperação",
            "login.signIn": "Iniciar sessão",
            "login.create": "Criar conta",
            "login.paste": "Colar",
            "login.importKey": "Usar chave privada",
            "nav.chats": "Conversas",
            "nav.profile": "Perfil",
            "chat.message": "Mensagem",
            "chat.longText": { "one": "Texto longo, {count} carácter: guardado fora da caixa de texto e enviado inteiro como uma mensagem",
                               "other": "Texto longo, {count} caracteres: guardado fora da caixa de texto e enviado inteiro como uma mensagem" },
            "chat.longTextRemove": "Remover",
            "chat.longTextEdit": "Editar",
            "chat.longTextUndo": "Anular remoção",
            "chat.imageDiskFull": "Disco cheio: a imagem colada não pôde ser guardada e não foi enviada. Liberte espaço e cole-a novamente.",
            "chat.empty": "Ainda não existem conversas",
            "chat.search": "Pesquisar conversas",
            "profile.title": "Perfil",
            "profile.avatar": "O meu avatar",
            "profile.address": "O meu endereço",
            "profile.backup": "Criar cópia da conta",
            "profile.language": "Idioma",
            "profile.theme": "Aspeto",
            "profile.network": "A minha rede",
            "profile.about": "Sobre nós",
            "profile.logout": "Terminar sessão",
            "profile.chooseAvatar": "Escolher avatar",
            "profile.copyAddress": "Copiar endereço",
            "profile.copied": "Copiado",
            "chat.attach": "Adicionar anexo",
            "chat.emoji": "Emoji",
            "chat.chooseImage": "Escolher imagem",
            "theme.light": "Claro",
            "theme.dark": "Escuro",
            "group.members": { "one": "{count} membro", "other": "{count} membros" }
        }
    })

    // Maps a Qt locale name ("zh_TW", "pt_BR", "C") onto one of `locales`.
    function normalizeLocaleName(name) {
        var n = String(name === undefined || name === null ? "" : name).replace("_", "-")
        if (n.indexOf("zh-Hant") === 0 || n === "zh-TW" || n === "zh-HK")
            return "zh-Hant"
        if (n.indexOf("zh") === 0)
            return "zh-Hans"
        if (n.indexOf("ja") === 0)
            return "ja-JP"
        if (n.indexOf("pt") === 0)
            return "pt-PT"
        var two = n.substring(0, 2)
        return locales.indexOf(two) >= 0 ? two : "en"
    }

    function normalizedSystemLocale() {
        return normalizeLocaleName(Qt.locale().name)
    }

    function setLocale(value) {
        if (locales.indexOf(value) < 0)
            return
        preferences.language = value
        locale = value
    }

    // Placeholders are replaced literally (no regular expression, no "$"
    // replacement patterns), so any argument name or value is safe.
    // Own entries only: a key or locale named like an Object member
    // ("toString", "constructor") must not pick up the inherited function.
    function entry(map, name) {
        return (map && Object.prototype.hasOwnProperty.call(map, name)) ? map[name] : undefined
    }

    // Placeholders: "{count}" is a number the words agree with ("1 member",
    // "2 members"), so its text has plural forms; a number shown beside a
    // label ("Members (12)") is "{n}".
    // The plural category of `count` in `language`: Chinese and Japanese
    // have one form ("other"); French counts 0 and 1 as singular; the other
    // languages of `locales` only 1.
    function pluralCategory(language, count) {
        var n = Math.abs(Number(count))
        if (language === "zh-Hans" || language === "zh-Hant" || language === "ja-JP")
            return "other"
        if (language === "fr")
            return n < 2 ? "one" : "other"
        return n === 1 ? "one" : "other"
    }

    // A key's text in `language`, from this table or from the views' tables
    // (i18n/*.js); a text with plural forms ({"one": …, "other": …}) gives
    // the form of `count`. Undefined when the language lacks the key.
    function lookup(language, key, count) {
        var text = entry(entry(strings, language), key)
        if (text === undefined)
            text = entry(entry(viewStrings, language), key)
        if (text !== null && typeof text === "object") {
            var form = entry(text, pluralCategory(language, count === undefined ? 0 : count))
            text = form !== undefined ? form : entry(text, "other")
        }
        return (typeof text === "string" && text !== "") ? text : undefined
    }

    // A text a controller gave (they speak Chinese), in the interface's
    // language when it is one they are known to give (i18n/controller.js);
    // any other text (a server's error word, a name) as it came.
    function said(text) {
        var given = (text === undefined || text === null) ? "" : String(text)
        var key = entry(ControllerTexts.exact, given)
        if (key !== undefined)
            return tr(key)
        for (var i = 0; i < ControllerTexts.patterns.length; ++i) {
            var pattern = ControllerTexts.patterns[i]
            var found = pattern.match.exec(given)
            if (!found)
                continue
            var args = {}
            for (var j = 0; j < pattern.names.length; ++j) {
                var name = pattern.names[j]
                var own = pattern.translated !== undefined && pattern.translated.indexOf(name) >= 0
                args[name] = own ? said(found[j + 1]) : found[j + 1]
            }
            return tr(pattern.key, args)
        }
        return given
    }

    function tr(key, args) {
        var count = (args !== undefined && args !== null && typeof args === "object") ? args["count"] : undefined
        var text = lookup(locale, key, count)
        if (text === undefined) {
            var en = lookup("en", key, count)
            text = en === undefined ? key : en
        }
        text = String(text)
        if (args !== undefined && args !== null && typeof args === "object") {
            for (var name in args) {
                var value = args[name]
                text = text.split("{" + name + "}").join(String(value))
            }
        }
        return text
    }
}
