#!/usr/bin/env bash
# CI check of what a user opens: builds the programs (only them), runs the
# example study from its own files through cross-validation (with a nested
# one) and Orvane-report -cv -choice, renders every SVG with rsvg-convert, and
# opens report.html in headless Chromium. Fails on a drawing that does not
# render, a console message, a reference to another file in the page, a
# summary that is not the page's first section or lacks the share of reads
# kept, a filter box that leaves a row without the text searched for (or
# hides a row with it), a methods paragraph that does not name the nested
# error, both folds' seeds and how the data were prepared, or a blank
# screenshot.
#   .ci/report-check.sh [BUILD_DIR]
# BUILD_DIR (default build, as `make` configures it, so that after `make test`
# nothing is rebuilt). REPORT_SCREENSHOT=FILE keeps the 1400 x 900 screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target Orvane Orvane-folds Orvane-cv Orvane-prepare Orvane-report >/dev/null
bin=$(pwd)/$build/app
study=$(pwd)/example/study
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$bin/Orvane-prepare" -table "$study/table.tsv" -metadata "$study/metadata.tsv" -column SampleType \
    -tree "$study/tree.nwk" -taxonomy "$study/taxonomy.tsv" -o data 2>/dev/null
mkdir cv
"$bin/Orvane-folds" -d data/samples.txt -l data/labels.txt -n 1 -k 3 -s cv/sets -seed 1
"$bin/Orvane-cv" -d data/samples.txt -l data/labels.txt -t data/tree.tre -n 1 -k 3 -s cv/sets -p cv/ \
    -w 0.2,0.8 -lambda 0.1,1,10 -nested 3 -j 2 >/dev/null 2>&1
# The model is fitted at the point the min rule chose, as the workflow does.
read -r w lambda < <(awk -F '\t' 'NR > 1 && $5 ~ /(^|,)min(,|$)/ { print $1, $2 }' cv/cv_summary.tsv)
"$bin/Orvane" -train -d data/samples.txt -l data/labels.txt -t data/tree.tre -w "$w" -lambda "$lambda" \
    -o model.txt >/dev/null
"$bin/Orvane-report" -data data -c model.txt -cv cv -choice min -o report

for svg in report/*.svg cv/*.svg; do
    rsvg-convert "$svg" -o "$svg.png" || { echo "report-check: $svg does not render" >&2; exit 1; }
done

# The page as a user opens it, and a copy that types a feature's ID into the
# taxa table's filter box and records what the box left shown.
cp report/report.html report/filtered.html
python3 - report/filtered.html <<'PY'
import sys
page = open(sys.argv[1], encoding="utf-8").read()
search = """<script>
var box = document.querySelector('input[data-table="taxa-table"]');
var rows = document.querySelectorAll('#taxa-table tbody tr');
var column = Array.prototype.map.call(document.querySelectorAll('#taxa-table th'),
                                      function (th) { return th.textContent; }).indexOf('feature');
var wanted = rows[rows.length - 1].cells[column].textContent.toLowerCase();
box.value = wanted;
box.dispatchEvent(new Event('input'));
var wrong = 0, shown = 0;
rows.forEach(function (row) {
  var holds = row.textContent.toLowerCase().indexOf(wanted) >= 0;
  if (!row.hidden) shown++;
  if (row.hidden === holds) wrong++;
});
document.body.setAttribute('data-filter', wrong === 0 && shown > 0 && shown < rows.length ? 'works' : 'broken');
</script>
"""
open(sys.argv[1], "w", encoding="utf-8").write(page.replace("</body>", search + "</body>"))
PY
chrome() {
    local page=$1
    shift
    timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" --enable-logging=stderr --v=0 "$@" \
        "file://$work/report/$page"
}
chrome report.html --dump-dom >dom.html 2>dom.log
chrome filtered.html --dump-dom >filtered.html 2>filtered.log
chrome report.html --window-size=1400,900 --hide-scrollbars --screenshot="$work/shot.png" >/dev/null 2>shot.log
if [ -n "${REPORT_SCREENSHOT:-}" ]; then cp shot.png "$REPORT_SCREENSHOT"; fi

python3 - dom.html filtered.html cv/cv_nested.tsv shot.png dom.log filtered.log shot.log <<'PY'
import re, struct, sys, zlib
dom_file, filtered_file, nested_file, shot_file, *logs = sys.argv[1:]
problems = []
dom = open(dom_file, encoding="utf-8").read()
sections = re.findall(r'<section id="([^"]+)">', dom)
if not sections or sections[0] != "summary":
    problems.append(f"the first section is {sections[:1]}, not the summary")
for section in ("summary", "methods", "figures", "taxa", "clades", "predictions", "cross-validation"):
    if section not in sections:
        problems.append(f"section {section} is missing")
figures = dom.split('<section id="figures">', 1)[-1].split("</section>", 1)[0]
if figures.count("<svg") < 3:
    problems.append("the figures hold fewer than the tree, the curve and the confusion matrix")
# The nested error as the summary and the methods paragraph write it: three significant digits.
mean = next(l.split("\t")[-1] for l in open(nested_file) if l.startswith("mean\t"))
nested = f"{float(mean):.3g}"
methods = re.search(r'<p id="methods-text">(.*?)</p>', dom, re.S)
if not methods or f"gave an error of {nested} " not in methods.group(1):
    problems.append(f"the methods paragraph does not name the nested error {nested}")
# The seeds of both folds' draws, and how the data were prepared.
for words in ("(folds drawn by Orvane-folds with seed 1)", "(3-fold, folds drawn with seed 1)",
              "They were prepared with Orvane-prepare from the feature table table.tsv"):
    if not methods or words not in methods.group(1):
        problems.append(f"the methods paragraph does not say {words!r}")
summary = dom.split('<section id="summary">', 1)[-1].split("</section>", 1)[0]
if f"<b>{nested} " not in summary:
    problems.append(f"the summary does not give the nested error {nested}")
if "of the reads kept" not in summary:
    problems.append("the summary does not give the share of the reads kept")
if 'data-filter="works"' not in open(filtered_file, encoding="utf-8").read():
    problems.append("the taxa table's filter box does not keep just the rows holding its text")
for reference in re.findall(r'\b(?:src|href)="([^"#][^"]*)"|url\(([^)#][^)]*)\)', dom):
    problems.append(f"the page refers to another file: {reference}")
for log in logs:
    for line in open(log, errors="replace"):
        if ":CONSOLE" in line:
            problems.append("console: " + line.strip())
# The screenshot is not blank: its pixels take many values.
data = open(shot_file, "rb").read()
pixels, pos = b"", 8
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"IDAT":
        pixels += data[pos + 8:pos + 8 + length]
    pos += 12 + length
if len(set(zlib.decompress(pixels))) < 32:
    problems.append("the screenshot is blank")
for problem in problems:
    print("report-check:", problem, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
echo "report-check: report.html opens on the summary, its filter filters, its methods name the nested error, and it renders with no console message"
