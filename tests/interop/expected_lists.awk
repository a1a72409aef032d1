# expected_lists.awk: from the text form of a generated grid (make_mesh --ascii), writes the lists
# that the converter's three outputs must give, one number a line, into PREFIX.points,
# PREFIX.colours, PREFIX.indices, PREFIX.facets (normal and three corners per facet, 12
# numbers), PREFIX.facet_count and PREFIX.box (min x, max x, min y, max y, min z, max z).
#
# Usage: awk -v layout=face|strip -v width=W -v height=H -v prefix=PREFIX -f expected_lists.awk
#        MESH.txt

function put(file, value) { printf "%.17g\n", value > (prefix "." file) }

# One triangle of the STL file: its normal (A - C) x (B - C), then A, B and C.
function put_facet(a, b, c,    ux, uy, uz, wx, wy, wz) {
    ux = x[a] - x[c]; uy = y[a] - y[c]; uz = z[a] - z[c]
    wx = x[b] - x[c]; wy = y[b] - y[c]; wz = z[b] - z[c]
    put("facets", uy * wz - wy * uz)
    put("facets", uz * wx - ux * wz)
    put("facets", ux * wy - uy * wx)
    put("facets", x[a]); put("facets", y[a]); put("facets", z[a])
    put("facets", x[b]); put("facets", y[b]); put("facets", z[b])
    put("facets", x[c]); put("facets", y[c]); put("facets", z[c])
    ++facet_count
}

function put_triangle(a, b, c) {
    put("indices", a); put("indices", b); put("indices", c); put("indices", -1)
    put_facet(a, b, c)
}

function widen_box(v) {
    if (!box_started || x[v] < min_x) min_x = x[v]
    if (!box_started || x[v] > max_x) max_x = x[v]
    if (!box_started || y[v] < min_y) min_y = y[v]
    if (!box_started || y[v] > max_y) max_y = y[v]
    if (!box_started || z[v] < min_z) min_z = z[v]
    if (!box_started || z[v] > max_z) max_z = z[v]
    box_started = 1
}

BEGIN { vertex_no = 0 } # A number from the start: it names the vertices in x, y and z.

!in_body {
    if ($1 == "element" && $2 == "vertex")
        vertex_count = $3
    if ($1 == "end_header")
        in_body = 1
    next
}

vertex_no < vertex_count {
    x[vertex_no] = $1; y[vertex_no] = $2; z[vertex_no] = $3
    put("points", $1); put("points", $2); put("points", $3)
    # The colour bytes are the last three fields; the converter writes each divided by 255
    # to three decimals, and no byte gives a tie there.
    for (k = NF - 2; k <= NF; ++k)
        printf "%.3f\n", $k / 255 > (prefix ".colours")
    widen_box(vertex_no)
    ++vertex_no
    next
}

layout == "face" {
    # A face of n indices gives its whole index list and one facet of its first three.
    for (k = 2; k <= $1 + 1; ++k)
        put("indices", $k)
    put("indices", -1)
    put_facet($2, $3, $4)
}

END {
    # The point list ends with one extra point at the origin.
    put("points", 0); put("points", 0); put("points", 0)
    if (layout == "strip") {
        # Every strip, the first included, starts in window order and then alternates, so each
        # row turns counter-clockwise seen from +z. Cell corners as make_mesh names them: a, b
        # below, d, c above; the row's strip is d0 a0 d1 a1 ...
        row = width + 1
        for (j = 0; j < height; ++j) {
            for (i = 0; i < width; ++i) {
                a = j * row + i; b = a + 1; d = a + row; c = d + 1
                put_triangle(d, a, c); put_triangle(a, b, c)
            }
        }
    }
    put("facet_count", facet_count)
    put("box", min_x); put("box", max_x); put("box", min_y); put("box", max_y)
    put("box", min_z); put("box", max_z)
}
