#!/usr/bin/env bash
# Makes the Debian package of the tool and checks it.
#
#   bash scripts/package.sh            configures build/package (no tests, no benchmarks, the
#                                      production rank-lookup address), builds the program
#                                      and writes build/package/quorvel_<version>_<arch>.deb
#   bash scripts/package.sh BUILD_DIR  packages a build folder that is already built (the
#                                      test command does this with its normal build)
#
# The checks: the build points at the production address, desktop-file-validate accepts the
# entry, the package holds the program, the entry and every icon size, and none of the
# developer tools, tests or benchmarks; it names its maintainer, section and dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
  bash scripts/setup.sh
  dir=build/package
  # -U drops an address a former configuration may have set, so the default one applies.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_BUILD_TESTS=OFF \
        -DQUORVEL_BUILD_BENCH=OFF -DQUORVEL_SANITIZE=OFF -UQUORVEL_RANK_URL >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target quorvel
else
  dir=$1
fi

fail() { echo "package: $*" >&2; exit 1; }

production=$(sed -n 's/^set(QUORVEL_RANK_URL "\([^"]*\)".*/\1/p' CMakeLists.txt)
built=$("$dir/app/quorvel" --version | sed -n 's/^rank-lookup page: //p')
[ -n "$production" ] && [ "$built" = "$production" ] ||
  fail "$dir is built for '$built', not the production address '$production'"

desktop-file-validate data/quorvel.desktop || fail "desktop-file-validate refuses data/quorvel.desktop"

rm -f "$dir"/quorvel_*.deb
log=$(cd "$dir" && cpack -G DEB 2>&1) || { echo "$log" >&2; fail "cpack failed in $dir"; }
debs=("$dir"/quorvel_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single package in $dir"
deb=${debs[0]}

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expected=(./usr/bin/quorvel ./usr/share/applications/quorvel.desktop
          ./usr/share/icons/hicolor/scalable/apps/quorvel.svg)
for s in 16 24 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${s}x${s}/apps/quorvel.png")
done
for f in "${expected[@]}"; do
  grep -qxF "$f" <<<"$contents" || fail "$deb lacks $f"
done
if grep -E 'simulator|screenshot|_test|bench|\.a$|/include/' <<<"$contents"; then
  fail "$deb holds developer files (above)"
fi
for field in Maintainer Section Depends Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "$deb has no $field"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libcurl4 libicu qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "$deb does not depend on $lib: $depends"
done
echo "package: $deb"
echo "package: Depends: $depends"
