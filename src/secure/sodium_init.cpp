#include "secure/sodium_init.h"

#include <cstdlib>

#include <sodium.h>

namespace mirka::secure {

void EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    // Without a working library there is no safe way on: no key, no randomness.
    if (!ready) std::abort();
}

}  // namespace mirka::secure
