// mbus_stress: flow, failure and hostile-input scenarios between real processes, through the
// public interface of the shared library only.
//   mbus_stress run SCENARIO...   the driver: "all", fan-in, burst, never-take, kill-sender,
//                                 kill-receiver, hostile, gone
//   mbus_stress ROLE ARGS...      one process of a scenario (stress_roles.h)
#include <cstring>
#include <string>
#include <vector>

#include "stress/stress_roles.h"
#include "stress/stress_scenarios.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::vector<std::string> args(argv + 2, argv + argc);
    const std::string verb = argv[1];
    if (verb == "run") return stress::RunScenarios(args);
    if (verb == "receiver") return stress::Receiver(args);
    if (verb == "sender") return stress::Sender(args);
    if (verb == "sender-split") return stress::SplitSender(args);
    if (verb == "sender-reconnect") return stress::ReconnectSender(args);
    if (verb == "sender-gone") return stress::GoneSender(args);
    if (verb == "hostile") return stress::Hostile(args);
    return 2;
}
