#!/usr/bin/python3
"""Write the benchmark inputs into a directory (default /tmp/scorix-bench).
With --no-10m as second argument the 10M-row file is left out (the fit
benchmark does not need it).

  c20.fsc   coefficients for 20 variables
  d1m.dat   1,000,000 rows x 20 columns (about 165 MB)
  d10m.dat  the same rows ten times over (for the memory check only)
  c500.fsc  coefficients for 500 variables, a well-conditioned matrix
  w20k.dat  20,000 rows x 500 columns (about 83 MB)
  f20k.dat  20,000 rows x 500 columns with 10 factors (about 83 MB)

Every byte follows from fixed seeds, so two machines get the same files.
Needs numpy (Debian's python3-numpy for /usr/bin/python3).
"""

import os
import sys

import numpy as np


def write_fsc(path, n, seed):
    rng = np.random.default_rng(seed)
    std = rng.uniform(0.5, 20.0, n)
    mean = rng.uniform(-50.0, 50.0, n)
    # Identity plus a small random part: invertible and well conditioned, so
    # the inverse direction gives back sensible numbers.
    fsc = np.eye(n) + rng.normal(0.0, 0.5 / np.sqrt(n), (n, n))
    with open(path, "w") as out:
        out.write("# benchmark coefficients, %d variables\n[STD]\n" % n)
        out.write(" ".join("%.17g" % v for v in std) + "\n[MEAN]\n")
        out.write(" ".join("%.17g" % v for v in mean) + "\n[FSC_SORTED]\n")
        for row in fsc:
            out.write(" ".join("%.17g" % v for v in row) + "\n")
    return std, mean


def write_data(path, rows, std, mean, seed, chunk=50_000):
    rng = np.random.default_rng(seed)
    with open(path, "w") as out:
        out.write("# benchmark data, %d rows x %d columns\n" % (rows, len(std)))
        for start in range(0, rows, chunk):
            n = min(chunk, rows - start)
            block = mean + std * rng.standard_normal((n, len(std)))
            np.savetxt(out, block, fmt="%.6g")


def write_factor_data(path, rows, columns, factors, seed, chunk=5_000):
    """Each variable loads between 0.5 and 0.7 on one of the factors (the
    variables dealt out in turn), below 0.1 on the others; the uniqueness makes
    up the unit variance."""
    rng = np.random.default_rng(seed)
    loadings = rng.uniform(-0.1, 0.1, (columns, factors))
    primary = np.arange(columns) % factors
    loadings[np.arange(columns), primary] = rng.uniform(0.5, 0.7, columns)
    unique = np.sqrt(1.0 - (loadings ** 2).sum(axis=1))
    with open(path, "w") as out:
        out.write("# benchmark data, %d rows x %d columns, %d factors\n" % (rows, columns, factors))
        for start in range(0, rows, chunk):
            n = min(chunk, rows - start)
            block = rng.standard_normal((n, factors)) @ loadings.T + unique * rng.standard_normal((n, columns))
            np.savetxt(out, block, fmt="%.6g")


def main():
    where = sys.argv[1] if len(sys.argv) > 1 else "/tmp/scorix-bench"
    os.makedirs(where, exist_ok=True)
    std, mean = write_fsc(os.path.join(where, "c20.fsc"), 20, 1)
    write_data(os.path.join(where, "d1m.dat"), 1_000_000, std, mean, 2)
    std, mean = write_fsc(os.path.join(where, "c500.fsc"), 500, 3)
    write_data(os.path.join(where, "w20k.dat"), 20_000, std, mean, 4)
    write_factor_data(os.path.join(where, "f20k.dat"), 20_000, 500, 10, 5)
    if sys.argv[2:3] == ["--no-10m"]:
        return
    with open(os.path.join(where, "d1m.dat"), "rb") as one:
        rows = one.read()
    with open(os.path.join(where, "d10m.dat"), "wb") as ten:
        for _ in range(10):
            ten.write(rows)


if __name__ == "__main__":
    main()
