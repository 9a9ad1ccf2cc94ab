// Uses the core from an outer project: the built-in layout resource and a core function.
#include <cstdio>

#include "core/base/resources.h"
#include "core/base/url_codec.h"

int main()
{
    const auto layout = qev::FindResource("XML", 1000);
    if (!layout || layout->find("<gamemain") == std::string_view::npos) {
        std::puts("outer: no built-in layout");
        return 1;
    }
    std::printf("outer: %s\n", qev::UrlEncode("built as a sub-project").c_str());
    return 0;
}
