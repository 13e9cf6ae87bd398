# Shared by the fault scripts (sourced, not run): a host of its own per scenario on a free
# loopback port with a temporary configuration directory, readings of the host process from
# /proc, bounded waits, medians, and the result block with its pass conditions.
#
# Environment: FAULTS_BUILD (default build/release) is the build whose kelvane-host and
# libdaqserver.so run; FAULTS_TOOLS_BUILD (default the same) the one whose daqbench, daqclient
# and trace-viewer load them (a sanitizer build of the host keeps a fast load).

set -euo pipefail

faults_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
faults_build=$(realpath -m "${FAULTS_BUILD:-$faults_root/build/release}")
bin="$faults_build/bin"
tools_bin="$(realpath -m "${FAULTS_TOOLS_BUILD:-$faults_build}")/bin"
work=$(mktemp -d)
started_pids=()
failed_checks=0
result_lines=()

faults_cleanup() {
    local pid
    for pid in "${started_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${started_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap faults_cleanup EXIT

for program in "$bin/kelvane-host" "$bin/libdaqserver.so" "$tools_bin/daqbench" \
    "$tools_bin/daqclient" "$tools_bin/trace-viewer"; do
    if [[ ! -e "$program" ]]; then
        echo "$(basename "$0"): $program is missing; build it first" >&2
        exit 2
    fi
done

# The host and the load hold up to a thousand connections and more.
ulimit -n "$(ulimit -Hn)"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
load_average() { cut -d' ' -f1 /proc/loadavg; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
thread_count() { find "/proc/$1/task" -mindepth 1 -maxdepth 1 | wc -l; }

# free_port, wait_port and stop_process.
source "$faults_root/bench/common.sh"

# start_host NAME [config.ini line...] [-- kelvane-host option...]
# Starts a host with its own directory $work/NAME (config.ini, host.log, trace socket) on a
# free port; sets host_pid, host_port and host_dir. The trace socket is private to the run, so
# that a trace viewer of the scenario sees this host alone.
start_host() {
    local name=$1
    shift
    host_dir="$work/$name"
    mkdir -p -m 700 "$host_dir"  # the trace channel sends only into a private directory
    host_port=$(free_port)
    {
        echo "[config]"
        echo "DAQServer Addr=127.0.0.1"
        echo "DAQServer Port=$host_port"
        while (($#)) && [[ $1 != -- ]]; do
            echo "$1"
            shift
        done
    } >"$host_dir/config.ini"
    [[ ${1:-} == -- ]] && shift
    QT_QPA_PLATFORM=offscreen KELVANE_TRACE_SOCKET="$host_dir/trace.sock" \
        "$bin/kelvane-host" --headless --config-dir "$host_dir" "$@" >"$host_dir/host.log" 2>&1 &
    host_pid=$!
    started_pids+=("$host_pid")
    if ! wait_port "$host_port"; then
        tail -5 "$host_dir/host.log" >&2
        return 1
    fi
}

# Follows the trace messages of the host in $host_dir into $host_dir/trace.txt.
start_trace_viewer() {
    "$tools_bin/trace-viewer" --socket "$host_dir/trace.sock" >"$host_dir/trace.txt" 2>&1 &
    started_pids+=("$!")
    sleep 0.3  # it binds the socket; the host's sender notices it from the next message on
}

# Stops the host with SIGTERM and waits at most $1 seconds (default 10); prints the
# milliseconds from the signal to its exit, or "timeout" (and kills it).
stop_host() {
    local limit=$((${1:-10} * 100)) start
    start=$(now_ms)
    kill -TERM "$host_pid"
    for _ in $(seq "$limit"); do
        if ! kill -0 "$host_pid" 2>/dev/null; then
            wait "$host_pid" 2>/dev/null || true
            echo $(($(now_ms) - start))
            return 0
        fi
        sleep 0.01
    done
    kill -KILL "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
    echo timeout
}

# Waits at most $2 seconds until the host's resident memory is at most $1 KiB; prints it.
settle_rss() {
    local target=$1 tries=$((${2:-10} * 10)) rss
    for _ in $(seq "$tries"); do
        rss=$(rss_kib "$host_pid")
        ((rss <= target)) && break
        sleep 0.1
    done
    echo "$rss"
}

daqbench() { "$tools_bin/daqbench" -p "$host_port" --json "$@"; }
daqclient() { "$tools_bin/daqclient" -p "$host_port" "$@"; }

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

# figure NAME VALUE: one line of the result block.
figure() { result_lines+=("$1: $2"); }

# check DESCRIPTION ARITHMETIC-OR-TEST...: a pass condition; evaluated with awk so that
# decimals compare, e.g. check "p99 within 2x" "$with <= 2 * $without".
check() {
    local description=$1 condition=$2 verdict=FAIL
    if awk "BEGIN { exit !($condition) }"; then
        verdict=PASS
    else
        failed_checks=$((failed_checks + 1))
    fi
    result_lines+=("$verdict: $description ($condition)")
}

# Prints the result block and leaves with 1 when a check failed.
finish() {
    echo "== $(basename "$0") ($(date -Is), host from $(basename "$faults_build"), $(nproc) cores)"
    printf '%s\n' "${result_lines[@]}"
    if ((failed_checks > 0)); then
        echo "== FAILED: $failed_checks check(s)"
        exit 1
    fi
    echo "== PASSED"
    exit 0
}
