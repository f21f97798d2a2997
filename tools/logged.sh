# Sourced by the release scripts. logged NAME COMMAND...: runs the command with its output in
# $logs/NAME.log, shown (its end) only when it fails, which ends the script.
logged() {
    local name=$1
    shift
    if ! "$@" >"$logs/$name.log" 2>&1; then
        tail -n 40 "$logs/$name.log"
        echo "FAILED: $* (full log: $logs/$name.log)" >&2
        exit 1
    fi
}
