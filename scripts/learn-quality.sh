#!/usr/bin/env bash
# Measures the learning classifier on the developers' mail corpus with a
# two-fold cross-validation: every folder is cut in two halves (alternate
# files in name order); the program learns the spam folders' first halves
# as spam and the other folders' first halves as ham (quillfnc -learn), in a
# fresh data root, and rates the second halves with SPAMPROBABILITY()
# (quillfnc -probability); then the halves swap.  Prints per folder how many
# messages reached the threshold the shipped rule "Learned from your mail"
# marks at (read from data/rules/system.sfr), and how fast learning and
# rating went:
#
#   spam-1: 489 of 500 at 90 or more (97.8 %; fold 1: 245 of 250, fold 2: 244 of 250)
#   learning: 3250 messages in 0.92 s, 3533 msgs/s; rating: 3250 in 0.80 s, 4062 msgs/s
#
# With bogofilter installed, it learns and rates the same halves in the same
# run (bulk mode, -B) and its figures follow ours: its own Spam verdict,
# and how many reached a spamicity of our threshold.
# Goals by the kind of folder (the start of its name):
#   spam*      at least 97 % at the threshold
#   easy-ham*  at most 0.3 %
#   hard-ham*  at most 3 %
# A missed goal prints a line starting "GOAL MISSED" and makes the exit
# status 1.  Speeds are printed, never checked: they depend on the machine.
#
# QF_CORPUS names the corpus (a .tar.gz, or a folder already unpacked); by
# default ../shared/corpus/dev-mail.tar.gz beside the repository.  A missing
# corpus is reported and measures nothing (exit status 0).  QUILLFNC names
# the program (default build/bin/quillfnc).
set -euo pipefail
source "$(dirname "$0")/corpus.sh"
qf_open_corpus learn-quality
# The probability from which the shipped rule alone makes a message spam.
threshold=$(sed -n 's/^if probability < \([0-9][0-9]*\) then return.*/\1/p' "$root/data/rules/system.sfr" | head -n 1)
if [ -z "$threshold" ]; then
    echo "learn-quality: no threshold in the rule \"Learned from your mail\" of data/rules/system.sfr" >&2
    exit 1
fi

