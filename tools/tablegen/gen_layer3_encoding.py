#!/usr/bin/env python3
"""Builds the stream generator's Layer III encoding tables.

Usage: gen_layer3_encoding.py HUFFCODE OUTDIR

Reads the Huffman code listing (iso-tables/huffcode, the format gen_huffman.py
describes) and writes OUTDIR/layer3_encoding.h and OUTDIR/layer3_encoding.cpp:
the code word and length of every pair and quadruple, and the frame-layout
data below (scale-factor bands, scale-factor lengths and partitions, pretab,
bit rates and sample rates), checked here for consistency.

The writer keeps its own copy of these tables so that the streams it makes do
not depend on the decoder's tables being right.
"""

import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_huffman import parse_listing  # noqa: E402

# Long and short scale-factor band boundaries (short ones in lines of one
# window) of 44.1, 48, 32, 22.05, 24 and 16 kHz and of 8 kHz; 11.025 and
# 12 kHz use the 16 kHz bands.
LONG_BANDS = [
    [0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576],
    [0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576],
    [0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576],
    [0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576],
    [0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576],
    [0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576],
    [0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576],
]
SHORT_BANDS = [
    [0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192],
    [0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192],
    [0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192],
    [0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192],
    [0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192],
    [0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192],
    [0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192],
]
BAND_ROW_OF_RATE = [0, 1, 2, 3, 4, 5, 5, 5, 6]
SAMPLE_RATES = [44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000]

# Scale-factor lengths of the MPEG-1 scalefac_compress values 0-15.
SLEN1 = [0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4]
SLEN2 = [0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3]

# Scale factors per partition, [block kind: long, short, mixed][row][partition];
# rows 0-2 serve ordinary channels, rows 3-5 the intensity-coded right channel.
PARTITIONS = [
    [[6, 5, 5, 5], [6, 5, 7, 3], [11, 10, 0, 0], [7, 7, 7, 0], [6, 6, 6, 3], [8, 8, 5, 0]],
    [[9, 9, 9, 9], [9, 9, 12, 6], [18, 18, 0, 0], [12, 12, 12, 0], [12, 9, 9, 6], [15, 12, 9, 0]],
    [[6, 9, 9, 9], [6, 9, 12, 6], [15, 18, 0, 0], [6, 15, 12, 0], [6, 12, 9, 6], [6, 18, 9, 0]],
]
PRETAB = [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0]

