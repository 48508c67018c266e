// The one connection of this process to one endpoint, shared by every binding to it, so that
// everything this process sends to an endpoint travels in order on one stream.
#pragma once

#include "platform/rpc/rpc.h"

#include <sys/uio.h>

#include <memory>
#include <mutex>
#include <string>

class CClientChannel {
public:
    // The channel for an endpoint, shared while anyone holds it. Makes no connection.
    static std::shared_ptr<CClientChannel> ForEndpoint(const std::string& endpoint);

    explicit CClientChannel(std::string endpoint) : endpoint_(std::move(endpoint)) {}
    ~CClientChannel();
    CClientChannel(const CClientChannel&) = delete;
    CClientChannel& operator=(const CClientChannel&) = delete;

    const std::string& Endpoint() const { return endpoint_; }

    // Writes the whole iovec array (which it may modify) as one unit with respect to other
    // writers, connecting first when there is no connection. *written receives the bytes that
    // went into the socket. On failure the connection is closed, so that the next write makes
    // a new one; a write on a reused connection that the server has closed before a single
    // byte went out is retried once on a new connection (nothing of it was lost yet).
    RPC_STATUS Write(iovec* iov, int count, size_t* written);

private:
    RPC_STATUS ConnectLocked();
    void DisconnectLocked();

    const std::string endpoint_;
    std::mutex mutex_;
    int fd_ = -1;  // guarded by mutex_
};
