#!/usr/bin/env python3
"""The package's udev rules: their syntax as udev reads it, and that the DS2490 rule does its job.

udev silently skips a rule it cannot parse (the adapter then simply stays root-only), and a
single "=" where "==" was meant turns a match into an assignment that matches every device. So
the rules are parsed here the way udev parses them, with `udevadm verify` on top where the
installed udev has it (systemd 253 and newer).

usage: udev_rules_test.py RULES_FOLDER
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import unittest

# udev's keys: which may be compared, which may be assigned, which take an {attribute}.
MATCH_KEYS = {"ACTION", "DEVPATH", "KERNEL", "KERNELS", "NAME", "SYMLINK", "SUBSYSTEM",
              "SUBSYSTEMS", "DRIVER", "DRIVERS", "ATTR", "ATTRS", "SYSCTL", "ENV", "CONST", "TAG",
              "TAGS", "TEST", "PROGRAM", "RESULT"}
ASSIGN_KEYS = {"NAME", "SYMLINK", "OWNER", "GROUP", "MODE", "SECLABEL", "ATTR", "SYSCTL", "ENV",
               "TAG", "RUN", "LABEL", "GOTO", "IMPORT", "OPTIONS"}
ATTRIBUTE_KEYS = {"ATTR", "ATTRS", "SYSCTL", "ENV", "CONST", "TEST", "SECLABEL", "RUN", "IMPORT"}
MATCH_OPS = {"==", "!="}
ASSIGN_OPS = {"=", "+=", "-=", ":="}

TOKEN = re.compile(r'\s*([A-Z]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*')


class RuleError(Exception):
    pass


def logical_lines(text):
    """The rules of a file: comments and blank lines dropped, backslash continuations joined."""
    rules, pending = [], ""
    for number, line in enumerate(text.splitlines(), 1):
        if line.endswith("\\"):
            pending += line[:-1]
            continue
        line, pending = pending + line, ""
        if line.strip() and not line.lstrip().startswith("#"):
            rules.append((number, line))
    if pending:
        raise RuleError("the file ends inside a continued line")
    return rules


def parse_rule(line):
    """The (key, attribute, operator, value) tuples of one rule, or RuleError."""
    tokens, at = [], 0
    while True:
        match = TOKEN.match(line, at)
        if not match:
            raise RuleError(f"cannot read a key at column {at + 1}: {line[at:]!r}")
        key, attribute, op, value = match.groups()
        if key not in MATCH_KEYS | ASSIGN_KEYS:
            raise RuleError(f"unknown key {key}")
        if (attribute is not None) != (key in ATTRIBUTE_KEYS):
            if key not in {"TEST", "RUN", "IMPORT"}:  # their {…} is optional
                raise RuleError(f"{key} {'needs no' if attribute is not None else 'needs an'} "
                                "{attribute}")
        if op in MATCH_OPS and key not in MATCH_KEYS:
            raise RuleError(f"{key} cannot be compared")
        if op in ASSIGN_OPS and key not in ASSIGN_KEYS:
            raise RuleError(f"{key} cannot be assigned (a match needs ==)")
        tokens.append((key, attribute, op, value))
        at = match.end()
        if at == len(line):
            return tokens
        if line[at] != ",":
            raise RuleError(f"expected a comma at column {at + 1}")
        at += 1


def parse_file(path):
    with open(path, encoding="utf-8") as rules:
        return [parse_rule(line) for _, line in logical_lines(rules.read())]


def grants_seat_access(rule, vendor, product):
    """True when the rule tags exactly the USB device vendor:product for the seat's user."""
    def compares(keys, attribute, value):
        return any(k in keys and a == attribute and op == "==" and v == value
                   for k, a, op, v in rule)

    return (compares({"SUBSYSTEM"}, None, "usb")
            and compares({"ATTR", "ATTRS"}, "idVendor", vendor)
            and compares({"ATTR", "ATTRS"}, "idProduct", product)
            and any((k, op, v) == ("TAG", "+=", "uaccess") for k, a, op, v in rule))


