#!/usr/bin/python3
"""Write the iris example: iris.dat (data) and iris.fsc (coefficients).

The coefficients are principal-component score coefficients of the
correlation matrix of the four iris measurements:

  [STD]        sample standard deviations (divisor n - 1)
  [MEAN]       means
  [FSC_SORTED] row k = variable k, column s = component s; the eigenvectors
               of the correlation matrix sorted by decreasing eigenvalue,
               each column divided by the square root of its eigenvalue so
               that every score has unit variance, and its sign chosen so
               that the column's largest-magnitude entry is positive.

With these, "scorix -f iris.fsc iris.dat" writes the first three principal
component scores of every flower to iris.sco.

The measurements are read from the copy of the iris table that Debian's
python3-sklearn package ships; another CSV of the same layout (a header
line, then "a,b,c,d,class" rows) can be given as the first argument.
Run with /usr/bin/python3 (needs python3-numpy).
"""

import os
import sys

import numpy as np

DEFAULT_CSV = "/usr/lib/python3/dist-packages/sklearn/datasets/data/iris.csv"
COLUMNS = ["sepal_length", "sepal_width", "petal_length", "petal_width"]
SPECIES = ["setosa", "versicolor", "virginica"]


def read_iris(path):
    """Return (150 x 4 measurements, species names, measurement texts)."""
    with open(path, encoding="ascii") as f:
        lines = f.read().split()
    rows = [line.split(",") for line in lines[1:]]  # first line is a header
    values = np.array([[float(v) for v in r[:4]] for r in rows])
    species = [SPECIES[int(r[4])] for r in rows]
    if values.shape != (150, 4):
        sys.exit("unexpected iris table shape %s in %s" % (values.shape, path))
    return values, species, [r[:4] for r in rows]


def score_coefficients(values):
    """Return (std, mean, 4 x 4 coefficient matrix, sorted eigenvalues)."""
    mean = values.mean(axis=0)
    std = values.std(axis=0, ddof=1)
    corr = np.corrcoef(values, rowvar=False)
    eigval, eigvec = np.linalg.eigh(corr)
    order = np.argsort(eigval)[::-1]
    eigval, eigvec = eigval[order], eigvec[:, order]
    fsc = eigvec / np.sqrt(eigval)
    for s in range(fsc.shape[1]):
        if fsc[np.argmax(np.abs(fsc[:, s])), s] < 0:
            fsc[:, s] = -fsc[:, s]
    if abs(np.linalg.det(fsc)) < 1e-12:
        sys.exit("coefficient matrix is singular")
    return std, mean, fsc, eigval


def fmt(vec):
    return " ".join("%.17g" % v for v in vec)


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_CSV
    here = os.path.dirname(os.path.abspath(__file__))
    values, species, texts = read_iris(src)
    std, mean, fsc, eigval = score_coefficients(values)

    with open(os.path.join(here, "iris.dat"), "w", encoding="ascii") as f:
        f.write("# %s species\n" % " ".join(COLUMNS))
        for t, name in zip(texts, species):
            # Measurements exactly as published (cm); the species name is a
            # trailing word that scorix's number scanner stops at.
            f.write("%s %s\n" % (" ".join(t), name))

    with open(os.path.join(here, "iris.fsc"), "w", encoding="ascii") as f:
        f.write("# Principal-component score coefficients of the correlation\n")
        f.write("# matrix of Fisher's iris data (150 flowers, 4 variables:\n")
        f.write("# %s).\n" % ", ".join(COLUMNS))
        f.write("# Made by examples/make_example.py. Row k = variable k,\n")
        f.write("# column s = component s, scaled to unit score variance.\n")
        f.write("# Eigenvalues: %s\n" % fmt(eigval))
        f.write("[STD]\n%s\n" % fmt(std))
        f.write("[MEAN]\n%s\n" % fmt(mean))
        f.write("[FSC_SORTED]\n")
        for row in fsc:
            f.write("%s\n" % fmt(row))


if __name__ == "__main__":
    main()
