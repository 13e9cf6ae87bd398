# shellcheck shell=bash
# Helpers of the bench scripts (bench/run, bench/scale), sourced by them: ports, and starting
# and stopping their servers with a bound on every wait. Messages name the calling script.

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits until something accepts connections on the port, at most SECONDS (default 30).
wait_port() {  # port [seconds]
    local tries=$((${2:-30} * 10))
    for _ in $(seq "$tries"); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    echo "$(basename "$0"): nothing listens on port $1" >&2
    return 1
}

# Asks the process to end, and kills it if it has not ended within 30 s.
stop_process() {  # pid
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 300); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
