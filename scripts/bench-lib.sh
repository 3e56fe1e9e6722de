# Helpers for the benchmark scripts, sourced by them: paired runs of two commands under
# /usr/bin/time -v, and their medians. The machine may be shared, so each pair runs back to back
# and the figures to compare are the medians of the pairs' ratios, CPU time (user + system) first.
# Needs $work (a scratch folder) and $runs (pairs per comparison) set by the caller.

# Runs "$@" once under /usr/bin/time -v, its output thrown away; appends "name wall cpu rss_kb"
# to $work/times. Stops the script, showing the command's errors, when it fails.
bench_once() {
    local name=$1
    shift
    if ! /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr"; then
        echo "failed: $*" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
    awk -v n="$name" '
        /Elapsed \(wall clock\)/ {
            k = split($NF, t, ":"); w = 0
            for (i = 1; i <= k; i++) w = w * 60 + t[i]
        }
        /User time/ { u = $NF }
        /System time/ { s = $NF }
        /Maximum resident set size/ { m = $NF }
        END { printf "%s %.3f %.3f %d\n", n, w, u + s, m }' "$work/time.txt" >>"$work/times"
}

# bench_pair NAME_A "COMMAND A" NAME_B "COMMAND B": $runs pairs, A then B; the commands are
# evaluated, so they may use shell words and environment assignments. Each name is for one
# comparison only: bench_row pairs the runs of two names in order.
bench_pair() {
    local i
    for i in $(seq 1 "$runs"); do
        bench_once "$1" bash -c "$2"
        bench_once "$3" bash -c "$4"
    done
}

# The median of the numbers on standard input.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "nan"; exit }
        if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# bench_row LABEL NAME_A NAME_B AIM: medians of A's and B's wall time, CPU time and peak memory
# over their runs, and the medians of the pairs' ratios A / B.
bench_row() {
    local label=$1 a=$2 b=$3 aim=$4
    local col wa wb ca cb ma mb rw rc
    col() { awk -v n="$1" -v c="$2" '$1 == n { print $c }' "$work/times" | median; }
    wa=$(col "$a" 2); wb=$(col "$b" 2); ca=$(col "$a" 3); cb=$(col "$b" 3)
    ma=$(col "$a" 4); mb=$(col "$b" 4)
    ratios() {
        paste <(awk -v n="$a" '$1 == n { print $'"$1"' }' "$work/times") \
              <(awk -v n="$b" '$1 == n { print $'"$1"' }' "$work/times") |
            awk '{ if ($2 > 0) print $1 / $2 }' | median
    }
    rw=$(ratios 2); rc=$(ratios 3)
    printf '%-44s %7.3f %7.3f %6.3f   %7.3f %7.3f %6.3f   %7.1f %7.1f   %s\n' "$label" \
        "$wa" "$wb" "$rw" "$ca" "$cb" "$rc" "$(awk -v m="$ma" 'BEGIN { print m / 1024 }')" \
        "$(awk -v m="$mb" 'BEGIN { print m / 1024 }')" "$aim"
}

bench_header() {
    printf '%-44s %7s %7s %6s   %7s %7s %6s   %7s %7s   %s\n' "" "$1" "$2" "ratio" "$1" "$2" \
        "ratio" "$1" "$2" "aim"
    printf '%-44s %22s   %22s   %15s\n' "(medians of $runs pairs)" "--- wall s ---" \
        "--- cpu s ---" "-- peak MiB --"
}
