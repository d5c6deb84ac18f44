// The PPD files of many queues fetched at once, over a few connections of
// discovery's own to the server libcups uses: on a print server across the
// network each fetch costs several round trips, and one after the other
// they add up to seconds.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <cups/cups.h>

#include "workpool.h"

// A local copy of a queue's PPD file, deleted with the object, whatever
// path discovery takes.
class TempPpdFile {
public:
    TempPpdFile() = default;
    explicit TempPpdFile(std::string path) : path_(std::move(path)) {}
    ~TempPpdFile() { Delete(); }
    TempPpdFile(TempPpdFile&& other) noexcept : path_(std::move(other.path_))
    {
        other.path_.clear();
    }
    TempPpdFile& operator=(TempPpdFile&& other) noexcept;
    const char* path() const { return path_.c_str(); }

private:
    void Delete();

    std::string path_;
};

// What became of one queue's PPD file.
struct FetchedPpd {
    enum class Outcome { kCopy, kNoPpd, kFailed };
    Outcome outcome = Outcome::kNoPpd;
    TempPpdFile copy;   // kCopy
    std::string error;  // kFailed: why, in libcups's words
};

// How many connections discovery opens for `queues` queues: one for every
// kQueuesPerPpdConnection, at least kMinPpdConnections (enough to hide the
// round trips to a server a few milliseconds away) and at most
// kMaxPpdConnections (a shared scheduler takes 100 clients by default, and
// the others must still get in).
constexpr int kQueuesPerPpdConnection = 16;
constexpr int kMinPpdConnections = 8;
constexpr int kMaxPpdConnections = 32;
int PpdConnectionsFor(size_t queues);

class PpdFetcher {
public:
    // One queue's PPD the way cupsGetPPD fetches it: the path of a fresh
    // copy, or null with libcups's last error saying why.
    using FetchOne = const char* (*)(const char* name);

    // Starts fetching the PPD file of each of `names` in this order, over up
    // to `connections` connections of its own (fewer for few queues, see
    // PpdConnectionsFor) to cupsServer() and ippPort() with
    // cupsEncryption(), as this thread's libcups sees them. With
    // `connections` 0, Take fetches each in turn with `fetch_one` on the
    // calling thread instead.
    PpdFetcher(std::vector<std::string> names, int connections, FetchOne fetch_one);
    // Stops fetching, waits for the fetches under way, closes the
    // connections and deletes every copy not taken.
    ~PpdFetcher();
    PpdFetcher(const PpdFetcher&) = delete;
    PpdFetcher& operator=(const PpdFetcher&) = delete;

    // What became of names[i], once it is known; each index is taken once.
    FetchedPpd Take(size_t i);

private:
    struct HttpCloser {
        void operator()(http_t* http) const { httpClose(http); }
    };
    using HttpPtr = std::unique_ptr<http_t, HttpCloser>;

    void Fetch(size_t i);
    HttpPtr Connection();
    void GiveBack(HttpPtr http);

    const std::vector<std::string> names_;
    const FetchOne fetch_one_;
    const std::string server_;
    const int port_;
    const http_encryption_t encryption_;

    std::vector<FetchedPpd> slots_;  // each written by its own fetch only
    std::mutex idle_mutex_;
    std::vector<HttpPtr> idle_;  // connections between two fetches
    // Last, so that it is gone (its fetches finished) before the rest.
    std::unique_ptr<WorkGroup> fetches_;
};
