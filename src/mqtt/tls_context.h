// The TLS set-up for mqtts://. The client connects to an address it resolved itself, so
// libmosquitto only ever sees that address and would check the certificate against it. This
// context carries the check instead: OpenSSL verifies the chain and the host name (or address)
// from the URL during the handshake, which fails before a byte of MQTT, credentials included,
// goes out. It also names that host in the handshake's server name indication.
#pragma once

#include <QString>

#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;
struct x509_store_ctx_st;

namespace mqtt {

class TlsContext {
public:
    // Trusts the certificates in `caFile`, or the system's when it is empty. Null with the reason
    // when they cannot be loaded.
    static std::unique_ptr<TlsContext> create(const QString& host, const QString& caFile,
                                              QString& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* get() const { return context_; }
    // Why the server's certificate was refused since the last clear, e.g. "hostname mismatch";
    // empty when it was not.
    QString verifyFailure() const { return QString::fromStdString(failure_); }
    void clearVerifyFailure() { failure_.clear(); }

private:
    TlsContext(ssl_ctx_st* context, std::string host, bool hostIsAddress);
    static int verify(int preverified, x509_store_ctx_st* store);
    static void info(const ssl_st* ssl, int where, int value);

    ssl_ctx_st* context_;
    std::string host_;
    bool hostIsAddress_;
    std::string failure_;
};

} // namespace mqtt
