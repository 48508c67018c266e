// Pieces shared by the commands of the `mbus` tool: exit codes, messages, handle ownership, the
// library's lifetime and trace callback, output lines, shown items, confirmed sending.
#pragma once

#include <mbus/mbus.h>
#include <mbus/win32.h>

#include <functional>
#include <initializer_list>
#include <string>

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// "mbus: message" on stderr; the exit code kExitFailed, or kExitUsage for a usage error (after
// which main prints the command's usage line).
int Failure(const std::string& message);
int UsageError(const std::string& message);

// A handle released by `Close` when it goes out of scope.
template <auto Close>
class CHeld {
public:
    explicit CHeld(MbHandle handle = nullptr) : handle_(handle) {}
    CHeld(const CHeld&) = delete;
    CHeld& operator=(const CHeld&) = delete;
    ~CHeld() { Reset(); }
    MbHandle Get() const { return handle_; }
    void Reset(MbHandle handle = nullptr) {
        if (handle_ != nullptr) static_cast<void>(Close(handle_));
        handle_ = handle;
    }
    // For an out-argument: closes what it held and holds what the call stores there.
    MbHandle* Out() {
        Reset();
        return &handle_;
    }
    // Hands the handle over to the caller, who closes it.
    MbHandle Release() {
        MbHandle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    MbHandle handle_;
};
using CItemRef = CHeld<MbHandleRelease>;

// The library for one command: initialised with the tool's trace callback on construction (or a
// message on stderr when it cannot start), terminated on destruction.
class CLibrary {
public:
    CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    ~CLibrary();
    bool Ready() const { return ready_; }
    // Terminates the library now; the destructor then has nothing left to do. The source
    // request thread stops only after it performed every queued message, so by the time this
    // returns each failed delivery has been traced.
    void End();
    // How many transport failures ("** RPC Exception") and how many errors were traced so far.
    static unsigned RpcFailures();
    static unsigned Errors();
    // Called with every diagnostic line the library traces (on the library's threads), or none.
    static void SetLineListener(std::function<void(const std::string&)> listener);

private:
    bool ready_;
};

// Writes one line to stdout in one piece and flushes it; safe from any thread.
void PrintLine(const std::string& line);

// An item as the commands print it: its JSON when `json` is set, else its text form; an item
// whose text form would not fit the library's 65,535 bytes is shown as JSON too.
std::string ShowItem(MbItem item, bool json);

// The text of a String item, or "" for an item that holds none.
std::string StringOf(MbItem item);

// Opens a proxy for `service` of `sink` and runs `send` with the source and the proxy; false, with
// the reason on stderr, when the message could not be queued. Closing them afterwards loses
// nothing: a closed source still delivers what it queued.
bool QueueMessage(const std::string& sink, const std::string& service,
                  const std::function<bool(MbSource, MbService)>& send);
// QueueMessage, then releases `items` (the message's) and ends the library to learn whether the
// message went out: kExitOk, or kExitFailed with the reason on stderr. With a timeoutMs other
// than 0 the process ends with kExitFailed when the message has not gone out by then.
int SendAndConfirm(CLibrary& library, const std::string& sink, const std::string& service, unsigned long timeoutMs,
                   std::initializer_list<CItemRef*> items, const std::function<bool(MbSource, MbService)>& send);
