#!/usr/bin/env python3
"""Combines the cv_summary.tsv files of cross-validation jobs that each ran
one w of a grid over the same lambdas, folds and repetitions, and marks the
choices over the whole grid as a single Orvane-cv run over it would:

- min: the point of least mean error. Within one w the job's own `min` mark
  is kept (equal means go to the later lambda); across w a later w must be
  strictly better, so equal means go to the earlier w of the grid.
- 1se: among the points whose mean error is at most the least mean error
  plus its standard error, the largest lambda; equal lambdas go to the
  earlier w of the grid.
- edge: `yes` on a chosen line whose lambda is the largest of the grid or
  the smallest above 0, or whose w (from 0 to 1) is the largest below 1 or
  the smallest above 0 of the grid's w values; an axis with one value has
  no edge. Each such choice is also named in a warning on standard error.

The jobs' files are given in grid order of w; the combined file keeps the
jobs' lines, in that order, with the choice and edge columns set anew.
"""
import argparse
import os
import sys
import tempfile

HEADER = ["w", "lambda", "mean_error", "std_error", "choice", "edge"]


class SummaryError(Exception):
    pass


def read_summary(path):
    """The lines of one job's summary as lists of fields."""
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
    except OSError as e:
        raise SummaryError(f"{path}: cannot read the file: {e.strerror}")
    if lines and lines[-1] == "":
        lines.pop()
    if not lines or lines[0].split("\t") != HEADER:
        raise SummaryError(f"{path}:1: the header is not " + "\\t".join(HEADER))
    rows = []
    for number, line in enumerate(lines[1:], start=2):
        fields = line.split("\t")
        if len(fields) != len(HEADER):
            raise SummaryError(f"{path}:{number}: {len(HEADER)} tab-separated fields expected")
        try:
            numbers = [float(x) for x in fields[:4]]
        except ValueError:
            raise SummaryError(f"{path}:{number}: w, lambda, mean_error and std_error "
                               "must be numbers")
        rows.append({"fields": fields, "w": numbers[0], "lambda": numbers[1],
                     "mean": numbers[2], "se": numbers[3],
                     "min": "min" in fields[4].split(",")})
    if not rows:
        raise SummaryError(f"{path}: no grid point")
    if len({row["w"] for row in rows}) != 1:
        raise SummaryError(f"{path}: holds more than one w")
    if sum(row["min"] for row in rows) != 1:
        raise SummaryError(f"{path}: exactly one line must be marked min")
    return rows


def least_error(jobs):
    best = None
    for rows in jobs:
        job_best = next(row for row in rows if row["min"])
        if best is None or job_best["mean"] < best["mean"]:
            best = job_best
    return best


def within_one_standard_error(rows, best):
    limit = best["mean"] + best["se"]
    chosen = None
    for row in rows:
        if row["mean"] <= limit and (chosen is None or row["lambda"] > chosen["lambda"]):
            chosen = row
    return chosen


def on_edge(row, rows):
    lambdas = {r["lambda"] for r in rows}
    if len(lambdas) > 1:
        if row["lambda"] == max(lambdas) or (row["lambda"] == min(lambdas) > 0):
            return True
    ws = {r["w"] for r in rows if 0 <= r["w"] <= 1}
    if len(ws) > 1 and 0 <= row["w"] <= 1:
        if (row["w"] == max(ws) < 1) or (row["w"] == min(ws) > 0):
            return True
    return False


def combine(jobs):
    """The combined lines, each a list of fields, with choices and edges."""
    rows = [row for job in jobs for row in job]
    if len({(row["w"], row["lambda"]) for row in rows}) != len(rows):
        raise SummaryError("a grid point appears twice")
    best = least_error(jobs)
    simplest = within_one_standard_error(rows, best)
    lines = []
    for row in rows:
        choices = [name for name, point in (("min", best), ("1se", simplest)) if row is point]
        edge = bool(choices) and on_edge(row, rows)
        if edge:
            print(f"warning: the {' and '.join(choices)} choice w = {row['fields'][0]}, "
                  f"lambda = {row['fields'][1]} lies on the edge of the grid; "
                  "widen the grid past it", file=sys.stderr)
        lines.append(row["fields"][:4] + [",".join(choices) or "-", "yes" if edge else "-"])
    return lines


def write_atomically(path, text):
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".summary-")
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-o", required=True, help="combined cv_summary.tsv to write")
    parser.add_argument("summaries", nargs="+", help="each w job's cv_summary.tsv, in grid order")
    arguments = parser.parse_args()
    try:
        lines = combine([read_summary(path) for path in arguments.summaries])
    except SummaryError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    write_atomically(arguments.o, "".join("\t".join(fields) + "\n"
                                          for fields in [HEADER] + lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
