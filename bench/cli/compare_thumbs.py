#!/usr/bin/env python3
"""Compare two folders of thumbnails made from the same corpus.

  python3 compare_thumbs.py FOLDER_A FOLDER_B

Prints one JSON object: the thumbnails only one folder has, how many are 120 x 90 in each, how many
are byte for byte the same, and the mean and largest per-image RMSE (0..1, ImageMagick) of the
others. Pages that change over time (script timers, animations) differ a little between any two runs.
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "capture"))
from check_thumbs import jpeg_size  # noqa: E402


def thumbs(folder):
    return {name for name in os.listdir(folder) if name.endswith(".jpg")}


def rmse(a, b):
    run = subprocess.run(["compare", "-metric", "RMSE", a, b, "null:"], capture_output=True, text=True)
    # "123.4 (0.00188)" on stderr; exit status 1 just means the images differ.
    text = run.stderr.strip()
    try:
        return float(text.split("(")[1].rstrip(")"))
    except (IndexError, ValueError):
        return None


def main():
    a, b = sys.argv[1], sys.argv[2]
    names_a, names_b = thumbs(a), thumbs(b)
    both = sorted(names_a & names_b)
    identical = 0
    errors = []
    for name in both:
        pa, pb = os.path.join(a, name), os.path.join(b, name)
        with open(pa, "rb") as fa, open(pb, "rb") as fb:
            if fa.read() == fb.read():
                identical += 1
                continue
        value = rmse(pa, pb)
        if value is not None:
            errors.append(value)
    print(json.dumps({
        "only_in_a": sorted(names_a - names_b),
        "only_in_b": sorted(names_b - names_a),
        "a_120x90": sum(1 for n in names_a if jpeg_size(os.path.join(a, n)) == (120, 90)),
        "b_120x90": sum(1 for n in names_b if jpeg_size(os.path.join(b, n)) == (120, 90)),
        "identical": identical,
        "different": len(errors),
        "rmse_mean": round(sum(errors) / len(errors), 5) if errors else 0.0,
        "rmse_max": round(max(errors), 5) if errors else 0.0,
    }))


if __name__ == "__main__":
    main()
