#!/usr/bin/env bash
# The demonstration behind ./kit demo: a whole flashing run of BrenloFix against the simulated
# board. devsim writes the four image files into a fresh folder and serves the board on a free
# loopback port; BrenloFix flashes it with -m, -s, -al and -ri, and the login, password and proxy
# are typed from a script. The operator's console shows live; the run ends with a summary of what
# the board now holds and the log file's path.
#
# Usage: tools/demo.sh BIN_DIR [--fault NAME[=N]] [--line-emulation] [--fast] [--tftp] [--typing HOW]
#                     [--board-tools] [--boards N]
#   --fault NAME      switch a board failure on (devsim --help lists them); the first retry
#                     question is answered with "r" once the fault is switched off again. Some
#                     failures the run mends without a question: --fault lose-char=122 loses the
#                     "3" of serverip's value as step 4 types it; its echo shows the loss and the
#                     command is typed again before its Enter
#   --line-emulation  the board sends at the real 115200 baud (the kernel alone then takes 3 min)
#   --fast            no device delays (boot, NAND, countdown)
#   --tftp            the kernel over Ethernet: tftpd-hpa serves the images folder on a loopback
#                     port as the station's TFTP server, BrenloFix gets --tftp 192.168.102.134
#   --typing HOW      BrenloFix --typing: echo (the demo's default, as the station types: at the
#                     pace of U-Boot's echo) or paced (BrenloFix's own default, a pause after each key)
#   --board-tools     instead: uboot-nand on a sample environment block
#   --boards N        instead: the factory station (brenlofix-station) flashes N simulated boards (1 to 32) at once,
#                     unattended, each devsim on its own port and state file; the second board's
#                     flasher stops halfway once (or the --fault given), and its run tries again by itself.
#                     The boards are given no identities: the station takes them from a SQLite ledger
#                     with a pool of MAC addresses and one of serial numbers, and the demo ends with the
#                     ledger's status and the runs of the first board's serial number. The station's
#                     page is served on a free port (its address is printed at the start); at a terminal
#                     it stays up after the runs until Enter is pressed
set -euo pipefail

BIN="$(cd "${1:?usage: tools/demo.sh BIN_DIR [options]}" && pwd)"
shift
TOOLS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PYTHON=/usr/bin/python3  # python3-serial is installed for Debian's interpreter
MAC=02:1B:4D:12:34:56
SERIAL=QV4N150101ABC

FAULT="" LINE="" SPEED=1 BOARD_TOOLS="" TFTP="" BOARDS="" TYPING=""
while [ $# -gt 0 ]; do
  case "$1" in
    --fault) FAULT="${2:?--fault needs a name (devsim --help lists them)}"; shift 2 ;;
    --fault=*) FAULT="${1#--fault=}"; shift ;;
    --line-emulation) LINE=--line-emulation; shift ;;
    --fast) SPEED=0; shift ;;
    --tftp) TFTP=--tftp; shift ;;
    --typing) TYPING="${2:?--typing needs paced or echo}"; shift 2 ;;
    --typing=*) TYPING="${1#--typing=}"; shift ;;
    --board-tools) BOARD_TOOLS=1; shift ;;
    --boards) BOARDS="${2:?--boards needs a number}"; shift 2 ;;
    --boards=*) BOARDS="${1#--boards=}"; shift ;;
    *) echo "Error: unknown demo option $1" >&2; exit 2 ;;
  esac
done
# The operator's run types as the station does, at the pace of U-Boot's echo, unless told otherwise.
[ -n "$BOARDS" ] || TYPING="${TYPING:-echo}"

board_tools_demo() {
  local work
  work="$(mktemp -d)"
  # The folder's name now: the function's variable is gone when the script exits.
  trap "rm -rf -- '$work'" EXIT
  cd "$work"
  cat >sample.txt <<'VARS'
bootdelay=3
baudrate=115200
bootcmd=run mmc_boot; run nand_boot
VARS
  local step
  for step in "uboot-nand -f env.bin -y set" "uboot-nand -f env.bin list" \
              "uboot-nand -f env.bin set bootdelay 0" "uboot-nand -f env.bin get"; do
    printf '\n$ %s\n' "$step"
    # shellcheck disable=SC2086
    "$BIN"/$step <sample.txt 2>&1 || printf '(exit status %d)\n' "$?"
  done
  echo
  echo "The block: CRC-32 of the data area (little-endian), then the name=value entries:"
  od -A x -t x1z -N 48 env.bin
}

