# compare_numbers.awk: compares two lists of numbers, one a line: what the mesh gives and what a
# reader reported. Prints the first difference and exits 1; silent and 0 when they agree.
#
# Usage: awk -v name=LABEL -f compare_numbers.awk EXPECTED ACTUAL
# Readers print values in their own way ("0.247", "0.24699999392032623", "2.47000000E-01"), so
# two numbers agree when they differ by at most a millionth of their size (and of 1): far below
# the last decimal that the converter writes, far above the rounding of a 32-bit float.

function magnitude(x) { return x < 0 ? -x : x }

FILENAME == ARGV[1] { expected[++expected_count] = $1; next }
{ actual[++actual_count] = $1 }

END {
    if (actual_count != expected_count) {
        printf "%s: the reader gives %d numbers, the mesh %d\n", name, actual_count, expected_count
        exit 1
    }
    for (k = 1; k <= expected_count; ++k) {
        scale = magnitude(expected[k]) > 1 ? magnitude(expected[k]) : 1
        if (magnitude(expected[k] - actual[k]) > 1e-6 * scale) {
            printf "%s: number %d is %s, the mesh gives %s\n", name, k, actual[k], expected[k]
            exit 1
        }
    }
}
