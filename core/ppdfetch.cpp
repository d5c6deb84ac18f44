#include "ppdfetch.h"

#include <algorithm>
#include <memory>
#include <system_error>

#include <cups/ppd.h>
#include <unistd.h>

// cupsGetPPD3 is deprecated in CUPS 2.4 without a replacement that hands
// back the queue's PPD; it is still the way to read a queue's private keys.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// How long a connection waits for the server to connect or to answer, the
// patience libcups has when it connects for a PPD file itself.
constexpr int kTimeoutMs = 30000;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using HttpPtr = std::unique_ptr<http_t, HttpCloser>;

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

PpdFetcher::PpdFetcher(std::vector<std::string> names, int connections, FetchOne fetch_one)
    : names_(std::move(names)),
      fetch_one_(fetch_one),
      server_(cupsServer()),
      port_(ippPort()),
      encryption_(cupsEncryption()),
      slots_(names_.size())
{
    const size_t wanted = std::min(names_.size(), static_cast<size_t>(std::max(connections, 0)));
    for (size_t t = 0; t < wanted; ++t) {
        try {
            threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // Fewer connections, or none: Take then fetches itself.
            break;
        }
    }
}

PpdFetcher::~PpdFetcher()
{
    stop_ = true;
    for (std::thread& thread : threads_)
        thread.join();
}

FetchedPpd PpdFetcher::Take(size_t i)
{
    if (threads_.empty()) {
        const char* path = fetch_one_(names_[i].c_str());
        return path ? Copy(path) : Missing();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return slots_[i].done; });
    return std::move(slots_[i].ppd);
}

// One connection's share: the next queue nobody has taken, until none is
// left. libcups keeps its server, port, encryption and last error per
// thread, so this thread is first told what the creating one sees.
void PpdFetcher::Work()
{
    cupsSetServer(server_.c_str());
    ippSetPort(port_);
    cupsSetEncryption(encryption_);
    HttpPtr http;
    for (size_t i; !stop_ && (i = next_++) < names_.size();) {
        if (!http)
            http.reset(Connect());
        // Without a connection of its own, libcups's default one for this
        // thread, as a fetch one after the other would use, says why not.
        FetchedPpd fetched = FetchOver(http.get(), names_[i]);
        // A connection that failed a fetch may be in any state: the next
        // queue gets a fresh one.
        if (fetched.outcome == FetchedPpd::Outcome::kFailed)
            http.reset();
        std::lock_guard<std::mutex> lock(mutex_);
        slots_[i] = {true, std::move(fetched)};
        done_.notify_all();
    }
}

// A connection of this fetcher's own, with the time-out; null when the
// server cannot be reached.
http_t* PpdFetcher::Connect()
{
    http_t* http = httpConnect2(server_.c_str(), port_, nullptr, AF_UNSPEC, encryption_, 1,
                                kTimeoutMs, nullptr);
    if (http)
        httpSetTimeout(http, kTimeoutMs / 1000.0, nullptr, nullptr);
    return http;
}
