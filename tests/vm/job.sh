#!/bin/bash
# Runs inside the test machine: the job file JOB (made by vm-run.sh), its
# output, errors and exit status written beside it, then the machine stops
# (the first process ending stops the kernel, and the machine with it).
job=$1
bash "$job" >"${job%.sh}.out" 2>"${job%.sh}.err"
echo $? >"${job%.sh}.status"
sync