# The halves: links to the corpus files, in $work/half1/<folder> and
# $work/half2/<folder>.
folders=()
for folder in "$mail"/*/; do
    folder="${folder%/}"
    name="$(basename "$folder")"
    folders+=("$name")
    mkdir -p "$work/half1/$name" "$work/half2/$name"
    i=0
    while IFS= read -r file; do
        half=$((i % 2 + 1))
        ln -s "$file" "$work/half$half/$name/"
        i=$((i + 1))
    done < <(find "$folder" -maxdepth 1 -type f | sort)
done
if [ "${#folders[@]}" = 0 ]; then
    echo "learn-quality: no mail folders in $corpus" >&2
    exit 1
fi

now() { date +%s.%N; }
# Adds a duration to a running total.
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }

declare -A ours theirs theirsAt count perFold
learned=0; learnSeconds=0; rated=0; rateSeconds=0
bogoLearnSeconds=0; bogoRateSeconds=0
havebogo=0
command -v bogofilter >/dev/null && havebogo=1

for fold in 1 2; do
    train="$work/half$fold"
    test="$work/half$((3 - fold))"
    data="$work/data$fold"
    mkdir -p "$data"
    spamPaths=(); hamPaths=()
    for name in "${folders[@]}"; do
        case "$name" in
            spam*) spamPaths+=("$train/$name") ;;
            *) hamPaths+=("$train/$name") ;;
        esac
    done
    env=(XDG_DATA_HOME="$data" QUILLFENCE_COMMON_ROOT="$data/common" XDG_RUNTIME_DIR="$data")
    for kind in spam ham; do
        if [ "$kind" = spam ]; then paths=("${spamPaths[@]}"); else paths=("${hamPaths[@]}"); fi
        [ "${#paths[@]}" = 0 ] && continue
        start=$(now)
        line=$(env "${env[@]}" "$program" -learn "$kind" "${paths[@]}" | head -n 1)
        learnSeconds=$(add "$learnSeconds" "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')")
        # "learned 250 messages in 0.08 s (3119 msgs/s): ..."
        if ! [[ "$line" =~ ^learned\ ([0-9]+)\ messages\ in\ ([0-9.]+)\ s ]]; then
            echo "learn-quality: no summary from $program -learn: $line" >&2
            exit 1
        fi
        learned=$((learned + BASH_REMATCH[1]))
    done
    for name in "${folders[@]}"; do
        out="$work/rated-$fold-$name"
        start=$(now)
        env "${env[@]}" "$program" -probability "$test/$name" >"$out"
        rateSeconds=$(add "$rateSeconds" "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')")
        summary=$(tail -n 1 "$out")
        if ! [[ "$summary" =~ ^rated\ ([0-9]+)\ messages\ in\ ([0-9.]+)\ s ]]; then
            echo "learn-quality: no summary from $program -probability: $summary" >&2
            exit 1
        fi
        rated=$((rated + BASH_REMATCH[1]))
        hits=$(awk -F'\t' -v t="$threshold" 'NF == 2 && $2 + 0 >= t { n++ } END { print n + 0 }' "$out")
        ours[$name]=$(( ${ours[$name]:-0} + hits ))
        perFold[$name]="${perFold[$name]:-}${perFold[$name]:+, }fold $fold: $hits of ${BASH_REMATCH[1]}"
        count[$name]=$(( ${count[$name]:-0} + BASH_REMATCH[1] ))
    done

    if [ "$havebogo" = 1 ]; then
        bogo="$work/bogo$fold"
        mkdir -p "$bogo"
        start=$(now)
        for path in "${spamPaths[@]}"; do
            find "$path" -mindepth 1 -maxdepth 1 -print0 | sort -z | xargs -0 bogofilter -d "$bogo" -s -B
        done
        for path in "${hamPaths[@]}"; do
            find "$path" -mindepth 1 -maxdepth 1 -print0 | sort -z | xargs -0 bogofilter -d "$bogo" -n -B
        done
        bogoLearnSeconds=$(add "$bogoLearnSeconds" "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')")
        for name in "${folders[@]}"; do
            out="$work/bogo-$fold-$name"
            start=$(now)
            find "$test/$name" -mindepth 1 -maxdepth 1 -print0 | sort -z |
                xargs -0 bogofilter -d "$bogo" -v -B >"$out" || true
            bogoRateSeconds=$(add "$bogoRateSeconds" "$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')")
            hits=$(grep -c 'X-Bogosity: Spam' "$out" || true)
            theirs[$name]=$(( ${theirs[$name]:-0} + hits ))
            # Its spamicity at our threshold, for a like-for-like figure.
            hits=$(sed -n 's/.*spamicity=\([0-9.]*\).*/\1/p' "$out" |
                awk -v t="$threshold" '$1 * 100 >= t { n++ } END { print n + 0 }')
            theirsAt[$name]=$(( ${theirsAt[$name]:-0} + hits ))
        done
    fi
done

share() { awk -v h="$1" -v n="$2" 'BEGIN { p = n ? 100 * h / n : 0; printf (p > 0 && p < 1 ? "%.2f" : "%.1f"), p }'; }
speed() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%d", (s > 0 ? n / s : 0) }'; }

status=0
echo "two-fold cross-validation, marked at SPAMPROBABILITY() >= $threshold:"
for name in "${folders[@]}"; do
    n=${count[$name]}
    h=${ours[$name]}
    line="  $name: $h of $n at $threshold or more ($(share "$h" "$n") %; ${perFold[$name]})"
    if [ "$havebogo" = 1 ]; then
        line="$line; bogofilter: ${theirs[$name]} Spam ($(share "${theirs[$name]}" "$n") %),"
        line="$line ${theirsAt[$name]} at spamicity $threshold % or more ($(share "${theirsAt[$name]}" "$n") %)"
    fi
    echo "$line"
    case "$name" in
        spam*) goal="at least 97"; ok=$((h * 100 >= 97 * n)) ;;
        easy-ham*) goal="at most 0.3"; ok=$((h * 1000 <= 3 * n)) ;;
        hard-ham*) goal="at most 3"; ok=$((h * 100 <= 3 * n)) ;;
        *) goal=""; ok=1 ;;
    esac
    if [ "$ok" != 1 ]; then
        echo "GOAL MISSED: $name: $(share "$h" "$n") % at the threshold, the goal is $goal %"
        status=1
    fi
done
echo "  learning: $learned messages in $learnSeconds s, $(speed "$learned" "$learnSeconds") msgs/s;" \
    "rating: $rated in $rateSeconds s, $(speed "$rated" "$rateSeconds") msgs/s"
if [ "$havebogo" = 1 ]; then
    echo "  bogofilter -B: learning $learned messages in $bogoLearnSeconds s," \
        "$(speed "$learned" "$bogoLearnSeconds") msgs/s; rating $rated in $bogoRateSeconds s," \
        "$(speed "$rated" "$bogoRateSeconds") msgs/s"
else
    echo "  (bogofilter is not installed: no comparison)"
fi
exit $status
