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
- edge: `yes` on a chosen line that lies at an end of an axis of the grid
  (its w's lambdas, or its lambda's w values from 0 to 1) with values beyond
  it (lambda above 0, w between 0 and 1), where the least mean error along
  that axis is reached and reached at no point inside the axis. Each such
  choice and axis is named in a warning on standard error, in Orvane-cv's
  words, saying which way to widen the grid.

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


def axis_warning(row, rows, choice, along_lambda):
    """Orvane-cv's edge warning for `choice` at `row` along one axis, or None."""
    if along_lambda:
        axis = [r for r in rows if r["w"] == row["w"]]
        value = lambda r: r["lambda"]
    else:
        if not 0 <= row["w"] <= 1:
            return None
        axis = [r for r in rows if r["lambda"] == row["lambda"] and 0 <= r["w"] <= 1]
        value = lambda r: r["w"]
    least, most = min(map(value, axis)), max(map(value, axis))
    finite = [r["mean"] for r in axis if r["mean"] == r["mean"] and abs(r["mean"]) != float("inf")]
    best = min(finite, default=float("inf"))
    here = value(row)
    above = here == most and (along_lambda or most < 1)
    below = here == least and least > 0
    if least == most or not (above or below) or row["mean"] != best:
        return None
    if any(least < value(r) < most and r["mean"] == best for r in axis):
        return None
    name = "lambda" if along_lambda else "w"
    text = row["fields"][1] if along_lambda else row["fields"][0]
    return (f"warning: the {choice} choice (w {row['fields'][0]}, lambda {row['fields'][1]}) "
            f"is the grid's {'largest' if above else 'smallest'} {name} and no {name} inside "
            f"the grid does as well: try {name} {'above' if above else 'below'} {text}")


def combine(jobs):
    """The combined lines, each a list of fields, with choices and edges."""
    rows = [row for job in jobs for row in job]
    if len({(row["w"], row["lambda"]) for row in rows}) != len(rows):
        raise SummaryError("a grid point appears twice")
    best = least_error(jobs)
    simplest = within_one_standard_error(rows, best)
    edges = set()
    for choice, point in (("min", best), ("1se", simplest)):
        for along_lambda in (True, False):
            warning = axis_warning(point, rows, choice, along_lambda)
            if warning:
                print(warning, file=sys.stderr)
                edges.add(id(point))
    lines = []
    for row in rows:
        choices = [name for name, point in (("min", best), ("1se", simplest)) if row is point]
        lines.append(row["fields"][:4] + [",".join(choices) or "-",
                                          "yes" if id(row) in edges else "-"])
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
