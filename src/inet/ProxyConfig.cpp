#include "inet/ProxyConfig.h"

namespace inet {

namespace {

// "HOST", "HOST:PORT", "[V6]:PORT" or a bare IPv6 address followed by ":PORT".
std::optional<ProxyConfig> parseHostPort(QString text, quint16 defaultPort, ProxyConfig::Kind kind) {
    text = text.trimmed();
    ProxyConfig config;
    config.kind = kind;
    config.port = defaultPort;
    QString portText;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        config.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            config.host = text;
        } else {
            config.host = text.left(colon);
            portText = text.mid(colon + 1);
        }
    }
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        config.port = quint16(port);
    }
    if (!isUsableProxy(config))
        return std::nullopt;
    return config;
}

} // namespace

bool isUsableProxy(const ProxyConfig& config) {
    return !config.host.isEmpty() && !config.host.contains(QLatin1Char(' ')) &&
           !config.host.contains(QLatin1Char('/')) && config.port != 0;
}

std::optional<ProxyConfig> parseProxyText(const QString& text) {
    const QString trimmed = text.trimmed();
    const QString ftpPrefix = QStringLiteral("ftp=ftp://");
    const QString socksPrefix = QStringLiteral("socks=");
    if (trimmed.startsWith(ftpPrefix, Qt::CaseInsensitive))
        return parseHostPort(trimmed.mid(ftpPrefix.size()), 21, ProxyConfig::Kind::Ftp);
    if (trimmed.startsWith(socksPrefix, Qt::CaseInsensitive))
        return parseHostPort(trimmed.mid(socksPrefix.size()), 1080, ProxyConfig::Kind::Socks);
    return std::nullopt;
}

} // namespace inet
