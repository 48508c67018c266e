// Who may deliver to a sink: its own user, root, and the users MBUS_ALLOW_USERS names. The
// other users are peer processes that drop to the user nobody, which only root can start.
#include <cstdlib>

#include "runtime/allowed_users.h"
#include "support/child_process.h"
#include "support/messaging_fixture.h"

namespace {

const std::string kNobody = "65534";
constexpr int kSends = 5;

struct ParseCase {
    const char* text;
    bool everyone;
    std::vector<uint32_t> users;
    std::vector<std::string> ignored;
};

TEST(AllowedUsers, IdsAndStarAreTakenAndEveryOtherEntryIsIgnored) {
    const ParseCase cases[] = {
        {nullptr,                            false, {},                  {}},
        {"",                                 false, {},                  {}},
        {" ,\t, ",                           false, {},                  {}},
        {"1001,1002",                        false, {1001, 1002},        {}},
        {" 1001 ,\t1002\t,",                 false, {1001, 1002},        {}},
        {"*",                                true,  {},                  {}},
        {"1001, * ",                         true,  {1001},              {}},
        {"0,007,4294967294",                 false, {0, 7, 4294967294u}, {}},
        {"4294967295,99999999999999999999", false, {},                  {"4294967295", "99999999999999999999"}},
        {"-5,+5,1 2,0x10,**,nobody,1001",    false, {1001},              {"-5", "+5", "1 2", "0x10", "**", "nobody"}},
    };
    for (const ParseCase& c : cases) {
        std::vector<std::string> ignored;
        const CPeerAllowance allowance = ParseAllowedUsers(c.text, &ignored);
        const char* shown = c.text != nullptr ? c.text : "(null)";
        EXPECT_EQ(allowance.everyone, c.everyone) << shown;
        EXPECT_EQ(allowance.users, c.users) << shown;
        EXPECT_EQ(ignored, c.ignored) << shown;
    }
}

bool Root() {
    return geteuid() == 0;
}

size_t Containing(const std::vector<std::string>& lines, const std::string& needle) {
    size_t count = 0;
    for (const std::string& line : lines) count += line.find(needle) != std::string::npos;
    return count;
}

// A sink in this process (root) with MBUS_ALLOW_USERS set as the case says before the library
// starts, and a peer as nobody that sends to it kSends times, each time on a new connection.
struct AccessCase {
    const char* allow;
    bool admitted;
    std::vector<std::string> warnings;  // traced as the sink opens
};
void PrintTo(const AccessCase& c, std::ostream* out) {
    *out << "MBUS_ALLOW_USERS=\"" << c.allow << "\"";
}

class SinkAccess : public SinkTest, public ::testing::WithParamInterface<AccessCase> {
protected:
    void SetUp() override {
        if (!Root()) GTEST_SKIP() << "only root can run a peer as another user";
        setenv("MBUS_ALLOW_USERS", GetParam().allow, 1);
        SinkTest::SetUp();
    }
    void TearDown() override {
        unsetenv("MBUS_ALLOW_USERS");
        if (Root()) SinkTest::TearDown();
    }
};

TEST_P(SinkAccess, NobodyIsServedOnlyWhenAllowedAndARefusedProcessIsTracedOnce) {
    const AccessCase& c = GetParam();
    const OpenService service(MbSinkServiceOpen(sink_, "_default", event_));
    std::vector<std::string> warnings;
    for (const TraceRecord& record : trace_capture::Records()) warnings.push_back(record.text);
    EXPECT_EQ(warnings, c.warnings);

    CChildProcess nobody(MBUS_MESSAGING_PEER, {"as", kNobody, "send", name_, std::to_string(kSends)});
    const pid_t pid = nobody.Pid();
    std::vector<std::string> lines;  // until it ended ("<end>") or stalled ("<time-out>")
    do lines.push_back(nobody.Next());
    while (lines.back()[0] != '<');
    ASSERT_EQ(lines.end()[-2], "sent");
    EXPECT_EQ(nobody.Wait(), 0);
    const size_t refused = c.admitted ? 0 : kSends;
    EXPECT_EQ(Containing(lines, "peer: ** RPC Exception 0x00000005: in CSource::Request()."), refused);
    EXPECT_EQ(Containing(lines, "Access is denied."), refused);
    EXPECT_EQ(trace_capture::CountContaining("**Warning: delivery refused to process " + std::to_string(pid) +
                                             " of user 65534, which is not the sink's user, root or in "
                                             "MBUS_ALLOW_USERS.\n"),
              c.admitted ? 0u : 1u);

    // What arrived from nobody and from this process's own user, in any order across the two.
    const ProxyTo own(name_);
    ASSERT_EQ(CallText(own, "own"), 1);
    std::vector<std::string> arrived;
    for (size_t i = 0; i < kSends - refused + 1; ++i) arrived.push_back(NextText(service, event_));
    EXPECT_EQ(std::count(arrived.begin(), arrived.end(), "\"own\""), 1);
    EXPECT_EQ(std::count(arrived.begin(), arrived.end(), "\"hi\""), static_cast<long>(kSends - refused));
    Held late;
    EXPECT_EQ(MbSinkServiceTake(service, late.Out()), MbNothingReceived);
}

INSTANTIATE_TEST_SUITE_P(
    Allowances, SinkAccess,
    ::testing::Values(AccessCase{"", false, {}}, AccessCase{"65534", true, {}}, AccessCase{" 1001, * ", true, {}},
                      AccessCase{"1001,nobody, 65534x", false,
                                 {"**Warning: MBUS_ALLOW_USERS: ignored \"nobody\", \"65534x\", which are no user id "
                                  "or *.\n"}}));

// Root delivers to a sink of nobody, which no allowance names: the call "quit" ends the peer.
TEST_F(LibraryTest, RootDeliversToTheSinkOfAnotherUser) {
    if (!Root()) GTEST_SKIP() << "only root can run a peer as another user";
    const std::string name = UniqueName("ra");
    CChildProcess receiver(MBUS_MESSAGING_PEER, {"as", kNobody, "receiver", name});
    ASSERT_EQ(receiver.Next(), "ready");
    ASSERT_EQ(CallText(ProxyTo(name), "quit"), 1);
    EXPECT_EQ(receiver.Wait(), 0);
}

}  // namespace
