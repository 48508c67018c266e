// hostile SINK: bad bytes, bad frames and bare connections at SINK's endpoint (the abstract Unix
// stream socket "\0mbus/ncalrpc/" + sink name), written without the library; it starts at once.
#include <sys/socket.h>
#include <sys/un.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <random>
#include <string_view>

#include "stress/stress.h"

namespace stress {

namespace {

using namespace std::string_view_literals;

constexpr char kEndpointPrefix[] = "mbus/ncalrpc/";
constexpr uint32_t kFrameMagic = 0x3153424Du;
constexpr uint32_t kFrameHeader = 20, kFrameLargest = kFrameHeader + 0xFFFFu + 0xFFFFu;
constexpr int kRandomConnections = 50;
constexpr size_t kRandomBytes = 4096;
constexpr int kGarbageFramesPerKind = 200;
constexpr size_t kLongestGarbage = 300;
constexpr int kLyingFramesPerItem = 2;  // per kind
constexpr int kNestingDepth = 2000;
constexpr int kBareConnections = 10000;
constexpr unsigned kSeed = 20240611;

// A frame starts with this header, little-endian, then the service and data bytes.
struct CFrameHeader {
    uint32_t size, magic, flags;
    uint16_t kind, serviceLength, dataLength;
    uint8_t present, reserved;
};
static_assert(sizeof(CFrameHeader) == kFrameHeader && std::endian::native == std::endian::little);

std::string Header(uint32_t size, uint16_t kind, uint16_t serviceLength, uint16_t dataLength, uint8_t present) {
    const CFrameHeader header{size, kFrameMagic, 0, kind, serviceLength, dataLength, present, 0};
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

std::string Frame(uint16_t kind, std::string_view service, const std::string* data) {
    const uint16_t length = data != nullptr ? static_cast<uint16_t>(data->size()) : 0;
    return Header(kFrameHeader + static_cast<uint32_t>(service.size()) + length, kind,
                  static_cast<uint16_t>(service.size()), length, data != nullptr) +
           std::string(service) + (data != nullptr ? *data : std::string());
}

// Stored items whose counts lie, behind a valid 16-byte stored-form header: "Kvb", 0, u16 header
// size, u16 format version 1, u32 library version, 4 zero bytes. An item is 'A' and an atom (a
// letter and its payload; a string 's' has a u16 length), 'L' and a u16 count of items, or 'M'
// and a u16 count of atom keys each followed by an item.
std::vector<std::string> LyingItems() {
    const std::string header("Kvb\0\x10\0\x01\0\x52\0\0\0\0\0\0\0", 16);
    std::string nested;
    for (int i = 0; i < kNestingDepth; ++i) nested += "L\xFF\xFF";
    std::vector<std::string> items;
    for (const std::string_view body : {
             "L\xFF\xFF"sv,                         // a list of 65,535, none present
             "M\xFF\xFFs\x04\0procAi\x01\0\0\0"sv,  // a map of 65,535, one present
             "M\x02\0LL\xFF\xFFL\xFF\xFF"sv,        // a map of 2 keyed by lists of 65,535
             std::string_view(nested),              // lists in lists, 65,535 each
             "As\xFF\xFF"sv,                        // a string of 65,535 bytes, none present
         }) {
        items.push_back(header + std::string(body));
    }
    return items;
}

class CHostile {
public:
    explicit CHostile(const std::string& sink) : random_(kSeed) {
        address_.sun_family = AF_UNIX;
        const std::string path = kEndpointPrefix + sink;
        std::memcpy(address_.sun_path + 1, path.data(), path.size());
        addressLength_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    }

    // One connection that writes `bytes` (the sink may cut it short) and closes.
    void Connection(const std::string& bytes) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // A sink that stops accepting or reading fails the connection instead of hanging it.
        const timeval limit{2, 0};
        const bool connected = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 &&
                               connect(fd, reinterpret_cast<const sockaddr*>(&address_), addressLength_) == 0;
        failedConnects_ += !connected;
        ssize_t n = 0;
        for (size_t sent = 0; connected && sent < bytes.size(); sent += static_cast<size_t>(n)) {
            if ((n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL)) <= 0) break;
            bytes_ += n;
        }
        if (fd >= 0) close(fd);
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

    // Per item kind, a connection of frames whose data is no stored item (random bytes, bytes
    // that begin like one, empty data, no data; to the stress service and to another), and one
    // of lying stored items, which reach the item loader.
    void Frames() {
        const std::vector<std::string> lying = LyingItems();
        for (uint16_t kind = MbKindAdvise; kind <= MbKindReply; ++kind) {
            std::string frames;
            for (int i = 0; i < kGarbageFramesPerKind; ++i) {
                std::string data = RandomBytes(random_() % kLongestGarbage);
                if (i % 4 == 1) data = std::string("Kvb\0\x10\x01\x52", 7) + data;
                if (i % 4 == 2) data.clear();
                frames += Frame(kind, i % 8 < 6 ? kService : "no-such-service", i % 4 == 3 ? nullptr : &data);
            }
            Connection(frames);
            frames.clear();
            for (int i = 0; i < kLyingFramesPerItem; ++i) {
                for (const std::string& item : lying) frames += Frame(kind, kService, &item);
            }
            Connection(frames);
            const long sent = kLyingFramesPerItem * static_cast<long>(lying.size());
            garbage_ += kGarbageFramesPerKind;
            lying_ += sent;
            // Only calls and replies are queued: at most these reach the receiver as messages.
            if (kind == MbKindCall || kind == MbKindReply) queueable_ += sent;
        }
    }

    void Report() const {
        Say("report frames=%ld lying=%ld queueable=%ld malformed=%ld bare=%d bytes=%ld failed_connects=%ld", garbage_,
            lying_, queueable_, malformed_, kBareConnections, bytes_, failedConnects_);
    }

private:
    std::mt19937 random_;
    sockaddr_un address_{};
    socklen_t addressLength_ = 0;
    long garbage_ = 0, lying_ = 0, queueable_ = 0, malformed_ = 0, bytes_ = 0, failedConnects_ = 0;
};

}  // namespace

int Hostile(const Args& args) {
    if (args.size() != 1) return 2;
    Say("ready");
    CHostile hostile(args[0]);
    hostile.Malformed();
    hostile.Frames();
    for (int i = 0; i < kBareConnections; ++i) hostile.Connection("");
    hostile.Report();
    return 0;
}

}  // namespace stress
