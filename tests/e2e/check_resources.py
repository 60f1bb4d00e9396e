#!/usr/bin/env python3
"""Checks the resources of a built install.exe: the log dialog and the manifest.

Usage: check_resources.py PATH/TO/install.exe

Reads the PE file's resource section with a small reader of its own, builds the
expected extended dialog template byte by byte from the dialog's published
values, compares it with resource 101, and checks that the manifest (type 24,
id 1, language 1033) is the only manifest and holds exactly the expected
elements, in order, with exactly the expected attributes and text.
Prints one line per check and exits 0 when all pass, 1 otherwise.
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_DIALOG = 5
RT_MANIFEST = 24
LANG_EN_US = 1033


class PeError(Exception):
    pass


def read_sections(data):
    """Returns (sections, resource directory RVA) of a PE32+ image."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, nsect, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    if machine != 0x8664:
        raise PeError("machine 0x%x is not x86-64" % machine)
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic != 0x20B:
        raise PeError("optional header magic 0x%x is not PE32+" % magic)
    ndirs = struct.unpack_from("<I", data, opt + 108)[0]
    if ndirs < 3:
        raise PeError("no resource directory entry")
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, opt + 112 + 2 * 8)
    sections = []
    sh = opt + opt_size
    for i in range(nsect):
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sh + 40 * i)
        sections.append((name.rstrip(b"\0").decode("latin-1"), va, max(vsize, rawsize), rawptr, rawsize))
    return sections, rsrc_rva, rsrc_size


def rva_to_offset(sections, rva):
    for _, va, size, rawptr, rawsize in sections:
        if va <= rva < va + size:
            if rva - va >= rawsize:
                raise PeError("RVA 0x%x lies in uninitialised data" % rva)
            return rawptr + (rva - va)
    raise PeError("RVA 0x%x is in no section" % rva)


def read_resources(path):
    """Returns {(type, name, lang): bytes}; names and types are ints or strings."""
    with open(path, "rb") as f:
        data = f.read()
    sections, rsrc_rva, rsrc_size = read_sections(data)
    if rsrc_rva == 0:
        return {}
    base = rva_to_offset(sections, rsrc_rva)

    def entries(dir_off):
        _, _, _, _, n_named, n_id = struct.unpack_from("<IIHHHH", data, base + dir_off)
        out = []
        for i in range(n_named + n_id):
            name, target = struct.unpack_from("<II", data, base + dir_off + 16 + 8 * i)
            if name & 0x80000000:
                soff = base + (name & 0x7FFFFFFF)
                slen = struct.unpack_from("<H", data, soff)[0]
                key = data[soff + 2:soff + 2 + 2 * slen].decode("utf-16-le")
            else:
                key = name
            out.append((key, target))
        return out

    result = {}
    for rtype, t1 in entries(0):
        if not t1 & 0x80000000:
            raise PeError("type entry is not a directory")
        for rname, t2 in entries(t1 & 0x7FFFFFFF):
            if not t2 & 0x80000000:
                raise PeError("name entry is not a directory")
            for rlang, t3 in entries(t2 & 0x7FFFFFFF):
                if t3 & 0x80000000:
                    raise PeError("language entry is a directory")
                drva, dsize, _, _ = struct.unpack_from("<IIII", data, base + t3)
                off = rva_to_offset(sections, drva)
                result[(rtype, rname, rlang)] = data[off:off + dsize]
    return result


def wstr(text):
    return text.encode("utf-16-le") + b"\0\0"


def align4(buf):
    return buf + b"\0" * (-len(buf) % 4)


def expected_log_dialog():
    """The extended template of the log dialog, from its published values."""
    t = struct.pack("<HHIIIH", 1, 0xFFFF, 0, 0, 0x80C808C8, 2)  # dlgVer, signature, helpID, exStyle, style, cDlgItems
    t += struct.pack("<hhhh", 0, 0, 451, 228)
    t += b"\0\0" + b"\0\0" + wstr("")  # no menu, standard class, empty caption
    t += struct.pack("<HHBB", 8, 400, 0, 1) + wstr("MS Shell Dlg")
    controls = [
        # helpID, exStyle, style, x, y, cx, cy, id, class ordinal, text
        (0, 0, 0x50010001, 394, 207, 50, 14, 1, 0x0080, "Close"),
        (0, 0, 0x50A108C4, 7, 7, 437, 194, 1001, 0x0081, ""),
    ]
    for help_id, ex, style, x, y, cx, cy, cid, cls, text in controls:
        t = align4(t)
        t += struct.pack("<IIIhhhhI", help_id, ex, style, x, y, cx, cy, cid)
        t += struct.pack("<HH", 0xFFFF, cls) + wstr(text) + struct.pack("<H", 0)
    return t


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"

