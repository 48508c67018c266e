// The library for one command, its trace callback, and the tool's output.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "json.h"
#include "tool.h"

namespace {

std::mutex outputLock;

// What the trace callback shares with the commands. The callback runs on the library's threads.
std::mutex traceLock;
std::function<void(const std::string&)> lineListener;
std::atomic<unsigned> rpcFailures{0};
std::atomic<unsigned> errors{0};

// Warnings and errors go to stderr; diagnostic lines go, one by one, to the listener. Transport
// failures are counted for the sending commands, errors for the readers of stored bytes.
void OnTrace(const char* text, uint32_t category) {
    const std::string message = text != nullptr ? text : "";
    if (message.find("** RPC Exception") != std::string::npos) ++rpcFailures;
    if ((category & MbTraceError) != 0) ++errors;
    if ((category & (MbTraceWarning | MbTraceError)) != 0) {
        std::lock_guard<std::mutex> guard(outputLock);
        std::fprintf(stderr, "mbus: library: %s%s", message.c_str(),
                     !message.empty() && message.back() == '\n' ? "" : "\n");
        return;
    }
    std::lock_guard<std::mutex> guard(traceLock);
    if (!lineListener) return;
    for (size_t start = 0; start < message.size();) {
        size_t end = message.find('\n', start);
        if (end == std::string::npos) end = message.size();
        if (end > start) lineListener(message.substr(start, end - start));
        start = end + 1;
    }
}

void PrintError(const std::string& message) {
    std::lock_guard<std::mutex> guard(outputLock);
    std::fprintf(stderr, "mbus: %s\n", message.c_str());
}

}  // namespace

int Failure(const std::string& message) {
    PrintError(message);
    return kExitFailed;
}

int UsageError(const std::string& message) {
    PrintError(message);
    return kExitUsage;
}

CLibrary::CLibrary() : ready_(MbLibraryInit() != 0) {
    if (ready_) {
        MbTracerSet(OnTrace);
    } else {
        PrintError("the library cannot start");
    }
}

CLibrary::~CLibrary() {
    End();
}

void CLibrary::End() {
    if (ready_) MbLibraryTerm();
    ready_ = false;
}

unsigned CLibrary::RpcFailures() {
    return rpcFailures;
}

unsigned CLibrary::Errors() {
    return errors;
}

void CLibrary::SetLineListener(std::function<void(const std::string&)> listener) {
    std::lock_guard<std::mutex> guard(traceLock);
    lineListener = std::move(listener);
}

void PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The text form ends with a NUL, which is not shown; without one it could not be made.
std::string ShowItem(MbItem item, bool json) {
    if (!json) {
        CItemRef text(MbItemToText(item, 0));
        const void* data = nullptr;
        uint16_t length = 0;
        if (MbAtomGetBlob(text.Get(), &data, &length) == MbResultOk && length > 0) {
            return std::string(static_cast<const char*>(data), length - 1);
        }
    }
    return ItemJson(item);
}

std::string StringOf(MbItem item) {
    const char* text = nullptr;
    uint16_t length = 0;
    return MbAtomGetString(item, &text, &length) == MbResultOk ? std::string(text, length) : "";
}
