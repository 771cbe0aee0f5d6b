#pragma once

#include "store/store.h"

#include <optional>
#include <string>
#include <string_view>

// Console users and sessions: Argon2id password hashes (libsodium's
// crypto_pwhash_str), random tokens, and the lock-out after failed logins.
namespace vexor::server::console {

inline constexpr int MaxFailedLogins = 5;
inline constexpr UnixTime LockOutSeconds = 10 * 60;
inline constexpr UnixTime SessionSeconds = 12 * 60 * 60;

// Raises StoreError when libsodium cannot start or the hash cannot be made
// (out of memory).
std::string hashPassword(std::string_view password);
bool passwordMatches(std::string_view hash, std::string_view password);

// 32 random bytes as 64 lower-case hexadecimal digits.
std::string randomToken();
// Compares in a time that does not depend on where the texts differ.
bool tokensEqual(std::string_view a, std::string_view b);

enum class LoginResult { Accepted, Refused, LockedOut };

struct Login {
    LoginResult result = LoginResult::Refused;
    std::optional<ConsoleSession> session; // set when accepted
};

// Checks a login against the store. After MaxFailedLogins failures within
// LockOutSeconds every attempt for that user name is refused, the right
// password too, for LockOutSeconds from the last of them; a refused attempt
// counts even for a name that has no user, so that the answer does not tell
// which names exist. An accepted login clears the count and saves a new
// session.
Login logIn(Store& store, std::string_view user, std::string_view password, UnixTime now);

// `vexor-server passwd`: sets the password of `user` (made when missing).
// An empty password or one over 1024 bytes is refused with a message.
std::optional<std::string> setPassword(Store& store, std::string_view user, std::string_view password);

} // namespace vexor::server::console
