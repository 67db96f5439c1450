#include "imap/secure_channel.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

#include "imap/imap_failure.h"
#include "platform/trusted_certificates.h"

namespace imap {

// The first problem the chain check met, with what the refusal names.
struct SecureChannel::Peer {
    std::string host;
    long error = X509_V_OK;
    std::string subject;               // the common name of the certificate at fault
    std::string issuer;                // and of who signed it
    std::vector<std::string> names;    // the names the server's own certificate is for
    std::string not_before, not_after; // YYYY-MM-DD
};

namespace {

std::string CommonName(const X509_NAME* name) {
    if (name == nullptr) return {};
    const int at = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (at < 0) return {};
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0) return {};
    std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

std::string DayText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return "an unreadable date";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday);
    return text;
}

std::vector<std::string> CertificateNames(X509* certificate) {
    std::vector<std::string> names;
    auto* general = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; general != nullptr && i < sk_GENERAL_NAME_num(general); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(general, i);
        if (name->type == GEN_DNS) {
            const ASN1_STRING* dns = name->d.dNSName;
            names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)), static_cast<std::size_t>(ASN1_STRING_length(dns)));
        } else if (name->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = name->d.iPAddress;
            const unsigned char* bytes = ASN1_STRING_get0_data(ip);
            if (ASN1_STRING_length(ip) == 4) {
                char text[20];
                std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
                names.emplace_back(text);
            } else {
                names.emplace_back("an IPv6 address");
            }
        }
    }
    GENERAL_NAMES_free(general);
    if (names.empty()) {
        const std::string common = CommonName(X509_get_subject_name(certificate));
        if (!common.empty()) names.push_back(common);
    }
    return names;
}

// Keeps the first failure of the chain check and ends the handshake there.
int RememberFirstProblem(int preverified, X509_STORE_CTX* store) {
    if (preverified == 1) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* peer = ssl == nullptr ? nullptr : static_cast<SecureChannel::Peer*>(SSL_get_app_data(ssl));
    if (peer != nullptr && peer->error == X509_V_OK) {
        peer->error = X509_STORE_CTX_get_error(store);
        X509* at_fault = X509_STORE_CTX_get_current_cert(store);
        if (at_fault != nullptr) {
            peer->subject = CommonName(X509_get_subject_name(at_fault));
            peer->issuer = CommonName(X509_get_issuer_name(at_fault));
            peer->not_before = DayText(X509_get0_notBefore(at_fault));
            peer->not_after = DayText(X509_get0_notAfter(at_fault));
        }
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(store);
        X509* leaf = chain != nullptr && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : at_fault;
        if (leaf != nullptr) peer->names = CertificateNames(leaf);
    }
    return 0;
}

std::string JoinNames(const std::vector<std::string>& names) {
    if (names.empty()) return "no name at all";
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < 6; ++i) text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > 6) text += ", ...";
    return text;
}

constexpr const char* kTrustAdvice =
    " If it is your own or your organisation's server and you trust it, save its certificate (or its"
    " authority's) as a PEM file and name it with --imap-ca-file FILE, or as the certificate file of the"
    " upload dialog.";

// Why the server is refused, and what the user can do about it.
std::string Refusal(const SecureChannel::Peer& peer) {
    std::string why, advice = kTrustAdvice;
    switch (peer.error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            why = "its certificate is self-signed: it vouches for itself, and no authority this computer trusts has signed it";
            break;
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            why = "its certificate was issued by \"" + peer.issuer + "\", an authority this computer does not trust";
            break;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            why = "its certificate (" + peer.subject + ") expired on " + peer.not_after;
            advice = " Its administrator has to renew it; until then no password can be sent to it safely.";
            break;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            why = "its certificate (" + peer.subject + ") is not valid before " + peer.not_before +
                  " (or this computer's clock is wrong)";
            advice = " Check the date and time of this computer.";
            break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            why = "its certificate is for " + JoinNames(peer.names) + ", not for " + peer.host;
            advice = " Connect by a name the certificate is for, or ask the server's administrator for a certificate"
                     " that names " + peer.host + ".";
            break;
        default:
            why = std::string("its certificate cannot be trusted (") + X509_verify_cert_error_string(peer.error) + ")";
            break;
    }
    return "the server " + peer.host + " is not trusted: " + why + ". Nothing was sent to it, not even the user name." + advice;
}

// The TLS layer writes and reads through the platform's connection, so that a closed connection
// is an error to handle and not a signal, and every wait has its time limit.
int BioWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
    auto* channel = static_cast<SecureChannel*>(BIO_get_data(bio));
    if (!channel->tcp().Send(data, size, channel->timeout())) return 0;
    *written = size;
    return 1;
}

int BioRead(BIO* bio, char* data, std::size_t size, std::size_t* read) {
    auto* channel = static_cast<SecureChannel*>(BIO_get_data(bio));
    const std::int64_t count = channel->tcp().Receive(data, size, channel->timeout());
    if (count <= 0) return 0;
    *read = static_cast<std::size_t>(count);
    return 1;
}

long BioControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* ConnectionMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ombrik connection");
        BIO_meth_set_write_ex(made, BioWrite);
        BIO_meth_set_read_ex(made, BioRead);
        BIO_meth_set_ctrl(made, BioControl);
        BIO_meth_set_create(made, BioCreate);
        return made;
    }();
    return method;
}

bool IsIpAddress(const std::string& host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    ASN1_OCTET_STRING_free(ip);
    return ip != nullptr;
}

std::string OpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "the TLS handshake failed";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

SecureChannel::SecureChannel(std::chrono::milliseconds timeout) : timeout_(timeout) {}

SecureChannel::~SecureChannel() { Close(); }

void SecureChannel::Close() {
    if (ssl_ != nullptr) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (context_ != nullptr) {
        SSL_CTX_free(context_);
        context_ = nullptr;
    }
    tcp_.Close();
}

const std::string& SecureChannel::error() const { return error_.empty() ? tcp_.error() : error_; }

void SecureChannel::Connect(const std::string& host, unsigned port) {
    Close();
    if (!tcp_.Connect(host, port, timeout_))
        throw Failure(Failure::Kind::kConnection, "cannot connect to " + host + " port " + std::to_string(port) + ": " + tcp_.error());
}

void SecureChannel::StartTls(const std::string& host, const std::string& ca_file) {
    // Where OpenSSL's own places are not the system's, nothing is read from them: neither its
    // configuration file (which could load code) nor certificates. This is the first OpenSSL
    // call of the program, so the choice holds.
    static const std::optional<std::vector<std::string>> system_roots = [] {
        auto roots = platform::SystemTrustedCertificates();
        if (roots) OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
        return roots;
    }();
    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr) throw Failure(Failure::Kind::kConnection, OpenSslError());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // The system's trusted authorities: OpenSSL's default places, or the system's store.
    if (!system_roots) {
        SSL_CTX_set_default_verify_paths(context_);
    } else {
        X509_STORE* trusted = SSL_CTX_get_cert_store(context_);
        for (const std::string& der : *system_roots) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
            X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
            // One the library cannot read is left out (the store holds them for other uses too).
            if (certificate != nullptr) X509_STORE_add_cert(trusted, certificate);
            X509_free(certificate);
        }
        ERR_clear_error();
    }
    if (!ca_file.empty() && SSL_CTX_load_verify_locations(context_, ca_file.c_str(), nullptr) != 1) {
        ERR_clear_error();
        throw Failure(Failure::Kind::kCertificate, "the certificate file " + ca_file + " cannot be read as PEM certificates");
    }
    ssl_ = SSL_new(context_);
    if (ssl_ == nullptr) throw Failure(Failure::Kind::kConnection, OpenSslError());
    BIO* bio = BIO_new(ConnectionMethod());
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_, bio, bio);
    peer_ = std::make_unique<Peer>();
    peer_->host = host;
    SSL_set_app_data(ssl_, peer_.get());
    SSL_set_verify(ssl_, SSL_VERIFY_PEER, RememberFirstProblem);
    if (IsIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl_, host.c_str());
        SSL_set1_host(ssl_, host.c_str());
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    }
    const int result = SSL_connect(ssl_);
    // Either way the check ran (or the handshake broke before it): a server that failed it is
    // refused before a single byte of ours reaches it.
    if (result == 1 && SSL_get_verify_result(ssl_) == X509_V_OK && SSL_get0_peer_certificate(ssl_) != nullptr) {
        ERR_clear_error();
        return;
    }
    const std::string refusal = peer_->error != X509_V_OK ? Refusal(*peer_) : std::string();
    const std::string broken = refusal.empty() ? OpenSslError() + (tcp_.error().empty() ? "" : " (" + tcp_.error() + ")") : "";
    Close();
    if (!refusal.empty()) throw Failure(Failure::Kind::kCertificate, refusal);
    throw Failure(Failure::Kind::kConnection, "the secure connection to " + host + " could not be made: " + broken);
}

std::int64_t SecureChannel::Read(void* data, std::size_t size) {
    error_.clear();
    if (ssl_ == nullptr) return tcp_.Receive(data, size, timeout_);
    std::size_t read = 0;
    if (SSL_read_ex(ssl_, data, size, &read) == 1) return static_cast<std::int64_t>(read);
    const int reason = SSL_get_error(ssl_, 0);
    ERR_clear_error();
    if (reason == SSL_ERROR_ZERO_RETURN) return 0;
    error_ = tcp_.error().empty() ? "the secure connection broke" : tcp_.error();
    return -1;
}

std::int64_t SecureChannel::Write(const void* data, std::size_t size) {
    error_.clear();
    if (ssl_ == nullptr) return tcp_.Send(data, size, timeout_) ? static_cast<std::int64_t>(size) : -1;
    std::size_t written = 0;
    if (SSL_write_ex(ssl_, data, size, &written) == 1) return static_cast<std::int64_t>(written);
    ERR_clear_error();
    error_ = tcp_.error().empty() ? "the secure connection broke" : tcp_.error();
    return -1;
}

}  // namespace imap
