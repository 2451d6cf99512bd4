#include "SocketErrors.h"

#include <QCoreApplication>

namespace kalvor {

namespace {
thread_local int t_lastSocketError = kSockErrNone;

// The socket layer words its unreachable failures in its own translation context; comparing
// through the same translation keeps this right whatever language is installed.
bool IsSocketEngineText(const QString& text, const char* source) {
    return text == QCoreApplication::translate("QNativeSocketEngine", source) ||
           text == QLatin1String(source);
}
} // namespace

int LastSocketError() {
    return t_lastSocketError;
}
void SetLastSocketError(int code) {
    t_lastSocketError = code;
}

int SocketErrorCodeFor(QAbstractSocket::SocketError error, const QString& errorString) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return kSockErrConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return kSockErrConnectionReset;
    case QAbstractSocket::HostNotFoundError:
        return kSockErrInvalidAddress;
    case QAbstractSocket::SocketAccessError:
        return kSockErrAccess;
    case QAbstractSocket::SocketResourceError:
        return kSockErrNoBuffers;
    case QAbstractSocket::SocketTimeoutError:
        return kSockErrTimedOut;
    case QAbstractSocket::DatagramTooLargeError:
        return kSockErrMessageTooLong;
    case QAbstractSocket::AddressInUseError:
        return kSockErrAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return kSockErrAddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError:
    case QAbstractSocket::OperationError:
        return kSockErrNotSupported;
    case QAbstractSocket::NetworkError:
        if (IsSocketEngineText(errorString, "Network unreachable"))
            return kSockErrNetworkUnreachable;
        if (IsSocketEngineText(errorString, "Host unreachable"))
            return kSockErrHostUnreachable;
        return kSockErrNetworkDown;
    default:
        return kSockErrNetworkDown;
    }
}

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint32_t address = 0;
    int fields = 0;
    std::size_t i = 0;
    while (fields < 4) {
        if (fields > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        int value = 0;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (++digits > 3)
                return std::nullopt;
            value = value * 10 + (text[i] - '0');
            ++i;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        address = (address << 8) | static_cast<std::uint32_t>(value);
        ++fields;
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

} // namespace kalvor
