#pragma once
// The four demo hosts (portal, game site, forum, static content) on consecutive ports.
#include "portal_options.h"

#include <memory>
#include <string>

namespace qev::portal {

class DemoPortal {
public:
    // statement is served beside the package of options.offerUpdateFile as its ".sig".
    DemoPortal(PortalOptions options, std::string statement);
    ~DemoPortal();
    DemoPortal(const DemoPortal&) = delete;
    DemoPortal& operator=(const DemoPortal&) = delete;

    // Binds every port; on failure returns false with the reason and listens on none.
    bool Bind(std::string& error);
    // Serves on background threads; prints one line per host first.
    void Start();
    // Stops every host and waits for its thread.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace qev::portal