# The factory station: N devsim boards, one unattended BrenloFix each, identities from the ledger's
# pools, a table of their records.
station_demo() {
  case "$BOARDS" in [1-9] | [12][0-9] | 3[0-2]) ;; *) echo "Error: --boards takes 1 to 32" >&2; exit 2 ;; esac
  local work pids=() n fault argv=() ledger
  work="$(mktemp -d "${TMPDIR:-/tmp}/brenlo-station.XXXXXX")"
  trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
  mkdir "$work/images" "$work/records"
  echo "== the four image files, written by devsim make-images into $work/images"
  "$BIN/devsim" make-images "$work/images" | sed 's/^/   /'
  echo
  ledger=(--ledger "sqlite:$work/records/ledger.sqlite")
  echo "== the station's ledger beside its records: brenlofix-ledger init, add-macs, add-serials"
  { "$BIN/brenlofix-ledger" "${ledger[@]}" init &&
    "$BIN/brenlofix-ledger" "${ledger[@]}" add-macs 02:1B:4D:00:10:00 02:1B:4D:00:10:FF &&
    "$BIN/brenlofix-ledger" "${ledger[@]}" add-serials QV4N1501 000001 000999; } | sed 's/^/   /'
  for n in $(seq 1 "$BOARDS"); do
    fault=()
    [ "$n" -eq 2 ] && fault=(--fault "${FAULT:-flasher-stall}")
    "$BIN/devsim" --port 0 --port-file "$work/board$n.port" --state "$work/board$n.state" --speed "$SPEED" \
      ${LINE:+--baud-emulation} "${fault[@]}" >"$work/devsim$n.log" 2>&1 &
    pids+=($!)
  done
  for n in $(seq 1 "$BOARDS"); do
    for _ in $(seq 100); do [ -s "$work/board$n.port" ] && break; sleep 0.1; done
    argv+=(--board "rfc2217://127.0.0.1:$(cat "$work/board$n.port")")
    echo "   board $n: devsim on rfc2217://127.0.0.1:$(cat "$work/board$n.port")$([ "$n" -eq 2 ] && echo ", fault ${FAULT:-flasher-stall}")"
  done
  echo
  echo "== brenlofix-station: $BOARDS unattended runs of BrenloFix -al -ri at once, identities from the ledger"
  # At a terminal, the station's page (its address is printed first) stays up after the runs until
  # Enter; without one (CI) the demo goes on at once.
  keep=()
  if [ -t 0 ]; then
    keep=(--keep-page)
    echo "   open the page at the address below; after the table it stays up until you press Enter"
  fi
  status=0
  BRENLOFIX_PASSWORD=brenlo BRENLOFIX_PROXY=http://192.168.102.134:3128 "$BIN/brenlofix-station" --listen 127.0.0.1:0 "${keep[@]}" --brenlofix "$BIN/BrenloFix" \
    --images "$work/images" --records "$work/records" --login root \
    ${TYPING:+--typing "$TYPING"} "${argv[@]}" -- -al -ri || status=$?
  kill -TERM "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  echo
  echo "== what each board holds now (devsim dump)"
  for n in $(seq 1 "$BOARDS"); do
    dump="$("$BIN/devsim" dump --state "$work/board$n.state" 2>/dev/null || true)"
    printf '   board %d: %s %s, kernel copies %s\n' "$n" "$(grep -m1 '^env.serialno=' <<<"$dump" || echo 'no serialno')" \
      "$(grep -m1 '^env.ethaddr=' <<<"$dump" || echo 'no ethaddr')" "$(grep -m1 '^nand.kernel.equal:' <<<"$dump" | sed 's/.*: //')"
  done
  echo
  echo "== brenlofix-ledger status"
  "$BIN/brenlofix-ledger" "${ledger[@]}" status | sed 's/^/   /' || true
  serial="$("$BIN/devsim" dump --state "$work/board1.state" 2>/dev/null | sed -n 's/^env.serialno=//p' | head -n 1)"
  if [ -n "$serial" ]; then
    echo
    echo "== brenlofix-ledger find $serial (board 1)"
    "$BIN/brenlofix-ledger" "${ledger[@]}" find "$serial" | sed 's/^/   /' || true
  fi
  echo
  echo "The records, each run's console and the ledger: $work/records; the logs: $work/images"
  exit "$status"
}

if [ -n "$BOARD_TOOLS" ]; then
  board_tools_demo
  exit 0
