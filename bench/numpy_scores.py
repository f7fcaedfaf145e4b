#!/usr/bin/python3
"""The same job as scorix with numpy, for comparison in bench/run.sh:
loadtxt, standardize, matmul, savetxt with "%.7g".

  numpy_scores.py [-i] [-a] FSC DATA OUT

Only the forward and inverse transforms of the benchmark; no selection
lists and no other options. Results agree with scorix to about the last
printed digit (numpy's matmul does not fuse its multiply-adds).
"""

import sys

import numpy as np


def read_fsc(path):
    sections = {}
    name = None
    with open(path) as fsc:
        for line in fsc:
            if line[:1] in "!#;":
                continue
            if line.startswith("["):
                name = line.strip()
                sections[name] = []
            elif name and line.strip():
                sections[name].append([float(v) for v in line.split()])
    return (np.array(sections["[STD]"][0]), np.array(sections["[MEAN]"][0]),
            np.array(sections["[FSC_SORTED]"]))


def main():
    args = sys.argv[1:]
    inverse = "-i" in args
    every = "-a" in args
    fsc_path, data_path, out_path = [a for a in args if not a.startswith("-")]
    std, mean, fsc = read_fsc(fsc_path)
    data = np.loadtxt(data_path, comments=["#", "!", ";"], ndmin=2)
    scores = fsc.shape[0] if every else 3
    if inverse:
        result = (data @ np.linalg.inv(fsc))[:, :scores] * std[:scores] + mean[:scores]
    else:
        result = ((data - mean) / std) @ fsc[:, :scores]
    np.savetxt(out_path, result, fmt="%.7g")


if __name__ == "__main__":
    main()
