// The roles this program plays as a child of the driver. Each speaks the line protocol on its
// standard input and output (see stress_common.h) and returns its exit status.
#pragma once

#include <string>
#include <vector>

namespace stress {

// The longest a role runs, whatever it is told: no process of a scenario outlives it.
inline constexpr long kRoleDeadlineMs = 120000;
// How long a role waits for the driver's "go".
inline constexpr int kGoWaitMs = 30000;

// receiver NAME [hold] [traced]: opens sink NAME with the stress service and takes numbered
// calls, tallying them per sender. Prints "ready". Commands: "drain" (ends a hold: prints
// "drained taken=N" after its first pass), "finish" (reports once nothing has arrived for a
// while, then ends).
int Receiver(const std::vector<std::string>& args);
// sender NAME ID COUNT: calls COUNT numbered calls, a refused one again after a short sleep.
int Sender(const std::vector<std::string>& args);
// sender-split STUCK FLOWING: calls STUCK until refused, then both sinks for a while.
int SplitSender(const std::vector<std::string>& args);
// sender-reconnect NAME COUNT: calls until told "again" (the driver killed and replaced the
// receiver meanwhile), then COUNT calls under a second sender id.
int ReconnectSender(const std::vector<std::string>& args);
// sender-gone LIVE MISSING COUNT: COUNT calls to a live sink, then COUNT to a missing one.
int GoneSender(const std::vector<std::string>& args);
// hostile NAME: bad bytes, bad frames and bare connections at the sink's endpoint.
int Hostile(const std::vector<std::string>& args);

}  // namespace stress
