#!/usr/bin/env bash
# Whole updates through the real Linux kernel: Debian's kernel under QEMU, the emulated drive
# served to it as a SCSI CD-ROM (target_core_user backstore + tcm_loop fabric, set up through
# configfs) by drive_tcmu_handler, and odflash inside the guest talking to it through sg, sr and
# SG_IO. One boot runs the case table below; each flash's command log, as the handler's drive
# saw it, must hold the log of the same flash against the in-process emulated drive (--sim) in
# order, with nothing else but what the kernel sends around the update (the exclusive open of
# /dev/sr0, the sr driver's unbinding and binding), and nothing at all from the first WRITE
# BUFFER to the fresh INQUIRY after the Flash command. The guest kernel's own trace of the
# commands it dispatched (scsi_dispatch_cmd_start) must match the drive's log, length included.
# The foreign cases add what a desktop does: a program opening and reading /dev/sr0 in a loop,
# and the kernel's media polling every 2 s.
# The wine cases run the Windows program of the win64 build (odflash.exe, its flashers made from
# odflash-gui.exe) in the same guest under Wine, which turns IOCTL_SCSI_PASS_THROUGH_DIRECT on
# drive D: into SG_IO on /dev/sr0: the host's root is shared read-only over 9p and chrooted
# into, and the Wine prefix made on the host is overlaid with a tmpfs. Their logs are compared
# as the root cases' are: the only other commands are those the sr driver sends when Wine opens
# and closes /dev/sr0. The window case drives a window flasher through one whole update on an
# Xvfb in the guest (qemu_window.sh). Without a win64 build or wine64 they are left out with one
# line.
# Usage: qemu_flash.sh ODFLASH SG_CHECK HANDLER TEMPLATE SAMPLES_DIR WORKDIR [WIN64_BUILD_DIR]
set -euo pipefail

odflash=$1 checker=$2 handler=$3 template=$4 samples=$5 work=$6 win64=${7:-}

kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
  echo "qemu_flash: SKIPPED: needs qemu-system-x86, linux-image-amd64 and busybox-static (scripts/setup.sh)" >&2
  exit 77
