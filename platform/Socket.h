// TCP socket helpers for the channel layer: every socket is non-blocking from its creation
// and a connect never waits longer than the time-out it is given.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace qz {

// A new non-blocking, close-on-exec IPv4 TCP socket, or -1 (errno set).
int CreateTcpSocket();

// Parses a dotted-decimal IPv4 address with inet_addr semantics (so also the short forms
// inet_addr takes, like "127.1"). Host names are never resolved. 255.255.255.255 is refused
// like any text that does not parse, because inet_addr cannot tell the two apart.
// On success stores the address in network byte order.
bool ParseIPv4(const std::string& text, in_addr_t& addr);

// Connects a non-blocking socket to addr:port (port in host order), waiting at most
// timeoutMs. 0 on success, otherwise the errno (ETIMEDOUT when the time ran out).
int ConnectWithTimeout(int fd, in_addr_t addr, uint16_t port, int timeoutMs);

// The two halves of a connect that a wait loop drives. StartConnect begins it: 0 when the
// socket connected at once, EINPROGRESS when the loop must wait for the socket to become
// writable, otherwise the errno. ConnectOutcome then tells how it ended: 0 connected,
// EINPROGRESS still under way (a spurious wake-up), otherwise the errno of the failure.
int StartConnect(int fd, in_addr_t addr, uint16_t port);
int ConnectOutcome(int fd);

// Shuts both directions down.
void ShutdownBoth(int fd);
// Closes a descriptor (-1 is ignored).
void CloseFd(int fd);

} // namespace qz
