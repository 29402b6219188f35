#!/usr/bin/env bash
# Every check of the repository: the test suite natively, under ASan+UBSan
# and for aarch64 under qemu-user, a clang build, a short fuzz pass, static
# analysis, the man pages and the packages. Runs them all, then reports.
# FUZZ_SECONDS sets the time per fuzz target (default 20).
set -uo pipefail
cd "$(dirname "$0")/.."

fuzz() {
    cmake --preset fuzz && cmake --build --preset fuzz || return 1
    local target corpus
    for target in framedig clockpull; do
        corpus=$(mktemp -d)
        build/fuzz/bin/${target}_fuzz -max_total_time="${FUZZ_SECONDS:-20}" -close_fd_mask=1 \
            -artifact_prefix=build/fuzz/ "$corpus" "fuzz/corpus/$target" || { rm -rf "$corpus"; return 1; }
        rm -rf "$corpus"
    done
}

man_pages() {
    mandoc -T lint -W warning man/framedig.1 man/clockpull.8 &&
        man -l man/framedig.1 > /dev/null && man -l man/clockpull.8 > /dev/null
}

# Each package holds the two programs and their man pages, for its architecture, needing libc only.
packages() {
    local preset arch deb
    for preset in default aarch64; do
        arch=$([ "$preset" = aarch64 ] && echo arm64 || dpkg --print-architecture)
        (cd "build/$preset" && rm -f ./*.deb) && cpack --preset "$preset" || return 1
        deb=$(ls "build/$preset"/framedig-clockpull_*_"$arch".deb) || return 1
        dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort > "build/$preset/package-files"
        diff -u - "build/$preset/package-files" <<'LIST' || return 1
./usr/bin/framedig
./usr/sbin/clockpull
./usr/share/man/man1/framedig.1.gz
./usr/share/man/man8/clockpull.8.gz
LIST
        [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || return 1
        [ "$(dpkg-deb -f "$deb" Depends)" = "libc6 (>= 2.34)" ] || return 1
        echo "$deb: $arch, $(dpkg-deb -f "$deb" Depends)"
    done
}

steps=(
    "native suite (g++)|cmake --workflow --preset default"
    "clang build|cmake --preset clang && cmake --build --preset clang"
    "ASan+UBSan suite (clang)|cmake --workflow --preset sanitize"
    "aarch64 suite under qemu-user|cmake --workflow --preset aarch64"
    "fuzz pass|fuzz"
    "clang-tidy and cppcheck|tools/lint.sh"
    "man pages|man_pages"
    "packages|packages"
)
passed=0
failed=()
for step in "${steps[@]}"; do
    printf '\n===== %s\n' "${step%%|*}"
    if eval "${step#*|}"; then
        passed=$((passed + 1))
    else
        failed+=("${step%%|*}")
    fi
done
printf '\n'
[ ${#failed[@]} -eq 0 ] || printf 'FAILED: %s\n' "${failed[@]}"
echo "checks: $passed passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
