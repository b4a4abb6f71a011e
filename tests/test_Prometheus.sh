#!/usr/bin/env bash
# orvel-cli as Prometheus sees it, against loopback targets (a page, a DNS
# server, 127.0.0.1 for Ping, a refused port):
#   test_Prometheus.sh BUILD_DIR scrape    a real Prometheus scrapes
#       orvel-cli --watch 1 --listen; the series it stores hold the values
#       orvel-cli printed for one of its runs, labels with quotes, backslashes
#       and Chinese intact; SIGTERM ends orvel-cli with the last run's status.
#   test_Prometheus.sh BUILD_DIR promtool  `promtool check metrics` takes
#       --format openmetrics and both flavours that /metrics serves.
# It runs in a network and mount namespace of its own: nothing it starts can
# reach beyond that loopback, a daemon of the machine can neither disturb nor
# stand in for the one it starts, and the DNS server may take port 53. Exits
# 77 (skipped) when Prometheus is not installed or no namespace can be made,
# unless CI=true.
set -euo pipefail
build=$(cd "$1" && pwd)
mode=$2
readme=$(cd "$(dirname "$0")/.." && pwd)/README.md
name="test_Prometheus ($mode)"

fail() { echo "$name: $*" >&2; exit 1; }
skip() {
    [ "${CI:-}" != true ] || fail "$* (CI=true: it must run)"
    echo "$name: skipped: $*"
    exit 77
}

for tool in prometheus promtool python3 curl unshare ip; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (bash scripts/setup.sh test)"
done
[ -x "$build/bin/orvel-cli" ] || fail "no $build/bin/orvel-cli"

if [ -z "${ORVEL_PROMETHEUS_NETNS:-}" ]; then
    own=(-mnpf --mount-proc --kill-child)
    [ "$(id -u)" -eq 0 ] || own=(-r "${own[@]}")  # a user namespace too, where root is not at hand
    unshare "${own[@]}" true 2>/dev/null || skip "cannot make a network namespace (unshare ${own[*]})"
    exec env ORVEL_PROMETHEUS_NETNS=1 unshare "${own[@]}" bash "$0" "$@"
fi
ip link set lo up
for variable in http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY; do
    unset "$variable"
done

scratch=$(mktemp -d)
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Names resolve only through our own responder: nothing asks a server of the machine.
echo "nameserver 127.0.0.1" >"$scratch/resolv.conf"
mount --bind "$scratch/resolv.conf" /etc/resolv.conf

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

# The targets: a page and a DNS server answering any A question with
# 127.0.0.1, in one Python process; it writes their ports to a file.
cat >"$scratch/targets.py" <<'EOF'
import http.server, socket, struct, sys, threading

class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<html>orvel</html>"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass

def answer(query):
    end = 12
    while end < len(query) and query[end] != 0:
        end += 1 + query[end]
    question = query[12:end + 5]
    header = query[:2] + struct.pack(">HHHHH", 0x8180, 1, 1, 0, 0)
    record = struct.pack(">HHHIH", 0xC00C, 1, 1, 60, 4) + socket.inet_aton("127.0.0.1")
    return header + question + record

def serve_dns(sock):
    while True:
        query, peer = sock.recvfrom(512)
        if len(query) > 12:
            sock.sendto(answer(query), peer)

page = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
dns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
dns.bind(("127.0.0.1", 53))
threading.Thread(target=serve_dns, args=(dns,), daemon=True).start()
with open(sys.argv[1] + ".part", "w") as out:
    out.write("%d\n" % page.server_address[1])
import os
os.rename(sys.argv[1] + ".part", sys.argv[1])
page.serve_forever()
EOF

# A loopback port nobody listens on now.
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

python3 "$scratch/targets.py" "$scratch/ports" &
started+=($!)
wait_for 10 test -s "$scratch/ports" || fail "the loopback targets did not start"
page_port=$(cat "$scratch/ports")
refused_port=$(free_port)

# A plan whose names need escaping in every label, in orvel-cli's store (GBK).
plan='环回 "lo" \ 测试'
mkdir "$scratch/store"
python3 - "$scratch/store" "$plan" "$page_port" "$refused_port" <<'EOF'
import sys
folder, plan, page, refused = sys.argv[1:]
items = ['本机 "ping"^127.0.0.1^0', '网页 \\ "首页"^127.0.0.1:%s^1' % page,
         '域名\\解析^127.0.0.1^2', 'refused^127.0.0.1:%s^1' % refused]
