#!/usr/bin/python3
"""Prints every property of an MSG file, read with olefile, one line each:
object-path TAB tag TAB value. Objects: "msg", "msg/recip0", "msg/attach1/msg", ...
Strings are printed with backslash escapes, binaries as hex, times as FILETIME ticks."""
import struct
import sys

import olefile

FIXED = {0x0002: "<h", 0x0003: "<i", 0x000B: "<B", 0x0014: "<q", 0x0040: "<Q"}


def esc(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r").replace("\t", "\\t")


def dump(ole, storage, header, name, out):
    prefix = storage + "/" if storage else ""
    data = ole.openstream(prefix + "__properties_version1.0").read()
    if header == 32 or header == 24:
        nrecip, nattach = struct.unpack("<II", data[16:24])
        out.append("%s\t%s\t%d" % (name, "recipient_count", nrecip))
        out.append("%s\t%s\t%d" % (name, "attachment_count", nattach))
    for at in range(header, len(data), 16):
        tag, flags = struct.unpack("<II", data[at:at + 8])
        ptype = tag & 0xFFFF
        value = data[at + 8:at + 16]
        stream = prefix + "__substg1.0_%08X" % tag
        if ptype in FIXED:
            v = struct.unpack(FIXED[ptype], value[:struct.calcsize(FIXED[ptype])])[0]
            text = str(v)
        elif ptype == 0x001F:
            size = struct.unpack("<I", value[:4])[0]
            raw = ole.openstream(stream).read()
            assert size == len(raw) + 2, "string size field %d vs stream %d" % (size, len(raw))
            text = esc(raw.decode("utf-16-le"))
        elif ptype == 0x0102 or ptype == 0x0048:
            size = struct.unpack("<I", value[:4])[0]
            raw = ole.openstream(stream).read()
            assert size == len(raw), "binary size field"
            text = raw.hex()
        elif ptype == 0x000D:
            text = "object"
        elif ptype == 0x101F:
            lengths = ole.openstream(stream).read()
            values = []
            for i in range(len(lengths) // 4):
                raw = ole.openstream("%s-%08X" % (stream, i)).read()
                values.append(esc(raw.decode("utf-16-le").rstrip("\x00")))
            text = "|".join(values)
        else:
            text = "?"
        out.append("%s\t%08X\t%s" % (name, tag, text))
    for entry in ole.listdir(streams=False, storages=True):
        path = "/".join(entry)
        if not path.startswith(prefix) or "/" in path[len(prefix):]:
            continue
        leaf = entry[-1]
        if leaf.startswith("__recip_version1.0_#"):
            dump(ole, path, 8, name + "/recip%d" % int(leaf[-8:], 16), out)
        elif leaf.startswith("__attach_version1.0_#"):
            aname = name + "/attach%d" % int(leaf[-8:], 16)
            dump(ole, path, 8, aname, out)
            if ole.exists(path + "/__substg1.0_3701000D"):
                dump(ole, path + "/__substg1.0_3701000D", 24, aname + "/msg", out)


def main():
    ole = olefile.OleFileIO(sys.argv[1])
    out = []
    dump(ole, "", 32, "msg", out)
    if ole.exists("__nameid_version1.0"):
        out.append("nameid\tstorage\tpresent")
    sys.stdout.write("\n".join(out) + "\n")


main()
