#!/bin/bash
# ovractl in one QEMU guest boot (TCG) with an AHCI SATA and an NVMe disk: both disks listed with
# model and serial; the SATA disk's SMART values, none on the NVMe disk (127); `health` of both
# Good, the SATA disk's temperature from attribute 190 (31 °C), the NVMe disk's from its health
# log (50 °C). The SATA disk's short and extended self-tests pass and its log reads as smartctl
# reads it; conveyance tests, and any test on QEMU 7's NVMe disk, are refused (127). The watch
# reports the NVMe disk Failing within two polls of its critical warning being set through QMP.
# Exit 77 (skipped) without QEMU, a kernel or busybox, or with OVRA_SKIP_GUEST_TESTS=1.
#   Usage: guest-test.sh OVRACTL
set -uo pipefail
skip() { echo "skipped: $1"; exit 77; }
[[ ${OVRA_SKIP_GUEST_TESTS:-} == 1 ]] && skip "OVRA_SKIP_GUEST_TESTS=1"
ovractl=$(readlink -f "$1")
kernel_version=$(ls /lib/modules 2>/dev/null | sort -V | tail -n 1)
for need in qemu-system-x86_64 cpio gzip modprobe python3; do
    command -v "$need" >/dev/null || skip "$need is missing"
done
[[ -n $kernel_version && -r /boot/vmlinuz-$kernel_version && -x /bin/busybox ]] ||
    skip "needs linux-image-amd64 and busybox-static"

