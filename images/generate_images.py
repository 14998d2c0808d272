#!/usr/bin/env python3
"""Builds the embedded unit images and unit files into the program.

For every image and unit file the program carries, this script either takes
the real file from the override folder (``<name>.bin``) or makes a
deterministic stand-in with the exact container layout, sizes and addresses
the program expects, and then writes:

  <out>/blobs/<name>.bin        every stand-in it made
  <out>/embedded_blob_data.S        one .incbin per file, symbols kel_blob_N / _end
  <out>/embedded_blobs_table.cpp  the table of names and symbols

Stand-in filler is SHAKE-256 of "KelUpdater stand-in:" + name, so the bytes
are opaque but identical on every build host. Software stand-ins have eight
bytes near their end solved so that the CRC-32 and the Modbus CRC-16 over
their checksum regions equal the values the program knows for the real
software. Standard library only; runs in well under a second per image.

Usage: generate_images.py --out DIR [--real DIR] [--check]
"""

import argparse
import hashlib
import os
import struct
import sys
import zlib

MARKER = 0xFFFFFFFF
SMALL = 128  # record size of normal programmers and every H8S2145 image
LARGE = 8192  # record size of large programmers, LPC boot loaders and software


# --- record images -----------------------------------------------------------

def contiguous(base, container_size, max_record):
    """Records filling one range from `base` so that the container is exactly
    `container_size` bytes: full records, the remainder in the last one."""
    body = container_size - 12  # start address, total length, end marker
    count = -(-body // (max_record + 6))
    payload = body - 6 * count
    lengths = [max_record] * (count - 1) + [payload - max_record * (count - 1)]
    if lengths[-1] <= 0:  # too little left for the last record: share two
        pair = lengths[-2] + lengths[-1]
        lengths[-2:] = [pair - pair // 2, pair // 2]
    records, address = [], base
    for length in lengths:
        records.append((address, length))
        address += length
    return records


def split_range(first, byte_count, max_record):
    """Records covering [first, first + byte_count) in pieces of max_record."""
    records, address, left = [], first, byte_count
    while left > 0:
        length = min(max_record, left)
        records.append((address, length))
        address += length
        left -= length
    return records


def boot_loader(flash_base, backup_first, backup_end, middle_lengths):
    """A boot loader: the bytes below the backup region, the code after it in
    records of up to 8 KiB, and the 256-byte block at offset 0x3D00 that
    ends at offset 0x3DFF. The backup region itself is left out."""
    records = [(flash_base, backup_first - flash_base)]
    address = backup_end
    for length in middle_lengths:
        records.append((address, length))
        address += length
    records.append((flash_base + 0x3D00, 0x100))
    return (flash_base, backup_first, backup_end, records)


# The boot-loader trailer: the last 16 bytes of the block at 0x3D00 hold
# "PXBL", the version and release, six reserved bytes and the CRC-32 of the
# boot region below the check value (backup region left out, bytes no record
# holds read as erased). The units' boot ROM starts a boot loader only when
# it checks, so an image written only in part never starts.
BOOT_TRAILER = 0x3DF0
BOOT_CHECK = 0x3DFC
BOOT_VERSION, BOOT_RELEASE = 4, 24


def boot_payload(name, layout):
    """The records' bytes of a stand-in boot loader: filler, then the trailer."""
    base, backup_first, backup_end, records = layout
    area = bytearray(b"\xff" * 0x3E00)
    filled = filler(name, sum(length for _, length in records))
    offset = 0
    for address, length in records:
        area[address - base:address - base + length] = filled[offset:offset + length]
        offset += length
    area[BOOT_TRAILER:BOOT_CHECK] = b"PXBL" + bytes([BOOT_VERSION, BOOT_RELEASE]) + b"\0" * 6
    check = zlib.crc32(bytes(area[:backup_first - base]))
    check = zlib.crc32(bytes(area[backup_end - base:BOOT_CHECK]), check)
    area[BOOT_CHECK:BOOT_CHECK + 4] = struct.pack(">I", check)
    return b"".join(bytes(area[a - base:a - base + n]) for a, n in records)


# Programmers: (name, load address, start address, container size, record size)
PROGRAMMERS = []


def programmer(name, load, start, size, record):
    PROGRAMMERS.append((name, start, contiguous(load, size, record)))


for version in ("c2", "c3"):
    programmer("prog_h8s2145_" + version, 0x00FFD080, 0x00FFD088, 6144, SMALL)
    programmer("prog_h8s2145_strings_" + version, 0x00FFD080, 0x00FFD088, 4768, SMALL)
for version in ("c3", "c4"):
    for family, load, start, normal, large in (
        ("kt3_lpc1768", 0x10000000, 0x100002CD, 30846, 29484),
        ("kr3_lpc1768", 0x10000000, 0x100002CD, 30216, 28884),
        ("kd3_lpc2478", 0x40000000, 0x40000200, 34948, 33412),
        ("kt3_lpc4078", 0x10000000, 0x100002E5, 31218, 29844),
        ("kd3_lpc4357", 0x10080000, 0x10080315, 33660, 32172),
        ("kd4_lpc4337", 0x10080000, 0x10080315, 40514, 38726),
        ("kt5_lpc4337", 0x10080000, 0x10080315, 31706, 30308),
    ):
        programmer("prog_%s_%s" % (family, version), load, start, normal, SMALL)
        programmer("prog_%s_large_%s" % (family, version), load, start, large, LARGE)

# Boot loaders of the single-bank parts leave 0x300-0x3FF out, those of the
# two-bank parts 0x1A000400-0x1A0005FF.
BOOT_LOADERS = [
    ("boot_kd3_lpc2478", boot_loader(0, 0x300, 0x400, [8192, 4096])),
    ("boot_kt3_lpc1768", boot_loader(0, 0x300, 0x400, [8192, 2816])),
    ("boot_kr3_lpc1768", boot_loader(0, 0x300, 0x400, [8192, 3072])),
    ("boot_kt3_lpc4078", boot_loader(0, 0x300, 0x400, [8192, 3328])),
    ("boot_kd4_lpc4337", boot_loader(0x1A000000, 0x1A000400, 0x1A000600, [8192, 4864])),
    ("boot_kt5_lpc4337", boot_loader(0x1A000000, 0x1A000400, 0x1A000600, [8192, 4352])),
    ("boot_kd3_lpc4357", boot_loader(0x1A000000, 0x1A000400, 0x1A000600, [8192, 5888])),
]

# Software: (name, records, checksum, crc). The checksum regions are the
# ranges from each flash bank's first record to its last record's end.
SOFTWARE = [
    ("soft_kd3_lpc2478", split_range(0x4000, 0x63D00, LARGE), 0x7193221F, 0x304A),
    ("soft_kd4_lpc4337", split_range(0x1A004000, 0x7B600, LARGE)
     + split_range(0x1B000000, 0x75C00, LARGE), 0x1CD6C5F0, 0x26D1),
    ("soft_kd3_lpc4357", split_range(0x1A004000, 0x7C000, LARGE)
     + split_range(0x1B000000, 0x5F800, LARGE), 0xDFF7C009, 0x3C08),
    ("soft_kt3_lpc1768", split_range(0x4000, 0x71700, LARGE), 0xAA30E654, 0x5F8A),
    ("soft_kt3_lpc4078", split_range(0x4000, 0x79100, LARGE), 0xC1408AF7, 0xB2D1),
    ("soft_kt5_lpc4337", split_range(0x1A004000, 0x7C000, LARGE)
     + split_range(0x1B000000, 0x2D406, LARGE), 0x20513140, 0xC139),
    ("soft_kr3_lpc1768", split_range(0x4000, 0x2CC00, LARGE), 0x46199722, 0x687D),
]

# Sizes the catalogue expects; checked so that a layout slip fails the build.
EXPECTED_SOFTWARE_SIZES = {
    "soft_kd3_lpc2478": 409144, "soft_kd4_lpc4337": 988386, "soft_kd3_lpc4357": 899744,
    "soft_kt3_lpc1768": 464994, "soft_kt3_lpc4078": 496250, "soft_kt5_lpc4337": 693776,
    "soft_kr3_lpc1768": 183446,
}
EXPECTED_BOOT_SIZES = {
    "boot_kd3_lpc2478": 13348, "boot_kt3_lpc1768": 12068, "boot_kr3_lpc1768": 12324,
    "boot_kt3_lpc4078": 12580, "boot_kd4_lpc4337": 14372, "boot_kt5_lpc4337": 13860,
    "boot_kd3_lpc4357": 15396,
}


def filler(name, count):
    return hashlib.shake_256(b"KelUpdater stand-in:" + name.encode()).digest(count)


def container(start, records, payload):
    out = bytearray(struct.pack(">II", start, sum(length for _, length in records)))
    offset = 0
    for address, length in records:
        out += struct.pack(">IH", address, length)
        out += payload[offset:offset + length]
        offset += length
    out += struct.pack(">I", MARKER)
    return bytes(out)


# --- check values ------------------------------------------------------------

def _crc16_table():
    table = []
    for byte in range(256):
        crc = byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
        table.append(crc)
    return table


CRC16_TABLE = _crc16_table()


def crc16(data, crc=0xFFFF):
    """The Modbus CRC-16 register: poly 0xA001 reflected, init 0xFFFF."""
    table = CRC16_TABLE
    for byte in data:
        crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF]
    return crc


def regions(records):
    """Checksum regions: per flash bank (address bits 24..31), the range from
    the bank's first record to the end of its last record."""
    banks = {}
    for address, length in records:
        first, last = banks.get(address >> 24, (address, address + length))
        banks[address >> 24] = (min(first, address), max(last, address + length))
    return sorted(banks.values())


def region_bytes(records, payload):
    """The flash bytes of the regions in ascending address order, 0xFF where
    no record writes."""
    chunks = []
    for first, end in regions(records):
        flash = bytearray(b"\xff" * (end - first))
        offset = 0
        for address, length in records:
            if first <= address < end:
                flash[address - first:address - first + length] = payload[offset:offset + length]
            offset += length
        chunks.append(bytes(flash))
    return b"".join(chunks)


def solve_tail(stream, tail, checksum, crc):
    """Returns `tail` bytes that, placed as the last bytes of `stream`, make
    CRC-32 == checksum and CRC-16 == crc. Both checks are affine over GF(2),
    so the effect of each tail bit is fixed and a linear system gives them."""
    prefix = stream[:-tail]
    base32 = zlib.crc32(bytes(tail), zlib.crc32(prefix))
    base16 = crc16(bytes(tail), crc16(prefix))
    zero32, zero16 = zlib.crc32(bytes(tail)), crc16(bytes(tail))
    columns = []
    for bit in range(tail * 8):
        probe = bytearray(tail)
        probe[bit // 8] = 1 << (bit % 8)
        effect = (zlib.crc32(probe) ^ zero32) | ((crc16(probe) ^ zero16) << 32)
        columns.append((effect, 1 << bit))
    goal = (checksum ^ base32) | ((crc ^ base16) << 32)
    # Gaussian elimination over the 48 check bits: each pivot row keeps the
    # combination of tail bits that produces it.
    pivots = {}
    for effect, combo in columns:
        for row in sorted(pivots, reverse=True):
            if effect >> row & 1:
                effect ^= pivots[row][0]
                combo ^= pivots[row][1]
        if effect:
            pivots[effect.bit_length() - 1] = (effect, combo)
    solution = 0
    for row in sorted(pivots, reverse=True):
        if goal >> row & 1:
            goal ^= pivots[row][0]
            solution ^= pivots[row][1]
    if goal:
        raise SystemExit("cannot solve check values")
    return solution.to_bytes(tail, "little")


SOLVED_BYTES = 8


def software_image(name, records, checksum, crc):
    payload = bytearray(filler(name, sum(length for _, length in records)))
    # The solved bytes end the last record, which is also the end of the last
    # region, so the region stream ends with them.
    stream = region_bytes(records, payload)
    payload[-SOLVED_BYTES:] = solve_tail(stream, SOLVED_BYTES, checksum, crc)
    stream = stream[:-SOLVED_BYTES] + bytes(payload[-SOLVED_BYTES:])
    assert zlib.crc32(stream) == checksum and crc16(stream) == crc, name
    return container(0, records, payload)


# --- unit files --------------------------------------------------------------

LANGUAGE_NUMBERS = (0x1E0, 0x1E1, 0x1E2, 0x1E3, 0x1E5, 0x1E6, 0x1EA)
LANGUAGE_SETS = {  # table name -> sizes of the seven language files
    "kt3": (21870, 23402, 22918, 24466, 23134, 22650, 19846),
    "kt5": (22390, 23974, 23462, 25058, 23690, 23190, 20318),
    "kd3_lpc2478": (38114, 40798, 39934, 42642, 40318, 39470, 34574),
    "kd3": (39210, 41978, 41086, 43874, 41482, 40610, 35570),
    "kd4": (41562, 44494, 43550, 46506, 43970, 43046, 37706),
}
FONT_SIZES_KD3 = (3583, 4621, 6317, 8851, 11873, 15413, 19603, 3897, 5025, 6871,
                  9629, 12915, 16767, 21325, 2745, 4409)
FONT_SIZES_KD4 = (3583, 4621, 6317, 8851, 11873, 15413, 19603, 3897, 5025, 6871,
                  9629, 12915, 16767, 21325, 2745, 4409, 26187)
FIELDBUS_FILES = (  # number, size, first line of the description text
    (0x1B0, 62261, "$ EtherNet/IP electronic data sheet"),
    (0x1B1, 11889, "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>"),
    (0x1B2, 16436, "; PROFIBUS DP device description"),
    (0x1B3, 8541, "; CANopen electronic data sheet"),
)


def leading(prefix, name, size):
    return (prefix + filler(name, size))[:size]


def text_file(first_line, name, size):
    """Plain text of `size` bytes: the first line, then numbered lines."""
    lines, number = [first_line + "\r\n"], 0
    seed = hashlib.sha256(name.encode()).hexdigest()
    while sum(map(len, lines)) < size:
        number += 1
        lines.append("; stand-in line %05d %s\r\n" % (number, seed[number % 32:][:16]))
    return "".join(lines).encode("ascii")[:size]


def unit_files():
    files = []
    for table, sizes in LANGUAGE_SETS.items():
        for number, size in zip(LANGUAGE_NUMBERS, sizes):
            name = "lang_%s_%04x" % (table, number)
            files.append((name, leading(b"\x53\x54", name, size)))
    files.append(("image_kd3_0100", filler("image_kd3_0100", 154387)))
    files.append(("image_kd4_0100", filler("image_kd4_0100", 112461)))
    for table, sizes in (("kd3", FONT_SIZES_KD3), ("kd4", FONT_SIZES_KD4)):
        for index, size in enumerate(sizes):
            name = "font_%s_%04x" % (table, 0x1C0 + index)
            files.append((name, leading(b"\x66\x6F\x24", name, size)))
    for number, size, first_line in FIELDBUS_FILES:
        name = "fieldbus_%04x" % number
        files.append((name, text_file(first_line, name, size)))
    return files


# --- output ------------------------------------------------------------------

def all_blobs():
    """(name, maker) for every file, in a fixed order."""
    blobs = []
    for name, start, records in PROGRAMMERS:
        payload = filler(name, sum(length for _, length in records))
        blobs.append((name, lambda s=start, r=records, p=payload: container(s, r, p)))
    for name, layout in BOOT_LOADERS:
        blobs.append((name, lambda n=name, l=layout: container(0, l[3], boot_payload(n, l))))
    for name, records, checksum, crc in SOFTWARE:
        blobs.append((name, lambda n=name, r=records, c=checksum, k=crc:
                      software_image(n, r, c, k)))
    for name, data in unit_files():
        blobs.append((name, lambda d=data: d))
    return blobs


def check_layouts():
    for name, records, _, _ in SOFTWARE:
        size = 12 + sum(6 + length for _, length in records)
        if size != EXPECTED_SOFTWARE_SIZES[name]:
            raise SystemExit("%s: %d bytes, expected %d" % (name, size, EXPECTED_SOFTWARE_SIZES[name]))
    for name, (_, _, _, records) in BOOT_LOADERS:
        size = 12 + sum(6 + length for _, length in records)
        if size != EXPECTED_BOOT_SIZES[name]:
            raise SystemExit("%s: %d bytes, expected %d" % (name, size, EXPECTED_BOOT_SIZES[name]))


def write_if_changed(path, data):
    try:
        with open(path, "rb") as existing:
            if existing.read() == data:
                return
    except OSError:
        pass
    with open(path, "wb") as out:
        out.write(data)


ASM_HEAD = """\
/* Generated by images/generate_images.py: the embedded images and unit files. */
#define KEL_CAT2(a, b) a##b
#define KEL_CAT(a, b) KEL_CAT2(a, b)
#define KEL_SYM(name) KEL_CAT(__USER_LABEL_PREFIX__, name)
#if defined(_WIN32)
  .section .rdata,"dr"
#else
  .section .rodata
#endif
"""

ASM_TAIL = """\
#if defined(__ELF__)
  .section .note.GNU-stack,"",@progbits
#endif
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--real", default=None)
    parser.add_argument("--check", action="store_true", help="check the layouts only")
    args = parser.parse_args()
    check_layouts()
    if args.check:
        return 0
    blob_dir = os.path.join(args.out, "blobs")
    os.makedirs(blob_dir, exist_ok=True)
    asm, table = [ASM_HEAD], []
    for index, (name, make) in enumerate(all_blobs()):
        real = os.path.join(args.real, name + ".bin") if args.real else None
        if real and os.path.isfile(real):
            path = os.path.abspath(real)
        else:
            path = os.path.abspath(os.path.join(blob_dir, name + ".bin"))
            write_if_changed(path, make())
        path = path.replace("\\", "/")
        asm.append("  .balign 16\n  .globl KEL_SYM(kel_blob_%d)\nKEL_SYM(kel_blob_%d):\n"
                   "  .incbin \"%s\"\n  .globl KEL_SYM(kel_blob_%d_end)\nKEL_SYM(kel_blob_%d_end):\n"
                   "  .byte 0\n" % (index, index, path, index, index))
        table.append((index, name))
    asm.append(ASM_TAIL)
    cpp = ['// Generated by images/generate_images.py: names of the embedded files.\n'
           '#include "images/embedded_blobs.h"\n\n']
    for index, _ in table:
        cpp.append('extern "C" const unsigned char kel_blob_%d[], kel_blob_%d_end[];\n'
                   % (index, index))
    cpp.append("\nnamespace kel {\n\nconst EmbeddedBlob kEmbeddedBlobs[] = {\n")
    for index, name in table:
        cpp.append('    {"%s", kel_blob_%d, kel_blob_%d_end},\n' % (name, index, index))
    cpp.append("};\nconst unsigned kEmbeddedBlobCount = %d;\n\n}  // namespace kel\n" % len(table))
    write_if_changed(os.path.join(args.out, "embedded_blob_data.S"), "".join(asm).encode())
    write_if_changed(os.path.join(args.out, "embedded_blobs_table.cpp"), "".join(cpp).encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
