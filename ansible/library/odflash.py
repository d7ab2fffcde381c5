#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright: the odflash developers. MIT licence (see LICENSE).
"""Ansible module: update optical drives' firmware with an odflash flasher."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: odflash
short_description: Update the firmware of optical drives with an odflash flasher
description:
  - Runs the installed C(odflash) program on the managed machine to update the drives that fit
    a flasher (an executable built by C(odflash build) or the builder window, carrying one
    firmware image and the identity of the drive model it fits).
  - Before anything is sent, C(odflash info --json) reads the flasher's payload and
    C(odflash scan --json) lists the drives; only the update itself sends vendor commands.
  - Idempotent. A drive is C(ok), not C(changed), when it already reports the revision the
    flasher carries, or when this machine already updated it with this flasher (same SHA-256 of
    the flasher file) since its last boot; the latter is kept in a small record under
    I(record_dir), together with the drive's device and identity and the boot id of
    C(/proc/sys/kernel/random/boot_id). Real drives often report their new revision only after
    a restart, and the record keeps them from being updated a second time meanwhile.
  - Exit codes 3 (no drive fits the flasher) and 4 (update declined, for example a downgrade
    without I(allow_older)) are C(ok), with odflash's reason in C(msg).
  - The module never restarts the machine. When a drive was updated it returns
    C(reboot_required=true); restart with M(ansible.builtin.reboot) in a following task, as the
    example does.
  - "An interrupted run never leaves a drive mid-update. odflash runs in its own session, with
    standard input from the null device and its output going to files under I(record_dir), so
    neither Ansible's task timeout nor a lost SSH connection reaches it, and the module never
    stops it. odflash itself holds interrupts until the drive is safe. If the module is stopped
    while a drive updates, the update finishes; a helper process the module started waits for
    odflash and writes the record (and the log of I(log), when given), and C(last-run.json) and
    C(last-run.stderr) under I(record_dir) hold odflash's output. The next run sees the new
    revision, or the record, and reports the drive as C(ok)."
  - "A drive whose update fails makes the task fail, with odflash's failure line
    (C(odflash: DEVICE: reason) or C(odflash: reason)) as C(msg)."
version_added: "0.1.0"
author:
  - the odflash developers
requirements:
  - odflash installed on the managed machine (the .deb puts it in /usr/bin)
  - Linux (the boot id and the detached run); Python 3 standard library only
options:
  flasher:
    description: Path of the flasher on the managed machine (copy it there first, for example with M(ansible.builtin.copy)).
    type: path
    required: true
  drive:
    description:
      - The drive to update, by its device as C(odflash scan) prints it (C(/dev/sr0), C(sim:Drive0)) or its number in that list.
      - Without I(drive) and I(all), the one drive that fits the flasher is updated; several fitting drives are an error.
    type: str
  all:
    description: Update every drive that fits the flasher, all at once (C(odflash flash --all)).
    type: bool
    default: false
  allow_older:
    description: Also update a drive whose revision is newer than the flasher's (a downgrade).
    type: bool
    default: false
  sim:
    description: Use the emulated drives of this drive file instead of the machine's drives (tests and demonstrations); see the key C(StateFile) for drives that keep an update across runs.
    type: path
  log:
    description: Have odflash write its log (version, flasher, drive, every drive command) to this file on the managed machine.
    type: path
  odflash:
    description: Path of the odflash program on the managed machine; by default the one found in PATH.
    type: path
  record_dir:
    description:
      - Folder on the managed machine for the record of updates done since the last boot and the output of the last run.
      - By default C(/var/lib/odflash/ansible) for root, otherwise C($XDG_STATE_HOME/odflash/ansible) (C(~/.local/state/odflash/ansible)).
    type: path
attributes:
  check_mode:
    support: full
    details: Sends the drives nothing beyond what C(odflash scan) sends; reports which drives would be updated, from the scan and the flasher's payload.
notes:
  - Supports check mode.
  - The user needs read-write access to each drive's C(/dev/sgN) (the C(cdrom) group, a udev rule) or root, see the odflash README.
seealso:
  - module: odflash_facts
  - module: ansible.builtin.reboot
"""

