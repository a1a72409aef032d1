#!/bin/bash
# run_interop.sh: converts generated meshes with plyconv and checks what real readers make of the
# outputs: ivinfo and ivcat read the .iv, tovrmlx3d the .wrl, admesh the .stl, assimp the input.
#
# Usage: run_interop.sh PLYCONV MAKE_MESH
# Each case runs in a fresh temporary folder. A reader fails its check when it exits non-zero,
# writes anything to stderr, says "warning" or "error", or reports a count or value that differs
# from the mesh. The expected values come from the text form of the same mesh (make_mesh --ascii).

set -u
export LC_ALL=C # Readers, printf and awk all write numbers with a decimal point.

here=$(cd "$(dirname "$0")" && pwd)
plyconv=$(realpath "$1")
make_mesh=$(realpath "$2")

# Without the readers the test is skipped (exit 77), unless PLYCONV_REQUIRE_READERS is set, as
# CI sets it, so that a missing install can never pass for a green run.
for program in ivinfo ivcat tovrmlx3d admesh assimp; do
    if ! command -v "$program" > /dev/null; then
        echo "interop: $program is missing; tests/interop/install.sh installs the readers"
        [ -n "${PLYCONV_REQUIRE_READERS:-}" ] && exit 1
        exit 77
    fi
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

passed=0
failed=0
case_name=
case_dir=
problems=

# Notes a problem of the check that is running; end_check reports them.
problem() { problems+="    $*"$'\n'; }

end_check() {
    if [ -z "$problems" ]; then
        passed=$((passed + 1))
        echo "ok   $case_name: $1"
    else
        failed=$((failed + 1))
        echo "FAIL $case_name: $1"
        printf '%s' "$problems"
    fi
    problems=
}

# Runs a reader with its output in NAME.out and NAME.err; notes an exit code other than 0,
# anything on stderr and any warning or error in its output.
run_reader() {
    local name=$1
    shift
    "$@" > "$case_dir/$name.out" 2> "$case_dir/$name.err"
    local status=$?
    [ "$status" -eq 0 ] || problem "$name exits with $status"
    if [ -s "$case_dir/$name.err" ]; then
        problem "$name writes to stderr:"
        problems+=$(sed 's/^/        /' "$case_dir/$name.err")$'\n'
    fi
    if grep -qiE 'warning|error' "$case_dir/$name.out"; then
        problem "$name says:"
        problems+=$(grep -iE 'warning|error' "$case_dir/$name.out" | sed 's/^/        /')$'\n'
    fi
}

# Compares the list FIELD of a reader's output with the expected numbers in EXPECTED.
check_list() {
    local reader=$1 field=$2 expected=$3
    local actual="$case_dir/$reader.$field"
    awk -v field="$field" -f "$here/reader_list.awk" "$case_dir/$reader.out" > "$actual"
    local difference
    difference=$(awk -v name="$reader $field" -f "$here/compare_numbers.awk" \
        "$case_dir/expected.$expected" "$actual") || problem "$difference"
}

# Notes a missing line of a reader's output; blanks and tabs count as one blank.
check_line() {
    local reader=$1 line=$2
    awk -v line="$line" '{ gsub(/[ \t]+/, " "); sub(/^ /, ""); sub(/ $/, "") }
        $0 == line { found = 1 } END { exit !found }' "$case_dir/$reader.out" ||
        problem "$reader does not show \"$line\""
}

expected_number() { head -n 1 "$case_dir/expected.$1"; }

# Each case: a name, the layout, the grid size, and further make_mesh options.
cases=(
    "face-grid     face  4 3"
    "face-quads    face  4 3 --quads"
    "face-seeded   face  4 3 --seed 11"
    "strip-grid    strip 4 3"
    "strip-seeded  strip 4 3 --seed 12"
)

