// Pieces shared by the commands of the `mbus` tool: exit codes, arguments, the library's
// lifetime and trace callback, handle ownership, output lines, item text, confirmed sending.
#pragma once

#include <mbus/mbus.h>
#include <mbus/win32.h>

#include <functional>
#include <string>
#include <vector>

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

using CArgs = std::vector<std::string>;

// The commands; each gets the arguments after its name and returns the exit code.
int ListCommand(const CArgs& args);
int SendCommand(const CArgs& args);
int CallCommand(const CArgs& args);
int QueryCommand(const CArgs& args);
int TestCommand(const CArgs& args);
int WatchCommand(const CArgs& args);

// Reads a decimal number into `value`; false unless the whole text is one in [minimum, maximum].
bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* value);

// Splits "--name VALUE" options off `args`: the positional arguments stay in order. Options of other
// names, and one without a value, make it return false.
bool ParseOptions(CArgs* args, const std::vector<std::string>& names, std::vector<std::string>* values);

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

private:
    MbHandle handle_;
};
using CItemRef = CHeld<MbHandleRelease>;

// The library for one command: initialised with the tool's trace callback on construction,
// terminated on destruction.
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
    // How many transport failures ("** RPC Exception") were traced so far.
    static unsigned RpcFailures();
    // Called with every diagnostic line the library traces (on the library's threads), or none.
    static void SetLineListener(std::function<void(const std::string&)> listener);

private:
    bool ready_;
};

// Writes one line to stdout in one piece and flushes it; safe from any thread.
void PrintLine(const std::string& line);

// The text form of an item without its closing NUL ("" when it has none).
std::string ItemText(MbItem item);

// Opens a proxy for `service` of `sink` and runs `send` with the source and the proxy; false, with
// the reason on stderr, when the message could not be queued. Closing them afterwards loses
// nothing: a closed source still delivers what it queued.
bool QueueMessage(const std::string& sink, const std::string& service,
                  const std::function<bool(MbSource, MbService)>& send);
// QueueMessage, then ends the library to learn whether the message went out: kExitOk, or
// kExitFailed with the reason on stderr.
int SendAndConfirm(CLibrary& library, const std::string& sink, const std::string& service,
                   const std::function<bool(MbSource, MbService)>& send);
