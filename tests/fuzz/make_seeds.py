#!/usr/bin/env python3
"""Writes the seed corpora under corpus/. Run from anywhere; rewrites the seeds.

split_parse and debug_form take UTF-16LE units; command_line_roundtrip and
env_block take the item form of fuzz_support.h (NUL ends an item, 0x80-0x8F a
high surrogate, 0x90-0x9F a low one, 0xFF lo hi any unit).
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
HIGH, LOW = b"\x80", b"\x90"  # D83D and DC00: together one character above U+FFFF


def utf16(text, lone=None):
    data = text.encode("utf-16-le", "surrogatepass")
    return data if lone is None else data + lone.to_bytes(2, "little")


def items(*parts):
    return b"\0".join(p.encode("latin-1") if isinstance(p, str) else p for p in parts)


FULL = ("helper.exe --protocol-version 1 --appcontainer-name c --stdio-stdin null"
        " --stdio-stdout inherit --stdio-stderr piped")

SEEDS = {
    "split_parse": {
        "valid": utf16(FULL + " -- prog"),
        "valid_with_lists": utf16(FULL + ' --readable-dir "C:\\a b" --writable-dir D:\\w\\'
                                  ' --readable-dir-best-effort x --env A=b --env-clear'
                                  ' --grant-internet-client --working-dir --env -- node -e'
                                  ' "console.log(\\"hi\\")" --env X --'),
        "missing_program": utf16(FULL + " --"),
        "missing_separator": utf16(FULL + " prog"),
        "version_mismatch": utf16(FULL.replace("version 1", "version 2") + " -- p"),
        "bad_version": utf16(FULL.replace("version 1", "version +0x1") + " -- p"),
        "bad_stdio": utf16(FULL.replace("stdin null", "stdin NULL") + " -- p"),
        "missing_value": utf16("h --working-dir"),
        "unknown_flag": utf16('h --Env "" --env=A=B'),
        "lone_surrogate_flag": utf16("h --", 0xD83D),
        "lone_surrogate_name": utf16("h --protocol-version 1 --appcontainer-name ", 0xDC00),
        "quotes_and_backslashes": utf16('"C:\\Program Files\\h.exe" a\\\\\\"b "c""d" e\\\\ ""'),
        "only_path": utf16("C:\\zub\\helper.exe"),
        "tabs": utf16("h\t\t--\tp\t"),
    },
    "command_line_roundtrip": {
        "table_1": items("C:\\Tools Dir\\run.exe", "install.js", "a b", ""),
        "table_2": items("node", "-e", 'console.log("hi")'),
        "table_3": items("tool", "C:\\dir\\", "x\\y", '"'),
        "table_4": items("tool", "C:\\out dir\\"),
        "table_5": items("tool", 'a\\\\"b'),
        "cmd": items("cmd.exe", "/c", "npm run build & echo done"),
        "empty_program": items("", "x"),
        "separators": items("p", "\t", "\n", "\x0b", "\r", "a\x0bb"),
        "surrogates": items(b"p" + HIGH, HIGH + LOW, LOW + HIGH, b"x" + HIGH),
        "quoted_program_trailing_backslash": items("C:\\out dir\\\\", "a"),
    },
    "env_block": {
        # flag byte (bit 0: env_clear), count of own-environment items, items
        "own_only": b"\0\x06" + items("Path=C:\\bin", "_X=1", "TEMP=t", "aB=2", "9V=3", "=C:=C:\\"),
        "override_case": b"\0\x02" + items("Path=a", "x", "PATH=b", "path=c"),
        "cleared": b"\x01\x01" + items("Own=1", "A=b=c", "A=", "B", "=C:=D:\\x"),
        "cleared_empty": b"\x01\x00" + items("", "noequals"),
        "drive_vars": b"\0\x02" + items("=C:=C:\\x", "=", "=C:=D:\\x"),
        "non_ascii": b"\x01\x00" + items(b"\xe9=1", b"\xc9=2", b"X" + HIGH + b"=1",
                                         b"X" + LOW + b"=2", b"\xff\x00\xe0=big"),
    },
    "debug_form": {
        "path": utf16("C:\\tools\\node.exe"),
        "tab_quote": utf16("a\tb\"c'd"),
        "controls": utf16("\0\n\r\x7f\x85 "),
        "combining": utf16("e\u0301"),
        "lone_high": utf16("x", 0xD83D),
        "lone_low_then_high": utf16("\udc00\ud83d", None),
        "astral": utf16("\U0001F600\U000E0001\U0010FFFF"),
        "invisible": utf16("\u00a0\u200b\u2028\ufeff\ue000\uffff"),
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
