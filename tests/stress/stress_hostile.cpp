// The hostile role: talks to a sink's endpoint directly, without the library. The endpoint is
// the abstract Unix stream socket "\0mbus/ncalrpc/" + sink name; a frame is, little-endian,
// u32 frame length, u32 magic, u32 flags, u16 kind, u16 service length, u16 data length,
// u8 data present, u8 reserved, then the service and data bytes.
#include <mbus/mbus.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <random>

#include "stress/stress_common.h"
#include "stress/stress_roles.h"

namespace stress {

namespace {

constexpr char kEndpointPrefix[] = "mbus/ncalrpc/";
constexpr uint32_t kFrameMagic = 0x3153424Du;
constexpr uint32_t kFrameHeader = 20;
constexpr uint32_t kFrameLargest = kFrameHeader + 0xFFFFu + 0xFFFFu;
constexpr int kRandomConnections = 50;
constexpr size_t kRandomBytes = 4096;
constexpr int kGarbageFramesPerKind = 200;
constexpr size_t kLongestGarbage = 300;
constexpr int kBareConnections = 10000;
constexpr unsigned kSeed = 20240611;

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string Header(uint32_t size, uint16_t kind, uint16_t serviceLength, uint16_t dataLength, uint8_t present) {
    std::string out;
    Put(out, size, 4);
    Put(out, kFrameMagic, 4);
    Put(out, 0, 4);
    Put(out, kind, 2);
    Put(out, serviceLength, 2);
    Put(out, dataLength, 2);
    Put(out, present, 1);
    Put(out, 0, 1);
    return out;
}

std::string Frame(uint16_t kind, const std::string& service, const std::string* data) {
    const uint16_t length = data != nullptr ? static_cast<uint16_t>(data->size()) : 0;
    std::string out = Header(kFrameHeader + static_cast<uint32_t>(service.size()) + length, kind,
                             static_cast<uint16_t>(service.size()), length, data != nullptr ? 1 : 0);
    out += service;
    if (data != nullptr) out += *data;
    return out;
}

class CHostile {
public:
    explicit CHostile(const std::string& sink) : random_(kSeed) {
        address_.sun_family = AF_UNIX;
        const std::string path = std::string(kEndpointPrefix) + sink;
        std::memcpy(address_.sun_path + 1, path.data(), path.size());
        addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    }

    // One connection that writes `bytes` (the sink may cut it short) and closes.
    void Connection(const std::string& bytes) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++failedConnects_;
            return;
        }
        // A sink that stops accepting or reading fails the connection instead of hanging it.
        const timeval limit{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address_), addressLength_) == 0;
        failedConnects_ += connected ? 0 : 1;
        for (size_t sent = 0; connected && sent < bytes.size();) {
            const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
            bytes_ += n;
        }
        close(fd);
    }

    std::string RandomBytes(size_t count) {
        std::string out(count, '\0');
        for (char& c : out) c = static_cast<char>(random_());
        return out;
    }

    // Random bytes whose length field is out of bounds, and headers each breaking one rule.
    void Malformed() {
        for (int i = 0; i < kRandomConnections; ++i) {
            std::string bytes = RandomBytes(kRandomBytes);
            bytes[3] = static_cast<char>(0x80 | bytes[3]);
            Connection(bytes);
        }
        const std::string broken[] = {
            Header(0xFFFFFFFFu, MbKindCall, 0, 0, 0),
            Header(kFrameLargest + 1, MbKindCall, 0xFFFF, 0xFFFF, 1),
            Header(kFrameLargest, MbKindCall, 0xFFFF, 0xFFFF, 1) + RandomBytes(1000),  // cut short
            Header(kFrameHeader - 1, MbKindCall, 0, 0, 0),
            Header(kFrameHeader + 4, MbKindCall, 2, 2, 2) + "abcd",                 // present = 2
            Header(kFrameHeader + 4, MbKindCall, 2, 2, 0) + "abcd",                 // data not present
            Header(kFrameHeader + 4, MbKindCall, 3, 2, 1) + "abcd",                 // lengths disagree
            Header(kFrameHeader + 2, MbKindCall, 2, 0, 0) + std::string("a\0", 2),  // NUL in service
        };
        for (const std::string& bytes : broken) Connection(bytes);
        malformed_ = kRandomConnections + static_cast<long>(std::size(broken));
    }

    // Whole frames of the item kinds whose data is no stored item: random bytes, bytes that
    // begin like a stored item, empty data and no data; to the stress service and to another.
    void Garbage(const std::string& service) {
        for (uint16_t kind = MbKindAdvise; kind <= MbKindReply; ++kind) {
            std::string frames;
            for (int i = 0; i < kGarbageFramesPerKind; ++i) {
                std::string data = RandomBytes(random_() % kLongestGarbage);
                if (i % 4 == 1) data = std::string("Kvb\0\x10\x01\x52", 7) + data;
                if (i % 4 == 2) data.clear();
                frames += Frame(kind, i % 8 < 6 ? service : "no-such-service", i % 4 == 3 ? nullptr : &data);
            }
            Connection(frames);
            garbage_ += kGarbageFramesPerKind;
        }
    }

    void Bare() {
        for (int i = 0; i < kBareConnections; ++i) Connection("");
    }

    void Report() const {
        Say("report frames=%ld malformed=%ld bare=%d bytes=%ld failed_connects=%ld", garbage_, malformed_,
            kBareConnections, bytes_, failedConnects_);
    }

private:
    std::mt19937 random_;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    long garbage_ = 0;
    long malformed_ = 0;
    long bytes_ = 0;
    long failedConnects_ = 0;
};

}  // namespace

int Hostile(const std::vector<std::string>& args) {
    if (args.size() != 1) return 2;
    CHostile hostile(args[0]);
    hostile.Malformed();
    hostile.Garbage(kService);
    hostile.Bare();
    hostile.Report();
    return 0;
}

}  // namespace stress
