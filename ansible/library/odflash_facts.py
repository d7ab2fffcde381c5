#!/usr/bin/python3
# -*- coding: utf-8 -*-
# Copyright: the odflash developers. MIT licence (see LICENSE).
"""Ansible module: the optical drives odflash finds, as facts."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: odflash_facts
short_description: The optical drives odflash finds on a machine, as facts
description:
  - Runs C(odflash scan --json) on the managed machine and returns its drives as the fact
    C(odflash_drives), and the drives under update by another odflash process as
    C(odflash_busy). Only the commands a scan sends reach the drives (INQUIRY).
version_added: "0.1.0"
author:
  - the odflash developers
requirements:
  - odflash installed on the managed machine
options:
  sim:
    description: Scan the emulated drives of this drive file instead of the machine's drives.
    type: path
  odflash:
    description: Path of the odflash program on the managed machine; by default the one found in PATH.
    type: path
attributes:
  check_mode:
    support: full
    details: A scan changes nothing, so it runs in check mode too.
seealso:
  - module: odflash
"""

EXAMPLES = r"""
- name: Find the optical drives
  odflash_facts:

- name: Show them
  ansible.builtin.debug:
    msg: "{{ item.device }}: {{ item.vendorProduct }} {{ item.revision }}"
  loop: "{{ ansible_facts.odflash_drives }}"
"""

RETURN = r"""
ansible_facts:
  description: The scan's results.
  returned: always
  type: dict
  contains:
    odflash_drives:
      description: The drives as C(odflash scan --json) lists them.
      type: list
      elements: dict
      contains:
        device:
          description: The device (C(/dev/sr0), C(sim:Drive0)).
          type: str
        identity:
          description: The identity text (adapter, target, LUN, letter, vendor, product, revision).
          type: str
        vendorProduct:
          description: The INQUIRY vendor and product, 24 characters.
          type: str
        revision:
          description: The firmware revision the drive reports.
          type: str
        adapter:
          description: Adapter (SCSI host) number.
          type: int
        target:
          description: Target number.
          type: int
        lun:
          description: Logical unit number.
          type: int
        letter:
          description: Drive letter, a space on Linux.
          type: str
    odflash_busy:
      description: Devices being updated by another odflash process (not probed).
      type: list
      elements: str
    odflash_transport:
      description: How the drives were reached (C(sg), C(emulated), ...).
      type: str
"""

import json

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(sim=dict(type="path"), odflash=dict(type="path")),
        supports_check_mode=True,
    )
    program = module.params["odflash"] or module.get_bin_path("odflash", required=True)
    argv = [program, "scan", "--json"]
    if module.params["sim"]:
        argv += ["--sim", module.params["sim"]]
    rc, out, err = module.run_command(argv)
    if rc != 0:
        module.fail_json(msg=err.strip() or "odflash scan ended with exit code %d" % rc, exit_code=rc)
    try:
        scan = json.loads(out)
    except ValueError:
        module.fail_json(msg="odflash scan printed no JSON: %s" % out[:200])
    module.exit_json(changed=False, ansible_facts=dict(
        odflash_drives=scan.get("drives", []), odflash_busy=scan.get("busy", []),
        odflash_transport=scan.get("transport")))


if __name__ == "__main__":
    main()
