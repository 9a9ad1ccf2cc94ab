#!/usr/bin/env bash
# The project builds as a sub-project of another CMake project (add_subdirectory), with its
# paths taken from its own folder, not the outer project's, and its tests left out.
source "$(dirname "$0")/runner.sh"

cmake -S "$source_dir/tests/subproject" -B "$work/build" -G Ninja -DQEV_DIR="$source_dir" \
  -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/build" -j 2 --target outer >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log"; fail "build"; }
out="$("$work/build/outer")" || fail "the outer program failed: $out"
[[ "$out" == "outer: built+as+a+sub-project" ]] || fail "unexpected output: $out"
# The project's own tests are not part of someone else's build.
[[ ! -e "$work/build/qev/tests" ]] || fail "tests were configured inside the outer project"
echo "subproject e2e: ok"
