#!/usr/bin/env bash
# The README's recipes for many files give the outputs of a plain run: GNU parallel through a fake
# ssh whose host is a directory (so transfer, return and cleanup happen), and two Slurm array tasks.
# Like sshd, the stand-in sets SHELL: parallel's remote side needs it, and CI runs without one.
# Status 77 (skipped) without parallel or rsync.  usage: scale_out_check.sh PROGRAM EXAMPLES_DIR
set -euo pipefail
for tool in parallel rsync; do command -v $tool >/dev/null || { echo "skipped: needs $tool"; exit 77; }; done
program=$(realpath "$1") examples=$(realpath "$2")
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT && mkdir host plain data && export PATH=${program%/*}:$PATH
printf '#!/bin/sh\nshift; [ "$1" = -- ] && shift; cd %s/host && SHELL=/bin/sh exec sh -c "$*"\n' "$PWD" >ssh && chmod +x ssh
for n in 40 90 151; do head -n $n "$examples/iris.dat" >data/d$n.dat; done
cp "$examples/iris.fsc" data/d*.dat plain/ && (cd plain && scorix -q -f iris.fsc d*.dat </dev/null >/dev/null)
# The transfers start in the data directory: two runs on a host would share a directory there, which
# the cleanup of one removes under the other.
echo 2/somehost >hosts && cp "$examples/iris.fsc" coef.fsc && cp coef.fsc data && ls data/*.dat >files.txt
(cd data && parallel --ssh "$PWD/../ssh" --sshloginfile ../hosts --basefile coef.fsc --transferfile {} \
  --return {.}.sco --cleanup 'scorix -q -f coef.fsc {} </dev/null' ::: *.dat >/dev/null)
for n in 40 90 151; do cmp data/d$n.sco plain/d$n.sco; done
[ "$(ls -A host)" = logfile ] && rm data/*.sco
for task in 1 2; do SLURM_ARRAY_TASK_ID=$task bash "$examples/scorix_array.sbatch" coef.fsc files.txt >/dev/null; done
cmp data/d151.sco plain/d151.sco; cmp data/d40.sco plain/d40.sco; [ ! -e data/d90.sco ]
# One fit from moment files: one per data file on the hosts, brought back and merged; one per array
# task, merged. The same bytes as the fit of the files in one run but the line naming the data.
scorix-fit -q -o one.fsc --json=one.json data/*.dat </dev/null && grep -v '^# data:' one.fsc >one.txt
(cd data && parallel --ssh "$PWD/../ssh" --sshloginfile ../hosts --transferfile {} --return {.}.mom --cleanup \
  'scorix-fit --moments={.}.mom {} </dev/null' ::: *.dat >/dev/null)
scorix-fit -q -o hosts.fsc --json=hosts.json data/*.mom </dev/null && cmp one.json hosts.json
grep -v '^# data:' hosts.fsc | cmp one.txt
for task in 3 1 2; do SLURM_ARRAY_TASK_ID=$task bash "$examples/scorix_fit_array.sbatch" files.txt; done
scorix-fit -q -o array.fsc --json=array.json moments/*.mom </dev/null && cmp one.json array.json
grep -v '^# data:' array.fsc | cmp one.txt