with open(folder + "/Projects.dat", "wb") as out:
    out.write((plan + "=" + "#".join(items) + "\r\n").encode("gbk"))
with open(folder + "/DestLists.ini", "wb") as out:
    out.write(("[config]\r\nproject=" + plan + "\r\n").encode("gbk"))
EOF

orvel=("$build/bin/orvel-cli" --dir "$scratch/store" --no-record)

# Starts orvel-cli --watch 1 --listen on a free port (in $metrics_port, its
# process in $orvel_pid), its runs on standard output in $scratch/runs, and
# waits for its first run to be served.
start_watch() {
    metrics_port=$(free_port)
    "${orvel[@]}" --watch 1 --listen "127.0.0.1:$metrics_port" --format json -c 2 -i 50 -t 2000 \
        >"$scratch/runs" 2>"$scratch/orvel.err" &
    orvel_pid=$!
    started+=("$orvel_pid")
    wait_for 30 served || fail "orvel-cli served no run: $(cat "$scratch/orvel.err")"
}
served() {
    kill -0 "$orvel_pid" 2>/dev/null || fail "orvel-cli ended: $(cat "$scratch/orvel.err")"
    curl -sf --max-time 2 -o /dev/null "http://127.0.0.1:$metrics_port/metrics"
}

# Sends SIGTERM to orvel-cli and waits at most 15 s for it; its exit status in $orvel_status.
stop_watch() {
    kill -TERM "$orvel_pid"
    (sleep 15 && kill -KILL "$orvel_pid" 2>/dev/null) &
    local watchdog=$!
    orvel_status=0
    wait "$orvel_pid" || orvel_status=$?
    kill "$watchdog" 2>/dev/null || true
    wait "$watchdog" 2>/dev/null || true
    [ "$orvel_status" -ne 137 ] || fail "orvel-cli did not end within 15 s of SIGTERM"
    clean_stderr "$scratch/orvel.err" "--watch"
}

# A sanitizer's report may end a program with the status expected of it: read its standard error too.
clean_stderr() {
    ! grep -qE 'Sanitizer|runtime error:' "$1" || fail "orvel-cli $2: $(cat "$1")"
}

# promtool check metrics on a file: no parse error, no lint problem.
check_metrics() {
    local problems
    problems=$(promtool check metrics <"$1" 2>&1) || fail "promtool check metrics on $2: $problems"
    [ -z "$problems" ] || fail "promtool check metrics on $2: $problems"
}

# The indented block of the README that starts with the line "    $1:", unindented.
readme_block() {
    awk -v first="    $1:" '$0 == first { on = 1 } on && /^$/ { exit } on { print substr($0, 5) }' "$readme"
}

