#pragma once

// OpenSSL, opened at run time: the table of the functions the TLS channel
// calls, and the shared client context.

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace vexor::net {

// OpenSSL is loaded when the first channel is made, not at start: most runs
// speak plain HTTP only, and the two libraries cost every process that links
// them some 1.7 MB of resident pages (relocations, symbol tables). Every call
// goes through this table; OpenSSL's macros are written out as the calls they
// stand for.
#define VEXOR_OPENSSL_FUNCTIONS(X)                                                                        \
    X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl) X(SSL_CTX_set_verify)             \
    X(SSL_CTX_set_options) X(SSL_CTX_set_default_verify_paths) X(SSL_new) X(SSL_free) X(SSL_ctrl)         \
    X(SSL_set_bio) X(SSL_get0_param) X(SSL_set_hostflags) X(SSL_set1_host) X(SSL_set_connect_state)       \
    X(SSL_get_verify_result) X(SSL_is_init_finished) X(SSL_do_handshake) X(SSL_get_error) X(SSL_peek_ex)  \
    X(SSL_read_ex) X(SSL_write_ex) X(SSL_shutdown) X(X509_VERIFY_PARAM_set1_ip_asc)                       \
    X(X509_verify_cert_error_string) X(ERR_clear_error) X(ERR_peek_error) X(ERR_peek_last_error)          \
    X(ERR_reason_error_string) X(BIO_ctrl) X(BIO_int_ctrl) X(BIO_set_flags) X(BIO_clear_flags)            \
    X(BIO_sock_should_retry) X(BIO_s_socket) X(BIO_new) X(BIO_meth_new) X(BIO_meth_set_write)             \
    X(BIO_meth_set_read) X(BIO_meth_set_puts) X(BIO_meth_set_ctrl) X(BIO_meth_set_create)                 \
    X(BIO_meth_set_destroy) X(BIO_meth_get_read) X(BIO_meth_get_puts) X(BIO_meth_get_ctrl)                \
    X(BIO_meth_get_create) X(BIO_meth_get_destroy)

struct OpenSsl {
#define VEXOR_DECLARE(name) decltype(&::name) name = nullptr;
    VEXOR_OPENSSL_FUNCTIONS(VEXOR_DECLARE)
#undef VEXOR_DECLARE
};

// The table, loaded at the first call (libssl brings libcrypto); null when
// the library or one of its functions is missing. Never unloaded.
const OpenSsl* loadOpenSsl();

// The table once loadOpenSsl() has succeeded.
const OpenSsl& ossl();

// A client SSL on the shared context (TLS 1.2 and newer, peer verification
// against the system's trust store); null when it cannot be made.
SSL* newClientSsl();

}  // namespace vexor::net
