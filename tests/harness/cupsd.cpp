#include "cupsd.h"

#include <cstdlib>
#include <stdexcept>

#include <cups/cups.h>
#include <dirent.h>
#include <sys/stat.h>

namespace harness {

namespace {

constexpr Millis kStartDeadline = 20000ms;
constexpr Millis kClientDeadline = 30000ms;

void MakeDir(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot create " + path);
}

}  // namespace

PrivateCupsd::PrivateCupsd()
{
    MakeDir(home());
    MakeDir(tmpdir());
    MakeDir(client_root());
    cupsd_ = std::make_unique<Process>(
        std::vector<std::string>{SourcePath("scripts/private-cupsd"), root()}, EnvChanges{},
        dir_ / "cupsd.out", dir_ / "cupsd.out");
    std::string answer;
    const bool ready = WaitFor(
        [&] {
            if (!cupsd_->running())
                return true;
            Run({"lpstat", "-h", server(), "-r"}, kClientDeadline, &answer, env());
            return answer.find("scheduler is running") != std::string::npos;
        },
        kStartDeadline, 20ms);
    if (!ready || !cupsd_->running())
        throw std::runtime_error("private cupsd did not start:\n" + ReadFile(dir_ / "cupsd.out") +
                                 ReadFile(error_log()));
}

PrivateCupsd::~PrivateCupsd()
{
    RestoreEnvironment();
    cupsd_->Stop();
}

EnvChanges PrivateCupsd::env(const std::string& via) const
{
    return {{"CUPS_SERVER", via.empty() ? server() : via},
            {"CUPS_SERVERROOT", client_root()},
            {"HOME", home()},
            {"TMPDIR", tmpdir()}};
}

void PrivateCupsd::UseInThisProcess(const std::string& via)
{
    for (const auto& [name, value] : env(via)) {
        if (!saved_env_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        setenv(name.c_str(), value->c_str(), 1);
    }
    cupsSetServer(via.empty() ? server().c_str() : via.c_str());
}

void PrivateCupsd::RestoreEnvironment()
{
    if (saved_env_.empty())
        return;
    for (const auto& [name, value] : saved_env_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    saved_env_.clear();
    cupsSetServer(nullptr);
}

::testing::AssertionResult PrivateCupsd::AddQueue(const std::string& name, const std::string& ppd)
{
    std::string path = ppd;
    if (ppd.find('\n') != std::string::npos) {
        path = dir_ / ("queue-" + std::to_string(++ppd_serial_) + ".ppd");
        WriteFile(path, ppd);
    }
    std::string output;
    const int status =
        Run({"lpadmin", "-h", server(), "-p", name, "-E", "-v", "file:///dev/null", "-P", path},
            kClientDeadline, &output, env());
    if (status != 0)
        return ::testing::AssertionFailure() << "lpadmin could not add queue " << name
                                             << " (status " << status << "): " << output;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PrivateCupsd::RemoveQueue(const std::string& name)
{
    std::string output;
    const int status =
        Run({"lpadmin", "-h", server(), "-x", name}, kClientDeadline, &output, env());
    if (status != 0)
        return ::testing::AssertionFailure() << "lpadmin could not remove queue " << name
                                             << " (status " << status << "): " << output;
    return ::testing::AssertionSuccess();
}

int PrivateCupsd::TmpFileCount() const
{
    DIR* dir = opendir(tmpdir().c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            ++count;
    }
    closedir(dir);
    return count;
}

std::string MakePpd(const std::string& model, const std::string& file_version,
                    const std::string& extra_lines)
{
    const std::string nick = model.empty() ? "Brelko Generic" : model;
    std::string ppd = "*PPD-Adobe: \"4.3\"\n"
                      "*FormatVersion: \"4.3\"\n";
    if (!file_version.empty())
        ppd += "*FileVersion: \"" + file_version + "\"\n";
    ppd += "*LanguageVersion: English\n"
           "*LanguageEncoding: ISOLatin1\n"
           "*PCFileName: \"BRELKO.PPD\"\n"
           "*Manufacturer: \"Brelko\"\n"
           "*Product: \"(" +
           nick +
           ")\"\n"
           "*ModelName: \"" +
           nick +
           "\"\n"
           "*ShortNickName: \"" +
           nick +
           "\"\n"
           "*NickName: \"" +
           nick +
           ", Quellon test driver\"\n"
           "*PSVersion: \"(3010.000) 0\"\n"
           "*LanguageLevel: \"3\"\n"
           "*ColorDevice: False\n"
           "*DefaultColorSpace: Gray\n"
           "*FileSystem: False\n"
           "*Throughput: \"20\"\n"
           "*LandscapeOrientation: Plus90\n"
           "*TTRasterizer: Type42\n";
    if (!model.empty())
        ppd += "*VXPrinterName: \"" + model + "\"\n";
    ppd += "*OpenUI *PageSize/Page Size: PickOne\n"
           "*OrderDependency: 10 AnySetup *PageSize\n"
           "*DefaultPageSize: A4\n"
           "*PageSize A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
           "*PageSize Letter/Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
           "*CloseUI: *PageSize\n"
           "*OpenUI *PageRegion: PickOne\n"
           "*OrderDependency: 10 AnySetup *PageRegion\n"
           "*DefaultPageRegion: A4\n"
           "*PageRegion A4/A4: \"<</PageSize[595 842]/ImagingBBox null>>setpagedevice\"\n"
           "*PageRegion Letter/Letter: \"<</PageSize[612 792]/ImagingBBox null>>setpagedevice\"\n"
           "*CloseUI: *PageRegion\n"
           "*DefaultImageableArea: A4\n"
           "*ImageableArea A4/A4: \"12 12 583 830\"\n"
           "*ImageableArea Letter/Letter: \"12 12 600 780\"\n"
           "*DefaultPaperDimension: A4\n"
           "*PaperDimension A4/A4: \"595 842\"\n"
           "*PaperDimension Letter/Letter: \"612 792\"\n";
    return ppd + extra_lines;
}

}  // namespace harness
