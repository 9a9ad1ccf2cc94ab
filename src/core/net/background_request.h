#pragma once
// A blocking request run on a thread of its own, so that the thread that paints never waits
// for a server.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace qev {

class BackgroundTextRequest {
public:
    // Runs fetch on a new thread, then done with its answer, on that same thread. fetch is
    // handed the stop flag, which it passes on to HttpGetText.
    using Fetch = std::function<std::string(const std::atomic<bool>& stop)>;
    BackgroundTextRequest(Fetch fetch, std::function<void(std::string)> done);
    // Sets the stop flag and waits for the thread: a request still under way gives up
    // (done still runs, with ""), so this returns within about a second.
    ~BackgroundTextRequest();
    BackgroundTextRequest(const BackgroundTextRequest&) = delete;
    BackgroundTextRequest& operator=(const BackgroundTextRequest&) = delete;

    // Asks the request to give up without waiting for it (the destructor still waits).
    void Stop() { stop_.store(true); }
    bool finished() const { return finished_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace qev
