#pragma once

// libsodium must be initialised once before its random and group functions are used;
// sodium_init is thread-safe and cheap after the first call.
namespace mirka::secure {

void EnsureSodium();

}  // namespace mirka::secure