EXAMPLES = r"""
- name: Copy the flasher to the machine
  ansible.builtin.copy:
    src: files/1.10.EXE
    dest: /var/tmp/1.10.EXE
    mode: "0755"

- name: Update every drive that fits the flasher
  odflash:
    flasher: /var/tmp/1.10.EXE
    all: true
    log: /var/log/odflash-1.10.log
  register: update

- name: Restart so that the drives run their new firmware
  ansible.builtin.reboot:
  when: update.reboot_required

- name: Update one drive, a downgrade allowed
  odflash:
    flasher: /var/tmp/1.00.EXE
    drive: /dev/sr1
    allow_older: true
"""

RETURN = r"""
changed:
  description: True when a drive was updated (in check mode, when one would be).
  returned: always
  type: bool
reboot_required:
  description: True when a drive was updated and needs a restart to run its new firmware (also when this happened in an earlier run since the last boot).
  returned: always
  type: bool
exit_code:
  description: odflash's exit code (0 when odflash did not have to run, also in check mode).
  returned: always
  type: int
  sample: 0
drives:
  description: One entry per drive the task was about.
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: The device as odflash scan prints it.
      type: str
      sample: /dev/sr0
    identity:
      description: The drive's identity text before the update.
      type: str
      sample: "0-0-0  : ODSIM   CDRW 48X24      1.00"
    revision_before:
      description: The revision the drive reported before.
      type: str
      sample: "1.00"
    revision_after:
      description: The revision the drive reports after (in check mode, the one it would get).
      type: str
      sample: "1.10"
    outcome:
      description:
        - odflash's outcome (C(flashed), C(declined), C(flashFailed), ... as C(odflash flash --json) names them),
        - or C(updatedThisBoot) (updated with this flasher since the last boot, per the record),
        - or in check mode C(wouldFlash), C(declined) or C(busy).
      type: str
      sample: flashed
    exit_code:
      description: This drive's exit code (0 where odflash did not run for it).
      type: int
    reason:
      description: Why the drive was not updated or failed, empty otherwise.
      type: str
flasher:
  description: What the flasher carries, from odflash info --json.
  returned: always
  type: dict
  contains:
    sha256:
      description: SHA-256 of the flasher file (the record's key).
      type: str
    image_sha256:
      description: SHA-256 of the firmware image it carries.
      type: str
    new_revision:
      description: The revision it installs.
      type: str
    model:
      description: The drive model it fits.
      type: str
msg:
  description: A summary, odflash's reason for a run that changed nothing, or the failure lines.
  returned: always
  type: str
"""

import hashlib
import json
import os
import subprocess
import time

from ansible.module_utils.basic import AnsibleModule

BOOT_ID_PATH = "/proc/sys/kernel/random/boot_id"
RECORD_NAME = "updates.json"
# odflash's exit codes that mean "nothing to do" rather than a failure.
NOTHING_TO_DO = (3, 4)


def default_record_dir():
    if os.geteuid() == 0:
        return "/var/lib/odflash/ansible"
    state = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(state, "odflash", "ansible")


def read_boot_id():
    try:
        with open(BOOT_ID_PATH) as f:
            return f.read().strip()
    except OSError:
        return ""


def file_sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def read_json(path, default):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return default


def write_json_atomically(path, value):
    temporary = "%s.%d.tmp" % (path, os.getpid())
    with open(temporary, "w") as f:
        json.dump(value, f, indent=1, sort_keys=True)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)


def drive_key(device, vendor_product):
    return "%s|%s" % (device, vendor_product)


