#!/usr/bin/env bash
# The metrics file of a demo run against Prometheus's own tools: promtool checks
# the file and runs the example rules' unit tests, which load the rules; node_exporter
# must serve every sample of the file over HTTP.
# Usage: prometheus_check.sh <metrics_tests> <rules test.yml> <work folder>
set -u
tests=$1 rules_test=$2 work=$3 file=$3/textfile/zentrova.prom
for tool in promtool prometheus-node-exporter python3; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool not found (Debian packages prometheus, prometheus-node-exporter, python3; scripts/deps.sh installs them)"; exit 77; }
done
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$work" && mkdir -p "$work/textfile" || fail "cannot create $work"
ZENTROVA_METRICS_SAMPLE=$work/textfile "$tests" --gtest_filter="*DemoDrives*" >"$work/sample.log"
promtool check metrics <"$file" || fail "promtool check metrics rejects $file, or it is missing"
promtool test rules "$rules_test" || fail "the example rules do not fire as their tests expect"
python3 - "$file" "$work/textfile" <<'EOF' || fail "node_exporter does not serve the file's samples"
import re, subprocess, sys, threading, urllib.request
def samples(text):  # (name, labels, value) of every sample
    found = (re.match(r'([a-zA-Z_:][\w:]*)(?:\{(.*)\})? (\S+)$', line) for line in text.splitlines())
    return {(m[1], frozenset(re.findall(r'([a-zA-Z_]\w*)="((?:[^"\\]|\\.)*)"', m[2] or "")), float(m[3]))
            for m in found if m}
# On a free port of the system's choosing, which it names in its log (echoed here).
with subprocess.Popen(["prometheus-node-exporter", "--web.listen-address=127.0.0.1:0",
                       "--collector.disable-defaults", "--collector.textfile",
                       "--collector.textfile.directory=" + sys.argv[2]],
                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True) as exporter:
    watchdog = threading.Timer(20, exporter.kill)  # a silent exporter ends the wait
    watchdog.start()
    try:
        port = None
        for line in exporter.stderr:  # until it listens, or ends
            print(line, end="")
            port = re.search(r'msg="Listening on" address=127\.0\.0\.1:(\d+)', line)
            if port:
                break
        if not port:
            sys.exit("node_exporter ended or stayed silent without naming its port")
        served = urllib.request.urlopen("http://127.0.0.1:%s/metrics" % port[1], timeout=10).read()
    finally:
        watchdog.cancel()
        exporter.kill()
ours, got = samples(open(sys.argv[1], encoding="utf-8").read()), samples(served.decode())
# A file the exporter cannot parse has none of its samples served.
print(len(ours), "samples in the file,", len(ours & got), "served; missing:", sorted(ours - got, key=str)[:5])
sys.exit(1 if ours - got or not ours else 0)
EOF
echo "promtool accepts the file and the rules; node_exporter serves all its samples"
