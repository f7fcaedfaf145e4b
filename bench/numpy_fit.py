#!/usr/bin/python3
"""The job of scorix-fit with numpy, for comparison in bench/fit.sh:
loadtxt, corrcoef, eigh; the eigenvalues, largest first, go to OUT.

  numpy_fit.py DATA OUT
"""

import sys

import numpy as np


def main():
    data_path, out_path = sys.argv[1:3]
    data = np.loadtxt(data_path, comments=["#", "!", ";"], ndmin=2)
    mean = data.mean(axis=0)
    std = data.std(axis=0, ddof=1)
    eigenvalues, eigenvectors = np.linalg.eigh(np.corrcoef(data, rowvar=False))
    del mean, std, eigenvectors
    np.savetxt(out_path, eigenvalues[::-1], fmt="%.17g")


if __name__ == "__main__":
    main()
