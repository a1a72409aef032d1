#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets: tiny face and strip files and odd headers for
# fuzz_run, count texts for fuzz_parse_number. Run it again after changing a seed.
set -euo pipefail
cd "$(dirname "$0")"
rm -rf corpus
mkdir -p corpus/run corpus/parse_number

# Four bytes of a 32-bit value, little-endian; a negative value as two's complement.
le32() {
    local v=$(($1 & 0xffffffff))
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) \
        $((v >> 16 & 255)) $((v >> 24 & 255)))"
}
byte() { printf "$(printf '\\%03o' "$1")"; }

# Float bit patterns.
zero=0x00000000 one=0x3f800000 half=0x3f000000 nan=0x7fc00000 inf=0x7f800000
minus_two_and_a_quarter=0xc0100000 big=0x5d5e0b6b # about 1e18

# A face-file vertex record: x, y, z, four skipped bytes, red, green, blue.
face_vertex() { le32 "$1"; le32 "$2"; le32 "$3"; le32 0; byte "$4"; byte "$5"; byte "$6"; }
# A strip-file vertex record: x, y, z, red, green, blue.
strip_vertex() { le32 "$1"; le32 "$2"; le32 "$3"; byte "$4"; byte "$5"; byte "$6"; }
# A face record: its count byte and its indices.
face() { byte $#; for index in "$@"; do le32 "$index"; done; }
# The strip record: its count and its indices.
strip() { le32 $#; for index in "$@"; do le32 "$index"; done; }

face_header() {
    printf 'ply\nformat binary_little_endian 1.0\nelement vertex %s\n' "$1"
    printf 'property float x\nproperty float y\nproperty float z\nproperty float intensity\n'
    printf 'property uchar red\nproperty uchar green\nproperty uchar blue\n'
    printf 'element face %s\nproperty list uchar int vertex_indices\nend_header\n' "$2"
}
strip_header() {
    printf 'ply\nformat binary_little_endian 1.0\nelement vertex %s\n' "$1"
    printf 'property float x\nproperty float y\nproperty float z\n'
    printf 'property uchar red\nproperty uchar green\nproperty uchar blue\n'
    printf 'element tristrips 1\nproperty list int int vertex_indices\nend_header\n'
}

# The three coloured corners of a right triangle and its one face.
{
    face_header 3 1
    face_vertex $zero $zero $zero 255 0 0
    face_vertex $one $zero $zero 0 255 0
    face_vertex $zero $one $zero 0 0 255
    face 0 1 2
} >corpus/run/face_triangle.ply

# A square of two faces, a face of four indices, one of none and one of a single index.
{
    face_header 4 5
    face_vertex $zero $zero $zero 10 20 30
    face_vertex $one $zero $half 40 50 60
    face_vertex $one $one $minus_two_and_a_quarter 70 80 90
    face_vertex $zero $one $big 255 255 255
    face 0 1 2
    face 0 2 3
    face 0 1 2 3
    face
    face 3
} >corpus/run/face_square.ply

# A strip of four triangles.
{
    strip_header 6
    for i in 0 1 2; do strip_vertex $zero $one 0x$((i + 40))000000 1 2 3; done
    for i in 0 1 2; do strip_vertex $one $zero 0x$((i + 40))000000 4 5 6; done
    strip 0 1 2 3 4 5
} >corpus/run/strip_one.ply

# Two strips between markers, and a marker in the first triangle.
{
    strip_header 8
    for i in 0 1 2 3 4 5 6 7; do strip_vertex 0x3f$((i + 10))0000 $half $zero 9 9 9; done
    strip 0 1 2 3 -1 4 5 6 7
} >corpus/run/strip_two.ply
{
    strip_header 4
    for i in 0 1 2 3; do strip_vertex $one $one $one 0 0 0; done
    strip 0 1 -1 2 3
} >corpus/run/strip_marker_first.ply

# A coordinate that is no number, one that is infinite, and a very negative index.
{
    face_header 2 2
    face_vertex $one $nan $zero 1 1 1
    face_vertex $inf $zero $zero 2 2 2
    face 0 1 -2147483648
    face 1 0
} >corpus/run/face_nan_and_negative_index.ply

# Odd headers.
printf 'ply\r\nformat binary_little_endian 1.0\r\nelement vertex 1\r\nelement face 1\r\nend_header\r\n' \
    >corpus/run/header_crlf.ply
printf 'ply\nformat binary_big_endian 1.0\nelement vertex 8\nelement face 12\nend_header\n' \
    >corpus/run/header_big_endian.ply
printf 'ply\nformat binary_little_endian 1.0\nelement vertex 3\nelement face 1\n' \
    >corpus/run/header_without_end.ply
printf 'ply\nformat binary_little_endian 1.0\nelement vertex &H3\nelement face &O1\nend_header\n' \
    >corpus/run/header_based_counts.ply
printf 'ply\nformat binary_little_endian 1.0\nelement vertex 2.5\nelement face -1\nend_header\n' \
    >corpus/run/header_fraction_and_negative.ply
printf 'ply\nformat binary_little_endian 1.0\nelement vertex 1\nelement face &H11111111111111111\nend_header\n' \
    >corpus/run/header_overflow.ply
{
    printf 'ply\nelement tristrips 1\nelement vertex 1\n'
    strip_vertex $one $one $one 1 2 3
    strip 0 0 0
} >corpus/run/header_marker_second_line.ply

# Count texts.
for text in 8 ' 8' $'8\r' '1 000' 12abc 1,000 1e3 1d3 2.5 3.5 -5 '&H10' '&h10' '&O17' abc --5 \
    16777217 2147483648 4294967301 1e30 '&H11111111111111111' '&O2000000000000000000000' \
    '1.5e-4951' '9e4932' '+.5E+3' '&HFFFFFFFFFFFFFFFF'; do
    name=$(printf '%s' "$text" | od -An -tx1 | tr -d ' \n')
    printf '%s' "$text" >corpus/parse_number/"$name"
done
