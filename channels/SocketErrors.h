#pragma once

#include <QAbstractSocket>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// Socket error numbers as the operators of this tool know them from its Windows origins.
// Whatever the platform reports is brought to these numbers, so "ERR #10061" means the same
// on every system:
//
//   10004  the wait was ended by the exchange's time-out budget (WSAEINTR)
//   10013  access to the address refused, e.g. a broadcast address (WSAEACCES)
//   10022  the address text is not a usable dotted quad (WSAEINVAL)
//   10040  an answer datagram too long for the 10-byte answer buffer (WSAEMSGSIZE)
//   10045  the operation is not supported on this socket (WSAEOPNOTSUPP)
//   10048  the local address is already in use (WSAEADDRINUSE)
//   10049  an address or port that cannot be a target: 0.0.0.0, a port outside
//          1 to 65535 (WSAEADDRNOTAVAIL)
//   10050  any other network failure the platform reports (WSAENETDOWN)
//   10051  network unreachable (WSAENETUNREACH)
//   10054  connection reset or closed by the sign (WSAECONNRESET)
//   10055  no socket resources left (WSAENOBUFS)
//   10057  send or receive on a link that is not connected (WSAENOTCONN)
//   10060  the platform's own connect time-out (WSAETIMEDOUT)
//   10061  connection refused; on UDP, the sign's machine answered "port unreachable"
//          (WSAECONNREFUSED)
//   10065  host unreachable (WSAEHOSTUNREACH)
namespace kalvor {

enum SocketErrorCode : int {
    kSockErrNone = 0,
    kSockErrInterrupted = 10004,
    kSockErrAccess = 10013,
    kSockErrInvalidAddress = 10022,
    kSockErrMessageTooLong = 10040,
    kSockErrNotSupported = 10045,
    kSockErrAddressInUse = 10048,
    kSockErrAddressNotAvailable = 10049,
    kSockErrNetworkDown = 10050,
    kSockErrNetworkUnreachable = 10051,
    kSockErrConnectionReset = 10054,
    kSockErrNoBuffers = 10055,
    kSockErrNotConnected = 10057,
    kSockErrTimedOut = 10060,
    kSockErrConnectionRefused = 10061,
    kSockErrHostUnreachable = 10065,
};

// The last socket error of the calling thread: set by each failing socket operation, left
// alone by the ones that succeed.
int LastSocketError();
void SetLastSocketError(int code);

// The number above for a failure the socket reports (error kind and its text, which tells
// the unreachable cases apart).
int SocketErrorCodeFor(QAbstractSocket::SocketError error, const QString& errorString);

// Four decimal fields 0 to 255 separated by dots, nothing else (no blanks, no short forms such
// as "10.1", no host names); a field is read as decimal, leading zeros included. The address
// in host order.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);

} // namespace kalvor
