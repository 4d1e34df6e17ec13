// The service's own descriptions of its error codes.
#include "inet/FtpService.h"

namespace inet {

namespace {

// One switch without a default: a code added to ErrorCode without a text here
// breaks the build (-Werror=switch).
QString describe(ErrorCode code) {
    switch (code) {
    case ErrorSuccess:
        return QStringLiteral("The operation completed successfully.");
    case ErrorNoMoreFiles:
        return QStringLiteral("There are no more files.");
    case ErrorOutOfHandles:
        return QStringLiteral("No more handles could be generated at this time.");
    case ErrorTimeout:
        return QStringLiteral("The operation timed out.");
    case ErrorExtendedError:
        return QStringLiteral("The server returned extended information.");
    case ErrorInternalError:
        return QStringLiteral("An internal error occurred in the FTP client.");
    case ErrorInvalidUrl:
        return QStringLiteral("The URL is invalid.");
    case ErrorNameNotResolved:
        return QStringLiteral("The server name or address could not be resolved.");
    case ErrorProtocolNotFound:
        return QStringLiteral("The requested protocol could not be located.");
    case ErrorInvalidOption:
        return QStringLiteral("The option value is invalid.");
    case ErrorLoginFailure:
        return QStringLiteral("The login request was denied.");
    case ErrorInvalidOperation:
        return QStringLiteral("The operation is not valid.");
    case ErrorOperationCancelled:
        return QStringLiteral("The operation was cancelled.");
    case ErrorIncorrectHandleType:
        return QStringLiteral("The type of handle supplied is incorrect for this operation.");
    case ErrorIncorrectHandleState:
        return QStringLiteral("The requested operation cannot be carried out because the handle supplied is not in "
                              "the correct state.");
    case ErrorCannotConnect:
        return QStringLiteral("The attempt to connect to the server failed.");
    case ErrorConnectionAborted:
        return QStringLiteral("The connection with the server has been terminated.");
    case ErrorConnectionReset:
        return QStringLiteral("The connection with the server has been reset.");
    case ErrorInvalidProxyRequest:
        return QStringLiteral("The request to the proxy was invalid or the proxy refused it.");
    case ErrorProxyServerUnreachable:
        return QStringLiteral("The proxy server could not be reached.");
    case ErrorFtpTransferInProgress:
        return QStringLiteral("There is already an FTP request in progress on this session.");
    case ErrorFtpDropped:
        return QStringLiteral("The FTP session was terminated.");
    case ErrorFtpNoPassiveMode:
        return QStringLiteral("FTP passive mode is not available on this server.");
    case ErrorProxyBindUnsupported:
        return QStringLiteral("The SOCKS proxy does not support the BIND request that active mode needs; "
                              "use passive mode.");
    case ErrorUnsafeCommand:
        return QStringLiteral("The command was not sent: it holds a line break or NUL character, which would "
                              "end it early and let the rest pass for another command.");
    case ErrorServerNotAnswering:
        return QStringLiteral("The server has stopped answering: two requests in a row timed out.");
    case ErrorSourceChanged:
        return QStringLiteral("The local file changed while it was being uploaded; it will be sent again on the "
                              "next run.");
    case ErrorTlsRefused:
        return QStringLiteral("The server does not offer TLS (it refused AUTH TLS), and this project requires an "
                              "encrypted connection; the password was not sent.");
    case ErrorTlsFailed:
        return QStringLiteral("The encrypted (TLS) connection could not be set up.");
    case ErrorCertificateUntrusted:
        return QStringLiteral("The server's certificate is not trusted; the password was not sent.");
    case ErrorCertificateChanged:
        return QStringLiteral("The server's certificate has changed: it is not the one trusted for this project; "
                              "the password was not sent.");
    case ErrorImplicitTlsThroughFtpProxy:
        return QStringLiteral("Implicit TLS cannot pass through an FTP proxy, which has to read the logon; use "
                              "explicit TLS or a SOCKS proxy.");
    case ErrorListingIncomplete:
        return QStringLiteral("The server did not list the folder completely (its listing failed or was cut short), "
                              "so nothing in it is taken as missing.");
    case ErrorPinnedWithoutTls:
        return QStringLiteral("A certificate is trusted for this server, so the connection must be encrypted, but "
                              "encryption is set to none; nothing was sent.");
    case ErrorDownloadSizeMismatch:
        return QStringLiteral("The file that arrived is not the size the server listed: the transfer was cut "
                              "short, and the local file was left as it was.");
    case ErrorUploadSizeMismatch:
        return QStringLiteral("The file on the server is not the size of the file sent: the transfer was cut "
                              "short, and the cut file was removed so that the next run sends it again.");
    }
    return {};
}

} // namespace

QString errorDescription(int code) {
    // The enumeration has a fixed underlying type, so every int converts; codes
    // that are not the service's fall through the switch to an empty text.
    return describe(static_cast<ErrorCode>(code));
}

} // namespace inet
