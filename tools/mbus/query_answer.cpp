// Answering a query from a shell command: the command's output becomes the reply's result.
#include "query_answer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "json.h"
#include "stored_form.h"
#include "tool.h"
#include "values.h"

namespace {

// A reply's result is one stored item: output beyond this many bytes cannot be one.
constexpr size_t kMaxOutput = 65535;

// An item as the command's argument: a String as its text, any other item as JSON.
std::string ShellWord(MbItem item) {
    uint32_t type = MbTypeUnknown;
    MbItemGetType(item, &type);
    return type == MbTypeString ? StringOf(item) : ItemJson(item);
}

// Runs `command` through /bin/sh with `args` as $1..., `environment` added to this process's,
// stdin from /dev/null and SIGINT and SIGTERM unblocked (the watch blocks them for itself). Its
// stdout goes to `output` until that holds more than kMaxOutput bytes; the rest is read and
// dropped. The result is its exit status, or -1 when it could not run or was killed.
int RunShell(const std::string& command, const CArgs& args, const std::string& environment, std::string* output) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    std::vector<const char*> argv = {"/bin/sh", "-c", command.c_str(), "mbus"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    std::vector<const char*> envp = {environment.c_str()};
    for (char** variable = environ; *variable != nullptr; ++variable) envp.push_back(*variable);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(argv.data()),
                                     const_cast<char**>(envp.data())) == 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        if (output->size() <= kMaxOutput) output->append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    if (!started) return -1;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The command's output as the reply's result: stored bytes give their item, anything else a
// String without the last newline. Null, with the reason in `error`, when it can be neither.
MbItem OutputItem(std::string output, std::string* error) {
    if (LooksStored(output)) return LoadStored(output, error);
    if (!output.empty() && output.back() == '\n') output.pop_back();
    if (output.find('\0') != std::string::npos) {
        *error = "it holds a NUL byte, which a String cannot (write stored bytes with 'mbus encode')";
        return nullptr;
    }
    return WordItem('s', output, error);
}

}  // namespace

void AnswerQuery(MbItem query, const std::string& command) {
    CItemRef source, service, cookie, procedure, argument, result;
    MbMapGetNamed(query, "source", source.Out());
    MbMapGetNamed(query, "service", service.Out());
    MbMapGetNamed(query, "cookie", cookie.Out());
    MbMapGetNamed(query, "proc", procedure.Out());
    MbMapGetNamed(query, "arg", argument.Out());
    if (cookie.Get() == nullptr) {
        Failure("the query holds no cookie to answer by; no reply is sent");
        return;
    }
    CArgs args = {ShellWord(procedure.Get())};
    if (argument.Get() != nullptr) args.push_back(ShellWord(argument.Get()));
    std::string output;
    const int status = RunShell(command, args, "MBUS_QUERY=" + ItemJson(query), &output);
    if (status != 0) {
        Failure("the reply command " +
                (status > 0 ? "ended with status " + std::to_string(status) : "did not end normally") +
                "; no reply is sent");
        return;
    }
    std::string error;
    result.Reset(OutputItem(output, &error));
    if (result.Get() == nullptr) {
        Failure("the reply command's output makes no result: " + error + "; no reply is sent");
        return;
    }
    QueueMessage(StringOf(source.Get()), StringOf(service.Get()), [&](MbSource, MbService proxy) {
        return MbServiceReply(proxy, 0, procedure.Get(), cookie.Get(), result.Get()) != 0;
    });
}
