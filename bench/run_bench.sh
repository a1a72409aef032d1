#!/bin/bash
# run_bench.sh: times the whole program on generated grids, beside the peer a user would pick
# instead (assimp export, STL only) and beside dd writing as many bytes as the three final files.
#
# Usage: bench/run_bench.sh [BUILD_FOLDER]     (default: build; a Release build is meant)
# Environment: REPEAT (runs per figure, default 5; medians are shown), SIZES (grid sizes,
# default "500 1000 2000"), BENCH_DIR (where the meshes and outputs go, default a new folder
# under ${TMPDIR:-/tmp}; dd writes there too, so both meet the same file system).
#
# For each size: a face file and a strip file from make_mesh (fixed seed), plyconv on each in
# pipe mode, the peer on the face file, dd; every repetition runs them all in turn. Then the
# targets of the 1000 x 1000 grid and the growth from 1000 to 2000. The micro-benchmark of the
# number texts runs last.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
repeat=${REPEAT:-5}
sizes=${SIZES:-500 1000 2000}

# The tools the figures need, installed when missing (Debian names).
install_missing() { # command package
    command -v "$1" >/dev/null 2>&1 && return 0
    echo "installing $2 for $1"
    if ! { apt-get install -y "$2" >/dev/null 2>&1 ||
           { apt-get update >/dev/null 2>&1 && apt-get install -y "$2" >/dev/null 2>&1; }; }; then
        echo "cannot install $2: run as root, or install it by hand" >&2
        return 1
    fi
}
install_missing /usr/bin/time time
peer_found=1
install_missing assimp assimp-utils || peer_found=0

plyconv=$build/plyconv
make_mesh=$build/tools/make_mesh
if [ ! -x "$plyconv" ] || [ ! -x "$make_mesh" ]; then
    cmake --build "$build" --target plyconv make_mesh >/dev/null
fi

