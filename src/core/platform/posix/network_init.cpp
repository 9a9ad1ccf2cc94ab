#include "core/platform/network_init.h"

#include <curl/curl.h>

namespace qev {

bool InitNetwork()
{
    return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void ShutdownNetwork()
{
    curl_global_cleanup();
}

} // namespace qev