def run_odflash(module, argv):
    """Runs a short odflash command (info, scan) and returns its JSON; fails the task otherwise."""
    rc, out, err = module.run_command(argv)
    if rc != 0:
        module.fail_json(msg=(err.strip() or "%s ended with exit code %d" % (argv[1], rc)), exit_code=rc)
    try:
        return json.loads(out)
    except ValueError:
        module.fail_json(msg="odflash %s printed no JSON: %s" % (argv[1], out[:200]))


def targeted_drives(module, scan):
    """The scanned drives the task is about: the named one, or those that fit the flasher."""
    drives = scan.get("drives", [])
    wanted = module.params["drive"]
    if wanted is None:
        return [d for d in drives if d.get("fits")]
    if wanted.isdigit() and int(wanted) < len(drives):
        return [drives[int(wanted)]]
    return [d for d in drives if d["device"] == wanted]


def drive_entry(device, identity, before, after, outcome, exit_code=0, reason=""):
    return {"device": device, "identity": identity, "revision_before": before, "revision_after": after,
            "outcome": outcome, "exit_code": exit_code, "reason": reason}


def check_mode_entry(module, payload, drive, busy):
    new = payload["newRevision"]
    before = drive["revision"]
    entry = drive_entry(drive["device"], drive["identity"], before, before, "wouldFlash")
    if drive["device"] in busy:
        entry.update(outcome="busy", reason="it is being updated by another odflash process")
    elif not drive.get("fits"):
        entry.update(outcome="notStarted", reason="the drive does not fit this flasher")
    elif drive.get("update") == "reinstall":
        entry.update(outcome="declined", reason="the drive already runs firmware %s" % new)
    elif drive.get("update") == "downgrade" and not module.params["allow_older"]:
        entry.update(outcome="declined",
                     reason="the flasher's firmware %s is older than the drive's %s; allow_older updates it" % (new, before))
    else:
        entry["revision_after"] = new
    return entry


def flash_arguments(module, flasher, selection):
    p = module.params
    argv = [p["odflash"], "flash", flasher] + selection + ["--yes", "--json"]
    if p["allow_older"]:
        argv.append("--allow-older")
    if p["sim"]:
        argv += ["--sim", p["sim"]]
    if p["log"]:
        argv += ["--log", p["log"]]
    return argv


def drive_results(result, all_drives):
    """odflash's result line as a list of per-drive results (flash --all already gives one)."""
    if all_drives:
        return result.get("drives", [])
    drive = result.get("drive") or {}
    if not drive:
        return []
    return [{"device": drive.get("device"), "identity": drive.get("identity"),
             "revisionBefore": result.get("revisionBefore"), "revisionAfter": result.get("revisionAfter"),
             "outcome": result.get("outcome"), "exitCode": result.get("exitCode"), "error": result.get("error")}]


def last_result(output_path):
    result = None
    try:
        with open(output_path) as f:
            for line in f:
                try:
                    event = json.loads(line)
                except ValueError:
                    continue
                if event.get("event") == "result":
                    result = event
    except OSError:
        pass
    return result


def record_updates(record_path, boot_id, flasher_sha256, vendor_products, runs):
    """Adds the drives a run flashed to the record, forgetting entries of earlier boots."""
    record = [r for r in read_json(record_path, []) if r.get("boot_id") == boot_id]
    for result, all_drives in runs:
        for d in drive_results(result or {}, all_drives):
            if d.get("outcome") != "flashed":
                continue
            record.append({"boot_id": boot_id, "flasher_sha256": flasher_sha256, "device": d["device"],
                           "vendor_product": vendor_products.get(d["device"], ""),
                           "revision_before": d.get("revisionBefore"), "revision_after": d.get("revisionAfter"),
                           "time": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())})
    write_json_atomically(record_path, record)


