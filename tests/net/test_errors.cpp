// Error words to error records: the classification order, the HTTP status
// mapping and the map handed to the views.
#include "net/service_error.h"

#include <QtTest>

using namespace velmor::net;

class ErrorsTest : public QObject
{
    Q_OBJECT
private slots:
    void classify_data();
    void classify();
    void classifyKeepsDetailAndClearsStatus();
    void retryableOnlyForTimeoutAndNetwork();
    void httpStatusMapping_data();
    void httpStatusMapping();
    void kindNames();
    void errorMapHasExactlySixKeys();
};

void ErrorsTest::classify_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("key");

    QTest::newRow("no_identity") << "no_identity" << 1 << "error.auth.required";
    QTest::newRow("not_logged_in") << "not_logged_in" << 1 << "error.auth.required";
    QTest::newRow("sign_failed") << "sign_failed" << 3 << "error.signature.invalid";
    // The broad "invalid" rule comes much later: the signature rule wins.
    QTest::newRow("invalid_signature") << "invalid_signature" << 3 << "error.signature.invalid";
    QTest::newRow("verify_http_401(invalid_signature)")
        << "verify_http_401(invalid_signature)" << 3 << "error.signature.invalid";
    QTest::newRow("wallet_address_mismatch") << "wallet_address_mismatch" << 4 << "error.address.mismatch";
    QTest::newRow("recipientNeverOnline, any case")
        << "recipientNeverOnline" << 5 << "error.address.notFound";
    QTest::newRow("address_not_found") << "address_not_found" << 5 << "error.address.notFound";
    QTest::newRow("all_muted") << "all_muted" << 7 << "error.group.muted";
    QTest::newRow("group_muted") << "group_muted" << 7 << "error.group.muted";
    // "muted" is tested before "http_403".
    QTest::newRow("send_http_403(group_muted)") << "send_http_403(group_muted)" << 7 << "error.group.muted";
    QTest::newRow("group_full") << "group_full" << 8 << "error.group.full";
    QTest::newRow("pending") << "join_pending" << 9 << "error.group.joinPending";
    QTest::newRow("image_too_large") << "image_too_large" << 10 << "error.file.tooLarge";
    QTest::newRow("response_too_large") << "response_too_large" << 10 << "error.file.tooLarge";
    QTest::newRow("timeout") << "send_http_0(timeout)" << 11 << "error.timeout";
    QTest::newRow("send_http_403") << "send_http_403" << 6 << "error.permission.denied";
    QTest::newRow("not_owner") << "not_owner" << 6 << "error.permission.denied";
    QTest::newRow("Permission, upper case") << "Permission denied" << 6 << "error.permission.denied";
    QTest::newRow("network") << "network unreachable" << 12 << "error.network";
    QTest::newRow("http_0") << "send_http_0(Connection refused)" << 12 << "error.network";
    QTest::newRow("invalid_image") << "invalid_image" << 13 << "error.payload.invalid";
    QTest::newRow("empty_voice") << "empty_voice" << 13 << "error.payload.invalid";
    QTest::newRow("empty_payload") << "empty_payload" << 13 << "error.payload.invalid";
    // "no_identity" precedes "empty"/"invalid" even when both appear.
    QTest::newRow("no_identity wins over invalid") << "invalid_no_identity" << 1 << "error.auth.required";
    // "pending" precedes "timeout".
    QTest::newRow("pending before timeout") << "pending_timeout" << 9 << "error.group.joinPending";
    // "too_large" precedes "http_403".
    QTest::newRow("too_large before http_403") << "upload_http_403_too_large" << 10 << "error.file.tooLarge";
    QTest::newRow("voice_read_failed") << "voice_read_failed" << 16 << "error.unknown";
    QTest::newRow("send_http_500") << "send_http_500(internal)" << 16 << "error.unknown";
    QTest::newRow("empty text") << "" << 16 << "error.unknown";
}

void ErrorsTest::classify()
{
    QFETCH(QString, word);
    QFETCH(int, kind);
    QFETCH(QString, key);
    const ServiceError error = classifyError(word);
    QCOMPARE(error.code, kind);
    QCOMPARE(error.messageKey, key);
}

