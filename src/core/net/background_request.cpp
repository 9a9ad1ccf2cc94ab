#include "core/net/background_request.h"

namespace qev {

BackgroundTextRequest::BackgroundTextRequest(Fetch fetch, std::function<void(std::string)> done)
    : thread_([this, fetch = std::move(fetch), done = std::move(done)] {
          std::string answer = fetch(stop_);
          if (stop_.load()) answer.clear();
          if (done) done(std::move(answer));
          finished_.store(true);
      })
{
}

BackgroundTextRequest::~BackgroundTextRequest()
{
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

} // namespace qev