for entry in "${cases[@]}"; do
    read -r case_name layout width height options <<< "$entry"
    case_dir="$root/$case_name"
    mkdir "$case_dir"
    # shellcheck disable=SC2086 # the options are words of their own
    if ! "$make_mesh" --layout "$layout" --grid "$width" "$height" $options "$case_dir/mesh.ply" ||
        ! "$make_mesh" --layout "$layout" --grid "$width" "$height" $options --ascii \
            "$case_dir/mesh.txt"; then
        echo "interop: make_mesh fails for $case_name"
        exit 1
    fi
    awk -v layout="$layout" -v width="$width" -v height="$height" -v prefix="$case_dir/expected" \
        -f "$here/expected_lists.awk" "$case_dir/mesh.txt"
    vertex_count=$(((width + 1) * (height + 1)))

    # The input file, as another PLY reader sees it. Only the face layout: assimp 5.2 reads
    # one triangle of any tristrips element.
    if [ "$layout" = face ]; then
        run_reader assimp assimp info "$case_dir/mesh.ply"
        check_line assimp "Vertices: $vertex_count"
        # assimp splits each quad in two, so both kinds of face file give 2WH triangles.
        check_line assimp "Faces: $((2 * width * height))"
        read -r min_x max_x min_y max_y min_z max_z <<< "$(tr '\n' ' ' < "$case_dir/expected.box")"
        minimum=$(printf '(%f %f %f)' "$min_x" "$min_y" "$min_z")
        maximum=$(printf '(%f %f %f)' "$max_x" "$max_y" "$max_z")
        check_line assimp "Minimum point $minimum"
        check_line assimp "Maximum point $maximum"
        end_check "assimp reads mesh.ply"
    fi

    # The converter runs in its own folder, where it resolves the relative names: the two
    # answers, then a key for the end of the run.
    cp "$plyconv" "$case_dir/plyconv"
    (cd "$case_dir" && printf 'mesh.ply\nout\n\n' | timeout 60 ./plyconv > transcript.txt 2>&1)
    status=$?
    [ "$status" -eq 0 ] || problem "plyconv exits with $status"
    for output in out.wrl out.iv out.stl; do
        [ -f "$case_dir/$output" ] || problem "plyconv writes no $output"
    done
    end_check "plyconv converts mesh.ply"
    [ -f "$case_dir/out.stl" ] || continue

    run_reader ivinfo ivinfo "$case_dir/out.iv"
    check_line ivinfo "ivinfo: data format is ASCII"
    # Separator, LightModel, ShapeHints, Coordinate3, Material, MaterialBinding, IndexedFaceSet.
    check_line ivinfo "ivinfo: number of nodes under root is 7"
    end_check "ivinfo reads out.iv"

    run_reader ivcat ivcat "$case_dir/out.iv"
    check_list ivcat point points
    check_list ivcat diffuseColor colours
    check_list ivcat coordIndex indices
    check_list ivcat materialIndex indices
    check_line ivcat "model PHONG"
    check_line ivcat "creaseAngle 0.5"
    check_line ivcat "ambientColor 0.1 0.1 0.1"
    check_line ivcat "value PER_VERTEX_INDEXED"
    end_check "ivcat reads out.iv"

    run_reader tovrmlx3d tovrmlx3d "$case_dir/out.wrl"
    check_list tovrmlx3d point points
    check_list tovrmlx3d color colours
    check_list tovrmlx3d coordIndex indices
    check_list tovrmlx3d colorIndex indices
    check_line tovrmlx3d "solid FALSE"
    check_line tovrmlx3d "creaseAngle 0.5"
    end_check "tovrmlx3d reads out.wrl"

    # -c: no repairs, so the text dump holds the facets exactly as admesh read them.
    run_reader admesh admesh -c "--write-ascii-stl=$case_dir/dump.stl" "$case_dir/out.stl"
    check_line admesh "File type : Binary STL file"
    facet_count=$(expected_number facet_count)
    awk -v want="$facet_count" '/^Number of facets/ && $5 == want { found = 1 }
        END { exit !found }' "$case_dir/admesh.out" ||
        problem "admesh does not count $facet_count facets:" \
            "$(grep '^Number of facets' "$case_dir/admesh.out")"
    read -r min_x max_x min_y max_y min_z max_z <<< "$(tr '\n' ' ' < "$case_dir/expected.box")"
    for axis in X Y Z; do
        case $axis in
            X) low=$min_x high=$max_x ;;
            Y) low=$min_y high=$max_y ;;
            Z) low=$min_z high=$max_z ;;
        esac
        check_line admesh "$(printf 'Min %s = %f, Max %s = %f' "$axis" "$low" "$axis" "$high")"
    done
    awk '$1 == "facet" { print $3; print $4; print $5 }
         $1 == "vertex" { print $2; print $3; print $4 }' "$case_dir/dump.stl" \
        > "$case_dir/admesh.facets"
    difference=$(awk -v name="admesh facets" -f "$here/compare_numbers.awk" \
        "$case_dir/expected.facets" "$case_dir/admesh.facets") || problem "$difference"
    # No facet reversed: every grid here turns counter-clockwise seen from +z, the first strip
    # as every other, so each normal as admesh read it points up.
    reversed=$(awk 'NR % 12 == 3 && $1 <= 0 { ++n } END { print n + 0 }' "$case_dir/admesh.facets")
    [ "$reversed" -eq 0 ] || problem "admesh reads $reversed facets whose normal points down"
    end_check "admesh reads out.stl"
done

echo "interop: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
