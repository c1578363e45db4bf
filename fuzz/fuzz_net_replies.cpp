// Replies of the relay, the group centre and super-group servers that can be
// read without a network: pull replies, envelope objects, super-group
// message objects, JSON bodies, integers and error texts.
#include "fuzz_common.h"

#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/http.h"
#include "net/relay_api.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace velmor::net;
using velmor::chat::RelayApi;
using velmor::identity::Identity;

namespace {

const Identity &me()
{
    static const Identity identity(QByteArray::fromHex(
        "4444444444444444444444444444444444444444444444444444444444444444"));
    return identity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    const fuzzsupport::Input in = fuzzsupport::split(data, size);
    switch (in.selector % 6) {
    case 0:
        (void)RelayApi::parsePullReply(in.bytes, me().publicKeyText(), 1700000000);
        break;
    case 1: {
        HttpResponse response;
        response.status = 200;
        response.success = true;
        response.body = in.bytes;
        const QJsonObject object = response.json();
        for (auto it = object.begin(); it != object.end(); ++it)
            (void)jsonInteger(it.value());
        (void)RelayApi::envelopeFromJson(object);
        break;
    }
    case 2: {
        const QString text = QString::fromUtf8(in.bytes);
        (void)classifyError(text);
        (void)errorFromHttp(int(in.selector) * 7 + 100, text);
        (void)toErrorMap(classifyError(text));
        break;
    }
    case 3:
        (void)velmor::sg::SuperGroupApi::parseMessage(QJsonDocument::fromJson(in.bytes).object(),
                                                      me().privateKey);
        break;
    case 4: {
        // A super-group message whose content is sealed to the reader: the
        // fuzz input becomes the plaintext behind the box.
        const QString box = Ecies::seal(me().publicKey, in.bytes);
        const QJsonObject message{{QStringLiteral("seq"), 1},
                                  {QStringLiteral("message_id"), QStringLiteral("m1")},
                                  {QStringLiteral("sender_pubkey"), me().publicKeyText()},
                                  {QStringLiteral("enc_content"), box},
                                  {QStringLiteral("created_at"), 1700000000}};
        (void)velmor::sg::SuperGroupApi::parseMessage(message, me().privateKey);
        break;
    }
    case 5:
        (void)jsonInteger(QJsonValue(QString::fromUtf8(in.bytes)));
        (void)normaliseBaseUrl(QString::fromUtf8(in.bytes));
        (void)isAllowedEndpoint(QUrl(QString::fromUtf8(in.bytes)));
        break;
    }
    return 0;
}
