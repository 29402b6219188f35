#!/usr/bin/env bash
# Static analysis of the project's own code: clang-tidy (checks in
# .clang-tidy) and cppcheck, both failing on any finding. Needs the default
# and fuzz build trees configured (for their compile_commands.json).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
printf '%s\n' framedig/*.cpp framedig/*/*.cpp clockpull/*.cpp tests/unit/*.cpp tests/support/*.cpp |
    xargs -P "$jobs" -n 2 clang-tidy --quiet -p build/default
printf '%s\n' fuzz/*.cpp | xargs -P "$jobs" -n 1 clang-tidy --quiet -p build/fuzz

# useStlAlgorithm only asks for std::any_of and friends over plain loops.
cppcheck --project=build/default/compile_commands.json --std=c++20 --quiet --error-exitcode=1 \
    --enable=warning,style,performance,portability --library=googletest --library=posix --library=gnu \
    --inline-suppr --suppress=missingIncludeSystem --suppress=useStlAlgorithm --suppress='*:/usr/src/*'
echo "lint: clang-tidy and cppcheck found nothing"
