#include "japanese.h"

#include <sys/stat.h>
#include <unistd.h>

#include "process.h"

namespace harness {

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string Parent(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool Install(const std::string& prefix_option)
{
    std::vector<std::string> argv{QUELLON_CMAKE_COMMAND, "--install", QUELLON_BINARY_DIR};
    if (!prefix_option.empty())
        argv.insert(argv.end(), {"--prefix", prefix_option});
    std::string out;
    return Run(argv, Millis(60000), &out) == 0;
}

}  // namespace

std::optional<std::string> JapaneseLocalePath(const std::string& dir)
{
    std::string listed;
    Run({"locale", "-a"}, Millis(10000), &listed);
    if (listed.find("ja_JP.utf8") != std::string::npos)
        return std::string();
    const std::string compiled = dir + "/" + kJapaneseLocale;
    // localedef exits 1 for mere warnings; the compiled files tell.
    Run({"localedef", "-i", "ja_JP", "-f", "UTF-8", compiled}, Millis(120000));
    if (!Exists(compiled + "/LC_MESSAGES"))
        return std::nullopt;
    return dir;
}

Staging StageInstall(const std::string& dir)
{
    const std::string localedir = QUELLON_LOCALEDIR;
    const std::string prefix = QUELLON_INSTALL_PREFIX;
    const std::string build = std::string(QUELLON_BINARY_DIR) + "/";
    if (localedir.compare(0, build.size(), build) == 0)
        return Install("") ? Staging{{}, "", prefix} : Staging{{}, "cmake --install failed", ""};

    const std::string stage = dir + "/stage";
    if (!Install(stage))
        return {{}, "cmake --install --prefix " + stage + " failed", ""};
    std::string target = localedir;
    while (!Exists(target) && target.size() > prefix.size())
        target = Parent(target);
    if (!Exists(target) || target.compare(0, prefix.size(), prefix) != 0)
        return {{}, "neither " + localedir + " nor the prefix " + prefix + " exists", stage};
    if (geteuid() != 0)
        return {{}, "laying the staged catalogue over " + target + " needs root", stage};
    const std::string source = stage + target.substr(prefix.size());
    return {{"unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
             "mount --bind \"$1\" \"$2\" && shift 2 && exec \"$@\"", "sh", source, target},
            "",
            stage};
}

}  // namespace harness
