#pragma once
// The one main() of the GUI test programs: the application, then the tests. A program may
// define either hook; by default neither does anything.
#include <functional>
#include <optional>

namespace qev::test {

// Before the application exists (environment, files); a value ends the program with it
// before any test runs.
std::optional<int> BeforeApp();
// With the application made: calls run() (all the tests) inside what the tests share (a
// web context, the application object) and gives the program's result.
int RunTests(const std::function<int()>& run);

} // namespace qev::test
