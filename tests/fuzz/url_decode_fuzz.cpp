// Object paths from a downloaded manifest are URL-decoded into file names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/base/url_codec.h"
#include "core/net/chunk_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string decoded = qev::UrlDecode(input);
    if (decoded.size() > input.size()) std::abort();
    // Encoding never loses a byte other than white space.
    const std::string again = qev::UrlDecode(qev::UrlEncode(decoded));
    if (again.size() != decoded.size()) std::abort();
    const std::string name = qev::TargetFileName(input);
    if (name.find('/') != std::string::npos || name == "." || name == "..") std::abort();
    return 0;
}
