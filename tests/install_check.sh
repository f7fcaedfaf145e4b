#!/usr/bin/env bash
# Install check: installs a build tree into a fresh prefix, runs the
# installed program on the installed iris example, checks that the manual
# page and the bash completion are in place, and builds the Debian package.
#
#   tests/install_check.sh BUILD_DIR
#
# Needs cmake, cpack, dpkg-deb and dpkg-shlibdeps (dpkg-dev); never reads
# standard input. Exit status 0 when every check passes, 1 otherwise.

set -u
exec </dev/null

if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
    echo "usage: $0 BUILD_DIR (a configured and built cmake build tree)" >&2
    exit 1
fi
build=$(cd "$1" && pwd)

tmp=$(mktemp -d "${TMPDIR:-/tmp}/scorix-install.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# Show a command's saved output when a step goes wrong.
show() {
    sed 's/^/    | /' "$1" >&2
}

prefix=$tmp/prefix
examples=$prefix/share/doc/scorix/examples

# 1. Install into an empty prefix.
if ! cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
    fail "cmake --install into $prefix"
    show "$tmp/install.log"
    exit 1
fi

for f in bin/scorix share/man/man1/scorix.1 \
         share/bash-completion/completions/scorix \
         share/doc/scorix/examples/iris.dat share/doc/scorix/examples/iris.fsc \
         share/doc/scorix/examples/README.md share/doc/scorix/examples/plot_scores.gp; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/scorix" ] || fail "bin/scorix is not executable"

# 2. The installed program on the installed example, in a scratch copy.
run=$tmp/run
mkdir "$run"
cp "$examples/iris.dat" "$examples/iris.fsc" "$run"/ 2>/dev/null || fail "copying the examples"
(cd "$run" && "$prefix/bin/scorix" -f iris.fsc iris.dat >stdout 2>stderr)
status=$?
if [ "$status" -ne 0 ]; then
    fail "scorix -f iris.fsc iris.dat exited with $status"
    show "$run/stdout"
    show "$run/stderr"
elif [ ! -f "$run/iris.sco" ]; then
    fail "scorix wrote no iris.sco"
else
    # 150 lines, each exactly three numbers separated by single blanks.
    bad=$(awk -v num='^[-+]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][-+]?[0-9]+)?$' '
        NF != 3 || $0 != $1 " " $2 " " $3 || $1 !~ num || $2 !~ num || $3 !~ num { n++ }
        END { print n + 0 }' "$run/iris.sco")
    lines=$(wc -l <"$run/iris.sco")
    [ "$lines" -eq 150 ] || fail "iris.sco has $lines lines, expected 150"
    [ "$bad" -eq 0 ] || fail "iris.sco has $bad lines that are not 3 numbers"
    [ -s "$run/stderr" ] && { fail "scorix wrote to standard error"; show "$run/stderr"; }
fi

# All four scores and back must give the measurements again (to the 7
# digits the score files carry).
(cd "$run" && "$prefix/bin/scorix" -q -a -f iris.fsc iris.dat >/dev/null 2>&1 &&
    "$prefix/bin/scorix" -q -i -a -f iris.fsc iris.sco >/dev/null 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ ! -f "$run/iris.tad" ]; then
    fail "round trip -a / -i -a exited with $status"
else
    worst=$(grep -v '^[!#;]' "$run/iris.dat" | paste -d ' ' "$run/iris.tad" - | awk '
        NF < 8 { print "short"; exit }
        { for (c = 1; c <= 4; c++) { d = $c - $(c + 4); if (d < 0) d = -d; if (d > w) w = d } }
        END { if (NR != 150) print "rows " NR; else printf "%.3g\n", w }')
    case $worst in
        short* | rows*) fail "iris.tad does not match iris.dat line for line ($worst)" ;;
        *) awk -v w="$worst" 'BEGIN { exit !(w < 1e-4) }' ||
               fail "round trip differs from iris.dat by up to $worst" ;;
    esac
fi

# 3. Manual page and completion.
man1=$prefix/share/man/man1/scorix.1
grep -q '^\.TH SCORIX 1' "$man1" 2>/dev/null || fail "scorix.1 has no .TH SCORIX 1 header"
if command -v mandoc >/dev/null 2>&1; then
    mandoc -T lint -W warning "$man1" >"$tmp/lint.log" 2>&1 || { fail "mandoc lint of scorix.1"; show "$tmp/lint.log"; }
fi
completion=$prefix/share/bash-completion/completions/scorix
bash -n "$completion" 2>"$tmp/bash-n.log" || { fail "completion has a syntax error"; show "$tmp/bash-n.log"; }
grep -q 'complete -F _scorix scorix' "$completion" 2>/dev/null || fail "completion does not register for scorix"

# 4. Debian package, built outside the build tree's own package directory.
pkgdir=$tmp/pkg
mkdir "$pkgdir"
if ! (cd "$build" && cpack -G DEB -B "$pkgdir") >"$tmp/cpack.log" 2>&1; then
    fail "cpack -G DEB"
    show "$tmp/cpack.log"
else
    debs=("$pkgdir"/scorix_*.deb)
    if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
        fail "cpack made no single scorix_*.deb in $pkgdir"
    else
        deb=${debs[0]}
        dpkg-deb -c "$deb" >"$tmp/contents" 2>&1 || fail "dpkg-deb -c $deb"
        for f in ./usr/bin/scorix ./usr/share/man/man1/scorix.1 \
                 ./usr/share/bash-completion/completions/scorix \
                 ./usr/share/doc/scorix/examples/iris.fsc; do
            awk -v f="$f" '$NF == f { found = 1 } END { exit !found }' "$tmp/contents" ||
                fail "package lacks $f"
        done
        [ "$(dpkg-deb -f "$deb" Package)" = scorix ] || fail "package name is not scorix"
        [ "$(dpkg-deb -f "$deb" Version)" = 1.12.0 ] || fail "package version is not 1.12.0"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "install_check: $failures check(s) failed" >&2
    exit 1
fi
echo "install_check: ok"
