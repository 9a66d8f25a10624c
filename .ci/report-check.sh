#!/usr/bin/env bash
# CI check of what a user opens: builds the programs (only them), runs the
# example study from its own files through cross-validation and
# Orvane-report -cv, renders every SVG with rsvg-convert, and opens report.html
# in headless Chromium. Fails on a drawing that does not render, a console
# message, a script or a reference to another file in the page, a missing
# section, or a blank screenshot.
#   .ci/report-check.sh [BUILD_DIR]
# BUILD_DIR (default build, as `make` configures it, so that after `make test`
# nothing is rebuilt). REPORT_SCREENSHOT=FILE keeps the screenshot.
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
"$bin/Orvane" -train -d data/samples.txt -l data/labels.txt -t data/tree.tre -w 0.5 -lambda 1 -o model.txt >/dev/null
mkdir cv
"$bin/Orvane-folds" -d data/samples.txt -l data/labels.txt -n 1 -k 3 -s cv/sets -seed 1
"$bin/Orvane-cv" -d data/samples.txt -l data/labels.txt -t data/tree.tre -n 1 -k 3 -s cv/sets -p cv/ \
    -w 0.2,0.8 -lambda 0.1,1,10 -j 2 >/dev/null 2>&1
"$bin/Orvane-report" -data data -c model.txt -cv cv -o report

for svg in report/*.svg cv/*.svg; do
    rsvg-convert "$svg" -o "$svg.png" || { echo "report-check: $svg does not render" >&2; exit 1; }
done

page=file://$work/report/report.html
chrome() {
    timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$(mktemp -d "$work/profile.XXXXXX")" --enable-logging=stderr --v=0 "$@" "$page"
}
chrome --dump-dom >dom.html 2>dom.log
chrome --window-size=1280,1600 --screenshot="$work/shot.png" >/dev/null 2>shot.log
if [ -n "${REPORT_SCREENSHOT:-}" ]; then cp shot.png "$REPORT_SCREENSHOT"; fi

python3 - dom.html shot.png dom.log shot.log <<'PY'
import re, struct, sys, zlib
dom_file, shot_file, *logs = sys.argv[1:]
problems = []
dom = open(dom_file, encoding="utf-8").read()
for section in ("predictions", "taxa", "clades", "tree", "cross-validation"):
    if f'<section id="{section}">' not in dom:
        problems.append(f"section {section} is missing")
for figure in ("tree", "cross-validation"):
    part = dom.split(f'<section id="{figure}">', 1)[-1].split("</section>", 1)[0]
    if "<svg" not in part:
        problems.append(f"section {figure} shows no drawing")
if "<script" in dom:
    problems.append("the page holds a script")
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
echo "report-check: report.html has every section, renders, and holds no script nor outside file"