def run_updates_detached(runs, record_dir, on_done):
    """Runs each odflash flash in turn in a helper process of its own session that outlives this
    module: a timeout or a lost connection that ends the module leaves the update running to its
    end, and the helper still records the result. Returns [(result, all_drives, exit_code)]."""
    outputs = []
    for i, (argv, all_drives) in enumerate(runs):
        suffix = "" if i == 0 else ".%d" % i
        outputs.append((os.path.join(record_dir, "last-run%s.json" % suffix),
                        os.path.join(record_dir, "last-run%s.stderr" % suffix)))
    codes_path = os.path.join(record_dir, "last-run.codes")
    # An earlier run's files must never pass for this run's results.
    for path in [codes_path] + [p for pair in outputs for p in pair]:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            os.setsid()
            null = os.open(os.devnull, os.O_RDWR)
            for fd in (0, 1, 2):
                os.dup2(null, fd)
            codes = []
            for (argv, _), (out_path, err_path) in zip(runs, outputs):
                with open(out_path, "wb") as out, open(err_path, "wb") as err:
                    codes.append(subprocess.call(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                                 close_fds=True))
            write_json_atomically(codes_path, codes)
            on_done([(last_result(out_path), all_drives) for (_, all_drives), (out_path, _) in zip(runs, outputs)])
            status = 0
        finally:
            os._exit(status)
    os.waitpid(pid, 0)
    codes = read_json(codes_path, [])
    finished = []
    for i, ((_, all_drives), (out_path, _)) in enumerate(zip(runs, outputs)):
        finished.append((last_result(out_path), all_drives, codes[i] if i < len(codes) else None))
    return finished, outputs