dir=${BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/plyconv_bench.XXXXXX")}
mkdir -p "$dir"
cleanup() { [ -n "${BENCH_DIR:-}" ] || rm -rf "$dir"; }
trap cleanup EXIT
# Relative names resolve in the folder of the program, so it stands beside the mesh.
cp "$plyconv" "$dir/plyconv"
cd "$dir"

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", b - a}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

# Runs "$@" once, outputs removed first so that every run creates its files; prints
# "seconds peak_KiB".
time_once() { # outputs_glob command...
    local outputs=$1
    shift
    rm -f $outputs
    sync
    local start end
    start=$(now)
    /usr/bin/time -f '%M' -o time.out "$@" >run.out 2>&1
    end=$(now)
    echo "$(elapsed "$start" "$end") $(cat time.out)"
}

# Every mesh first, so that each repetition below runs every program on every size one after
# another: a machine that slows down or speeds up on the way meets them all alike, and the
# ratios compare runs made side by side.
for n in $sizes; do
    for layout in face strip; do
        "$make_mesh" --layout "$layout" --grid "$n" "$n" --seed 1 "$layout$n.ply" >/dev/null
    done
done

declare -A results out_bytes peer_bytes
for _ in $(seq "$repeat"); do
    for n in $sizes; do
        for layout in face strip; do
            results[$n $layout]+="$(time_once 'out.wrl out.iv out.stl' \
                sh -c "printf '$layout$n.ply\nout\n\n' | ./plyconv")"$'\n'
            if ! grep -q 'Press any key to continue' run.out || [ ! -s out.stl ]; then
                echo "plyconv did not convert the $n x $n $layout file:" >&2
                cat run.out >&2
                exit 1
            fi
            out_bytes[$n $layout]=$(($(stat -c %s out.wrl) + $(stat -c %s out.iv) + $(stat -c %s out.stl)))
            rm -f out.wrl out.iv out.stl
        done
        if [ "$peer_found" = 1 ]; then
            results[$n peer]+="$(time_once peer.stl assimp export "face$n.ply" peer.stl -fstlb)"$'\n'
            peer_bytes[$n]=$(stat -c %s peer.stl)
            rm -f peer.stl
        fi
        results[$n dd]+="$(time_once dd.out dd if=/dev/zero of=dd.out bs=1M \
            count="${out_bytes[$n face]}" iflag=count_bytes)"$'\n'
        rm -f dd.out
    done
done

# The median seconds and the largest peak of what results holds for key.
median_of() { printf '%s' "${results[$1]}" | awk 'NF {print $1}' | median; }
peak_of() { printf '%s' "${results[$1]}" | awk 'NF {print $2}' | sort -n | tail -1; }

printf '%-10s %-6s %10s %9s %10s %10s %9s\n' grid layout triangles seconds MB/s out_MB peak_KiB
declare -A face_seconds strip_seconds peer_seconds peer_kib dd_seconds
worst_kib=0
for n in $sizes; do
    triangles=$((2 * n * n))
    row() { # layout seconds bytes peak note
        printf '%-10s %-6s %10s %9s %10s %10.1f %9s   %s\n' "${n}x$n" "$1" "$triangles" "$2" \
            "$(awk -v b="$3" -v s="$2" 'BEGIN {printf "%.0f", b / s / 1e6}')" \
            "$(awk -v b="$3" 'BEGIN {print b / 1e6}')" "$4" "${5:-}"
    }
    for layout in face strip; do
        seconds=$(median_of "$n $layout")
        peak_kib=$(peak_of "$n $layout")
        [ "$peak_kib" -gt "$worst_kib" ] && worst_kib=$peak_kib
        row "$layout" "$seconds" "${out_bytes[$n $layout]}" "$peak_kib"
        if [ "$layout" = face ]; then face_seconds[$n]=$seconds; else strip_seconds[$n]=$seconds; fi
    done
    if [ "$peer_found" = 1 ]; then
        peer_seconds[$n]=$(median_of "$n peer")
        peer_kib[$n]=$(peak_of "$n peer")
        row peer "${peer_seconds[$n]}" "${peer_bytes[$n]}" "${peer_kib[$n]}" "assimp export -fstlb"
    fi
    dd_seconds[$n]=$(median_of "$n dd")
    row dd "${dd_seconds[$n]}" "${out_bytes[$n face]}" - "dd of the same bytes"
done

echo
echo "targets (medians of $repeat runs):"
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN {print (v <= limit) ? "met" : "NOT met"}'; }
if [ -n "${face_seconds[1000]:-}" ]; then
    if [ -n "${peer_seconds[1000]:-}" ]; then
        r=$(ratio "${face_seconds[1000]}" "${peer_seconds[1000]}")
        echo "  1000x1000 face, plyconv / peer:  $r (<= 1.0: $(verdict "$r" 1.0)); peer peak ${peer_kib[1000]} KiB"
    fi
    r=$(ratio "${face_seconds[1000]}" "${dd_seconds[1000]}")
    echo "  1000x1000 face, plyconv / dd:    $r (<= 3.0: $(verdict "$r" 3.0))"
fi
echo "  peak memory at every size:       $worst_kib KiB (<= 8192: $(verdict "$worst_kib" 8192))"
if [ -n "${face_seconds[2000]:-}" ] && [ -n "${face_seconds[1000]:-}" ]; then
    r=$(ratio "${face_seconds[2000]}" "${face_seconds[1000]}")
    echo "  2000x2000 / 1000x1000, face:     $r (<= 4.4: $(verdict "$r" 4.4))"
    r=$(ratio "${strip_seconds[2000]}" "${strip_seconds[1000]}")
    echo "  2000x2000 / 1000x1000, strip:    $r (<= 4.4: $(verdict "$r" 4.4))"
fi

number_bench=$build/bench/number_format_bench
if [ -x "$number_bench" ]; then
    echo
    echo "number texts, ours against snprintf (CPU time per run of 4096 values):"
    # Medians need at least two repetitions.
    "$number_bench" --benchmark_format=json --benchmark_repetitions=$((repeat < 3 ? 3 : repeat)) \
        --benchmark_report_aggregates_only=true 2>/dev/null |
        awk -F'"' '
            /"name":/ {name = $4}
            /"cpu_time":/ && name ~ /_median$/ {
                split(name, part, "/"); sub(/_median$/, "", part[2])
                gsub(/[^0-9.e+-]/, "", $3); t[part[1], part[2]] = $3; fields[part[1]] = 1
            }
            END {
                for (f in fields)
                    printf "  %-17s ours %9.0f ns, snprintf %9.0f ns: %.1f times faster\n",
                           f, t[f, "ours"], t[f, "snprintf"], t[f, "snprintf"] / t[f, "ours"]
            }'
fi
