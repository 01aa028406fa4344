#!/bin/sh
# A machine of 100,000 configured adapter instances: quorvale-sim must build it and run the
# installer's start and Exit on it in seconds, as reading and running cost time linear in size.
#     large_machine_test.sh <quorvale-sim> <scenario file to write> [instances]
set -eu
runner=$1
scenario=$2
count=${3:-100000}
awk -v count="$count" 'BEGIN {
    printf "{\"description\": \"%d configured adapter instances\",\n", count
    printf " \"machine\": {\"instances\": [\n"
    for (i = 0; i < count; i++)
        printf "  {\"instance_id\": \"USB\\\\VID_0E1C&PID_0001\\\\7&%X&0&1\"}%s\n", i, \
            (i < count - 1 ? "," : "")
    printf " ]},\n \"timeline\": [{\"wait\": 100}, {\"press\": \"Exit\"}]}\n"
}' >"$scenario"
started=$(date +%s)
"$runner" "$scenario" >"$scenario.transcript"
echo "$count instances: $(($(date +%s) - started)) s"
grep -q "^exit code: 0$" "$scenario.transcript"
