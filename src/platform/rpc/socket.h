// Abstract Unix-domain socket names and the small socket helpers shared by client and server.
#pragma once

#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <cstddef>
#include <string_view>

// Abstract names (the leading NUL not counted) hold at most this many bytes.
constexpr size_t kAbstractNameMax = sizeof(sockaddr_un::sun_path) - 1;
constexpr std::string_view kEndpointPrefix = "mbus/ncalrpc/";
constexpr std::string_view kEndpointMapPrefix = "mbus/epmap/";
// Longest endpoint name whose socket name fits.
constexpr size_t kEndpointMax = kAbstractNameMax - kEndpointPrefix.size();

// An abstract socket address "\0" + prefix + name.
class CAbstractAddress {
public:
    // False when the name does not fit.
    bool Set(std::string_view prefix, std::string_view name);
    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t Length() const { return length_; }

private:
    sockaddr_un address_{};
    socklen_t length_ = 0;
};

// A new SOCK_STREAM Unix socket with close-on-exec, or -1 with errno set.
int UnixStreamSocket(bool nonBlocking);

// Closes fd, retrying nothing (a close that fails still releases the descriptor on Linux).
void CloseDescriptor(int fd);

// Drops the first `bytes` bytes from the iovec array (*iov, *count), advancing it in place.
void IovecAdvance(iovec** iov, int* count, size_t bytes);