fi
modules=/lib/modules/${kernel#/boot/vmlinuz-}

# Each case: name, expected exit code, who runs odflash (root; user: uid 1000 in the cdrom
# group, which may read and write /dev/sg0; sronly: the same user with access to /dev/sr0
# only), the flasher, the drive, extra drive keys, and a line its standard error must hold.
cases='
scan     0 root   -        cdrw -                         -
cdrw     0 root   1.10.EXE cdrw -                         -
dvd      0 root   2.20.EXE dvd  -                         -
dvd4008  0 root   2.30.EXE dvd  -                         -
plain    0 root   K4P5.EXE any  -                         -
chunk    5 root   1.10.EXE cdrw FailCommand=3B:5:04_08_00 odflash: writing the image failed at offset 0x0C000; the drive'"'"'s flash is unchanged: CHECK CONDITION, sense 04/08/00 HARDWARE ERROR: LOGICAL UNIT COMMUNICATION FAILURE
readback 6 root   1.10.EXE cdrw CorruptReadAt=0x8005      odflash: verification failed at image offset 0x08005: wrote
commit   7 root   1.10.EXE cdrw FailCommit=03_0C_00       odflash: the drive did not commit the image to its flash: CHECK CONDITION, sense 03/0C/00
user     0 user   1.10.EXE cdrw -                         -
sronly   8 sronly 1.10.EXE cdrw -                         (/dev/sr0): it needs read-write access to /dev/sg0 to be updated (the cdrom group, the seat'"'"'s uaccess, or a udev rule), or root: Permission denied; nothing was sent to it
twice    8 root   1.10.EXE cdrw LatencyMicroseconds=20000 odflash: cannot update drive /dev/sr0: it is being updated by another odflash process; nothing was sent to it
foreign  0 root   1.10.EXE cdrw LatencyMicroseconds=20000 -
foreignu 0 user   1.10.EXE cdrw LatencyMicroseconds=20000 -
timeout  1 root   -        cdrw TimeoutCommand=DF:1       /dev/sr0 Read Flash ID: result 0, sense 00 00 00, timed out (host code 03,
'
# The Windows program under Wine in the guest (root: Wine opens /dev/sr0, where the kernel lets
# only root send WRITE BUFFER). Its time-outs cannot be tested: Wine drops SG_IO's host status.
wine_cases='
wscan     0 wine   -        cdrw -                         -
wcdrw     0 wine   1.10.EXE cdrw -                         -
wdvd      0 wine   2.20.EXE dvd  -                         -
wdvd4008  0 wine   2.30.EXE dvd  -                         -
wplain    0 wine   K4P5.EXE any  -                         -
wchunk    5 wine   1.10.EXE cdrw FailCommand=3B:5:04_08_00 odflash: writing the image failed at offset 0x0C000; the drive'"'"'s flash is unchanged: CHECK CONDITION, sense 04/08/00 HARDWARE ERROR: LOGICAL UNIT COMMUNICATION FAILURE
wreadback 6 wine   1.10.EXE cdrw CorruptReadAt=0x8005      odflash: verification failed at image offset 0x08005: wrote
wcommit   7 wine   1.10.EXE cdrw FailCommit=03_0C_00       odflash: the drive did not commit the image to its flash: CHECK CONDITION, sense 03/0C/00
wshort    5 wine   1.10.EXE cdrw ShortCommand=3C:2:100     odflash: reading back the image failed at offset 0x00000; the drive'"'"'s flash is unchanged: GOOD, but the drive returned 100 of 16384 bytes
wwindow   0 wine   K4P5.EXE any  -                         window flasher: updated K4P1 to K4P5, restart declined, window closed
'
wine64=/usr/lib/wine/wine64
wine_modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p overlay"
winexe=$win64/src/cli/odflash.exe wintemplate=$win64/src/gui/win32/odflash-gui.exe
prefix=${WINEPREFIX:-$(dirname "${win64:-.}")/wineprefix}
wine=
if [ -z "$win64" ] || [ ! -f "$winexe" ] || [ ! -f "$wintemplate" ]; then
  echo "qemu_flash: the Windows cases are left out: no win64 build (odflash.exe, odflash-gui.exe) at ${win64:-?}"
elif [ ! -x $wine64 ]; then
  echo "qemu_flash: the Windows cases are left out: wine64 is not installed (scripts/setup.sh)"
else
  wine=1
  if [ ! -f "$prefix/system.reg" ]; then
    echo "qemu_flash: making the Wine prefix $prefix"
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" $wine64 wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -w || true
  fi
  cases=$cases$wine_cases
fi

rm -rf "$work"
root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,lib/modules,opt,cases,flashers}
chmod 0755 "$root" && chmod 1777 "$root/tmp"
cp /bin/busybox "$root/bin/busybox"
printf 'root:x:0:0::/:/bin/sh\nflasher:x:1000:1000::/tmp:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ncdrom:x:24:flasher\nflasher:x:1000:\n' >"$root/etc/group"
guest_modules="scsi_common scsi_mod cdrom sr_mod sg uio configfs crct10dif_common crct10dif_generic crc-t10dif target_core_mod target_core_user tcm_loop"
for m in $guest_modules ${wine:+$wine_modules}; do
  file=$(find "$modules" -name "$m.ko" -o -name "$m.ko.xz" -o -name "$m.ko.zst" | head -n 1)
  [ -n "$file" ] || { echo "qemu_flash: module $m not found in $modules" >&2; exit 1; }
  case $file in
    *.xz) xz -dc "$file" >"$root/lib/modules/$m.ko" ;;
    *.zst) zstd -qdc "$file" >"$root/lib/modules/$m.ko" ;;
    *) cp "$file" "$root/lib/modules/$m.ko" ;;
  esac
