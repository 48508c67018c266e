#include "platform/rpc/socket.h"

#include <unistd.h>

#include <cstring>

bool CAbstractAddress::Set(std::string_view prefix, std::string_view name) {
    if (prefix.size() + name.size() > kAbstractNameMax) return false;
    address_ = sockaddr_un{};
    address_.sun_family = AF_UNIX;
    std::memcpy(address_.sun_path + 1, prefix.data(), prefix.size());
    std::memcpy(address_.sun_path + 1 + prefix.size(), name.data(), name.size());
    length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + prefix.size() + name.size());
    return true;
}

int UnixStreamSocket(bool nonBlocking) {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}

void CloseDescriptor(int fd) {
    if (fd >= 0) close(fd);
}

void IovecAdvance(iovec** iov, int* count, size_t bytes) {
    while (*count > 0 && bytes >= (*iov)->iov_len) {
        bytes -= (*iov)->iov_len;
        ++*iov;
        --*count;
    }
    if (*count > 0 && bytes > 0) {
        (*iov)->iov_base = static_cast<char*>((*iov)->iov_base) + bytes;
        (*iov)->iov_len -= bytes;
    }
}
