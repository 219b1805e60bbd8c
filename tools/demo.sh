#!/usr/bin/env bash
# The demonstration behind ./kit demo: uboot-nand on a sample environment block, first in a plain
# file, then on a simulated 128 KiB NAND device (the test shim answers the MTD requests and logs
# the erase and the write). Usage: tools/demo.sh BIN_DIR
set -euo pipefail

BIN="$(cd "${1:?usage: tools/demo.sh BIN_DIR}" && pwd)"
SHIM="$BIN/../lib/libmtd_shim.so"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
export PATH="$BIN:$PATH"

# Shows a command line, runs it with its diagnostics in order, and shows a failing status.
step() {
  local input=/dev/null
  if [ "$1" = "<" ]; then input="$2"; shift 2; fi
  local shown="$*"
  shown="${shown/#nand /uboot-nand }"  # the shimmed runs are the same tool
  printf '\n$ %s%s\n' "$shown" "$([ "$input" = /dev/null ] || printf ' < %s' "$input")"
  local status=0
  "$@" <"$input" 2>&1 || status=$?
  [ "$status" -eq 0 ] || printf '(exit status %d)\n' "$status"
}

cat >sample.txt <<'VARS'
bootdelay=3
baudrate=115200
bootcmd=run mmc_boot; run nand_boot
bootargs=console=ttyS0,115200n8 root=/dev/mmcblk0p1 rw rootwait mem=120M
VARS

echo "== uboot-nand on a sample block in a file"
step "<" sample.txt uboot-nand -f env.bin -y set
step uboot-nand -f env.bin list
step uboot-nand -f env.bin set bootdelay 0
step uboot-nand -f env.bin get bootdelay
step uboot-nand -f env.bin set ipaddr 10.0.0.2
step uboot-nand -f env.bin get
echo
echo "The block: CRC-32 of the data area (little-endian), then the name=value entries:"
od -A x -t x1z -N 48 env.bin

if [ -f "$SHIM" ]; then
  echo
  echo "== the same on a simulated 128 KiB NAND device (erase blocks of 16 KiB)"
  head -c 131072 /dev/zero | tr '\0' '\377' >mtd0
  export MTD_SIM_PATH="$WORK/mtd0" MTD_SIM_LOG="$WORK/mtd.log" MTD_SIM_ERASESIZE=16384
  nand() { LD_PRELOAD="$SHIM" uboot-nand "$@"; }
  step nand -f mtd0 get
  step "<" sample.txt nand -f mtd0 -y set
  step nand -f mtd0 set bootdelay 1
  step nand -f mtd0 get
  echo
  echo "What the device was asked (an erased device reads as empty; every store erases it whole first):"
  sed 's/^/  /' mtd.log
fi
