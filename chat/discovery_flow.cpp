#include "chat/discovery_flow.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/qr_reader.h"
#include "groups/group_engine.h"
#include "identity/vault.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QUrl>

namespace velmor::chat {

namespace {

const QString kJoined = QStringLiteral("joined");
const QString kAlreadyMember = QStringLiteral("already_member");
const QString kPending = QStringLiteral("pending");

struct QrOutcome
{
    QString text;
    QString error;
};

} // namespace

DiscoveryFlow::DiscoveryFlow(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{
}

QString DiscoveryFlow::kindName(int kind)
{
    switch (kind) {
    case DiscoveryResult::User:
        return QStringLiteral("user");
    case DiscoveryResult::NormalGroup:
        return QStringLiteral("normal_group");
    case DiscoveryResult::SuperGroup:
        return QStringLiteral("super_group");
    default:
        return QStringLiteral("invalid");
    }
}

QVariantMap DiscoveryFlow::toMap(const DiscoveryResult &r)
{
    return QVariantMap{
        {QStringLiteral("ok"), r.ok},
        {QStringLiteral("kind"), kindName(r.kind)},
        {QStringLiteral("error"), r.error},
        {QStringLiteral("address"), r.address},
        {QStringLiteral("publicKey"), r.publicKey},
        {QStringLiteral("avatarKind"), r.avatarKind},
        {QStringLiteral("avatarId"), r.avatarId},
        {QStringLiteral("existingContact"), r.existingContact},
        {QStringLiteral("joinKey"), r.joinKey},
        {QStringLiteral("groupId"), r.groupId},
        {QStringLiteral("groupName"), r.groupName},
        {QStringLiteral("groupAvatar"), r.groupAvatar},
        {QStringLiteral("ownerPublicKey"), r.ownerPublicKey},
        {QStringLiteral("ownerEncryptionKey"), r.ownerEncryptionKey},
        {QStringLiteral("visibility"), r.visibility},
        {QStringLiteral("serverUrl"), r.serverUrl},
        {QStringLiteral("joinMode"), r.joinMode},
        {QStringLiteral("groupKind"), r.groupKind},
        {QStringLiteral("memberCount"), r.memberCount},
    };
}

QByteArray DiscoveryFlow::joinRequestPayload(const QVariantMap &result, const velmor::identity::Identity &me,
                                             const QString &avatarId)
{
    GroupJoinRequest request;
    request.groupId = result.value(QStringLiteral("groupId")).toString();
    request.groupJoinKey = result.value(QStringLiteral("joinKey")).toString();
    request.requesterCanonicalKey = me.publicKeyText();
    request.requesterDisplayName = me.erc20Address();
    request.requesterAvatarId = avatarId; // left out when empty
    return buildGroupJoinRequest(request);
}

void DiscoveryFlow::setBusy(bool busy, bool clearResult)
{
    m_busy = busy;
    if (clearResult)
        m_result.clear();
    emit changed();
}

void DiscoveryFlow::clear()
{
    // A job still running delivers its result later all the same.
    setBusy(false, true);
}

void DiscoveryFlow::forget()
{
    m_busy = false;
    m_result.clear();
}

void DiscoveryFlow::resolveText(const QString &input)
{
    if (m_busy)
        return;
    const QString text = input.trimmed();
    if (text.isEmpty()) {
        setBusy(false, true);
        return;
    }
    setBusy(true, true);
    m_host.jobs().run<DiscoveryResult>(
        [text] { return discover(text); },
        [this](const DiscoveryResult &result) {
            m_result = toMap(result);
            emit changed();
            emit completed(result.ok, result.ok ? kindName(result.kind) : result.error);
            if (!result.ok)
                m_host.errors().publishWord(result.error);
        },
        [this] { m_busy = false; });
}

void DiscoveryFlow::resolveQrImage(const QString &fileUrl)
{
    if (m_busy)
        return;
    const QUrl url(fileUrl, QUrl::TolerantMode);
    const QString path = url.isLocalFile() ? url.toLocalFile() : fileUrl;
    if (path.trimmed().isEmpty())
        return;
    setBusy(true, true);
    m_host.jobs().run<QrOutcome>(
        [path] {
            QrOutcome outcome;
            outcome.text = decodeQrImage(path, &outcome.error);
            return outcome;
        },
        [this](const QrOutcome &outcome) {
            emit changed();
            if (outcome.text.isEmpty()) {
                // Only the result and the signal tell: a picture without a
                // code is not an error of the session.
                m_result = QVariantMap{{QStringLiteral("ok"), false}, {QStringLiteral("error"), outcome.error}};
                emit changed();
                emit completed(false, outcome.error);
                return;
            }
            resolveText(outcome.text);
        },
        [this] { m_busy = false; });
}

bool DiscoveryFlow::saveContactAndStartChat(const QString &remarkIn)
{
    if (!m_result.value(QStringLiteral("ok")).toBool()
        || m_result.value(QStringLiteral("kind")).toString() != QLatin1String("user"))
        return false;
    const QString key = m_result.value(QStringLiteral("publicKey")).toString();
    const QString address = m_result.value(QStringLiteral("address")).toString();
    if (key.isEmpty() || address.isEmpty() || !m_host.session().storeOpen())
        return false;

    ChatStore &store = m_host.session().store();
    ContactRecord row;
    row.wallet_public_key = key;
    row.erc20_address = address;
    row.remark = remarkIn.trimmed();
    if (const auto stored = store.contact(key)) {
        if (row.remark.isEmpty())
            row.remark = stored->remark;
        row.avatar_kind = stored->avatar_kind;
        row.avatar_id = stored->avatar_id;
    }
    const QString avatarKind = m_result.value(QStringLiteral("avatarKind")).toString();
    const QString avatarId = m_result.value(QStringLiteral("avatarId")).toString();
    if (!avatarKind.isEmpty())
        row.avatar_kind = avatarKind;
    if (!avatarId.isEmpty())
        row.avatar_id = avatarId;
    // Saving a discovered person always leaves the contact unblocked.
    row.blocked = 0;
    row.updated_at = QDateTime::currentSecsSinceEpoch();
    if (!store.upsertContact(row)) {
        m_host.errors().publishWord(QStringLiteral("store_failed"));
        return false;
    }
    const auto conversation =
        store.ensureDirectConversation(key, key, row.remark.isEmpty() ? address : row.remark);
    store.bumpConversationTimestamp(conversation.id, 0);

    m_host.reloadContacts();
    m_host.reloadConversations();
    m_host.openConversation(key);
    setBusy(false, true);
    return true;
}

void DiscoveryFlow::joinGroup(const QString &note)
{
    if (!m_result.value(QStringLiteral("ok")).toBool())
        return;
    // One join at a time: a second click while the first request is on its
    // way would send the owner a second request.
    if (m_busy)
        return;
    const QString kind = m_result.value(QStringLiteral("kind")).toString();
    const QString serverUrl = m_result.value(QStringLiteral("serverUrl")).toString();
    const QVariantMap result = m_result;
    setBusy(true, false);
    m_host.jobs().run<QString>(
        [kind, result, note]() -> QString {
            if (kind == QLatin1String("super_group")) {
                velmor::sg::SuperGroupApi &api = velmor::sg::SuperGroupApi::instance();
                const velmor::sg::SGJoinResult joined =
                    api.requestJoin(result.value(QStringLiteral("serverUrl")).toString(), note);
                if (joined.ok)
                    return joined.status.isEmpty() ? kJoined : joined.status;
                return joined.error.isEmpty() ? QStringLiteral("join_failed") : joined.error;
            }
            if (kind == QLatin1String("normal_group")) {
                const velmor::identity::Identity me = velmor::net::RelayAuthSession::instance().identity();
                if (!me.isValid())
                    return QStringLiteral("no_identity");
                const QString avatarId = QString::fromUtf8(CredentialVault::read(QStringLiteral("avatar")));
                const RelaySendResult sent =
                    RelayApi::sendPayload(result.value(QStringLiteral("ownerPublicKey")).toString(),
                                          joinRequestPayload(result, me, avatarId),
                                          QStringLiteral("group_join_request"));
                if (sent.ok)
                    return kPending;
                return sent.error.isEmpty() ? QStringLiteral("join_request_failed") : sent.error;
            }
            return QStringLiteral("unsupported_input");
        },
        [this, kind, serverUrl](const QString &status) { finishJoin(kind, serverUrl, status); },
        [this] {
            m_busy = false;
            emit changed();
        });
}

void DiscoveryFlow::finishJoin(const QString &kind, const QString &serverUrl, const QString &status)
{
    const bool ok = status == kJoined || status == kAlreadyMember || status == kPending;
    if (!ok) {
        m_host.errors().publishWord(status);
        emit completed(false, status);
        return;
    }
    if (kind == QLatin1String("super_group") && status != kPending)
        emit superGroupJoined(serverUrl);
    emit completed(true, status);
    if (status != kPending)
        setBusy(false, true);
}

} // namespace velmor::chat
