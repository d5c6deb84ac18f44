#include "ppdfetch.h"

#include <algorithm>
#include <memory>

#include <cups/ppd.h>
#include <unistd.h>

// cupsGetPPD3 is deprecated in CUPS 2.4 without a replacement that hands
// back the queue's PPD; it is still the way to read a queue's private keys.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// How long a connection waits for the server to connect or to answer, the
// patience libcups has when it connects for a PPD file itself.
constexpr int kTimeoutMs = 30000;

// Why libcups, on this thread, gave no copy: a queue without a PPD (a raw
// queue, or one gone meanwhile) is no failure.
FetchedPpd Missing()
{
    FetchedPpd fetched;
    const ipp_status_t status = cupsLastError();
    if (status != IPP_STATUS_OK && status != IPP_STATUS_ERROR_NOT_FOUND) {
        fetched.outcome = FetchedPpd::Outcome::kFailed;
        fetched.error = cupsLastErrorString();
    }
    return fetched;
}

FetchedPpd Copy(const char* path)
{
    FetchedPpd fetched;
    fetched.outcome = FetchedPpd::Outcome::kCopy;
    fetched.copy = TempPpdFile(path);
    return fetched;
}

FetchedPpd FetchOver(http_t* http, const std::string& name)
{
    char path[1024] = "";
    time_t modtime = 0;
    if (cupsGetPPD3(http, name.c_str(), &modtime, path, sizeof path) == HTTP_STATUS_OK)
        return Copy(path);
    return Missing();
}

}  // namespace

TempPpdFile& TempPpdFile::operator=(TempPpdFile&& other) noexcept
{
    if (this != &other) {
        Delete();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void TempPpdFile::Delete()
{
    if (!path_.empty())
        unlink(path_.c_str());
}

int PpdConnectionsFor(size_t queues)
{
    const size_t wanted = queues / kQueuesPerPpdConnection;
    return static_cast<int>(std::clamp(wanted, static_cast<size_t>(kMinPpdConnections),
                                       static_cast<size_t>(kMaxPpdConnections)));
}

PpdFetcher::PpdFetcher(std::vector<std::string> names, int connections, FetchOne fetch_one)
    : names_(std::move(names)),
      fetch_one_(fetch_one),
      server_(cupsServer()),
      port_(ippPort()),
      encryption_(cupsEncryption()),
      slots_(names_.size())
{
    if (connections <= 0)
        return;
    const int width = std::min(connections, PpdConnectionsFor(names_.size()));
    fetches_ = std::make_unique<WorkGroup>(names_.size(), width, [this](size_t i) { Fetch(i); });
}

PpdFetcher::~PpdFetcher()
{
    fetches_.reset();
    idle_.clear();
}

FetchedPpd PpdFetcher::Take(size_t i)
{
    if (!fetches_) {
        const char* path = fetch_one_(names_[i].c_str());
        return path ? Copy(path) : Missing();
    }
    fetches_->WaitFor(i);
    return std::move(slots_[i]);
}

// One queue's fetch on a thread of the pool. libcups keeps its server,
// port, encryption and last error per thread, so the thread is first told
// what the creating one sees.
void PpdFetcher::Fetch(size_t i)
{
    cupsSetServer(server_.c_str());
    ippSetPort(port_);
    cupsSetEncryption(encryption_);
    HttpPtr http = Connection();
    // Without a connection of its own, libcups's default one for this
    // thread, as a fetch one after the other would use, says why not.
    slots_[i] = FetchOver(http.get(), names_[i]);
    // A connection that failed a fetch may be in any state: the next queue
    // gets a fresh one.
    if (slots_[i].outcome != FetchedPpd::Outcome::kFailed)
        GiveBack(std::move(http));
}

// A connection no fetch is using, or a new one with the time-out; null when
// the server cannot be reached.
PpdFetcher::HttpPtr PpdFetcher::Connection()
{
    HttpPtr http;
    {
        const std::lock_guard<std::mutex> lock(idle_mutex_);
        if (!idle_.empty()) {
            http = std::move(idle_.back());
            idle_.pop_back();
        }
    }
    if (http)
        return http;
    http.reset(httpConnect2(server_.c_str(), port_, nullptr, AF_UNSPEC, encryption_, 1, kTimeoutMs,
                            nullptr));
    if (http)
        httpSetTimeout(http.get(), kTimeoutMs / 1000.0, nullptr, nullptr);
    return http;
}

void PpdFetcher::GiveBack(HttpPtr http)
{
    if (!http)
        return;
    const std::lock_guard<std::mutex> lock(idle_mutex_);
    idle_.push_back(std::move(http));
}
