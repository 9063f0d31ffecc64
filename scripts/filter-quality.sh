#!/usr/bin/env bash
# Measures the shipped rules on the developers' mail corpus: rates every
# folder of the corpus with the built program (quillfnc -rate), each with a
# fresh data root, so that the program installs its shipped rules there as
# on a user's first run.  Prints per folder how many messages land in
# bands 3 to 5 and how fast they were rated:
#
#   spam-1: 441 of 500 in bands 3-5 (88.2 %), 1212 msgs/s
#
# and checks the goals by the kind of folder (the start of its name):
#   spam*      at least 85 % in bands 3 to 5
#   easy-ham*  at most 0.5 %
#   hard-ham*  at most 5 %
# A missed goal, or a rule the program could not compile, prints a line
# starting "GOAL MISSED" or "RULE ERROR" and makes the exit status 1.
#
# QF_CORPUS names the corpus (a .tar.gz, or a folder already unpacked);
# by default ../shared/corpus/dev-mail.tar.gz beside the repository.  A
# missing corpus is reported and measures nothing (exit status 0).
# QUILLFNC names the program (default build/bin/quillfnc).
set -euo pipefail
source "$(dirname "$0")/corpus.sh"
qf_open_corpus filter-quality

status=0
found=0
for folder in "$mail"/*/; do
    folder="${folder%/}"
    name="$(basename "$folder")"
    # A fresh data root: the first run copies the program's rules/ into it.
    data="$work/data-$name"
    mkdir -p "$data"
    summary=$(XDG_DATA_HOME="$data" QUILLFENCE_COMMON_ROOT="$data/common" XDG_RUNTIME_DIR="$data" \
        "$program" -rate "$folder" | tail -n 1)
    # "rated 500 messages in 0.41 s: band 1: 22; band 2: 37; band 3: 39; band 4: 49; band 5: 353;"
    if ! [[ "$summary" =~ ^rated\ ([0-9]+)\ messages\ in\ ([0-9.]+)\ s:.*band\ 3:\ ([0-9]+)\;\ band\ 4:\ ([0-9]+)\;\ band\ 5:\ ([0-9]+)\; ]]; then
        echo "filter-quality: $name: no summary from $program: $summary" >&2
        status=1
        continue
    fi
    found=1
    total=${BASH_REMATCH[1]}
    seconds=${BASH_REMATCH[2]}
    high=$((BASH_REMATCH[3] + BASH_REMATCH[4] + BASH_REMATCH[5]))
    # One decimal, two below 1 %: a single message of 2,500 shows.
    read -r share speed < <(awk -v h="$high" -v n="$total" -v s="$seconds" 'BEGIN {
        p = n ? 100 * h / n : 0
        printf (p > 0 && p < 1 ? "%.2f" : "%.1f"), p
        printf " %d\n", (s > 0 ? n / s : n / 0.005) }')
    echo "$name: $high of $total in bands 3-5 ($share %), $speed msgs/s"

    # The goals in whole numbers: high / total against a share in percent.
    case "$name" in
        spam*) goal="at least 85"; ok=$((high * 100 >= 85 * total)) ;;
        easy-ham*) goal="at most 0.5"; ok=$((high * 1000 <= 5 * total)) ;;
        hard-ham*) goal="at most 5"; ok=$((high * 100 <= 5 * total)) ;;
        *) goal=""; ok=1 ;;
    esac
    if [ "$ok" != 1 ]; then
        echo "GOAL MISSED: $name: $share % in bands 3-5, the goal is $goal %"
        status=1
    fi

    # The event log of a rating run holds errors only: a rule that did not
    # compile, or that failed while it ran.  Any program folder under any
    # company folder of the data root: a renamed one is still read.
    for log in "$data"/*/*/log/*.log; do
        [ -e "$log" ] || continue
        while IFS= read -r line; do
            echo "RULE ERROR: $name: $line"
            status=1
        done <"$log"
    done
done

if [ "$found" = 0 ]; then
    echo "filter-quality: no mail folders in $corpus" >&2
    exit 1
fi
exit $status
