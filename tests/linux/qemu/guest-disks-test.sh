#!/bin/bash
# ovractl in a QEMU guest (one boot): both disks listed with model and serial, the SATA disk's
# SMART values read, no SMART on the NVMe disk. Exit 77 (skipped) when QEMU or a kernel is missing.
set -uo pipefail
out=$("$(dirname "$0")/run-guest.sh" "$1" disks "smart 0" "smart 1")
rc=$?
echo "$out"
[[ $rc == 77 ]] && exit 77
failed=0
expect() {
    grep -Eq "$2" <<<"$out" || { echo "FAILED: $1"; failed=1; }
}
expect "disks lists the SATA disk" '^0 +Disk0 +fixed .* ATA +OVRA SATA DISK +OVRA-SATA-0001'
expect "disks lists the NVMe disk" '^1 +Disk1 +fixed .* QEMU NVMe Ctrl +OVRA-NVME-0001'
for id in 1 3 4 5 9 12; do
    expect "smart 0 reads attribute $id" "^$id +[^0-9]+ 100 +100 "
done
exits=$(sed -n 's/^=== exit //p' <<<"$out" | paste -sd ' ')
if [[ $exits != "0 0 127" ]]; then
    echo "FAILED: disks, smart 0 and smart 1 (NVMe) exit with $exits, not 0 0 127"
    failed=1
fi
exit $failed
