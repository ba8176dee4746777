# driver_session ON_LINE LOG PROGRAM ARG...: runs PROGRAM (the Win32 test driver) under Wine,
# its errors appended to LOG, and calls the shell function ON_LINE with each line it prints.
# When ON_LINE succeeds, the driver is sent a line, for the steps that wait for "input".
# Returns the driver's status.
#
# Named pipes, not a coprocess: bash closes a coprocess's pipe and unsets its variables as
# soon as it reaps the process, which can come before the last lines have been read.
driver_session() {
    local on_line=$1 log=$2
    shift 2
    local pipes
    pipes=$(mktemp -d)
    mkfifo "$pipes/in" "$pipes/out"
    wine "$@" <"$pipes/in" >"$pipes/out" 2>>"$log" &
    local pid=$! to from line status=0
    # In the order the driver's side opens them, so that neither open waits for the other.
    exec {to}>"$pipes/in" {from}<"$pipes/out"
    while IFS= read -r line <&"$from"; do
        if "$on_line" "$line"; then
            # A driver that has already ended takes nothing; the subshell takes the SIGPIPE.
            (echo go >&"$to") 2>/dev/null || true
        fi
    done
    exec {to}>&- {from}<&-
    rm -rf "$pipes"
    wait "$pid" || status=$?
    return "$status"
}