# (path of tags from the root, attributes, text); children in this order only.
EXPECTED_MANIFEST = (
    ASM_V1 + "assembly", {"manifestVersion": "1.0"}, None, [
        (ASM_V1 + "assemblyIdentity", {"version": "1.0.0.0", "processorArchitecture": "*",
                                       "name": "Morvalente.Install", "type": "win32"}, None, []),
        (ASM_V1 + "description", {}, "File viewer/translator", []),
        (ASM_V1 + "dependency", {}, None, [
            (ASM_V1 + "dependentAssembly", {}, None, [
                (ASM_V1 + "assemblyIdentity", {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                                               "version": "6.0.0.0", "processorArchitecture": "*",
                                               "publicKeyToken": "6595b64144ccf1df", "language": "*"}, None, []),
            ]),
        ]),
        (ASM_V3 + "trustInfo", {}, None, [
            (ASM_V3 + "security", {}, None, [
                (ASM_V3 + "requestedPrivileges", {}, None, [
                    (ASM_V3 + "requestedExecutionLevel", {"level": "requireAdministrator", "uiAccess": "false"},
                     None, []),
                ]),
            ]),
        ]),
    ])


def compare_element(elem, expected, where, problems):
    tag, attrs, text, children = expected
    here = where + "/" + tag.split("}")[-1]
    if elem.tag != tag:
        problems.append("%s: element %s, expected %s" % (where, elem.tag, tag))
        return
    if dict(elem.attrib) != attrs:
        problems.append("%s: attributes %s, expected %s" % (here, dict(elem.attrib), attrs))
    got_text = (elem.text or "").strip()
    if got_text != (text or ""):
        problems.append("%s: text %r, expected %r" % (here, got_text, text or ""))
    kids = list(elem)
    if len(kids) != len(children):
        problems.append("%s: %d child elements, expected %d" % (here, len(kids), len(children)))
    for kid, exp in zip(kids, children):
        compare_element(kid, exp, here, problems)


def check_manifest(raw):
    problems = []
    if raw.startswith(b"\xef\xbb\xbf"):
        raw = raw[3:]
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError as e:
        return ["manifest is not UTF-8: %s" % e]
    head = raw.split(b"?>", 1)[0] if raw.startswith(b"<?xml") else b""
    if head and b'encoding="UTF-8"' not in head:
        problems.append("XML declaration does not name UTF-8: %r" % head)
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        return ["manifest is not well-formed XML: %s" % e]
    compare_element(root, EXPECTED_MANIFEST, "", problems)
    return problems


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main(argv):
    if len(argv) != 2:
        print("usage: check_resources.py install.exe", file=sys.stderr)
        return 2
    try:
        res = read_resources(argv[1])
    except (OSError, PeError, struct.error) as e:
        print("FAIL reading resources: %s" % e)
        return 1
    failures = 0

    def report(name, problems):
        nonlocal failures
        if problems:
            failures += 1
            for p in problems:
                print("FAIL %s: %s" % (name, p))
        else:
            print("ok   %s" % name)

    dialogs = {k: v for k, v in res.items() if k[0] == RT_DIALOG and k[1] == 101}
    problems = []
    if list(dialogs) != [(RT_DIALOG, 101, LANG_EN_US)]:
        problems.append("dialog 101 present as %s, expected only language 1033" % sorted(dialogs))
    else:
        got = dialogs[(RT_DIALOG, 101, LANG_EN_US)]
        want = expected_log_dialog()
        if got != want:
            i = first_difference(got, want)
            problems.append("template differs at byte %d (got %d bytes, expected %d): got %s, expected %s" %
                            (i, len(got), len(want), got[i:i + 16].hex(), want[i:i + 16].hex()))
    report("dialog 101 template", problems)

    manifests = {k: v for k, v in res.items() if k[0] == RT_MANIFEST}
    problems = []
    if list(manifests) != [(RT_MANIFEST, 1, LANG_EN_US)]:
        problems.append("manifests present as %s, expected only (24, 1, 1033)" % sorted(manifests, key=str))
    else:
        problems = check_manifest(manifests[(RT_MANIFEST, 1, LANG_EN_US)])
    report("manifest 1", problems)

    print("%d passed, %d failed" % (2 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
