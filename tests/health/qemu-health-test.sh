#!/bin/bash
# ovractl health in a QEMU guest (one boot): the SATA disk's self-assessment, its attributes with
# raw values and its temperature from attribute 190 (31 °C); the NVMe disk's health log and
# temperature (50 °C); both Good. Exit 77 (skipped) when QEMU or a kernel is missing.
set -uo pipefail
out=$(bash "$(dirname "$0")/../linux/qemu/run-guest.sh" "$1" "health 0" "health 1" "health --json")
rc=$?
echo "$out"
if [[ $rc == 77 ]]; then
    echo "skipped: no QEMU, kernel or busybox on this machine"
    exit 77
fi
failed=0
expect() {
    grep -Eq "$2" <<<"$out" || { echo "FAILED: $1"; failed=1; }
}
expect "SATA disk is Good" '^Disk0: Good$'
expect "SATA self-assessment" '^  self-assessment: passed$'
for id in 1 3 4 5 9 12 190; do
    expect "SATA attribute $id with its raw value" "^$id +[A-Za-z].* [0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +ok$"
done
expect "NVMe disk is Good" '^Disk1: Good$'
expect "NVMe health log" '^  available spare: [0-9]+% \(threshold [0-9]+%\)$'
expect "JSON of the SATA disk" '"disk":0,.*"selfAssessment":"passed",.*"temperature":31,"verdict":"Good"'
expect "JSON of the NVMe disk" '"disk":1,.*"nvme":\{"availableSpare".*"temperature":50,"verdict":"Good"'
exits=$(sed -n 's/^=== exit //p' <<<"$out" | paste -sd ' ')
if [[ $exits != "0 0 0" ]]; then
    echo "FAILED: health 0, health 1 and health exit with $exits, not 0 0 0"
    failed=1
fi
exit $failed
