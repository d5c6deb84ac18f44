// What a test needs to see the program in Japanese without touching the
// machine's folders: the locale, and the installed catalogue.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace harness {

constexpr char kJapaneseLocale[] = "ja_JP.UTF-8";

// Makes ja_JP.UTF-8 usable: the machine's own when it has one (""), else
// one compiled into `dir` with localedef (its path, for LOCPATH). nullopt
// when neither works.
std::optional<std::string> JapaneseLocalePath(const std::string& dir);

// Installs the build into a staging prefix under `dir` and says how to
// start the program so that it finds the staged catalogue at its compiled-in
// folder: nothing when the build was configured with a prefix inside the
// build tree, else a private mount namespace that lays the staged folder
// over the compiled-in one. `skip` tells why neither is possible.
struct Staging {
    std::vector<std::string> wrapper;
    std::string skip;
    std::string prefix;  // where the files went
};
Staging StageInstall(const std::string& dir);

}  // namespace harness
