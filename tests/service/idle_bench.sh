#!/bin/bash
# The service's idle cost between two polls: its resident memory and how
# often any of its threads wakes (context switches over a quiet spell), on
# the demo drives polled hourly, the system's drive events listened to.
# Prints the figures; fails above 15 MB or on any wake-up.
# idle_bench.sh SERVICE_PROGRAM DRIVES_FILE [SECONDS]
set -u
program=$1 drives=$2 quiet=${3:-10}
scratch=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir "$scratch/prom"
printf 'textfile_dir=%s/prom\ndata_dir=%s/data\n' "$scratch" "$scratch" >"$scratch/service.conf"
ZENTROVA_SIMULATED_DRIVES=$drives ZENTROVA_SERVICE_FOLLOW_DRIVES=1 "$program" --config "$scratch/service.conf" 2>"$scratch/journal" &
pid=$!
for _ in $(seq 100); do grep -q "Watching the drives" "$scratch/journal" && break; sleep 0.1; done
grep -q "Watching the drives" "$scratch/journal" || { cat "$scratch/journal"; echo "FAIL: no start"; exit 1; }
sleep 1 # start-up's queued work ends
switches() { cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
before=$(switches)
sleep "$quiet"
after=$(switches)
rss=$(awk '/VmRSS/ { print $2 }' /proc/"$pid"/status)
threads=$(ls /proc/"$pid"/task | wc -l)
wakeups=$((after - before))
events="drive events followed"
grep -q "are not followed" "$scratch/journal" && events="drive events NOT followed here"
echo "zentrova-service idle ($events): RSS $((rss / 1024)).$(((rss % 1024) * 10 / 1024)) MB, $threads threads, $wakeups wake-ups in ${quiet} s between polls"
[ "$rss" -lt $((15 * 1024)) ] || { echo "FAIL: RSS over 15 MB"; exit 1; }
[ "$wakeups" -eq 0 ] || { echo "FAIL: the service woke between polls"; exit 1; }
