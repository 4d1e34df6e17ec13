#pragma once

// The proxy a session connects through, as a value or read from a proxy text.

#include <QString>

#include <optional>

namespace inet {

struct ProxyConfig {
    enum class Kind {
        Ftp,   // a classic FTP proxy: USER user@server[:port] on the proxy
        Socks, // SOCKS5, falling back to SOCKS4
    };
    Kind kind = Kind::Ftp;
    QString host;
    quint16 port = 0;

    bool operator==(const ProxyConfig&) const = default;
};

// Whether a proxy can be used at all: a host without blanks or slashes, and
// a port from 1.
bool isUsableProxy(const ProxyConfig& config);

// Reads "ftp=ftp://HOST:PORT" or "socks=HOST:PORT" (an IPv6 host may stand in
// brackets; without a port the usual 21 or 1080 is taken). Empty for any other
// text: a malformed proxy choice must not silently become a direct connection.
std::optional<ProxyConfig> parseProxyText(const QString& text);

} // namespace inet
