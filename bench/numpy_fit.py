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
    # The means and standard deviations that the fit writes as well.
    data.mean(axis=0)
    data.std(axis=0, ddof=1)
    eigenvalues, _ = np.linalg.eigh(np.corrcoef(data, rowvar=False))
    np.savetxt(out_path, eigenvalues[::-1], fmt="%.17g")


if __name__ == "__main__":
    main()
