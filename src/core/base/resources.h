#pragma once
// Built-in resources (the layout document, the images), compiled into the program
// and found by type and numeric id.
#include <optional>
#include <string_view>

namespace qev {

// The bytes of the resource (type, id), or nothing when the program carries none.
// The view stays valid for the life of the process.
std::optional<std::string_view> FindResource(std::string_view type, int id);

} // namespace qev