fi
if [ -n "$BOARDS" ]; then
  station_demo
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/brenlo-demo.XXXXXX")"
IMAGES="$WORK/images"
STATE="$WORK/board.state"
PID_FILE="$WORK/devsim.pid"
mkdir "$IMAGES"

# devsim must not outlive the demo, whatever ends it: the operator script stops it itself, this
# is the backstop for a script that was killed.
stop_devsim() {
  if [ -s "$PID_FILE" ]; then
    kill "$(cat "$PID_FILE")" 2>/dev/null || true
    rm -f "$PID_FILE"
  fi
}
# On Ctrl-C or a kill, the operator script ends BrenloFix and devsim itself before the demo ends.
on_signal() {
  if [ -n "${OPERATOR:-}" ]; then
    kill -TERM "$OPERATOR" 2>/dev/null || true
    wait "$OPERATOR" 2>/dev/null || true
  fi
  exit "$1"
}
trap stop_devsim EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM

echo "== the four image files, written by devsim make-images into $IMAGES"
"$BIN/devsim" make-images "$IMAGES" | sed 's/^/   /'

echo
echo "== BrenloFix -m $MAC -s $SERIAL -al -ri${TFTP:+ --tftp 192.168.102.134}${TYPING:+ --typing $TYPING} against the simulated board"
[ -z "$FAULT" ] || echo "   with the fault $FAULT switched on"
started=$SECONDS
status=0
# In the background, so that a signal reaches the trap at once rather than after the run.
"$PYTHON" "$TOOLS/demo_operator.py" --devsim "$BIN/devsim" --brenlofix "$BIN/BrenloFix" \
  --images "$IMAGES" --state "$STATE" --pid-file "$PID_FILE" --speed "$SPEED" \
  ${FAULT:+--fault "$FAULT"} $LINE $TFTP -- -m "$MAC" -s "$SERIAL" -al -ri ${TYPING:+--typing "$TYPING"} &
OPERATOR=$!
wait "$OPERATOR" || status=$?
OPERATOR=""
stop_devsim
elapsed=$((SECONDS - started))

if [ ! -f "$STATE" ]; then  # devsim never served the board: say why
  sed 's/^/   /' "$WORK/devsim.log" 2>/dev/null || true
  exit "$((status == 0 ? 1 : status))"
fi

echo
echo "== what the board holds now (devsim dump)"
dump="$("$BIN/devsim" dump --state "$STATE")"
summary() { printf '   %-22s %s\n' "$1" "$2"; }
fact() { grep -m1 "^$1" <<<"$dump" | sed "s/^$1 *//" || true; }
summary "UBL in NAND:" "$(fact nand.ubl:)"
summary "U-Boot in NAND:" "$(fact nand.uboot:)"
summary "environment:" "$(fact nand.env:)"
summary "identity programmed:" "serialno=$(fact env.serialno=) ethaddr=$(fact env.ethaddr=)"
summary "serverip saved:" "$(fact env.serverip=)"
summary "kernel in RAM:" "$(fact ram.kernel:)"
summary "kernel copies checked:" "$(fact nand.kernel.equal:) equal to the uploaded kernel"
summary "board resets:" "$(fact resets:)"
summary "U-Boot console:" "commands run twice: $(fact uboot.repeated:), characters lost: $(fact uart.lost:)"
log="$(find "$IMAGES" -maxdepth 1 -name '*.log' | head -n 1)"
if [ -n "$log" ]; then
  echoed="$(grep -a 'Echo check:' "$log" | tr -d '\r' | sed 's/^Echo check: //' | paste -sd '|' | sed 's,|, / ,g' || true)"
  summary "echo check:" "${echoed:-every command came back as typed.}"
  summary "environment check:" "$(grep -a 'Environment check:' "$log" | tr -d '\r' | sed 's/^Environment check: //' |
    paste -sd '|' | sed 's,|, / ,g' || true)"
  summary "logged in:" "$(grep -q ':~#' "$log" && echo yes || echo no)"
  summary "package update:" "$(grep -q 'Update kernel rpm(s) successful!' "$log" && echo done || echo not done)"
  summary "kernel loaded:" "$(grep -a -o 'loaded by [^(]*' "$log" | tail -n 1 | sed 's/^loaded //')"
fi
echo
echo "The log file: ${log:-(none was written)}"
echo "The whole run took ${elapsed} s; BrenloFix ended with exit status $status."
exit "$status"
