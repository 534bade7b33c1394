#!/usr/bin/env bash
# The metrics file of a demo run against Prometheus's own tools: promtool
# checks the file and the example rules (and runs the rules' unit tests), and
# node_exporter, on a free loopback port, must serve every sample of the file.
# Usage: prometheus_check.sh <metrics_sample> <rules.yml> <rules test.yml> <work folder>
set -u
sample=$1 rules=$2 rules_test=$3 work=$4

for tool in promtool prometheus-node-exporter python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool not found (Debian packages prometheus, prometheus-node-exporter, python3; scripts/deps.sh installs them)"
        exit 77
    fi
done

fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/textfile" || fail "cannot create $work"
file=$work/textfile/zentrova.prom
"$sample" "$work/textfile" || fail "metrics_sample did not write the file"
promtool check metrics <"$file" || fail "promtool check metrics rejects $file"
promtool check rules "$rules" || fail "promtool check rules rejects $rules"
promtool test rules "$rules_test" || fail "the example rules do not fire as their tests expect"

exporter_pid=
stop_exporter() {
    if [ -n "$exporter_pid" ]; then
        kill "$exporter_pid" 2>/dev/null
        wait "$exporter_pid" 2>/dev/null
        exporter_pid=
    fi
}
trap stop_exporter EXIT

# The port is free when chosen but could be taken before node_exporter binds
# it: then it exits at once, and another port is tried.
scraped=
for attempt in 1 2 3; do
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])') ||
        fail "no free loopback port"
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" \
        --collector.disable-defaults --collector.textfile \
        --collector.textfile.directory="$work/textfile" >"$work/exporter.log" 2>&1 &
    exporter_pid=$!
    # At most 20 seconds for the first answer.
    if python3 - "$port" "$exporter_pid" >"$work/scrape.txt" <<'EOF'; then
import os, sys, time, urllib.request
url = "http://127.0.0.1:%s/metrics" % sys.argv[1]
deadline = time.monotonic() + 20
while True:
    try:
        with urllib.request.urlopen(url, timeout=2) as answer:
            sys.stdout.write(answer.read().decode("utf-8"))
            sys.exit(0)
    except OSError:
        try:
            os.kill(int(sys.argv[2]), 0)
        except OSError:
            sys.exit(1)  # node_exporter is gone
        if time.monotonic() > deadline:
            sys.exit(1)
        time.sleep(0.1)
EOF
        scraped=yes
        break
    fi
    stop_exporter
done
stop_exporter
[ -n "$scraped" ] || { cat "$work/exporter.log"; fail "node_exporter did not answer"; }

# Every sample of the file, by name, labels and value, is in the scrape.
python3 - "$file" "$work/scrape.txt" <<'EOF' || fail "node_exporter does not serve the file's samples"
import re, sys
sample = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(?:\{(.*)\})? (\S+)$')
label = re.compile(r'([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)",?')
def samples(path):
    found = set()
    for line in open(path, encoding="utf-8"):
        m = sample.match(line.rstrip("\n"))
        if m and not line.startswith("#"):
            found.add((m.group(1), frozenset(label.findall(m.group(2) or "")), float(m.group(3))))
    return found
ours, served = samples(sys.argv[1]), samples(sys.argv[2])
missing = ours - served
for name, labels, value in sorted(missing, key=str)[:5]:
    print("not served:", name, dict(labels), value)
errors = [s for s in served if s[0] == "node_textfile_scrape_error" and s[2] != 0]
if errors:
    print("node_exporter reports an error reading the folder")
print(len(ours), "samples in the file,", len(ours) - len(missing), "served")
sys.exit(1 if missing or errors or not ours else 0)
EOF
echo "promtool accepts the file and the rules; node_exporter serves all its samples"
