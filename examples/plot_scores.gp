# Plot the first two factor scores of the iris example, coloured by species.
#
#   cd examples
#   scorix -f iris.fsc iris.dat </dev/null   # writes iris.sco
#   gnuplot plot_scores.gp                   # writes iris_scores.png
#
# Other files: gnuplot -e "scores='x.sco'; data='x.dat'; out='x.png'" plot_scores.gp
# Row i of the scores file belongs to data line i (comment lines skipped);
# the species is the last word of each data line.

if (!exists("scores")) scores = "iris.sco"
if (!exists("data"))   data   = "iris.dat"
if (!exists("out"))    out    = "iris_scores.png"

if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size 800,600 enhanced font "sans,11"
} else {
    set terminal png size 800,600
}
set output out

# One table of 3 scores, 4 measurements and the species name per flower.
# The pipe runs under /bin/sh, so no bash-only syntax here.
table = sprintf("< grep -v '^[!#;]' '%s' | paste -d ' ' '%s' -", data, scores)

set title "Iris: first two principal component scores (scorix -f iris.fsc iris.dat)"
set xlabel "score 1"
set ylabel "score 2"
set grid
set key inside bottom right box opaque
set offsets graph 0.05, graph 0.05, graph 0.05, graph 0.05

# Column 8 is the species; other rows become NaN and are not drawn.
pick(name, v) = (strcol(8) eq name) ? v : NaN

plot table using 1:(pick("setosa", $2))     with points pt 7 ps 1.2 lc rgb "#1b9e77" title "setosa", \
     table using 1:(pick("versicolor", $2)) with points pt 5 ps 1.1 lc rgb "#d95f02" title "versicolor", \
     table using 1:(pick("virginica", $2))  with points pt 9 ps 1.3 lc rgb "#7570b3" title "virginica"
