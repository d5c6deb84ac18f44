#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harness {

bool WaitFor(const std::function<bool()>& condition, Millis timeout, Millis step)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/quellon-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir()
{
    Run({"rm", "-rf", path_}, 30000ms);
}

namespace {

std::vector<std::string> MergedEnvironment(const EnvChanges& changes)
{
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            env[name] = *value;
        else
            env.erase(name);
    }
    std::vector<std::string> out;
    for (const auto& [name, value] : env)
        out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> CStrings(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int OpenOutput(const std::string& path)
{
    if (path.empty())
        return open("/dev/null", O_WRONLY);
    return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const EnvChanges& env,
                 const std::string& stdout_path, const std::string& stderr_path)
{
    if (argv.empty())
        throw std::invalid_argument("Process: empty argv");
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<std::string> args = argv;
    std::vector<std::string> envs = MergedEnvironment(env);
    std::vector<char*> cargs = CStrings(args);
    std::vector<char*> cenv = CStrings(envs);
    const int in = open("/dev/null", O_RDONLY);
    const int out = OpenOutput(stdout_path);
    const int err = OpenOutput(stderr_path);
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        signal(SIGPIPE, SIG_DFL);
        execvpe(cargs[0], cargs.data(), cenv.data());
        _exit(127);
    }
    close(in);
    close(out);
    close(err);
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    setpgid(pid_, pid_);
}

Process::~Process()
{
    Stop(2000ms);
}

bool Process::running()
{
    return !Wait(0ms).has_value();
}

std::optional<int> Process::Wait(Millis timeout)
{
    if (status_ || pid_ <= 0)
        return status_;
    WaitFor(
        [this] {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_)
                status_ = DecodeStatus(status);
            else if (r < 0 && errno == ECHILD)
                status_ = -1;
            return status_.has_value();
        },
        timeout, 5ms);
    return status_;
}

void Process::Signal(int signo)
{
    if (pid_ > 0 && !status_)
        kill(pid_, signo);
}

int Process::Stop(Millis grace)
{
    if (pid_ <= 0)
        return -1;
    if (!status_) {
        kill(-pid_, SIGTERM);
        kill(pid_, SIGTERM);
        if (!Wait(grace)) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            Wait(10000ms);
        }
    }
    // Whatever the group left behind goes too.
    kill(-pid_, SIGKILL);
    return status_.value_or(-1);
}

int Run(const std::vector<std::string>& argv, Millis timeout, std::string* output,
        const EnvChanges& env)
{
    char path[] = "/tmp/quellon-run-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return -1;
    close(fd);
    int status;
    {
        Process p(argv, env, path, path);
        const auto result = p.Wait(timeout);
        status = result ? *result : p.Stop();
        if (!result)
            status = -1;
    }
    if (output)
        *output = ReadFile(path);
    unlink(path);
    return status;
}

EnvChanges Combine(std::initializer_list<EnvChanges> sets)
{
    EnvChanges all;
    for (const EnvChanges& set : sets)
        for (const auto& [name, value] : set)
            all[name] = value;
    return all;
}

EnvChanges EnglishEnv()
{
    EnvChanges env{{"LANG", "C"}};
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"})
        env[name] = std::nullopt;
    return env;
}

EnvChanges QuietLeakCheck()
{
    const char* options = std::getenv("LSAN_OPTIONS");
    return {{"LSAN_OPTIONS", std::string(options ? options : "") + ":print_suppressions=0"}};
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::optional<uint16_t> PortLine(const std::string& path)
{
    const std::string text = ReadFile(path);
    const auto nl = text.find('\n');
    if (nl == std::string::npos)
        return std::nullopt;
    try {
        const unsigned long v = std::stoul(text.substr(0, nl));
        if (v > 0 && v <= 65535)
            return static_cast<uint16_t>(v);
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool FileContains(const std::string& path, const std::string& text)
{
    return ReadFile(path).find(text) != std::string::npos;
}

std::string Hex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

std::string BuildPath(const std::string& relative)
{
    return std::string(QUELLON_BINARY_DIR) + "/" + relative;
}

std::string SourcePath(const std::string& relative)
{
    return std::string(QUELLON_SOURCE_DIR) + "/" + relative;
}

}  // namespace harness