done
# The programs with their shared libraries and loader, at the same paths as on the host.
for program in "$odflash" "$checker" "$handler"; do
  strip --strip-debug -o "$root/opt/$(basename "$program")" "$program"
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
done
# The flashers carry a routine store file, as a user with the drives' real routines builds them:
# here the generated filler store, which the builder accepts as it is laid out as a store is.
cp "$samples/filler.ROUTINES" "$work/filler.ROUTINES"
for build in "0 1.10.BIN" "1 2.20.BIN" "1 2.30.DVD" "2 K4P5.BIN"; do
  set -- $build
  "$odflash" build --ini "$samples/models.ini" --model "$1" --firmware "$samples/$2" --template "$template" \
    --routines "$work/filler.ROUTINES" --output-dir "$root/flashers" >/dev/null
done
if [ -n "$wine" ]; then
  # The Windows flashers, from the win64 window program as the template; the guest reaches them
  # through the shared root.
  mkdir -p "$work/winflashers"
  for build in "0 1.10.BIN" "1 2.20.BIN" "1 2.30.DVD" "2 K4P5.BIN"; do
    set -- $build
    "$odflash" build --ini "$samples/models.ini" --model "$1" --firmware "$samples/$2" --template "$wintemplate" \
      --routines "$work/filler.ROUTINES" --output-dir "$work/winflashers" >/dev/null
  done
  { echo "winexe='$winexe'"; echo "winflashers='$work/winflashers'"; echo "prefix='$prefix'"
    echo "wine_modules='$wine_modules'"; echo "window_script='$(cd "$(dirname "$0")" && pwd)/qemu_window.sh'"
  } >"$root/cases/wine.env"
