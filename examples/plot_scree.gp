# Scree plot of the eigenvalues that scorix-fit wrote into a coefficient file.
#
#   cd examples
#   scorix-fit -q iris.dat </dev/null   # writes iris.fsc
#   gnuplot plot_scree.gp               # writes iris_scree.png
#
# Other files: gnuplot -e "fsc='x.fsc'; out='x.png'" plot_scree.gp
# The eigenvalues are the comment lines "# eigenvalue COMPONENT VALUE
# PROPORTION CUMULATIVE" at the top of the file.

if (!exists("fsc")) fsc = "iris.fsc"
if (!exists("out")) out = "iris_scree.png"

if (strstrt(GPVAL_TERMINALS, "pngcairo") > 0) {
    set terminal pngcairo size 800,600 enhanced font "sans,11"
} else {
    set terminal png size 800,600
}
set output out

# gnuplot skips lines that start with "#": the prefix goes first.
table = sprintf("< sed -n 's/^# eigenvalue //p' '%s'", fsc)

set title sprintf("Scree plot: eigenvalues of the correlation matrix (%s)", fsc) noenhanced
set xlabel "component"
set ylabel "eigenvalue"
set y2label "cumulative % of variance"
set ytics nomirror
set y2tics 0, 20
set y2range [0:105]
set yrange [0:*]
set xtics 1
set offsets graph 0.05, graph 0.05, graph 0.05, 0
set grid
set key right center box opaque

# Column 1 is the component, 2 the eigenvalue, 4 the cumulative proportion.
plot table using 1:2 with linespoints pt 7 ps 1.5 lw 2 lc rgb "#1b9e77" title "eigenvalue", \
     table using 1:($4 * 100) axes x1y2 with linespoints pt 5 ps 1.2 lw 1 dt 2 lc rgb "#7570b3" title "cumulative %", \
     1 with lines dt 3 lc rgb "gray40" title "eigenvalue 1"