void ErrorsTest::classifyKeepsDetailAndClearsStatus()
{
    const ServiceError error = classifyError(QStringLiteral("send_http_502(Bad Gateway)"));
    QCOMPARE(error.detail, QStringLiteral("send_http_502(Bad Gateway)"));
    QCOMPARE(error.httpStatus, 0);
    QVERIFY(error.isError());
}

void ErrorsTest::retryableOnlyForTimeoutAndNetwork()
{
    QVERIFY(classifyError(QStringLiteral("timeout")).retryable);
    QVERIFY(classifyError(QStringLiteral("network")).retryable);
    QVERIFY(classifyError(QStringLiteral("fanout_http_0")).retryable);
    for (const char *word : {"no_identity", "sign_failed", "all_muted", "group_full", "image_too_large",
                             "send_http_403", "invalid", "whatever"})
        QVERIFY2(!classifyError(QString::fromLatin1(word)).retryable, word);
}

void ErrorsTest::httpStatusMapping_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("retryable");
    QTest::newRow("401") << 401 << 2 << "error.auth.expired" << false;
    QTest::newRow("403") << 403 << 6 << "error.permission.denied" << false;
    QTest::newRow("408") << 408 << 11 << "error.timeout" << true;
    QTest::newRow("0") << 0 << 12 << "error.network" << true;
    QTest::newRow("500") << 500 << 15 << "error.http" << false;
    QTest::newRow("404") << 404 << 15 << "error.http" << false;
}

void ErrorsTest::httpStatusMapping()
{
    QFETCH(int, status);
    QFETCH(int, kind);
    QFETCH(QString, key);
    QFETCH(bool, retryable);
    const ServiceError error = errorFromHttp(status, QStringLiteral("detail text"));
    QCOMPARE(error.code, kind);
    QCOMPARE(error.messageKey, key);
    QCOMPARE(error.httpStatus, status);
    QCOMPARE(error.retryable, retryable);
    QCOMPARE(error.detail, QStringLiteral("detail text"));
}

void ErrorsTest::kindNames()
{
    const QStringList expected = {
        "none", "not_authenticated", "token_expired", "invalid_signature", "address_mismatch",
        "address_not_found", "permission_denied", "muted", "group_full", "join_pending",
        "file_too_large", "timeout", "network", "invalid_payload", "storage", "http", "unknown"};
    for (int kind = 0; kind < expected.size(); ++kind)
        QCOMPARE(errorKindName(kind), expected.at(kind));
    QCOMPARE(errorKindName(17), QStringLiteral("unknown"));
    QCOMPARE(errorKindName(-1), QStringLiteral("unknown"));
}

void ErrorsTest::errorMapHasExactlySixKeys()
{
    ServiceError error = classifyError(QStringLiteral("image_too_large"));
    error.httpStatus = 413;
    const QVariantMap map = toErrorMap(error);
    QCOMPARE(map.size(), 6);
    QCOMPARE(map.value("code").toString(), QStringLiteral("file_too_large"));
    QCOMPARE(map.value("codeValue").toInt(), 10);
    QCOMPARE(map.value("httpStatus").toInt(), 413);
    QCOMPARE(map.value("messageKey").toString(), QStringLiteral("error.file.tooLarge"));
    QCOMPARE(map.value("retryable").toBool(), false);
    QCOMPARE(map.value("detail").toString(), QStringLiteral("image_too_large"));
    QCOMPARE(map.value("codeValue").typeId(), QMetaType::Int);
    QCOMPARE(map.value("retryable").typeId(), QMetaType::Bool);

    // A kind outside the table keeps its number but is named "unknown".
    ServiceError odd;
    odd.code = 42;
    const QVariantMap oddMap = toErrorMap(odd);
    QCOMPARE(oddMap.value("code").toString(), QStringLiteral("unknown"));
    QCOMPARE(oddMap.value("codeValue").toInt(), 42);
}

QTEST_GUILESS_MAIN(ErrorsTest)
#include "test_errors.moc"
