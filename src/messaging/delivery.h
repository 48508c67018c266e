// The delivery interface's server side: registering the process sink's endpoint, withdrawing
// it, admitting the connections of the users allowed to deliver, and the routine that takes every
// incoming message to the sink request thread.
#pragma once

#include "base/thread_safety.h"

class CSink;

// Registers `sink` as the process sink under its name (1 to 31 characters) and creates its
// default service. Fails when a process sink is set already. The caller holds the sink's lock.
bool RegisterEndpoint(CSink* sink) REQUIRES(sink);
// Withdraws the endpoint when `sink` is the process sink; `wait` waits for running calls.
bool UnregisterEndpoint(CSink* sink, bool wait);
// Returns once no server routine is running. Called after the process sink was withdrawn, so
// that none can start to use the process objects (tracker, tracer) that the caller destroys.
void AwaitServerRoutines();
// Lets the transport read incoming messages again after the server routine held it off; the
// sink request thread calls it when it took a queue that was full.
void ResumeDelivery();
// The registered sink, or null. Holds no reference.
CSink* ProcessSink();
