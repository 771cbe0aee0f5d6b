#include "net/openssllib.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace vexor::net {

const OpenSsl* loadOpenSsl()
{
    static const OpenSsl* const loaded = []() -> const OpenSsl* {
        const std::string file = "libssl.so." + std::to_string(OPENSSL_SHLIB_VERSION);
        void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        auto* table = new OpenSsl;
        bool complete = true;
#define VEXOR_RESOLVE(name)                                                               \
    table->name = reinterpret_cast<decltype(table->name)>(::dlsym(library, #name)); \
    complete = complete && table->name != nullptr;
        VEXOR_OPENSSL_FUNCTIONS(VEXOR_RESOLVE)
#undef VEXOR_RESOLVE
        if (complete)
            return table;
        delete table;
        return nullptr;
    }();
    return loaded;
}

const OpenSsl& ossl()
{
    return *loadOpenSsl();
}

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

SSL_CTX* newClientContext()
{
    const OpenSsl& o = ossl();
    SSL_CTX* ctx = o.SSL_CTX_new(o.TLS_client_method());
    if (!ctx)
        return nullptr;
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    o.SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // No SSL_OP_IGNORE_UNEXPECTED_EOF: a close without the closing alert may
    // be anyone on the path cutting the stream, so it is not an end (a body
    // of a known length is never read up to the close anyway).
    o.SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION);
    // Writes behave like send(): part of a buffer may go out, and the rest
    // is offered again later, not necessarily from the same address.
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
    // Whole blocks from the socket instead of a header and a body per record.
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
    if (o.SSL_CTX_set_default_verify_paths(ctx) != 1) {
        o.SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

// Reading the trust store costs milliseconds, so the context is shared and
// made again only when SSL_CERT_FILE or SSL_CERT_DIR changed. Each SSL holds
// its own reference, so an old context lives on as long as a channel uses it.
// The cache itself is never freed: OpenSSL's own clean-up at exit may run
// before any static destructor would.
SSL* newClientSsl()
{
    struct Cache {
        std::mutex mutex;
        std::string key;
        SSL_CTX* ctx = nullptr;
    };
    static Cache* const cache = new Cache;
    const std::string key = environmentValue("SSL_CERT_FILE") + '\n' + environmentValue("SSL_CERT_DIR");
    std::lock_guard lock(cache->mutex);
    if (!cache->ctx || cache->key != key) {
        SSL_CTX* fresh = newClientContext();
        if (!fresh)
            return nullptr;
        ossl().SSL_CTX_free(cache->ctx);
        cache->ctx = fresh;
        cache->key = key;
    }
    return ossl().SSL_new(cache->ctx);
}

}  // namespace vexor::net
