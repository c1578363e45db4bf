#include "identity/secp.h"

#include <openssl/rand.h>

#include <cstdlib>

namespace velmor::crypto::detail {

namespace {

secp256k1_context *createRandomisedContext()
{
    secp256k1_context *ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    if (!ctx)
        std::abort();
    unsigned char seed[32];
    // Randomisation is a side-channel hardening only; a context whose seed
    // could not be drawn still computes correctly.
    if (RAND_bytes(seed, sizeof seed) == 1 && secp256k1_context_randomize(ctx, seed) != 1) {
        // Not randomised: still correct, only less hardened.
    }
    OPENSSL_cleanse(seed, sizeof seed);
    return ctx;
}

} // namespace

const secp256k1_context *sealingContext()
{
    static secp256k1_context *const ctx = createRandomisedContext();
    return ctx;
}

const secp256k1_context *identityContext()
{
    static secp256k1_context *const ctx = createRandomisedContext();
    return ctx;
}

const secp256k1_context *signingContext()
{
    static secp256k1_context *const ctx = createRandomisedContext();
    return ctx;
}

} // namespace velmor::crypto::detail
