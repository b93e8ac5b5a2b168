#!/usr/bin/env python3
"""Writes the version record and the string table of a Windows resource script as the bytes a
resource compiler puts into a DLL, for the posix library's resource table.

Reads the VERSIONINFO and STRINGTABLE statements of the script (the subset telvario.rc.in uses:
fixed fields, one StringFileInfo block of VALUE strings, one VarFileInfo Translation) and writes
a C++ fragment defining kVersionRecord and kStringBlocks (one block of 16 counted UTF-16
strings per 16 identifiers, as RT_STRING resources are stored).

Usage: version_resources.py SCRIPT OUTPUT
"""
import re
import struct
import sys


def utf16(text):
    return text.encode("utf-16-le")


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def block(key, value=b"", value_length=0, text=False, children=()):
    """One node of a version record: header, key, value, then the children, each 4-aligned."""
    body = pad4(struct.pack("<HHH", 0, value_length, 1 if text else 0) + utf16(key) + b"\0\0")
    body += value
    for child in children:
        body = pad4(body) + child
    return struct.pack("<H", len(body)) + body[2:]


def number(text):
    return int(text, 0)


def version_pair(text):
    parts = [number(part) for part in text.split(",")]
    return (parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]


def version_record(script):
    fixed = {}
    for name in ("FILEVERSION", "PRODUCTVERSION", "FILEFLAGSMASK", "FILEFLAGS", "FILEOS",
                 "FILETYPE", "FILESUBTYPE"):
        found = re.search(r"^\s*%s\s+(.+)$" % name, script, re.M)
        fixed[name] = found.group(1).strip() if found else "0"
    file_ms, file_ls = version_pair(fixed["FILEVERSION"])
    product_ms, product_ls = version_pair(fixed["PRODUCTVERSION"])
    fixed_info = struct.pack("<13I", 0xFEEF04BD, 0x00010000, file_ms, file_ls, product_ms,
                             product_ls, number(fixed["FILEFLAGSMASK"]),
                             number(fixed["FILEFLAGS"]), number(fixed["FILEOS"]),
                             number(fixed["FILETYPE"]), number(fixed["FILESUBTYPE"]), 0, 0)

    language = re.search(r'BLOCK\s+"StringFileInfo"\s*BEGIN\s*BLOCK\s+"([0-9A-Fa-f]{8})"',
                         script).group(1)
    strings = []
    for key, value in re.findall(r'VALUE\s+"(\w+)"\s*,\s*"([^"]*)"', script):
        strings.append(block(key, utf16(value) + b"\0\0", len(value) + 1, True))
    table = block(language, text=True, children=strings)
    string_info = block("StringFileInfo", text=True, children=[table])

    translation = re.search(r'VALUE\s+"Translation"\s*,\s*(\w+)\s*,\s*(\w+)', script)
    pair = struct.pack("<HH", number(translation.group(1)), number(translation.group(2)))
    var_info = block("VarFileInfo", text=True,
                     children=[block("Translation", pair, len(pair))])
    return block("VS_VERSION_INFO", fixed_info, len(fixed_info), children=[string_info, var_info])


def string_blocks(script):
    table = re.search(r"STRINGTABLE\s*BEGIN(.*?)END", script, re.S)
    entries = {int(key): text for key, text in re.findall(r'(\d+)\s+"([^"]*)"', table.group(1))}
    blocks = {}
    for key, text in entries.items():
        blocks.setdefault(key // 16 + 1, [""] * 16)[key % 16] = text
    return {index: b"".join(struct.pack("<H", len(text)) + utf16(text) for text in texts)
            for index, texts in blocks.items()}


def c_bytes(data):
    return ", ".join("0x%02x" % byte for byte in data)


def main():
    script_path, output_path = sys.argv[1:3]
    with open(script_path, encoding="utf-8") as script_file:
        script = script_file.read()
    lines = ["// Generated from %s by version_resources.py." % script_path.split("/")[-1],
             "const BYTE kVersionRecord[] = {%s};" % c_bytes(version_record(script))]
    blocks = string_blocks(script)
    for index, data in sorted(blocks.items()):
        lines.append("const BYTE kStringBlock%d[] = {%s};" % (index, c_bytes(data)))
    lines.append("#define TELVARIO_STRING_BLOCKS \\")
    for index in sorted(blocks):
        lines.append("  {nullptr, 6, %d, nullptr, kStringBlock%d, sizeof kStringBlock%d}, \\"
                     % (index, index, index))
    lines.append("")
    with open(output_path, "w", encoding="utf-8") as output:
        output.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
