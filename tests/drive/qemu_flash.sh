#!/usr/bin/env bash
# Boots Debian's kernel under QEMU with two SCSI CD-ROM drives of known identity and runs
# "odflash scan", a vendor command and the update lock inside the guest through the real sr/sg
# drivers and SG_IO.
# Usage: qemu_sg_io.sh ODFLASH SG_CHECK WORKDIR
set -euo pipefail

odflash=$1
checker=$2
work=$3

kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
  echo "qemu_sg_io: needs qemu-system-x86, linux-image-amd64 and busybox-static (scripts/setup.sh)" >&2
  exit 1
fi
version=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$version

rm -rf "$work"
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules,opt}
cp /bin/busybox "$root/bin/busybox"
for m in scsi_common scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_legacy_dev \
         virtio_pci_modern_dev virtio_pci virtio_scsi; do
  file=$(find "$modules" -name "$m.ko" -o -name "$m.ko.xz" -o -name "$m.ko.zst" | head -n 1)
  [ -n "$file" ] || { echo "qemu_sg_io: module $m not found in $modules" >&2; exit 1; }
  case $file in
    *.xz) xz -dc "$file" > "$root/lib/modules/$m.ko" ;;
    *.zst) zstd -qdc "$file" > "$root/lib/modules/$m.ko" ;;
    *) cp "$file" "$root/lib/modules/$m.ko" ;;
  esac
done
# The programs with their shared libraries and loader, at the same paths as on the host.
for program in "$odflash" "$checker"; do
  strip --strip-debug -o "$root/opt/$(basename "$program")" "$program"
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done

cat > "$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in scsi_common scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_legacy_dev \
         virtio_pci_modern_dev virtio_pci virtio_scsi; do
  insmod /lib/modules/$m.ko
done
i=0
while [ ! -e /dev/sr1 ] && [ $i -lt 100 ]; do sleep 0.2; i=$((i + 1)); done
echo "@@BEGIN"
/opt/odflash scan; echo "@@scan exit $?"
/opt/odflash scan --json | tr -d '\n '; echo; echo "@@json exit $?"
/opt/drive_sg_check; echo "@@check exit $?"
echo "@@END"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 > "$work/initramfs.gz")

# Software emulation: slower than KVM but it works on every host, nested ones included.
timeout 400 qemu-system-x86_64 -machine accel=tcg -cpu max -m 512 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 quiet panic=-1" \
  -device virtio-scsi-pci,id=scsi0 \
  -drive if=none,id=cd0,media=cdrom -device scsi-cd,bus=scsi0.0,drive=cd0,scsi-id=0,lun=0,vendor=ODQEMU,product="CDRW 48X24",ver=Q1.0 \
  -drive if=none,id=cd1,media=cdrom -device scsi-cd,bus=scsi0.0,drive=cd1,scsi-id=1,lun=0,vendor=ODQEMU,product="DVD-ROM 16X",ver=Q2.0 \
  </dev/null > "$work/console.log" 2>&1 || true

output=$(sed -n '/@@BEGIN/,/@@END/p' "$work/console.log" | tr -d '\r')
echo "$output"
fail() { echo "qemu_sg_io: $1 (console log: $work/console.log)" >&2; exit 1; }
[ -n "$output" ] || fail "the guest produced no output"

# The SCSI host number of the virtio adapter is the adapter in the identity text.
host=$(echo "$output" | sed -n 's|^/dev/sr0 *\([0-9]*\)-0-0 .*|\1|p')
[ -n "$host" ] || fail "no /dev/sr0 line"
grep -qxF "/dev/sr0     $host-0-0  : ODQEMU  CDRW 48X24      Q1.0" <<<"$output" || fail "wrong line for sr0"
grep -qxF "/dev/sr1     $host-1-0  : ODQEMU  DVD-ROM 16X     Q2.0" <<<"$output" || fail "wrong line for sr1"
grep -qxF "@@scan exit 0" <<<"$output" || fail "scan failed"
grep -qF '"identity":"'"$host"'-1-0:ODQEMUDVD-ROM16XQ2.0"' <<<"$output" || fail "json lacks sr1"
# The device rejects the vendor command: ILLEGAL REQUEST, invalid command operation code, status
# CHECK CONDITION, no system error.
grep -qxF "/dev/sr0 Read Flash ID> 05 20 00. 02, 0000 result 0" <<<"$output" || fail "sr0 vendor command"
grep -qxF "/dev/sr1 Read Flash ID> 05 20 00. 02, 0000 result 0" <<<"$output" || fail "sr1 vendor command"
# The update lock: flock and O_EXCL on the real block device.
grep -qxF "lock /dev/sr0: held" <<<"$output" || fail "sr0 lock"
grep -qxF "second lock /dev/sr0: it is being updated by another odflash process" <<<"$output" || fail "second sr0 lock"
grep -qxF "busy /dev/sr0" <<<"$output" || fail "enumeration probed the locked sr0"
grep -qxF "lock held elsewhere /dev/sr1: it is mounted or held by another program" <<<"$output" || fail "sr1 held exclusively"
echo "qemu_sg_io: ok"
