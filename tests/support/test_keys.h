#pragma once
// The Ed25519 seeds the tests sign with. They are written out here in the source, so anyone
// can sign with them: their public keys are on cmake/committed_update_keys.txt, which
// configure refuses as a build's update key, and update_keys_test checks that each seed
// made here is on that list. Tests take their seeds from here and nowhere else.
#include <cstddef>

#include "core/net/update_statement.h"

namespace qev::test {

// Bytes first, first + 1, ..., first + 31.
inline SecretSeed TestSeed(unsigned char first)
{
    SecretSeed seed{};
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<unsigned char>(first + i);
    return seed;
}

// The first bytes the tests pass to TestSeed. A new one needs its public key on the list.
inline constexpr unsigned char UsedTestSeedStarts[] = {1, 2, 9};

// The update statement fuzz target's seed: byte i is i * 7 + 1. Its secret key line is also
// in the fuzz corpus (tests/fuzz/corpus/update_statement/key).
inline SecretSeed FuzzSeed()
{
    SecretSeed seed{};
    for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<unsigned char>(i * 7 + 1);
    return seed;
}

} // namespace qev::test