fi
for flasher in "$root"/flashers/*.EXE ${wine:+"$work"/winflashers/*.EXE}; do
  "$odflash" info "$flasher" | grep -qx 'Routines:      real' ||
    { echo "qemu_flash: $flasher does not carry the filler routine store" >&2; exit 1; }
done
drive_keys() { # DRIVE: the identity a flasher of that kind fits
  case $1 in
    cdrw) printf '%s\n' Vendor=ODSIM "Product=CDRW 48X24" Revision=1.00 FlashId=BFB60000 ;;
    dvd) printf '%s\n' Vendor=ODSIM "Product=DVD-ROM 16X" Revision=2.10 FlashId=BFD70001 ;;
    any) printf '%s\n' Vendor=HBQ Product=MX77004150Q Revision=K4P1 FlashId=BFB60000 ;;
  esac
}
# The drive of each case twice: for the handler in the guest, and for the same flash against the
# in-process emulated drive, run here; its command log goes into the guest for comparison.
while read -r name code who flasher drive keys check; do
  [ -n "$name" ] || continue
  for side in kernel sim; do
    log=/tmp/$name.kernel.log
    [ $side = kernel ] || log=$root/cases/$name.sim.log
    { echo "[Drive0]"; drive_keys "$drive"; echo "Medium=1"; echo "Log=$log"
      [ "$keys" = - ] || echo "${keys//_/ }"; } >"$root/cases/$name.$side.ini"
  done
  case $name in scan|wscan|timeout|sronly) ;; *)
    "$odflash" flash "$root/flashers/$flasher" --sim "$root/cases/$name.sim.ini" --yes >/dev/null 2>&1 || true
  esac
  echo "$name $code $who $flasher" >>"$root/cases/table"
  echo "$check" >"$root/cases/$name.check"
done <<<"$cases"

# Three logs of one flash: the emulated drive's of the same flash run here (odflash's own
# commands), the guest drive's, and the guest kernel's trace of what it dispatched (absent when
# the kernel offers no trace). Prints a line per problem and "inside N", the number of other
# commands that reached the drive between odflash's first WRITE BUFFER and its last command (the
# fresh INQUIRY after the Flash command). With strict set, the only other commands allowed
# outside that window are those the kernel sends when /dev/sr0 is opened, closed, unbound and
# bound again.
cat >"$root/opt/compare_logs.awk" <<'AWK'
# Whether the drive's log line shows the traced command's bytes (its first 12 at most).
function Dispatched(traced, seen,    sent, got, k, j) {
  split(seen, got, " "); k = split(traced, sent, " ")
  for (j = 1; j <= k && j <= 12; j++) if (sent[j] != got[j]) return 0
  return 1
}
FNR == 1 { f++ }
f == 1 { sim[++n] = $0; next }
f == 2 { drive[++m] = $0; next }
f == 3 && match($0, /raw=[0-9a-f ]*/) {
  k = split(substr($0, RSTART + 4, RLENGTH - 4), bytes, " ")
  traced[++t] = ""; length_[t] = k
  for (j = 1; j <= k; j++) traced[t] = traced[t] (j > 1 ? " " : "") toupper(bytes[j])
}
END {
  # The trace first: the drive must have seen what the kernel dispatched, one for one; it then
  # tells odflash's 12-byte blocks from the kernel's shorter ones with the same bytes.
  aligned = 0
  if (f >= 3) {
    # Under a foreign load the kernel's polling goes on while the two logs are read, so one of
    # them may end with a command the other does not have yet: there only what both hold counts.
    if (t != m && strict) print "the kernel dispatched " t " commands, the drive saw " m
    else aligned = 1
    # Commands the kernel queues together (its polling beside odflash's) may reach the drive in
    # another order than it dispatched them: under a foreign load a match a few places away
    # counts, each traced command matched once.
    reach = strict ? 0 : 8
    for (i = 1; i <= m && i <= t; i++) {
      found = 0
      for (d = 0; d <= reach && !found; d++)
        for (s = -1; s <= 1 && !found; s += 2) {
          j = i + s * d
          if (j >= 1 && j <= t && !used[j] && Dispatched(traced[j], drive[i])) found = j
        }
      if (!found) { print "command " i ": the kernel dispatched " traced[i] ", the drive saw " drive[i]; aligned = 0; break }
      used[found] = 1; at[i] = found
    }
  }
  for (i = 1; i <= m; i++)
    if (p < n && drive[i] == sim[p + 1] && (!aligned || length_[at[i]] == 12)) {
      p++; own[i] = 1; if (!first && drive[i] ~ /^3B /) first = i; last = i
    }
  if (p < n) print "odflash's command " p + 1 " did not arrive: " sim[p + 1]
  inside = 0
  for (i = 1; i <= m; i++) {
    if (own[i]) continue
    if (first && i > first && i < last) { if (!inside++) print "first other command inside the update: " drive[i] }
    else if (strict && drive[i] !~ /^(4A|00|25|43|1E|46|51|5A|1A|03|12) /) print "a foreign command: " drive[i]
  }
  print "inside " inside
}
AWK

cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(cat /lib/modules/order); do insmod /lib/modules/$m.ko; done
# The kernel's own record of every SCSI command it dispatches.
tracing=/sys/kernel/tracing
[ -e $tracing/trace ] || mount -t tracefs nodev $tracing 2>/dev/null
if [ -w $tracing/events/scsi/scsi_dispatch_cmd_start/enable ]; then
  echo 1 >$tracing/events/scsi/scsi_dispatch_cmd_start/enable
else
  tracing=; echo "@@the kernel offers no scsi_dispatch_cmd_start trace: comparing the drive's logs only"
fi
mount -t configfs configfs /sys/kernel/config
core=/sys/kernel/config/target/core/user_0/cd0
fabric=/sys/kernel/config/target/loopback/naa.5001405ad0000001/tpgt_1
mkdir -p $core
echo -n dev_config=odflash/cd0,dev_size=1048576 >$core/control
echo 1 >$core/enable
handler=
serve() { # NAME: a fresh handler with the case's drive
  [ -z "$handler" ] || { kill $handler; wait $handler 2>/dev/null; }
  rm -f /tmp/$1.kernel.log
  /opt/drive_tcmu_handler /dev/uio0 /cases/$1.kernel.ini 3 >/dev/null &
  handler=$!
  sleep 0.1
}
serve scan
mkdir -p $fabric/lun/lun_0
echo naa.5001405ad0000002 >$fabric/nexus
ln -s $core $fabric/lun/lun_0/cd0
i=0
while { [ ! -e /dev/sr0 ] || [ ! -e /dev/sg0 ]; } && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
chgrp cdrom /dev/sg0 /dev/sr0