class ParserCatchesBrokenRules(unittest.TestCase):
    def test_broken_rules_are_refused(self):
        cases = {
            'SUBSYSTEM=="usb" ATTR{idVendor}=="04fa", TAG+="uaccess"': "comma",
            'SUBSYSTEM=="usb", ATTR{idVendor}=="04fa, TAG+="uaccess"': "comma",
            'SUBSYTEM=="usb", TAG+="uaccess"': "unknown key",
            'SUBSYSTEM=="usb", ATTR=="04fa", TAG+="uaccess"': "needs an",
            'SUBSYSTEM=="usb", MODE=="0660"': "cannot be compared",
            'SUBSYSTEM=="usb", TAG+=uaccess': "cannot read",
            'SUBSYSTEM=="usb", TAG+="uaccess",': "cannot read",
        }
        for line, reason in cases.items():
            with self.subTest(line=line):
                with self.assertRaisesRegex(RuleError, reason):
                    parse_rule(line)

    def test_a_continued_rule_is_one_rule(self):
        rules = logical_lines('# c\nSUBSYSTEM=="usb", \\\n  TAG+="uaccess"\n\n')
        self.assertEqual(len(rules), 1)
        self.assertEqual(len(parse_rule(rules[0][1])), 2)

    def test_access_is_only_granted_to_the_exact_device(self):
        good = parse_rule('SUBSYSTEM=="usb", ATTR{idVendor}=="04fa", ATTR{idProduct}=="2490", '
                          'TAG+="uaccess"')
        self.assertTrue(grants_seat_access(good, "04fa", "2490"))
        for line in [
            # sysfs writes the IDs in lower case; an upper-case match never fires
            'SUBSYSTEM=="usb", ATTR{idVendor}=="04FA", ATTR{idProduct}=="2490", TAG+="uaccess"',
            'SUBSYSTEM=="usb", ATTR{idVendor}=="04fa", TAG+="uaccess"',
            # one "=": writes the attribute of every USB device instead of matching it
            'SUBSYSTEM=="usb", ATTR{idVendor}="04fa", ATTR{idProduct}=="2490", TAG+="uaccess"',
            'SUBSYSTEM=="usb", ATTR{idVendor}=="04fa", ATTR{idProduct}=="2490", TAG="uaccess"',
        ]:
            with self.subTest(line=line):
                self.assertFalse(grants_seat_access(parse_rule(line), "04fa", "2490"))


class PackagedRules(unittest.TestCase):
    folder = None

    def files(self):
        found = sorted(glob.glob(os.path.join(self.folder, "*.rules")))
        self.assertTrue(found, f"no rules in {self.folder}")
        return found

    def test_every_rule_parses(self):
        for path in self.files():
            with self.subTest(file=os.path.basename(path)):
                parse_file(path)

    def test_the_ds2490_adapter_is_opened_by_the_seats_user(self):
        rules = [rule for path in self.files() for rule in parse_file(path)]
        self.assertTrue(any(grants_seat_access(rule, "04fa", "2490") for rule in rules))

    def test_the_rules_only_tag_and_never_write_to_devices(self):
        # Access goes to the seat's user through uaccess alone: no world-writable MODE, no group
        # that every user is in, and no sysfs writes.
        for path in self.files():
            for rule in parse_file(path):
                with self.subTest(file=os.path.basename(path), rule=rule):
                    self.assertEqual([(k, op, v) for k, a, op, v in rule if op in ASSIGN_OPS],
                                     [("TAG", "+=", "uaccess")])

    def test_uaccess_is_tagged_before_the_seat_rules_apply_it(self):
        # systemd applies the uaccess tag in 73-seat-late.rules; a later file tags too late.
        for path in self.files():
            name = os.path.basename(path)
            with self.subTest(file=name):
                self.assertRegex(name, r"^\d\d-[a-z0-9-]+\.rules$")
                if any(("TAG", "+=", "uaccess") == (k, op, v) for rule in parse_file(path)
                       for k, a, op, v in rule):
                    self.assertLess(int(name[:2]), 73)

    def test_udevadm_accepts_the_rules(self):
        udevadm = shutil.which("udevadm")
        if not udevadm or subprocess.run([udevadm, "verify", "--help"],
                                         capture_output=True).returncode != 0:
            self.skipTest("no udevadm with verify here; the parser above stands in")
        result = subprocess.run([udevadm, "verify", *self.files()], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


if __name__ == "__main__":
    PackagedRules.folder = sys.argv.pop(1)
    unittest.main(verbosity=2)
