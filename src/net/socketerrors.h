#pragma once

#include <QString>

// Windows Sockets error numbers are the one error vocabulary of the links:
// every failure reaches OnError (and the event log) as such a number with
// its fixed English text.

// Text of a Windows Sockets error number. Every number without an entry,
// 0 and negative numbers included, gives "Not a WinSock error ?".
QString SocketErrorText(int ErrorCode);

// Windows Sockets number for a POSIX errno value. Numbers without a
// counterpart are returned as they are (and so read "Not a WinSock error ?").
int wsaErrorFromErrno(int err);

namespace WsaError {
constexpr int Interrupted = 10004;
constexpr int Fault = 10014;             // "Bad address": failed host lookup
constexpr int WouldBlock = 10035;
constexpr int NotSocket = 10038;         // "Socket operation on non-socket"
constexpr int ConnAborted = 10053;
constexpr int ConnReset = 10054;
constexpr int NotConnected = 10057;
constexpr int TimedOut = 10060;
constexpr int ConnRefused = 10061;
} // namespace WsaError