if [ "$mode" = promtool ]; then
    # The README's examples are what promtool takes.
    readme_block scrape_configs >"$scratch/readme.yml"
    readme_block groups >"$scratch/readme-rules.yml"
    [ -s "$scratch/readme.yml" ] && [ -s "$scratch/readme-rules.yml" ] || fail "no Prometheus examples in the README"
    problems=$(promtool check config --syntax-only "$scratch/readme.yml" 2>&1) || fail "the README's configuration: $problems"
    problems=$(promtool check rules "$scratch/readme-rules.yml" 2>&1) || fail "the README's rule: $problems"

    status=0
    "${orvel[@]}" --format openmetrics -c 2 -i 0 -t 2000 >"$scratch/run.om" 2>"$scratch/run.err" || status=$?
    clean_stderr "$scratch/run.err" "--format openmetrics"
    [ "$status" -eq 1 ] || fail "a plan with a refused item exits $status, not 1: $(cat "$scratch/run.err")"
    check_metrics "$scratch/run.om" "--format openmetrics"
    grep -q '^orvel_item_success{.*item="refused".*} 0$' "$scratch/run.om" || fail "no failed item in: $(cat "$scratch/run.om")"
    grep -q '^orvel_item_http_phase_seconds{.*method="http",phase="processing"} [0-9]' "$scratch/run.om" ||
        fail "no phases of the page in: $(cat "$scratch/run.om")"
    grep -q '^orvel_item_http_status_code{.*} 200$' "$scratch/run.om" || fail "no status of the page in: $(cat "$scratch/run.om")"
    ! grep -q '^orvel_item_http_status_code{.*item="refused"' "$scratch/run.om" || fail "a status for the refused page"
    [ "$(tail -n 1 "$scratch/run.om")" = "# EOF" ] || fail "--format openmetrics does not end with # EOF"
    # A target is its item's name as typed, line breaks and all (no such name resolves).
    status=0
    "$build/bin/orvel-cli" --format openmetrics -c 1 -t 500 --ping $'两行\n"名字" \\' --http "127.0.0.1:$page_port" \
        >"$scratch/targets.om" 2>"$scratch/targets.err" || status=$?
    clean_stderr "$scratch/targets.err" "--format openmetrics of targets"
    [ "$status" -eq 1 ] || fail "a target that does not resolve exits $status, not 1: $(cat "$scratch/targets.err")"
    check_metrics "$scratch/targets.om" "--format openmetrics of targets"
    grep -qF 'item="两行\n\"名字\" \\"' "$scratch/targets.om" || fail "label not escaped: $(cat "$scratch/targets.om")"

    start_watch
    url="http://127.0.0.1:$metrics_port/metrics"
    curl -sf --max-time 5 -D "$scratch/om.head" -o "$scratch/served.om" \
        -H 'Accept: application/openmetrics-text;version=1.0.0,text/plain;version=0.0.4;q=0.5' "$url" ||
        fail "GET /metrics for OpenMetrics failed"
    curl -sf --max-time 5 -D "$scratch/text.head" -o "$scratch/served.txt" "$url" || fail "GET /metrics failed"
    stop_watch
    grep -qi '^content-type: application/openmetrics-text; version=1.0.0' "$scratch/om.head" ||
        fail "OpenMetrics asked for, but: $(cat "$scratch/om.head")"
    grep -qi '^content-type: text/plain; version=0.0.4' "$scratch/text.head" ||
        fail "Prometheus text expected, but: $(cat "$scratch/text.head")"
    check_metrics "$scratch/served.om" "/metrics as OpenMetrics"
    check_metrics "$scratch/served.txt" "/metrics as Prometheus text"
    ! grep -q '^# EOF' "$scratch/served.txt" || fail "the Prometheus text format has an # EOF line"
    echo "$name: passed"
    exit 0
fi
[ "$mode" = scrape ] || fail "unknown mode '$mode' (scrape, promtool)"

start_watch

# The README's scrape configuration, scraping every second.
prometheus_port=$(free_port)
readme_block scrape_configs |
    sed -e 's/scrape_interval: 30s/scrape_interval: 1s/' -e 's/scrape_timeout: 10s/scrape_timeout: 1s/' \
        -e "s/127\.0\.0\.1:9464/127.0.0.1:$metrics_port/" >"$scratch/prometheus.yml"
grep -q "127.0.0.1:$metrics_port" "$scratch/prometheus.yml" || fail "no scrape configuration in the README"
prometheus --config.file="$scratch/prometheus.yml" --storage.tsdb.path="$scratch/tsdb" \
    --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn 2>"$scratch/prometheus.log" &
started+=($!)

query() {
    curl -sf --max-time 5 -G --data-urlencode "query=$1" "http://127.0.0.1:$prometheus_port/api/v1/query"
}

cat >"$scratch/check.py" <<'EOF'
import datetime, json, math, sys

def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)["data"]["result"]

def scraped(path, series):
    """Every orvel_item_success series has at least two samples."""
    counts = [float(r["value"][1]) for r in load(path)]
    return len(counts) == series and min(counts) >= 2

def runs_printed(path):
    text, decoder, runs, at = open(path, encoding="utf-8").read(), json.JSONDecoder(), [], 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at == len(text):
            return runs
        run, at = decoder.raw_decode(text, at)
        runs.append(run)

METHODS = {0: "ping", 1: "http", 2: "dns"}