work=$(mktemp -d /tmp/ovra-guest.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
# smartctl reads the self-test log as a second opinion, when it is there.
smartctl=$(command -v smartctl || true)
# The programs and their shared libraries at the paths the dynamic linker looks them up at.
for program in "$ovractl" $smartctl; do
    for file in "$program" $(ldd "$program" | grep -o '/[^ ]*'); do cp --parents -L "$file" "$root"; done
done
modprobe -a --show-depends -S "$kernel_version" ahci sd_mod sg nvme |
    awk '$1 == "insmod" && !seen[$2]++ { print $2 }' >"$root/modules"
while read -r module; do cp --parents "$module" "$root"; done <"$root/modules"
interval=1
# The watch comes last: its marker line tells the host when to set the NVMe critical warning.
{
    printf 'ovractl %s\n' "selftest 0 --short --wait" "selftest 0 --extended --wait" \
        "selftest 0 --conveyance" "selftest 1 --short" disks "smart 0" "smart 1" "health 0" \
        "health 1" "health --json"
    [[ -n $smartctl ]] && echo "smartctl -d sat -l selftest /dev/sda"
    echo "ovractl watch 1 --interval $interval --cycles 6 --json"
} >"$root/commands"
cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
while read -r module; do insmod "\$module" 2>/dev/null; done </modules
# Probing is asynchronous: wait (at most 20 s) until both disks are there.
for i in \$(seq 200); do [ -b /dev/sda ] && [ -b /dev/nvme0n1 ] && break; sleep 0.1; done
export PATH=/bin:$(dirname "$ovractl"):$(dirname "${smartctl:-/}")
while read -r command; do
    echo "=== \$command"
    \$command
    echo "=== exit \$?"
done </commands
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initrd.gz"
truncate -s 256M "$work/sata.img" "$work/nvme.img"
serial=$work/serial
timeout 600 qemu-system-x86_64 -accel tcg -cpu max -m 1024 -nographic -no-reboot \
    -kernel "/boot/vmlinuz-$kernel_version" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet" -qmp "unix:$work/q.sock,server=on,wait=off" \
    -drive "if=none,id=d0,file=$work/sata.img,format=raw" -device ahci,id=ahci \
    -device "ide-hd,drive=d0,bus=ahci.0,serial=OVRA-SATA-0001,model=OVRA SATA DISK" \
    -drive "if=none,id=d1,file=$work/nvme.img,format=raw" \
    -device nvme,id=nvme0,drive=d1,serial=OVRA-NVME-0001 </dev/null >"$serial" 2>&1 &
qemu=$!
# until PATTERN: polls the serial output (QEMU writes it unbuffered) until a line matches or
# QEMU has ended.
until_seen() {
    until grep -Eq "$1" "$serial"; do
        kill -0 "$qemu" 2>/dev/null || { grep -Eq "$1" "$serial"; return; }
        sleep 0.1
    done
}
verdict='"disk":1,"event":"verdict-changed",.*"to":"Failing"'
if until_seen '=== ovractl watch'; then
    python3 - "$work/q.sock" <<'QMP'
import json, socket, sys
qmp = socket.socket(socket.AF_UNIX)
qmp.connect(sys.argv[1])
replies = qmp.makefile("rw")
replies.readline()  # the greeting
for command in ({"execute": "qmp_capabilities"},
                {"execute": "qom-set", "arguments": {"path": "/machine/peripheral/nvme0",
                 "property": "smart_critical_warning", "value": 4}}):
    replies.write(json.dumps(command) + "\n")
    replies.flush()
    reply = {}
    while "return" not in reply and "error" not in reply:  # events may come in between
        reply = json.loads(replies.readline())
    if "error" in reply:
        sys.exit(str(reply["error"]))
QMP
    set_at=$(date +%s%N)
    until_seen "$verdict" && seen_ms=$((($(date +%s%N) - set_at) / 1000000))
fi
wait "$qemu"
out=$(tr -d '\r' <"$serial")
echo "$out"

failed=0
# section COMMAND: its output. The console's escape sequences may come before the first marker.
section() {
    awk -v c="=== $1" '{ sub(/^.*=== /, "=== ") } $0 == c { on = 1; next } /^=== exit / { on = 0 } on' <<<"$out"
}
# expect COMMAND WHAT REGEX: a line of ovractl COMMAND's output matches.
expect() {
    section "ovractl $1" | grep -Eq "$3" || { echo "FAILED: $1: $2"; failed=1; }
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
# The self-test log, newest first: kind, result and power-on hours of each entry.
ours=$(section "ovractl health --json" | python3 -c '
import json, sys
for line in sys.stdin:
    disk = json.loads(line)
    if disk["disk"] == 0:
        for test in disk["selfTests"]:
            print(test["kind"], test["result"], test["powerOnHours"])')
[[ $ours =~ ^extended\ passed\ [0-9]+$'\n'short\ passed\ [0-9]+$ ]] ||
    { echo "FAILED: self-test log: $ours"; failed=1; }
if [[ -n $smartctl ]]; then
    theirs=$(section "smartctl -d sat -l selftest /dev/sda" |
        sed -En 's/^# *[0-9]+ +(Short|Extended) offline +Completed without error +[0-9]+% +([0-9]+) .*/\L\1\E passed \2/p')
    [[ $ours == "$theirs" ]] || { echo "FAILED: self-test log: smartctl reads \"$theirs\""; failed=1; }
else
    echo "smartctl is missing: the self-test log is not compared with its reading"
fi
# The critical warning set through QMP is told within two polls.
if [[ -z ${seen_ms:-} ]]; then
    echo "FAILED: watch: no verdict-changed to Failing for disk 1"
    failed=1
else
    echo "watch: Failing $seen_ms ms after the critical warning was set"
    # Two waits of the interval, and a second for the emulated guest's reading and its console.
    ((seen_ms <= 2 * interval * 1000 + 1000)) || { echo "FAILED: watch: later than two polls"; failed=1; }
fi
# A newer QEMU's NVMe disk may run self-tests (0).
exits=$(sed -n 's/^=== exit //p' <<<"$out" | paste -sd ' ')
want='0 0 127 (0|127) 0 0 127 0 0 0 ([0-9]+ )?0'
[[ $exits =~ ^$want$ ]] || { echo "FAILED: exit codes $exits, not $want"; failed=1; }
exit $failed
