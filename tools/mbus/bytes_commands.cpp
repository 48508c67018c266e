// `mbus encode` and `mbus decode`: items to stored bytes on stdout, and stored bytes back to text.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "stored_form.h"
#include "tool.h"
#include "values.h"

namespace {

// Stored items hold at most this many bytes; reading one more tells that a file holds more.
constexpr size_t kMaxStored = 65535;

// Up to kMaxStored + 1 bytes of `file`; false, with the reason in `error`, when it cannot be read.
bool ReadBytes(FILE* file, std::string* bytes, std::string* error) {
    bytes->resize(kMaxStored + 1);
    bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
    if (std::ferror(file) == 0) return true;
    *error = std::strerror(errno);
    return false;
}

}  // namespace

int EncodeCommand(const CCommandLine& line) {
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    std::string error;
    CItemRef item(BuildItem(*line.format, line.values, &error));
    if (item.Get() == nullptr) return UsageError(error);
    const std::string bytes = StoredBytes(item.Get());
    if (bytes.empty()) return Failure("the item cannot be stored: a stored item holds at most 65535 bytes");
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || std::fflush(stdout) != 0) {
        return Failure(std::string("cannot write the stored bytes: ") + std::strerror(errno));
    }
    return kExitOk;
}

int DecodeCommand(const CCommandLine& line) {
    const bool fromStdin = line.args.empty() || line.args[0] == "-";
    const std::string source = fromStdin ? "stdin" : "'" + line.args[0] + "'";
    FILE* file = fromStdin ? stdin : std::fopen(line.args[0].c_str(), "rb");
    if (file == nullptr) return Failure("cannot open " + source + ": " + std::strerror(errno));
    std::string bytes;
    std::string error;
    const bool read = ReadBytes(file, &bytes, &error);
    if (!fromStdin) std::fclose(file);
    if (!read) return Failure("cannot read " + source + ": " + error);
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    CItemRef item(LoadStored(bytes, &error));
    if (item.Get() == nullptr) return Failure(source + ": " + error);
    PrintLine(ShowItem(item.Get(), line.Has("--json")));
    return kExitOk;
}
