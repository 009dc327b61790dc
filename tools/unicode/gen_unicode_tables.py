#!/usr/bin/env python3
"""Generates foundation/generated/unicode_tables.cpp, the compressed character
database of the string library, from the Unicode 4.0.0 data file.

Usage: gen_unicode_tables.py <ucd-4.0.0.txt> <output.cpp>

The data file holds "C start end Gc" lines (a run of one general category)
and "M cp lower upper title" lines (simple case mappings, hexadecimal).

Tables, for the code points below LIMIT:
  - categories: a page map over pages of 128 code points into a list of
    distinct pages of category bytes;
  - lower, upper and title case: three page maps over pages of 512 code points
    into one shared pool of pages of signed 16-bit deltas.
Each table is emitted as one run-length compressed stream: a byte below 0x80
is one one-byte value; 0xC0-0xFF starts a run of (byte & 63) + 1 copies of the
value that follows; 0x80-0xBF and the next byte start a run of
((byte & 63) * 256 + next) + 65 copies. Values are big-endian, one byte for
page maps and categories, two bytes for deltas.
"""
import sys

LIMIT = 0x2FA1E
CATEGORY_PAGE = 128
CASE_PAGE = 512

CATEGORY_CODES = {
    "Lo": 0x10, "Lu": 0x11, "Ll": 0x12, "Lt": 0x13, "Lm": 0x14,
    "Mn": 0x21, "Mc": 0x22, "Me": 0x23,
    "Nl": 0x30, "No": 0x30, "Nd": 0x31,
    "Po": 0x40, "Pc": 0x41, "Pd": 0x42, "Ps": 0x43, "Pe": 0x44, "Pi": 0x45, "Pf": 0x46,
    "So": 0x50, "Sm": 0x51, "Sc": 0x52, "Sk": 0x53,
    "Zs": 0x61, "Zl": 0x62, "Zp": 0x63,
    "Cc": 0x71, "Cf": 0x72, "Cs": 0x73, "Co": 0x74,
}


def read_data(path):
    categories = [0] * LIMIT
    deltas = [[0] * LIMIT for _ in range(3)]
    with open(path, encoding="ascii") as source:
        for line in source:
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            if fields[0] == "C":
                start, end = int(fields[1], 16), int(fields[2], 16)
                code = CATEGORY_CODES[fields[3]]
                for cp in range(start, min(end, LIMIT - 1) + 1):
                    categories[cp] = code
            elif fields[0] == "M":
                cp = int(fields[1], 16)
                for table, value in enumerate(fields[2:5]):
                    delta = int(value, 16) - cp
                    if not -0x4000 <= delta < 0x4000:
                        raise ValueError(f"case delta of U+{cp:04X} does not fit 15 bits")
                    deltas[table][cp] = delta
            else:
                raise ValueError(f"unknown line: {line.strip()}")
    return categories, deltas


def paginate(values, page_size, pool, pool_index):
    """Page map of values into pool (a list of page tuples), shared across calls."""
    page_map = []
    for start in range(0, len(values), page_size):
        page = tuple(values[start:start + page_size])
        page = page + (0,) * (page_size - len(page))
        if page not in pool_index:
            pool_index[page] = len(pool)
            pool.append(page)
        page_map.append(pool_index[page])
    return page_map


def compress(values, width):
    """Run-length compression of one-byte (width 1) or two-byte values."""
    out = bytearray()

    def value_bytes(value):
        return (value & (0xFFFF if width == 2 else 0xFF)).to_bytes(width, "big")

    i = 0
    while i < len(values):
        run = 1
        while i + run < len(values) and values[i + run] == values[i]:
            run += 1
        value = values[i]
        if run == 1 and width == 1 and value < 0x80:
            out.append(value)
            i += 1
            continue
        run = min(run, 63 * 256 + 255 + 65)
        if run <= 64:
            out.append(0xC0 | (run - 1))
        else:
            long_run = run - 65
            out.append(0x80 | (long_run >> 8))
            out.append(long_run & 0xFF)
        out += value_bytes(value)
        i += run
    return bytes(out)


def emit_array(name, data):
    lines = [f"extern const std::uint8_t {name}[] = {{"]
    for start in range(0, len(data), 16):
        chunk = ", ".join(f"0x{b:02x}" for b in data[start:start + 16])
        lines.append(f"    {chunk},")
    lines.append("};")
    lines.append(f"extern const std::size_t {name}Size = sizeof {name};")
    return "\n".join(lines)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    categories, deltas = read_data(sys.argv[1])

    category_pages, category_index = [], {}
    category_map = paginate(categories, CATEGORY_PAGE, category_pages, category_index)
    delta_pages, delta_index = [], {}
    case_maps = [paginate(d, CASE_PAGE, delta_pages, delta_index) for d in deltas]

    streams = [
        ("kCategoryPageMapStream", compress(category_map, 1)),
        ("kCategoryPagesStream", compress([v for p in category_pages for v in p], 1)),
        ("kLowerCasePageMapStream", compress(case_maps[0], 1)),
        ("kUpperCasePageMapStream", compress(case_maps[1], 1)),
        ("kTitleCasePageMapStream", compress(case_maps[2], 1)),
        ("kCaseDeltaPagesStream", compress([v for p in delta_pages for v in p], 2)),
    ]
    header = f"""// Generated by tools/unicode/gen_unicode_tables.py from the Unicode 4.0.0
// character data; do not edit. To regenerate, from the repository root:
//   python3 tools/unicode/gen_unicode_tables.py
//       ../shared/unicode/ucd-4.0.0.txt foundation/generated/unicode_tables.cpp
// {len(category_pages)} category pages of {CATEGORY_PAGE} code points, {len(delta_pages)} case delta pages
// of {CASE_PAGE} code points, code points below 0x{LIMIT:X}.
#include "UnicodeTables.h"

namespace zelm::unicode_data {{

extern const int kCategoryPageCount = {len(category_pages)};
extern const int kCaseDeltaPageCount = {len(delta_pages)};
"""
    body = "\n\n".join(emit_array(name, data) for name, data in streams)
    with open(sys.argv[2], "w", encoding="ascii") as out:
        out.write(header + "\n" + body + "\n\n} // namespace zelm::unicode_data\n")


if __name__ == "__main__":
    main()