# Wine: the host's root read-only over 9p, chrooted into, with the guest's /tmp, devices and the
# host's Wine prefix overlaid on a tmpfs; drive D: is /dev/sr0, a CD-ROM drive.
if [ -f /cases/wine.env ]; then
  . /cases/wine.env
  for m in $wine_modules; do insmod /lib/modules/$m.ko; done
  h=/host
  mkdir -p $h
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,ro,cache=loose hostroot $h
  # The chroot's /tmp is the guest's own; a checkout or build under the host's /tmp (a CI clone)
  # stays visible there: each such top folder of the host's /tmp is bound into the guest's first.
  mkdir -p /hosttmp
  mount --bind $h/tmp /hosttmp
  for path in "$prefix" "$winexe" "$winflashers" "$window_script"; do
    case $path in /tmp/?*)
      top=${path#/tmp/}; top=${top%%/*}
      [ -d /tmp/$top ] || { mkdir -p /tmp/$top; mount --bind /hosttmp/$top /tmp/$top; }
    esac
  done
  mount --rbind /tmp $h/tmp
  mount -t tmpfs tmpfs $h/root; mount -t tmpfs tmpfs $h/run
  mount -t proc proc $h/proc; mount -t sysfs sysfs $h/sys
  mount -t devtmpfs devtmpfs $h/dev; mkdir -p $h/dev/pts $h/dev/shm
  mount -t devpts devpts $h/dev/pts; mount -t tmpfs tmpfs $h/dev/shm
  mkdir -p /tmp/wp /tmp/dcd
  mount -t tmpfs tmpfs $h/tmp/wp
  mkdir -p $h/tmp/wp/upper $h/tmp/wp/work $h/tmp/wp/prefix
  mount -t overlay overlay -o lowerdir=$h$prefix,upperdir=$h/tmp/wp/upper,workdir=$h/tmp/wp/work $h/tmp/wp/prefix
  rm -f $h/tmp/wp/prefix/dosdevices/d: $h/tmp/wp/prefix/dosdevices/d::
  ln -s /tmp/dcd $h/tmp/wp/prefix/dosdevices/d:
  ln -s /dev/sr0 $h/tmp/wp/prefix/dosdevices/d::
  # Wine's mount manager reads the drive types when it starts: the key goes in beforehand. The
  # window flasher takes the NT path whatever the prefix says.
  printf '\n[Software\\\\Wine\\\\Drives] 1\n"d:"="cdrom"\n' >>$h/tmp/wp/prefix/system.reg
  printf '\n[Software\\\\Wine\\\\AppDefaults\\\\K4P5.EXE] 1\n"Version"="win7"\n' >>$h/tmp/wp/prefix/user.reg
  # The display of the window case. A Wine session keeps the display it started with, so X comes
  # first; as root, Xvfb writes its compiled keymaps to /var/lib/xkb.
  mount -t tmpfs tmpfs $h/var/lib/xkb
  rm -f /tmp/display
  chroot $h /usr/bin/env -i PATH=/usr/bin:/bin /usr/bin/Xvfb -displayfd 9 -screen 0 800x600x24 -nolisten tcp \
    9>/tmp/display >/tmp/xvfb.out 2>&1 &
  i=0; while [ ! -s /tmp/display ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
  [ -s /tmp/display ] || echo "@@Xvfb did not start: $(cat /tmp/xvfb.out)"
  display=:$(head -n 1 /tmp/display)
  wine_run() {
    chroot $h /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root USER=root WINEPREFIX=/tmp/wp/prefix WINEDEBUG=-all \
      WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=$display "$@"
  }
  winpath() { echo "Z:$1" | tr / '\\'; }
  # Wine's first start (wineserver, services) is its slow part: once, here, kept running.
  wine_started=$(date +%s)
  wine_run /usr/lib/wine/wineserver -p
  wine_run /usr/lib/wine/wine64 reg query 'HKLM\Software\Wine\Drives' /v d: >/tmp/wine-start.out 2>&1
  grep -q cdrom /tmp/wine-start.out || echo "@@wine did not start or has no drive D: $(cat /tmp/wine-start.out)"
  echo "@@Wine's first start took $(( $(date +%s) - wine_started )) s"
fi

as() { # WHO COMMAND...: run as root or as the unprivileged user
  who=$1; shift
  case $who in
    root) "$@" ;;
    user) chgrp cdrom /dev/sg0 /dev/sr0; chmod 660 /dev/sg0; chmod 600 /dev/sr0; su -s /bin/sh flasher -c "$*" ;;
    sronly) chgrp cdrom /dev/sg0 /dev/sr0; chmod 600 /dev/sg0; chmod 660 /dev/sr0; su -s /bin/sh flasher -c "$*" ;;
    wine) wine_run /usr/lib/wine/wine64 "$@" ;;
  esac
}
flash_command='^3B 05 01 00 00 00 00 00 00 (80|A0) 00 00 in 16$'
echo "@@BEGIN at $(cut -d" " -f1 /proc/uptime) s"
started=$(date +%s)
while read -r name code who flasher; do
  [ -z "$tracing" ] || echo >$tracing/trace
  [ $name = scan ] || serve $name
  foreign=
  case $name in foreign*)
    echo 2000 >/sys/block/sr0/events_poll_msecs
    # As desktop programs do: open the drive, read, close, again; errors (no node) are ignored.
    rm -f /tmp/stop
    while [ ! -e /tmp/stop ]; do dd if=/dev/sr0 of=/dev/null bs=2048 count=1 2>/dev/null; sleep 0.02; done &
    foreign=$!
  esac
  out=/tmp/$name.out err=/tmp/$name.err
  case $name in
    scan) as root /opt/odflash scan >$out 2>$err ;;
    wscan) as wine "$winexe" scan >$out 2>$err ;;
    timeout) as root /opt/drive_sg_check 1 >$out 2>$err ;;
    twice)
      /opt/odflash flash /flashers/$flasher --yes >/tmp/first.out 2>/tmp/first.err &
      first=$!
      i=0; while ! grep -q '^3B' /tmp/$name.kernel.log 2>/dev/null && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
      /opt/odflash flash /flashers/$flasher --yes >$out 2>$err
      ;;
    # The window flasher driven through one whole update (xdotool on the guest's Xvfb).
    wwindow) wine_run /bin/bash "$window_script" "$winflashers/$flasher" /tmp/$name.kernel.log \
      'hbq Flash Utility V1.0A for MX77004150Q' K4P1 K4P5 >$out 2>$err ;;
    w*) as wine "$winexe" flash "$(winpath "$winflashers/$flasher")" --yes >$out 2>$err ;;
    *) as $who /opt/odflash flash /flashers/$flasher --yes >$out 2>$err ;;
  esac
  rc=$?
  # The loop ends after its last read; the kernel's polling stops with the case.
  [ -z "$foreign" ] || { touch /tmp/stop; wait $foreign; }
  problems=
  [ $rc = $code ] || problems="$problems exit $rc, expected $code;"
  check=$(cat /cases/$name.check)
  [ "$check" = - ] || grep -qF "$check" $err $out || problems="$problems no line '$check';"
  case $name in
    scan) grep -qE '^/dev/sr0 +[0-9]+-[0-9]+-0  : ODSIM   CDRW 48X24      1.00$' $out || problems="$problems no drive line;" ;;
    # The NT path never asks for the SCSI address: 0-0-0 and the letter; lines end in CR LF.
    wscan) grep -qxF "$(printf '%-12s %s\r' '\\.\D:' '0-0-0 D: ODSIM   CDRW 48X24      1.00')" $out || problems="$problems no drive line;" ;;
    twice) wait $first || problems="$problems the first flash failed;" ;;
    sronly) ! grep -q '^3B' /tmp/$name.kernel.log || problems="$problems WRITE BUFFER was sent;" ;;
  esac
  [ -z "$tracing" ] || grep scsi_dispatch_cmd_start $tracing/trace >/tmp/$name.trace
  counted="$(wc -l </tmp/$name.kernel.log) commands${tracing:+, $(wc -l </tmp/$name.trace) traced}"
  case $name in scan|wscan|timeout|sronly) ;; *)
    strict=1; case $name in foreign*) strict=0 ;; esac
    compared=$(awk -v strict=$strict -f /opt/compare_logs.awk /cases/$name.sim.log /tmp/$name.kernel.log ${tracing:+/tmp/$name.trace})
    inside=$(echo "$compared" | sed -n 's/^inside //p')
    differ=$(echo "$compared" | grep -v '^inside ' | grep -v '^first other' | tr '\n' '|')
    [ -z "$differ" ] || problems="$problems logs differ: $differ;"
    if [ $who = root ] || [ $who = wine ]; then
      [ "$inside" = 0 ] || problems="$problems $inside other commands inside the update ($(echo "$compared" | grep '^first other'));"
    else
      echo "  $name: $inside other commands reached the drive inside the update (odflash as a user cannot stop them)"
    fi
    case $name in foreign)
      [ -b /dev/sr0 ] || problems="$problems /dev/sr0 is not back;"
      [ "$(cat /sys/block/sr0/events_poll_msecs 2>/dev/null)" = 2000 ] || problems="$problems polling is not back at 2000 ms;"
      ! ls /run/odflash/restore-* >/dev/null 2>&1 || problems="$problems a restore state file is left;"
    esac
    [ -z "$foreign" ] || echo -1 >/sys/block/sr0/events_poll_msecs
    case $code in 5|6) ! grep -qE "$flash_command" /tmp/$name.kernel.log || problems="$problems Flash after the failure;" ;; esac
  esac
  if [ -z "$problems" ]; then echo "ok $name ($counted)"
  else echo "FAIL $name:$problems"; sed 's/^/  | /' $out $err; fi
