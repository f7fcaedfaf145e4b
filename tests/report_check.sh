#!/usr/bin/env bash
# scorix-fit's web page (--report) in a real browser: headless chromium
# renders a factor model's page and an iris page to their DOM and to an
# image with no console message; the DOM has a bar per eigenvalue, a cell per
# loading with the JSON report's value, an arrow per loading at the cut or
# above, nothing that names another file or address; the HTML passes
# html5lib's strict parser.
#   tests/report_check.sh SCORIX_FIT REFERENCE_DIR EXAMPLES_DIR
set -euo pipefail
fit=$(realpath "$1") reference=$(realpath "$2") examples=$(realpath "$3")
command -v chromium >/dev/null && /usr/bin/python3 -c 'import html5lib' 2>/dev/null ||
  { echo "skipped: needs chromium and python3-html5lib"; exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$work"
{ echo "rating complaints privileges learning raises critical advance"; cat "$reference/attitude.dat"; } >a.dat
"$fit" -q --header --method=minres --rotate=oblimin -k parallel --parallel=both --cut=0.35 --json=a.json \
  --report=a.html a.dat </dev/null
cp "$examples/iris.dat" .
"$fit" -q -k 2 --json=iris.json --report=iris.html iris.dat </dev/null
for page in a iris; do
  browse() { timeout 120 chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 "$@" \
    "file://$work/$page.html" 2>>"$page.log"; }
  browse --dump-dom >"$page.dom"
  browse --window-size=1200,1600 --screenshot="$work/$page.png" >/dev/null
  [ -s "$page.png" ] || { echo "$page: no screenshot"; exit 1; }
  if grep -F ':CONSOLE' "$page.log"; then echo "$page: console messages"; exit 1; fi
  cut=0.3
  [ $page = a ] && cut=0.35
  /usr/bin/python3 - "$page" "$cut" <<'EOF'
import json, re, sys
import html5lib
page, cut = sys.argv[1], float(sys.argv[2])
html5lib.HTMLParser(strict=True).parse(open(page + ".html", "rb"))  # raises on the first parse error
report = json.load(open(page + ".json"))
dom = html5lib.parse(open(page + ".dom", "rb"), namespaceHTMLElements=False)
def having(kind):
    return [e for e in dom.iter() if kind <= set(e.get("class", "").split())]
def values(kind):
    return [float(e.get("data-value")) for e in having(kind)]
errors = []
def expect(what, got, want):
    if got != want:
        errors.append(f"{page}: {what}: {got} != {want}")
expect("eigenvalue bars", values({"bar", "eigen"}), report["eigenvalues"])
names = report.get("names") or [str(i + 1) for i in range(report["variables"])]
rows = {}
for row in dom.iter("tr"):
    cells = [float(c.get("data-value")) for c in row if "loading" in c.get("class", "").split()]
    if cells:
        rows[row[0].text] = cells
expect("loading cells", rows, dict(zip(names, report["loadings"])))
above = sum(abs(x) >= cut for row in report["loadings"] for x in row)
expect("loading arrows", len(having({"arrow", "loading"})), above)
expect("parallel lines", len(having({"parallel", "mean"})), ("parallel" in report) + ("parallel_fa" in report))
fetched = [e.get(a) for e in dom.iter() for a in ("src", "href", "xlink:href") if e.get(a) is not None]
fetched += re.findall(r"url\((?!#)[^)]*\)|@import", open(page + ".html").read())
expect("references to other files", fetched, [])
expect("scripts", len(list(dom.iter("script"))), 0)
sys.exit("\n".join(errors) or None)
EOF
done
echo "report check passed"
