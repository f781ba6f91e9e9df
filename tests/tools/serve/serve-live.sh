#!/usr/bin/env bash
# ovractl serve and metrics as a user runs them, judged from outside by curl and promtool:
#   serve-live.sh [RUNNER] OVRACTL     (RUNNER: wine64 for ovractl.exe)
# The server takes a free loopback port and prints it; it must stop cleanly on SIGINT.
set -euo pipefail
for tool in curl promtool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
dir=$(mktemp -d /tmp/ovra-serve.XXXXXX)
pid=
trap '[ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
cd "$dir"  # Wine maps it to a drive: the relative paths below work for both builds

"$@" log create events.db Camera:int32 >/dev/null
"$@" log insert events.db --time 1700000000000 Camera=1 >/dev/null
exec 3< <(exec "$@" serve --listen 127.0.0.1:0 --interval 3600 --log events.db \
    --time-server 127.0.0.1:9 2>serve.err)
pid=$!
read -r -t 120 -u 3 line || fail "no address announced: $(cat serve.err)"
line=${line%$'\r'}  # Windows ends lines with CR LF
url=${line##* }
echo "serving at $url"

curl -fsS "${url}metrics" >metrics.prom
promtool check metrics <metrics.prom || fail "promtool rejected /metrics"
grep -q '^ovra_log_records{database="events.db"} 1$' metrics.prom || fail "no log figures"
grep -q '^ovra_collector_success{collector="time"} 0$' metrics.prom || fail "no failed time check"
status() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
[ "$(status "$url")" = 200 ] || fail "no status page"
[ "$(status -X POST "${url}metrics")" = 405 ] || fail "POST taken"
[ "$(status "${url}nope")" = 404 ] || fail "unknown path answered"

kill -INT "$pid"
wait "$pid" || fail "serve did not stop cleanly on SIGINT: $(cat serve.err)"
pid=

"$@" metrics --textfile . --log events.db --time-server 127.0.0.1:9
promtool check metrics <ovra.prom || fail "promtool rejected the textfile"
[ ! -e .ovra.prom.tmp ] || fail "the temporary file was left"
echo "serve: all checks passed"