done </cases/table
echo "@@guest cases took $(( $(date +%s) - started )) s"
echo "@@END"
poweroff -f
INIT
chmod +x "$root/init"
echo "$guest_modules" | tr ' ' '\n' >"$root/lib/modules/order"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz")

# Software emulation: KVM is no faster to set up than a whole TCG run is long, and on nested
# hosts it refuses QEMU's CPU model or hangs before the kernel starts. ODFLASH_QEMU_ACCEL=kvm
# asks for it where it works.
started=$(date +%s%N)
# Wine's processes die in a kernel oops under TCG's SMAP: the CPU model goes without it.
share=()
[ -z "$wine" ] || share=(-virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap)
timeout 560 qemu-system-x86_64 -machine accel=${ODFLASH_QEMU_ACCEL:-tcg} -cpu max,-arch-capabilities,-smap -m 1024 -nographic -no-reboot -nic none \
  "${share[@]}" -kernel "$kernel" -initrd "$work/initramfs.gz" -append "console=ttyS0 quiet panic=-1 mitigations=off tsc=reliable no_timer_check" \
  </dev/null >"$work/console.log" 2>&1 || true
tenths=$((($(date +%s%N) - started) / 100000000))

output=$(sed -n '/@@BEGIN/,/@@END/p' "$work/console.log" | tr -d '\r')
echo "$output"
echo "qemu_flash: the guest ran $((tenths / 10)).$((tenths % 10)) s from boot to power-off"
[ -n "$output" ] || { echo "qemu_flash: the guest produced no output (console log: $work/console.log)" >&2; exit 1; }
passed=$(grep -c '^ok ' <<<"$output" || true)
total=$(grep -cv '^[[:space:]]*$' <<<"$cases")
[ "$passed" = "$total" ] || { echo "qemu_flash: $passed of $total cases passed (console log: $work/console.log)" >&2; exit 1; }
echo "qemu_flash: ok"
