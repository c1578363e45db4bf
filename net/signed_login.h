// The signed-challenge login that the relay, the group centre and the group
// servers share: ask for a challenge, sign it with the identity key, trade
// the signature for a bearer token. The services differ only in the name of
// the public-key field and in the error words their callers report, so the
// steps are here and the words stay with the callers.
#pragma once

#include "identity/identity.h"
#include "net/http.h"

#include <QString>

namespace velmor::net {

// POST <base>/v1/auth/challenge {<keyField>: publicKey}. The challenge text;
// empty when the answer is not 2xx (see *reply) or names no challenge.
QString requestChallenge(const QString &baseUrl, const QString &keyField,
                         const QString &publicKey, int timeoutMs, HttpResponse *reply);

// base64url of the 64-byte compact signature over the login text that binds
// the challenge to the service's whole base URL (identity/service_login.h);
// empty when the challenge is not of the expected form, the URL is not one a
// login can name or the identity cannot sign. The challenge text itself is never signed: a server
// could send another use's signing text as its challenge.
QString signChallenge(const velmor::identity::Identity &identity, const QString &baseUrl,
                      const QString &challenge);

struct SignedLogin
{
    enum Outcome { TokenIssued, ChallengeRefused, ChallengeMissing, ChallengeInvalid, SignFailed,
                   VerifyRefused, TokenMissing };
    Outcome outcome = ChallengeRefused;
    HttpResponse reply;      // the answer of the last request made
    QString token;           // set with TokenIssued
    qint64 requestedAt = 0;  // when the verification left: the token's lifetime starts there
};

// The three steps in order; the first that fails ends the login (a challenge
// not of the expected form is ChallengeInvalid, and nothing is signed). The
// verification body is {<keyField>, "challenge", "signature"}.
SignedLogin signedLogin(const QString &baseUrl, const velmor::identity::Identity &identity,
                        const QString &keyField, int timeoutMs);

} // namespace velmor::net
