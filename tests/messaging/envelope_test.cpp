// Envelopes stored straight into bytes, byte for byte against the same map stored as an item.

#include "items/item_handles.h"
#include "items/storage.h"
#include "messaging/envelope.h"
#include "support/item_handles.h"

namespace {

using Envelope = LibraryTest;

// The bytes of the map made with MbMapSetNamed in the given order; "<no bytes>" when refused.
std::string MapBytes(const std::vector<std::pair<const char*, MbItem>>& entries) {
    Held map(MbMapNew());
    for (const auto& [key, item] : entries) EXPECT_EQ(MbMapSetNamed(map, key, item), MbResultOk);
    return BlobText(Held(MbItemToBytes(map)));
}

std::string EnvelopeBytes(const CEnvelope& envelope) {
    CStorage stream;
    if (!envelope.Store(stream)) return {};
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

}  // namespace

TEST_F(Envelope, StoresTheBytesOfTheMapItStandsFor) {
    Held procedure(MbAtomNewString("temperature")), cookie(MbAtomNewCookie(7, 9)), empty(MbListNew());
    Held argument(MbBuild("{s:i,s:[s,r],s:{s:b}}", "zone", 2, "list", "a", 1.5, "inner", "on", 1));
    Held result(MbAtomNewReal(21.5)), source(MbAtomNewString("querying-sink")), service(MbAtomNewString("replies"));

    CEnvelope call;
    call.Add("proc", ResolveItem(procedure));
    call.Add("arg", ResolveItem(argument));
    EXPECT_EQ(EnvelopeBytes(call), MapBytes({{"proc", procedure}, {"arg", argument}}));

    CEnvelope query;
    query.Add("proc", ResolveItem(procedure));
    query.AddText("source", "querying-sink");
    query.Add("arg", ResolveItem(empty));
    query.Add("cookie", ResolveItem(cookie));
    query.AddText("service", "replies");
    EXPECT_EQ(EnvelopeBytes(query), MapBytes({{"proc", procedure}, {"source", source}, {"arg", empty},
                                              {"cookie", cookie}, {"service", service}}));

    CEnvelope reply;
    reply.Add("cookie", ResolveItem(cookie));
    reply.Add("proc", nullptr);  // a null item adds nothing
    reply.Add("result", ResolveItem(result));
    EXPECT_EQ(EnvelopeBytes(reply), MapBytes({{"cookie", cookie}, {"result", result}}));
}

TEST_F(Envelope, RefusesOversizeTreesAsTheMapWould) {
    CEnvelope envelope;
    // A value of 65000 bytes fits alone; two of them overflow the stream at the same byte as
    // the map's own store, with the same report.
    const std::string big(65000, 'x');
    Held blob(MbAtomNewBlob(big.data(), static_cast<uint32_t>(big.size())));
    envelope.Add("arg", ResolveItem(blob));
    envelope.Add("cookie", ResolveItem(blob));
    trace_capture::Clear();
    CStorage stream;
    EXPECT_FALSE(envelope.Store(stream));
    const std::vector<TraceRecord> mine = trace_capture::Records();
    trace_capture::Clear();
    EXPECT_EQ(MapBytes({{"arg", blob}, {"cookie", blob}}), "<no bytes>");
    EXPECT_EQ(mine, trace_capture::Records());
    EXPECT_FALSE(mine.empty());
}
