#!/bin/sh
# Two test runs on one machine at the same moment: PROGRAM runs in two live reader stacks
# side by side (tests/pcsc/livestack.py), each with driver ports and a pcscd of its own.
# Exit status 0 when both runs pass.
#
#   side_by_side.sh LIVESTACK TIMEOUT PROGRAM [ARGS...]
livestack=$1
timeout=$2
shift 2
python3 "$livestack" run --timeout "$timeout" -- "$@" &
first=$!
python3 "$livestack" run --timeout "$timeout" -- "$@" &
second=$!
# Each supervisor stops its own stack when it ends.
trap 'kill "$first" "$second" 2>/dev/null' TERM INT HUP
wait "$first"
first_status=$?
wait "$second"
second_status=$?
echo "side by side: the first run ended with $first_status, the second with $second_status"
[ "$first_status" -eq 0 ] && [ "$second_status" -eq 0 ]
