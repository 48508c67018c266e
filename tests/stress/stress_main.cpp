// mbus_stress run SCENARIO...   the driver: "all", fan-in, burst, never-take, kill-sender,
//                               kill-receiver, hostile, gone
// mbus_stress ROLE ARGS...      one process of a scenario: receiver, sender or hostile
#include "stress/stress.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const stress::Args args(argv + 2, argv + argc);
    const std::string verb = argv[1];
    if (verb == "run") return stress::RunScenarios(args);
    if (verb == "receiver") return stress::Receiver(args);
    if (verb == "sender") return stress::Sender(args);
    if (verb == "hostile") return stress::Hostile(args);
    return 2;
}
