#include "auth.h"

#include <sodium.h>

namespace vexor::server::console {

namespace {

void startSodium()
{
    static const int started = sodium_init();
    if (started < 0)
        throw StoreError("libsodium cannot start");
}

constexpr std::size_t MaxPasswordBytes = 1024;

} // namespace

std::string hashPassword(std::string_view password)
{
    startSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
            crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw StoreError("cannot hash the password (out of memory)");
    return hash;
}

bool passwordMatches(std::string_view hash, std::string_view password)
{
    startSodium();
    // crypto_pwhash_str_verify wants a NUL-terminated hash.
    const std::string terminated(hash);
    return password.size() <= MaxPasswordBytes
        && crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

std::string randomToken()
{
    startSodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

bool tokensEqual(std::string_view a, std::string_view b)
{
    startSodium();
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

Login logIn(Store& store, std::string_view user, std::string_view password, UnixTime now)
{
    // A failure at second t counts until t + LockOutSeconds - 1.
    const UnixTime windowStart = now - LockOutSeconds + 1;
    store.forgetLogins(now, windowStart);
    if (store.failedLoginsSince(user, windowStart) >= MaxFailedLogins)
        return { LoginResult::LockedOut, std::nullopt };
    const auto hash = store.passwordHash(user);
    if (!hash || !passwordMatches(*hash, password)) {
        store.recordFailedLogin(user, now);
        if (store.failedLoginsSince(user, windowStart) < MaxFailedLogins)
            return { LoginResult::Refused, std::nullopt };
        // The store only counts failures in a window; written again at this
        // second, they keep the lock for ten minutes from now however far
        // apart the five were.
        for (int i = 1; i < MaxFailedLogins; ++i)
            store.recordFailedLogin(user, now);
        return { LoginResult::LockedOut, std::nullopt };
    }
    store.clearFailedLogins(user);
    ConsoleSession session { randomToken(), std::string(user), randomToken(), now + SessionSeconds };
    store.saveSession(session);
    return { LoginResult::Accepted, session };
}

std::optional<std::string> setPassword(Store& store, std::string_view user, std::string_view password)
{
    if (user.empty() || user.size() > 64)
        return "a user name of 1 to 64 characters is needed";
    if (password.empty())
        return "the password is empty";
    if (password.size() > MaxPasswordBytes)
        return "the password is longer than 1024 bytes";
    store.setUser(user, hashPassword(password));
    return std::nullopt;
}

} // namespace vexor::server::console