def failure_line(entry, all_drives):
    if all_drives:
        return "odflash: %s: %s" % (entry["device"], entry["reason"])
    return "odflash: %s" % entry["reason"]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            flasher=dict(type="path", required=True),
            drive=dict(type="str"),
            all=dict(type="bool", default=False),
            allow_older=dict(type="bool", default=False),
            sim=dict(type="path"),
            log=dict(type="path"),
            odflash=dict(type="path"),
            record_dir=dict(type="path"),
        ),
        mutually_exclusive=[("drive", "all")],
        supports_check_mode=True,
    )
    p = module.params
    if not p["odflash"]:
        p["odflash"] = module.get_bin_path("odflash", required=True)
    flasher = p["flasher"]
    if not os.path.isfile(flasher):
        module.fail_json(msg="the flasher %s is not a file on this machine" % flasher)
    record_dir = p["record_dir"] or default_record_dir()
    sim = ["--sim", p["sim"]] if p["sim"] else []

    payload = run_odflash(module, [p["odflash"], "info", "--json", flasher])
    if payload.get("role") != "flasher":
        module.fail_json(msg="%s is not a flasher (it carries no firmware for a drive)" % flasher)
    flasher_sha256 = file_sha256(flasher)
    flasher_facts = {"sha256": flasher_sha256, "image_sha256": payload.get("imageSha256"),
                     "new_revision": payload.get("newRevision"), "model": payload.get("model")}
    # odflash itself says which drives fit the flasher and what flashing each would do.
    scan = run_odflash(module, [p["odflash"], "scan", "--json", "--flasher", flasher] + sim)
    busy = set(scan.get("busy", []))
    targeted = targeted_drives(module, scan)

    boot_id = read_boot_id()
    record_path = os.path.join(record_dir, RECORD_NAME)
    done_this_boot = set()
    for r in read_json(record_path, []):
        if boot_id and r.get("boot_id") == boot_id and r.get("flasher_sha256") == flasher_sha256:
            done_this_boot.add(drive_key(r.get("device"), r.get("vendor_product")))

    def updated_this_boot(drive):
        return (drive_key(drive["device"], drive["vendorProduct"]) in done_this_boot
                and drive["revision"] != payload["newRevision"])

    held = [drive_entry(d["device"], d["identity"], d["revision"], d["revision"], "updatedThisBoot",
                        reason="updated with this flasher since the last boot; a restart makes it run the new firmware")
            for d in targeted if updated_this_boot(d)]
    result = dict(changed=False, reboot_required=bool(held), exit_code=0, flasher=flasher_facts, drives=[])

    if payload.get("integrity") == "damaged":
        module.fail_json(msg="This flasher is damaged: the firmware, header or flash routines it carries do not match "
                             "its integrity record. Download or build it again; nothing was sent to any drive.", **result)

    if module.check_mode:
        entries = held + [check_mode_entry(module, payload, d, busy) for d in targeted if not updated_this_boot(d)]
        result["drives"] = entries
        result["changed"] = any(e["outcome"] == "wouldFlash" for e in entries)
        msg = "; ".join("%s: %s" % (e["device"], e["reason"] or "would be updated to " + e["revision_after"])
                        for e in entries)
        module.exit_json(msg=msg or "no drive fits this flasher", **result)

    # Drives updated since the last boot but still on their old revision are left out: then
    # each remaining drive gets its own run, since flash --all would take them all.
    if held:
        selections = [(["--drive", d["device"]], False) for d in targeted if not updated_this_boot(d)]
    elif p["all"]:
        selections = [(["--all"], True)]
    else:
        selections = [(["--drive", p["drive"]] if p["drive"] is not None else [], False)]
    if not selections:
        result["drives"] = held
        module.exit_json(msg="every drive was updated with this flasher since the last boot; restart the machine",
                         **result)

    try:
        os.makedirs(record_dir, exist_ok=True)
    except OSError as e:
        module.fail_json(msg="cannot make the record folder %s: %s" % (record_dir, e), **result)
    vendor_products = {d["device"]: d["vendorProduct"] for d in scan.get("drives", [])}
    runs = [(flash_arguments(module, flasher, selection), all_drives) for selection, all_drives in selections]
    finished, outputs = run_updates_detached(
        runs, record_dir,
        lambda results: record_updates(record_path, boot_id, flasher_sha256, vendor_products, results))

    entries, failures, reasons, codes = list(held), [], [], []
    for (run_result, all_drives, code), (_, err_path) in zip(finished, outputs):
        if run_result is None:
            with open(err_path, errors="replace") as f:
                tail = f.read().strip().splitlines()[-1:] or ["odflash ended without a result"]
            failures.append(tail[0])
            codes.append(1 if code in (None, 0) else code)
            continue
        codes.append(run_result.get("exitCode", code))
        per_drive = drive_results(run_result, all_drives)
        if not per_drive and code != 0:
            (reasons if code in NOTHING_TO_DO else failures).append("odflash: %s" % run_result.get("error", "").strip())
        for d in per_drive:
            entry = drive_entry(d.get("device"), d.get("identity"), d.get("revisionBefore"), d.get("revisionAfter"),
                                d.get("outcome"), d.get("exitCode", 0), (d.get("error") or "").strip())
            entries.append(entry)
            if entry["exit_code"] in NOTHING_TO_DO:
                reasons.append("%s: %s" % (entry["device"], entry["reason"]))
            elif entry["exit_code"] != 0:
                failures.append(failure_line(entry, all_drives))

    flashed = [e for e in entries if e["outcome"] == "flashed"]
    # A failing run's code first, else the first "nothing to do" code.
    worst = next((c for c in codes if c not in (0,) + NOTHING_TO_DO), next((c for c in codes if c), 0))
    result.update(drives=entries, exit_code=worst, changed=bool(flashed),
                  reboot_required=bool(flashed) or bool(held))
    if failures:
        module.fail_json(msg="\n".join(failures), **result)
    summary = ["%s: updated %s -> %s" % (e["device"], e["revision_before"], e["revision_after"]) for e in flashed]
    module.exit_json(msg="; ".join(summary + reasons + ["%s: %s" % (e["device"], e["reason"]) for e in held]),
                     **result)


if __name__ == "__main__":
    main()
