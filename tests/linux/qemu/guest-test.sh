#!/bin/bash
# ovractl in one QEMU guest boot (TCG) with an AHCI SATA and an NVMe disk: both disks listed with
# model and serial; the SATA disk's SMART values, none on the NVMe disk (127); `health` of both
# Good, the SATA disk's temperature from attribute 190 (31 °C), the NVMe disk's from its health
# log (50 °C). Exit 77 (skipped) without QEMU, a kernel or busybox, or with
# OVRA_SKIP_GUEST_TESTS=1.   Usage: guest-test.sh OVRACTL
set -uo pipefail
skip() { echo "skipped: $1"; exit 77; }
[[ ${OVRA_SKIP_GUEST_TESTS:-} == 1 ]] && skip "OVRA_SKIP_GUEST_TESTS=1"
ovractl=$(readlink -f "$1")
kernel_version=$(ls /lib/modules 2>/dev/null | sort -V | tail -n 1)
for need in qemu-system-x86_64 cpio gzip modprobe; do
    command -v "$need" >/dev/null || skip "$need is missing"
done
[[ -n $kernel_version && -r /boot/vmlinuz-$kernel_version && -x /bin/busybox ]] ||
    skip "needs linux-image-amd64 and busybox-static"

work=$(mktemp -d /tmp/ovra-guest.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
# The program and its shared libraries at the paths the dynamic linker looks them up at.
for file in "$ovractl" $(ldd "$ovractl" | grep -o '/[^ ]*'); do cp --parents -L "$file" "$root"; done
modprobe -a --show-depends -S "$kernel_version" ahci sd_mod sg nvme |
    awk '$1 == "insmod" && !seen[$2]++ { print $2 }' >"$root/modules"
while read -r module; do cp --parents "$module" "$root"; done <"$root/modules"
printf '%s\n' disks "smart 0" "smart 1" "health 0" "health 1" "health --json" >"$root/commands"
cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
while read -r module; do insmod "\$module" 2>/dev/null; done </modules
# Probing is asynchronous: wait (at most 20 s) until both disks are there.
for i in \$(seq 200); do [ -b /dev/sda ] && [ -b /dev/nvme0n1 ] && break; sleep 0.1; done
while read -r args; do
    echo "=== ovractl \$args"
    $ovractl \$args
    echo "=== exit \$?"
done </commands
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
truncate -s 256M "$work/sata.img" "$work/nvme.img"
out=$(timeout 600 qemu-system-x86_64 -accel tcg -cpu max -m 1024 -nographic -no-reboot \
    -kernel "/boot/vmlinuz-$kernel_version" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet" \
    -drive "if=none,id=d0,file=$work/sata.img,format=raw" -device ahci,id=ahci \
    -device "ide-hd,drive=d0,bus=ahci.0,serial=OVRA-SATA-0001,model=OVRA SATA DISK" \
    -drive "if=none,id=d1,file=$work/nvme.img,format=raw" \
    -device nvme,drive=d1,serial=OVRA-NVME-0001 </dev/null | tr -d '\r')
echo "$out"

failed=0
# expect COMMAND WHAT REGEX: a line of COMMAND's output matches.
expect() {
    # The console's escape sequences may come before the first marker.
    awk -v c="=== ovractl $1" '{ sub(/^.*=== /, "=== ") } $0 == c { on = 1; next } /^=== / { on = 0 } on' <<<"$out" |
        grep -Eq "$3" || { echo "FAILED: $1: $2"; failed=1; }
}
expect disks "SATA disk" '^0 +Disk0 +fixed .* ATA +OVRA SATA DISK +OVRA-SATA-0001'
expect disks "NVMe disk" '^1 +Disk1 +fixed .* QEMU NVMe Ctrl +OVRA-NVME-0001'
for id in 1 3 4 5 9 12; do
    expect "smart 0" "attribute $id" "^$id +[^0-9]+ 100 +100 "
    expect "health 0" "attribute $id with its raw value" \
        "^$id +[A-Za-z].* [0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +[0-9]+ +ok$"
done
expect "health 0" "Good" '^Disk0: Good$'
expect "health 0" "self-assessment" '^  self-assessment: passed$'
expect "health 1" "Good" '^Disk1: Good$'
expect "health 1" "health log" '^  available spare: [0-9]+% \(threshold [0-9]+%\)$'
# The guest's partition scan has read from the disk: a counter past the log's first bytes.
expect "health 1" "whole health log" '^  data units read/written: [1-9][0-9]* / [0-9]+$'
expect "health --json" "SATA disk" '"disk":0,.*"selfAssessment":"passed",.*"temperature":31,"verdict":"Good"'
expect "health --json" "NVMe disk" '"disk":1,.*"nvme":\{"availableSpare".*"temperature":50,"verdict":"Good"'
exits=$(sed -n 's/^=== exit //p' <<<"$out" | paste -sd ' ')
[[ $exits == "0 0 127 0 0 0" ]] || { echo "FAILED: exit codes $exits, not 0 0 127 0 0 0"; failed=1; }
exit $failed
