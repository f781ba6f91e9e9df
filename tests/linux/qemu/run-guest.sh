#!/bin/bash
# Boots this machine's Debian kernel under QEMU (TCG) with an AHCI SATA disk and an NVMe disk,
# runs `ovractl ARGS` in the guest for each argument given, and prints each run as
#   === ovractl ARGS / its output / === exit CODE
# Usage: run-guest.sh OVRACTL 'ARGS' ...   Exit 77 when QEMU, a kernel or busybox is missing.
set -euo pipefail

ovractl=$(readlink -f "$1")
shift
kernel_version=$(ls /lib/modules 2>/dev/null | sort -V | tail -n 1)
for need in qemu-system-x86_64 cpio gzip modprobe; do
    command -v "$need" >/dev/null || { echo "skip: $need is missing"; exit 77; }
done
if [[ -z "$kernel_version" || ! -r /boot/vmlinuz-$kernel_version || ! -x /bin/busybox ]]; then
    echo "skip: needs linux-image-amd64 and busybox-static"
    exit 77
fi

work=$(mktemp -d /tmp/ovra-guest.XXXXXX)
trap 'rm -rf "$work"' EXIT
root=$work/root
mkdir -p "$root"/{bin,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"

# The program and its shared libraries at the paths the dynamic linker looks them up at.
for file in "$ovractl" $(ldd "$ovractl" | grep -o '/[^ ]*'); do
    cp --parents -L "$file" "$root"
done
modprobe -a --show-depends -S "$kernel_version" ahci sd_mod sg nvme |
    awk '$1 == "insmod" && !seen[$2]++ { print $2 }' >"$root/modules"
while read -r module; do cp --parents "$module" "$root"; done <"$root/modules"
printf '%s\n' "$@" >"$root/commands"

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
timeout 600 qemu-system-x86_64 -accel tcg -cpu max -m 1024 -nographic -no-reboot \
    -kernel "/boot/vmlinuz-$kernel_version" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet" \
    -drive "if=none,id=d0,file=$work/sata.img,format=raw" -device ahci,id=ahci \
    -device "ide-hd,drive=d0,bus=ahci.0,serial=OVRA-SATA-0001,model=OVRA SATA DISK" \
    -drive "if=none,id=d1,file=$work/nvme.img,format=raw" \
    -device nvme,drive=d1,serial=OVRA-NVME-0001 </dev/null | tr -d '\r'