# Layer III bit rates in kbit/s by bit-rate index 1-14: MPEG-1, then MPEG-2/2.5.
BIT_RATES = [
    [32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    [8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
]


def lsf_length_words():
    """The LSF scale-factor lengths behind each scalefac_compress value:
    (normal[512], intensity[256]) of (lengths, row, preflag)."""
    normal = [None] * 512
    intensity = [None] * 256
    for i in range(5):
        for j in range(5):
            for k in range(4):
                for m in range(4):
                    normal[80 * i + 16 * j + 4 * k + m] = ((i, j, k, m), 0, 0)
                normal[400 + 20 * i + 4 * j + k] = ((i, j, k, 0), 1, 0)
    for i in range(4):
        for j in range(3):
            normal[500 + 3 * i + j] = ((i, j, 0, 0), 2, 1)
            intensity[244 + 3 * i + j] = ((i, j, 0, 0), 5, 0)
    for i in range(5):
        for j in range(6):
            for k in range(6):
                intensity[36 * i + 6 * j + k] = ((i, j, k, 0), 3, 0)
    for i in range(4):
        for j in range(4):
            for k in range(4):
                intensity[180 + 16 * i + 4 * j + k] = ((i, j, k, 0), 4, 0)
    return normal, intensity


def check_layout():
    for row in LONG_BANDS:
        if len(row) != 23 or row[-1] != 576 or row != sorted(row):
            sys.exit("long band row does not rise from 0 to 576 in 22 bands")
    for row in SHORT_BANDS:
        if len(row) != 14 or row[-1] != 192 or row != sorted(row):
            sys.exit("short band row does not rise from 0 to 192 in 13 bands")
    for kind, total in enumerate((21, 36, 33)):
        for row in PARTITIONS[kind]:
            if sum(row) != total:
                sys.exit(f"partition row {row} does not hold {total} scale factors")


def pair_codes(tables, number):
    """(xlen, [(code, length)] indexed x * xlen + y) of a pair table."""
    table = tables[number]
    source = tables[table["reference"]] if table["reference"] is not None else table
    if not source["codes"]:
        return 0, []
    size = max(value >> 4 for _, value in source["codes"]) + 1
    codes = [None] * (size * size)
    for code, value in source["codes"]:
        codes[(value >> 4) * size + (value & 15)] = (int(code, 2), len(code))
    if None in codes:
        sys.exit(f"pair table {number} lacks codes")
    return size, codes


def quad_codes(tables, number):
    codes = [None] * 16
    for code, value in tables[number]["codes"]:
        codes[value] = (int(code, 2), len(code))
    if None in codes:
        sys.exit(f"quadruple table {number} lacks codes")
    return codes


def rows(values, per_line):
    return "\n".join(
        "    " + ", ".join(str(v) for v in values[start:start + per_line]) + ","
        for start in range(0, len(values), per_line)
    )


BANNER = (
    "// Generated by tools/tablegen/gen_layer3_encoding.py from the Huffman code\n"
    "// listing; do not edit. Regenerate with:\n"
    "//   python3 tools/tablegen/gen_layer3_encoding.py ../shared/iso-tables/huffcode "
    "tools/streamgen/generated\n"
)

HEADER = """#pragma once

#include <cstdint>

namespace tesk::quor::streamgen::tables {

// A Huffman code word: the low `length` bits of `bits`, first bit highest.
struct Code {
    std::uint32_t bits;
    std::uint8_t length;
};

// A pair table codes values 0..size-1 in each of x and y (entry x * size + y);
// 15 stands for 15 and more when linbits > 0. Tables 0, 4 and 14 have size 0.
struct PairTable {
    const Code* codes;
    int size;
    int linbits;
};

inline constexpr int kPairTableCount = 32;
extern const PairTable kPairTables[kPairTableCount];
// Quadruple tables A and B, indexed by 8v + 4w + 2x + y.
extern const Code kQuadTables[2][16];

inline constexpr int kRates = 9;
extern const std::int32_t kSampleRates[kRates];
extern const std::int16_t kLongBands[kRates][23];  // line boundaries
extern const std::int16_t kShortBands[kRates][14]; // per window
extern const std::uint8_t kSlen[2][16];            // MPEG-1 lengths by scalefac_compress
// LSF lengths by scalefac_compress: bits 0-11 four 3-bit lengths, bits 12-14
// the partition row, bit 15 the preflag. 0xFFFF marks an unused value.
extern const std::uint16_t kLsfLengthsNormal[512];
extern const std::uint16_t kLsfLengthsIntensity[256];
extern const std::uint8_t kPartitions[3][6][4]; // [long, short, mixed][row][partition]
extern const std::uint8_t kPretab[22];
extern const std::int16_t kBitRates[2][15]; // [MPEG-1, LSF][index]; index 0 is free format

} // namespace tesk::quor::streamgen::tables
"""


def length_word(entry):
    if entry is None:
        return 0xFFFF
    (a, b, c, d), row, preflag = entry
    return a | (b << 3) | (c << 6) | (d << 9) | (row << 12) | (preflag << 15)


def write_source(path, tables):
    parts = [BANNER, '\n#include "tools/streamgen/generated/layer3_encoding.h"\n\n',
             "namespace tesk::quor::streamgen::tables {\n\nnamespace {\n\n"]
    entries = []
    for number in range(32):
        size, codes = pair_codes(tables, number)
        linbits = tables[number]["linbits"]
        if size == 0:
            entries.append(f"    {{nullptr, 0, {linbits}}},")
            continue
        reference = tables[number]["reference"]
        if reference is not None:
            entries.append(f"    {{kPairs{reference}, {size}, {linbits}}},")
            continue
        parts.append(f"const Code kPairs{number}[{len(codes)}] = {{\n")
        parts.append(rows([f"{{{c}, {n}}}" for c, n in codes], 6) + "\n};\n\n")
        entries.append(f"    {{kPairs{number}, {size}, {linbits}}},")
    parts.append("} // namespace\n\nconst PairTable kPairTables[kPairTableCount] = {\n")
    parts.append("\n".join(entries) + "\n};\n\nconst Code kQuadTables[2][16] = {\n")
    for number in (32, 33):
        parts.append("    {" + ", ".join(f"{{{c}, {n}}}" for c, n in quad_codes(tables, number)) + "},\n")
    parts.append("};\n\nconst std::int32_t kSampleRates[kRates] = {" +
                 ", ".join(map(str, SAMPLE_RATES)) + "};\n\n")
    for name, data in (("kLongBands", LONG_BANDS), ("kShortBands", SHORT_BANDS)):
        parts.append(f"const std::int16_t {name}[kRates][{len(data[0])}] = {{\n")
        for rate in range(len(SAMPLE_RATES)):
            parts.append("    {" + ", ".join(map(str, data[BAND_ROW_OF_RATE[rate]])) + "},\n")
        parts.append("};\n\n")
    parts.append("const std::uint8_t kSlen[2][16] = {\n    {" + ", ".join(map(str, SLEN1)) +
                 "},\n    {" + ", ".join(map(str, SLEN2)) + "},\n};\n\n")
    normal, intensity = lsf_length_words()
    for name, words in (("kLsfLengthsNormal", normal), ("kLsfLengthsIntensity", intensity)):
        parts.append(f"const std::uint16_t {name}[{len(words)}] = {{\n")
        parts.append(rows([length_word(w) for w in words], 12) + "\n};\n\n")
    parts.append("const std::uint8_t kPartitions[3][6][4] = {\n")
    for kind in PARTITIONS:
        parts.append("    {" + ", ".join("{" + ", ".join(map(str, r)) + "}" for r in kind) + "},\n")
    parts.append("};\n\nconst std::uint8_t kPretab[22] = {" + ", ".join(map(str, PRETAB)) + "};\n\n")
    parts.append("const std::int16_t kBitRates[2][15] = {\n")
    for rates in BIT_RATES:
        parts.append("    {0, " + ", ".join(map(str, rates)) + "},\n")
    parts.append("};\n\n} // namespace tesk::quor::streamgen::tables\n")
    with open(path, "w", encoding="ascii") as source:
        source.write("".join(parts))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    tables = parse_listing(sys.argv[1])
    if set(tables) != set(range(34)):
        sys.exit(f"{sys.argv[1]}: tables 0-33 expected")
    check_layout()
    os.makedirs(sys.argv[2], exist_ok=True)
    with open(os.path.join(sys.argv[2], "layer3_encoding.h"), "w", encoding="ascii") as header:
        header.write(BANNER + "\n" + HEADER)
    write_source(os.path.join(sys.argv[2], "layer3_encoding.cpp"), tables)


if __name__ == "__main__":
    main()
