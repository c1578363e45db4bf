#include "models/conversation_row_model.h"

#include <QMetaType>

#include <cmath>

namespace velmor::models {

namespace {

enum class Kind { Text, Flag, Count, Latency, LastKind };

struct Field
{
    const char *name;
    Kind kind;
};

// In role order from KeyedListModel::FirstExtraRole on.
constexpr Field kFields[] = {
    { "peer", Kind::Text },          { "display", Kind::Text },        { "displayFallback", Kind::Flag },
    { "last", Kind::Text },          { "lastKind", Kind::LastKind },   { "ts", Kind::Count },
    { "unread", Kind::Count },       { "muted", Kind::Flag },          { "connectionState", Kind::Text },
    { "latencyMs", Kind::Latency },  { "avatarId", Kind::Text },       { "avatarKind", Kind::Text },
    { "sgAvatarUrl", Kind::Text },   { "verified", Kind::Flag },       { "isSuper", Kind::Flag },
    { "isPremium", Kind::Flag },     { "isOfficial", Kind::Flag },     { "isAuthor", Kind::Flag },
};
constexpr int kFieldCount = int(std::size(kFields));

const QString &fieldKey(int i)
{
    static const QList<QString> keys = [] {
        QList<QString> all;
        for (const Field &field : kFields)
            all.append(QString::fromLatin1(field.name));
        return all;
    }();
    return keys.at(i);
}

bool isText(const QVariant &value)
{
    return value.isValid() && !value.isNull() && value.canConvert<QString>();
}

} // namespace

ConversationRowModel::ConversationRowModel(QObject *parent) : KeyedListModel(parent)
{
    setKeyName(QStringLiteral("peer"));
}

QVariant ConversationRowModel::shown(const QVariantMap &map, int role)
{
    const int i = role - FirstExtraRole;
    if (i < 0 || i >= kFieldCount)
        return QVariant();
    const QVariant value = map.value(fieldKey(i));
    switch (kFields[i].kind) {
    case Kind::Text:
        return isText(value) ? value.toString() : QString();
    case Kind::LastKind: {
        const QString kind = isText(value) ? value.toString() : QString();
        return kind.isEmpty() ? QStringLiteral("text") : kind;
    }
    case Kind::Flag:
        return value.typeId() == QMetaType::Bool && value.toBool();
    case Kind::Count: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        return ok && number > 0 ? number : 0.0;
    }
    case Kind::Latency: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        return ok && std::isfinite(number) && number >= 0 ? number : -1.0;
    }
    }
    return QVariant();
}

QVariant ConversationRowModel::data(const QModelIndex &index, int role) const
{
    if (role < FirstExtraRole || !index.isValid() || index.row() < 0 || index.row() >= count())
        return KeyedListModel::data(index, role);
    return shown(at(index.row()), role);
}

QHash<int, QByteArray> ConversationRowModel::roleNames() const
{
    QHash<int, QByteArray> names = KeyedListModel::roleNames();
    for (int i = 0; i < kFieldCount; ++i)
        names.insert(FirstExtraRole + i, QByteArray(kFields[i].name));
    return names;
}

QList<int> ConversationRowModel::changedRoles(const QVariantMap &before, const QVariantMap &after) const
{
    QList<int> roles = KeyedListModel::changedRoles(before, after);
    for (int i = 0; i < kFieldCount; ++i) {
        if (before.value(fieldKey(i)) != after.value(fieldKey(i)))
            roles.append(FirstExtraRole + i);
    }
    return roles;
}

} // namespace velmor::models
