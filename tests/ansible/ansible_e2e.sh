#!/usr/bin/env bash
# The Ansible modules through the example playbook (ansible/site.yml): ansible-playbook updates two
# local machines, each with its own emulated drives that keep their flash in a state file, with
# the odflash of this build. Checked: check mode sends no update command, the first run updates
# the fitting drives and leaves the others alone, the second changes nothing, the record keeps a
# drive that still reports its old revision from a second update, a failing drive fails the play
# with odflash's failure line, and ansible-doc renders both modules.
# Exits 77 (skipped) without ansible-playbook.
odflash=$1 probe=$2 generator=$3 source_dir=$4
for tool in ansible-playbook ansible-doc; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs ansible-core)"; exit 77; }
done
# shellcheck disable=SC2034 # CliTestSetup.sh's run uses it: none on Linux
emulator=
# shellcheck source=../cli/CliTestSetup.sh
. "$source_dir/tests/cli/CliTestSetup.sh"
export ANSIBLE_LOCAL_TEMP=$work/ansible-tmp ANSIBLE_REMOTE_TEMP=$work/ansible-tmp ANSIBLE_NOCOLOR=1 \
  ANSIBLE_STDOUT_CALLBACK=minimal ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_RETRY_FILES_ENABLED=0
library=$source_dir/ansible/library
touch ansible.cfg

# --- a flasher for CDRW 48X24 1.00-1.99 carrying 1.10, and the machines' drives
cp "$source_dir/data/models.ini" models.ini
run "$generator" .
check "sample generator" 0 "$rc"
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template "$probe" --output-dir .
check "build exit" 0 "$rc"

drive() { # section vendor product revision [more keys]: one drive that logs and keeps its flash
  printf '[%s]\nVendor=%s\nProduct=%s\nRevision=%s\nFlashId=BFD60000\nLog=%s\nStateFile=%s\n' \
    "$1" "$2" "$3" "$4" "$work/$machine-$1.log" "$work/$machine-$1.state"
  shift 4
  printf '%s\n' "$@"
}
machine=a
{ drive Drive0 ODSIM "CDRW 48X24" 1.00; drive Drive1 OTHERCO "CD-ROM 52X" 9.99; } >a.ini
machine=b
{ drive Drive0 ODSIM "CDRW 48X24" 1.05; drive Drive1 ODSIM "CDRW 48X24" 1.20; } >b.ini
machine=c
drive Drive0 ODSIM "CDRW 48X24" 1.00 "FailCommit=04 08 00" >c.ini
touch a-Drive0.log a-Drive1.log b-Drive0.log b-Drive1.log c-Drive0.log
{
  echo "[odflash_machines]"
  for m in a b c; do
    echo "$m ansible_connection=local odflash_sim=$work/$m.ini odflash_record_dir=$work/$m-record odflash_flasher_dir=$work/$m-files"
  done
  echo "[odflash_machines:vars]"
  printf '%s\n' "ansible_python_interpreter=$(command -v python3)" "odflash_program=$odflash" odflash_reboot=false
} >inventory.ini
mkdir a-files b-files c-files

cat >summary.py <<'PY'
# The minimal callback prints each result as "HOST | STATUS => {JSON}".
import json, re, sys
text = open(sys.argv[1]).read()
facts, updates = [], []
for match in re.finditer(r"^(\S+) \| ([A-Z!]+)(?: \| rc=-?\d+)? => ", text, re.M):
    r, _ = json.JSONDecoder().raw_decode(text, match.end())
    host = match.group(1)
    if "odflash_drives" in r.get("ansible_facts", {}):
        facts.append("%s facts: %s" % (host, " ".join(d["device"] + "=" + d["revision"] for d in r["ansible_facts"]["odflash_drives"])))
    elif "flasher" in r:
        drives = " ".join("%s:%s" % (d["device"], d["outcome"]) for d in r.get("drives", []))
        msg = r.get("msg", "").splitlines()
        updates.append("%s changed=%s failed=%s reboot=%s %s | %s" % (host, r.get("changed"), match.group(2) == "FAILED!",
                       r.get("reboot_required"), drives, msg[0] if msg else ""))
print("\n".join(sorted(facts) + sorted(updates)))
PY

