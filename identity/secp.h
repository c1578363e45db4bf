// Internal: the process-wide libsecp256k1 contexts (not part of the public API).
#pragma once

#include <secp256k1.h>

namespace velmor::crypto::detail {

// Three contexts, each created on first use, randomised once at creation
// (so later use needs no lock) and kept until exit. libsecp256k1 allows any
// number of threads to use one context concurrently for everything but
// randomisation.
const secp256k1_context *sealingContext();  // ECDH and ephemeral keys of the sealed box
const secp256k1_context *identityContext(); // key checks, public keys, BIP32 tweaks
const secp256k1_context *signingContext();  // ECDSA signing and verification

} // namespace velmor::crypto::detail
