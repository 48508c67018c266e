// Envelopes stored straight into bytes against the map they stand for: a new Map with the same
// MbMapSetNamed calls, stored by MbItemToBytes, byte for byte.
#include <string>
#include <vector>

#include <mbus/mbus.h>

#include "items/storage.h"
#include "messaging/envelope.h"
#include "support/trace_capture.h"

namespace {

using Envelope = LibraryTest;

struct CEntry {
    const char* key;
    MbItem item;
};

std::string Bytes(MbItem blob) {
    const void* data = nullptr;
    uint16_t length = 0;
    if (MbAtomGetBlob(blob, &data, &length) != MbResultOk) return {};
    return std::string(static_cast<const char*>(data), length);
}

// The bytes of the map made with MbMapSetNamed in the given order.
std::string MapBytes(const std::vector<CEntry>& entries) {
    MbItem map = MbMapNew();
    for (const CEntry& entry : entries) EXPECT_EQ(MbMapSetNamed(map, entry.key, entry.item), MbResultOk);
    MbItem blob = MbItemToBytes(map);
    std::string bytes = Bytes(blob);
    MbHandleRelease(blob);
    MbHandleRelease(map);
    return bytes;
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
    MbItem procedure = MbAtomNewString("temperature");
    MbItem argument = MbBuild("{s:i,s:[s,r],s:{s:b}}", "zone", 2, "list", "a", 1.5, "inner", "on", 1);
    MbItem cookie = MbAtomNewCookie(7, 9);
    MbItem result = MbAtomNewReal(21.5);
    MbItem source = MbAtomNewString("querying-sink");
    MbItem service = MbAtomNewString("replies");
    MbItem empty = MbListNew();

    CEnvelope call;
    ASSERT_TRUE(call.Add("proc", procedure));
    ASSERT_TRUE(call.Add("arg", argument));
    EXPECT_EQ(EnvelopeBytes(call), MapBytes({{"proc", procedure}, {"arg", argument}}));

    CEnvelope query;
    ASSERT_TRUE(query.Add("proc", procedure));
    query.AddText("source", "querying-sink");
    ASSERT_TRUE(query.Add("arg", empty));
    ASSERT_TRUE(query.Add("cookie", cookie));
    query.AddText("service", "replies");
    EXPECT_EQ(EnvelopeBytes(query), MapBytes({{"proc", procedure}, {"source", source}, {"arg", empty},
                                              {"cookie", cookie}, {"service", service}}));

    CEnvelope reply;
    ASSERT_TRUE(reply.Add("cookie", cookie));
    ASSERT_TRUE(reply.Add("proc", nullptr)) << "a null item adds nothing";
    ASSERT_TRUE(reply.Add("result", result));
    EXPECT_EQ(EnvelopeBytes(reply), MapBytes({{"cookie", cookie}, {"result", result}}));

    for (MbItem item : {procedure, argument, cookie, result, source, service, empty}) MbHandleRelease(item);
}

TEST_F(Envelope, RefusesUnknownHandlesAndOversizeTreesAsTheMapWould) {
    CEnvelope envelope;
    int local = 0;
    trace_capture::Clear();
    EXPECT_FALSE(envelope.Add("proc", &local));
    EXPECT_EQ(trace_capture::CountContaining("attempt to reference an unknown object at"), 1u);

    // A value of 65000 bytes fits alone; two of them overflow the stream at the same byte as
    // the map's own store, with the same report.
    const std::string big(65000, 'x');
    MbItem blob = MbAtomNewBlob(big.data(), static_cast<uint32_t>(big.size()));
    ASSERT_TRUE(envelope.Add("arg", blob));
    ASSERT_TRUE(envelope.Add("cookie", blob));
    trace_capture::Clear();
    CStorage stream;
    EXPECT_FALSE(envelope.Store(stream));
    const std::vector<TraceRecord> mine = trace_capture::Records();
    trace_capture::Clear();
    EXPECT_EQ(MapBytes({{"arg", blob}, {"cookie", blob}}), "");
    const std::vector<TraceRecord> theirs = trace_capture::Records();
    ASSERT_EQ(mine.size(), theirs.size());
    for (size_t i = 0; i < mine.size(); ++i) EXPECT_EQ(mine[i].text, theirs[i].text);
    EXPECT_FALSE(mine.empty());
    MbHandleRelease(blob);
}