# Runs the playbook on the named machines; the odflash task's result per machine in $out, one
# line each: machine, changed, failed, reboot_required, each drive's device:outcome, and msg.
play() {
  local machines=$1
  shift
  ansible-playbook -i inventory.ini "$source_dir/ansible/site.yml" -e "flasher=$work/1.10.EXE" \
    --limit "$machines" "$@" >play.out 2>play.err
  rc=$?
  out=$(python3 summary.py play.out)
}
writes() { grep -c '^3B ' "$work/$1.log"; } # WRITE BUFFER commands a drive received

all_writes() { for log in a-Drive0 a-Drive1 b-Drive0 b-Drive1 c-Drive0; do writes $log; done | xargs; }

# --- check mode: which drives would be updated, and nothing is sent to them but a scan
play a,b,c --check
check "check mode exit" 0 "$rc"
check "check mode" "a facts: sim:Drive0=1.00 sim:Drive1=9.99
b facts: sim:Drive0=1.05 sim:Drive1=1.20
c facts: sim:Drive0=1.00
a changed=True failed=False reboot=False sim:Drive0:wouldFlash | sim:Drive0: would be updated to 1.10
b changed=True failed=False reboot=False sim:Drive0:wouldFlash sim:Drive1:declined | sim:Drive0: would be updated to 1.10; sim:Drive1: the flasher's firmware 1.10 is older than the drive's 1.20; allow_older updates it
c changed=True failed=False reboot=False sim:Drive0:wouldFlash | sim:Drive0: would be updated to 1.10" "$out"
check "check mode writes" "0 0 0 0 0" "$(all_writes)"

# --- the update: fitting drives updated, a downgrade declined, the other drive left alone; a
# drive whose flash fails fails the play on its machine with odflash's failure line
play a,b,c
check "first run exit" 2 "$rc"
check "first run" "a facts: sim:Drive0=1.00 sim:Drive1=9.99
b facts: sim:Drive0=1.05 sim:Drive1=1.20
c facts: sim:Drive0=1.00
a changed=True failed=False reboot=True sim:Drive0:flashed | sim:Drive0: updated 1.00 -> 1.10
b changed=True failed=False reboot=True sim:Drive0:flashed sim:Drive1:declined | sim:Drive0: updated 1.05 -> 1.10; sim:Drive1: update declined; nothing was sent to the drive: the flasher's firmware 1.10 is older than the drive's 1.20; --yes answers a downgrade only with --allow-older
c changed=False failed=True reboot=False sim:Drive0:flashFailed | odflash: sim:Drive0: the drive did not commit the image to its flash: CHECK CONDITION, sense 04/08/00 HARDWARE ERROR: LOGICAL UNIT COMMUNICATION FAILURE" "$out"
read -r a0 a1 b0 b1 c0 <<<"$(all_writes)"
if [ "$a0" -eq 0 ] || [ "$b0" -eq 0 ] || [ "$c0" -eq 0 ]; then
  fail "first run: a drive to update received no WRITE BUFFER"
fi
check "first run leaves the others alone" "0 0" "$a1 $b1"

# --- the second run sees the new revisions and changes nothing. Machine a's drive reports its
# old revision again (its state gone, as a real drive until a restart) and is not updated a
# second time: the record says this machine updated it with this flasher since its boot.
before=$(all_writes)
rm a-Drive0.state
play a,b
check "second run exit" 0 "$rc"
check "second run" "a changed=False failed=False reboot=True sim:Drive0:updatedThisBoot
b changed=False failed=False reboot=False sim:Drive0:declined sim:Drive1:declined" "$(grep changed= <<<"$out" | cut -d'|' -f1 | sed 's/ $//')"
check "second run writes" "$before" "$(all_writes)"

# --- the documentation renders
doc=$(ansible-doc -M "$library" odflash odflash_facts 2>&1)
check "ansible-doc exit" 0 "$?"
has_line "ansible-doc odflash" "> ODFLASH +\(.*\)" "$doc"
has_line "ansible-doc odflash_facts" "> ODFLASH_FACTS +\(.*\)" "$doc"
has_line "ansible-doc odflash returns reboot_required" "- reboot_required" "$doc"

[ "$failures" -eq 0 ] && echo "ansible_e2e: all checks passed"
exit $((failures > 0))
