#!/usr/bin/env bash
# install: BUILD_DIR into a fresh prefix, the installed programs on the installed example, the
# pages and completion. package: the Debian package (77, skipped, without dpkg-dev).
# usage: install_check.sh BUILD_DIR install|package
set -u
exec </dev/null
build=$(cd "$1" && pwd) || exit 1
[ "$2" = install ] || command -v dpkg-shlibdeps >/dev/null || { echo "skipped: the package needs dpkg-dev"; exit 77; }
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix failures=0
fail() { echo "FAIL: $*" >&2; [ -f "$tmp/log" ] && sed 's/^/    | /' "$tmp/log" >&2; failures=$((failures + 1)); }

if [ "$2" = install ]; then
cmake --install "$build" --prefix "$prefix" >"$tmp/log" 2>&1 || fail "cmake --install"
for f in bin/scorix{,-fit} share/man/man1/scorix{,-fit}.1 share/bash-completion/completions/scorix{,-fit}; do
    [ -s "$prefix/$f" ] || fail "not installed: $f"
done
grep -q '^\.TH SCORIX 1' "$prefix/share/man/man1/scorix.1" || fail "scorix.1 has no .TH SCORIX 1 header"
for f in scorix scorix-fit; do bash -n "$prefix/share/bash-completion/completions/$f" || fail "$f's completion: syntax"; done

# The installed program on the installed example: 150 rows of three scores.
mkdir "$tmp/run" && cp "$prefix"/share/doc/scorix/examples/iris.{dat,fsc} "$tmp/run" || fail "no installed example"
(cd "$tmp/run" && "$prefix/bin/scorix" -f iris.fsc iris.dat >/dev/null 2>"$tmp/log" && [ ! -s "$tmp/log" ]) ||
    fail "the installed scorix failed or wrote to standard error"
[ "$(awk 'NF == 3' "$tmp/run/iris.sco" | wc -l)" = 150 ] || fail "iris.sco is not 150 rows of 3 scores"
(cd "$tmp/run" && "$prefix/bin/scorix-fit" -q -o fit.fsc iris.dat 2>"$tmp/log" && [ ! -s "$tmp/log" ]) ||
    fail "the installed scorix-fit failed or wrote to standard error"
[ "$(grep -c '^# eigenvalue ' "$tmp/run/fit.fsc")" = 4 ] || fail "fit.fsc has not 4 eigenvalues"
else
(cd "$build" && cpack -G DEB -B "$tmp/pkg") >"$tmp/log" 2>&1 || fail "cpack -G DEB"
dpkg-deb -c "$tmp"/pkg/scorix_*.deb >"$tmp/log" 2>&1 || fail "dpkg-deb -c"
for f in ./usr/bin/scorix{,-fit} ./usr/share/man/man1/scorix{,-fit}.1; do
    awk -v f="$f" '$NF == f { found = 1 } END { exit !found }' "$tmp/log" || fail "the package lacks $f"
done
gzip=zlib1g
grep -q '^SCORIX_ISAL:BOOL=ON' "$build/CMakeCache.txt" && gzip=libisal2
for lib in libarchive13 $gzip libzstd1 liblapack3 liblbfgsb0; do
    dpkg-deb -f "$tmp"/pkg/scorix_*.deb Depends | grep -q $lib || fail "the package does not depend on $lib"
done
fi
[ "$failures" -eq 0 ] && echo "install_check $2: ok"
