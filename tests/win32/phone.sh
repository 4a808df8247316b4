# Sourced by the Windows test scripts: start_phone PHONESIM FOLDER OUT ARGS... starts the
# Linux simulated phone serving FOLDER with ARGS (--tcp 0, --pty) in the background, its
# output in OUT, and sets phone_pid and phone_at (what it serves on: "tcp:127.0.0.1:PORT",
# "serial:/dev/pts/N"); it fails when the phone does not start within 10 s.
start_phone() {
  local phonesim=$1 folder=$2 out=$3
  shift 3
  "$phonesim" "$@" "$folder" > "$out" 2> "$out.err" </dev/null &
  phone_pid=$!
  for _ in $(seq 100); do
    grep -q 'serving on ' "$out" 2>/dev/null && break
    sleep 0.1
  done
  phone_at=$(sed -n 's/.*serving on \(.*\)/\1/p' "$out")
  [ -n "$phone_at" ] || { echo "the simulated phone did not start"; cat "$out.err"; return 1; }
}
