#include "tls_context.h"

#include <QFile>
#include <QHostAddress>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace mqtt {

namespace {

QString openSslError() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromLatin1(reason) : QStringLiteral("unknown error");
}

TlsContext* owner(const SSL_CTX* context) {
    return static_cast<TlsContext*>(SSL_CTX_get_app_data(context));
}

} // namespace

std::unique_ptr<TlsContext> TlsContext::create(const QString& host, const QString& caFile,
                                               QString& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = QStringLiteral("cannot set up TLS: ") + openSslError();
        return nullptr;
    }
    const bool hostIsAddress = !QHostAddress(host).isNull();
    std::unique_ptr<TlsContext> tls(new TlsContext(context, host.toStdString(), hostIsAddress));
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    if (caFile.isEmpty()) {
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            error = QStringLiteral("cannot load the system's CA certificates: ") + openSslError();
            return nullptr;
        }
    } else if (!QFile::exists(caFile)) {
        error = QStringLiteral("cannot read the CA file %1: no such file").arg(caFile);
        return nullptr;
    } else if (SSL_CTX_load_verify_file(context, QFile::encodeName(caFile).constData()) != 1) {
        error = QStringLiteral("cannot read the CA file %1: %2").arg(caFile, openSslError());
        return nullptr;
    }

    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context);
    if (hostIsAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(check, tls->host_.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(check, tls->host_.c_str(), tls->host_.size());
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &TlsContext::verify);
    SSL_CTX_set_info_callback(context, &TlsContext::info);
    return tls;
}

TlsContext::TlsContext(SSL_CTX* context, std::string host, bool hostIsAddress)
    : context_(context), host_(std::move(host)), hostIsAddress_(hostIsAddress) {
    SSL_CTX_set_app_data(context_, this);
}

TlsContext::~TlsContext() {
    // libmosquitto holds references of its own while it has a connection; none outlives us.
    SSL_CTX_set_app_data(context_, nullptr);
    SSL_CTX_free(context_);
}

int TlsContext::verify(int preverified, X509_STORE_CTX* store) {
    const auto* ssl = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    TlsContext* tls = ssl ? owner(SSL_get_SSL_CTX(ssl)) : nullptr;
    if (!preverified && tls && tls->failure_.empty())
        tls->failure_ = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    return preverified;
}

// libmosquitto names the address it was given as the server; a handshake starts after that, so
// the name is put right here. An address is no server name at all.
void TlsContext::info(const SSL* ssl, int where, int) {
    TlsContext* tls = owner(SSL_get_SSL_CTX(ssl));
    if (!(where & SSL_CB_HANDSHAKE_START) || !tls)
        return;
    SSL* connection = const_cast<SSL*>(ssl);
    const char* name = tls->hostIsAddress_ ? nullptr : tls->host_.c_str();
    SSL_set_tlsext_host_name(connection, name);
}

} // namespace mqtt