def published(run):
    """(family, item name or None, phase or None) -> value, as a run printed it."""
    def seconds(ms):
        return float("nan") if ms is None else ms / 1000.0
    values = {}
    for item in run["items"]:
        name = item["name"]
        values[("orvel_item_mean_seconds", name, None)] = seconds(item.get("mean_ms"))
        values[("orvel_item_fastest_seconds", name, None)] = seconds(item.get("fastest_ms"))
        values[("orvel_item_slowest_seconds", name, None)] = seconds(item.get("slowest_ms"))
        values[("orvel_item_tries", name, None)] = float(item.get("tries_made", item["tries"]))
        values[("orvel_item_failed_tries", name, None)] = float(item["failed"])
        values[("orvel_item_success", name, None)] = 1.0 if item["failed"] < item["tries"] else 0.0
        page = item.get("http")
        if page is not None:
            for phase in ("resolve", "connect", "tls", "processing", "transfer"):
                if phase + "_ms" in page:
                    values[("orvel_item_http_phase_seconds", name, phase)] = seconds(page[phase + "_ms"])
            values[("orvel_item_http_status_code", name, None)] = float(page["status"])
            if "cert_expires" in page:
                expiry = datetime.datetime.fromisoformat(page["cert_expires"]).timestamp()
                values[("orvel_item_tls_cert_expiry_timestamp_seconds", name, None)] = expiry
    values[("orvel_run_average_seconds", None, None)] = seconds(run["average_ms"])
    values[("orvel_run_stopped", None, None)] = 1.0 if run.get("stopped") else 0.0
    return values

def same(family, stored, printed):
    if math.isnan(printed) or math.isnan(stored):
        return math.isnan(printed) and math.isnan(stored)
    # JSON prints an item's figures to the microsecond and the run's average to 10 µs.
    if family in ("orvel_item_http_status_code", "orvel_item_tls_cert_expiry_timestamp_seconds"):
        return stored == printed
    tolerance = 5.01e-6 if family == "orvel_run_average_seconds" else 5.01e-7
    return abs(stored - printed) <= tolerance

def check(samples_path, runs_path, plan, exit_status):
    runs = runs_printed(runs_path)
    assert len(runs) >= 2, "fewer than two runs printed"
    hosts = {item["name"]: (item["host"], METHODS[item["method_code"]]) for item in runs[-1]["items"]}
    scrapes = {}
    for series in load(samples_path):
        labels = series["metric"]
        family = labels["__name__"]
        assert labels.get("job") == "orvel", labels
        assert labels.get("plan") == plan, "plan label %r" % labels.get("plan")
        item = labels.get("item")
        if family.startswith("orvel_item_"):
            assert item in hosts, "item label %r, printed %r" % (item, sorted(hosts))
            assert (labels.get("host"), labels.get("method")) == hosts[item], labels
        else:
            assert item is None and family in ("orvel_run_average_seconds", "orvel_run_duration_seconds",
                                                "orvel_run_stopped"), labels
        for at, value in series["values"]:
            scrapes.setdefault(at, {})[(family, item, labels.get("phase"))] = float(value)
    complete = 0
    for at, stored in sorted(scrapes.items()):
        duration = stored.pop(("orvel_run_duration_seconds", None, None), None)
        assert duration is not None and 0 < duration < 60, "run duration %r at %s" % (duration, at)
        matching = [i for i, run in enumerate(runs)
                    if published(run).keys() == stored.keys()
                    and all(same(key[0], stored[key], value) for key, value in published(run).items())]
        assert matching, "the scrape at %s holds no run orvel-cli printed: %r" % (at, stored)
        complete += 1
    assert complete >= 2, "fewer than two scrapes"
    last = runs[-1]["items"]
    for run in runs:
        unanswered = [item["name"] for item in run["items"] if item["failed"] == item["tries"]]
        assert unanswered == ["refused"], "unanswered in a run: %r" % unanswered
    expected = 0 if all(item["failed"] < item["tries"] for item in last) else 1
    assert exit_status == expected, "orvel-cli exited %d after SIGTERM, its last run says %d" % (exit_status, expected)
    print("%d scrapes, each one of the %d runs printed" % (complete, len(runs)))

if sys.argv[1] == "scraped":
    sys.exit(0 if scraped(sys.argv[2], int(sys.argv[3])) else 1)
try:
    check(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]))
except AssertionError as error:
    sys.exit("test_Prometheus (scrape): %s" % error)
EOF

two_scrapes() {
    query 'count_over_time(orvel_item_success{job="orvel"}[5m])' >"$scratch/counts" 2>/dev/null &&
        python3 "$scratch/check.py" scraped "$scratch/counts" 4
}
wait_for 60 two_scrapes ||
    fail "Prometheus holds no two scrapes of every item: $(cat "$scratch/counts" 2>/dev/null) $(tail -n 5 "$scratch/prometheus.log")"
query '{__name__=~"orvel_.+",job="orvel"}[5m]' >"$scratch/samples" || fail "the query API did not answer"
stop_watch
python3 "$scratch/check.py" check "$scratch/samples" "$scratch/runs" "$plan" "$orvel_status"
echo "$name: passed"
