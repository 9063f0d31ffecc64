#!/usr/bin/env bash
# Measures how large the token store grows over 100,000 learned messages,
# pruned and not.  Twenty "days" of 5,000 messages each: the corpus's
# messages in turn, each with a line of words added to its text, three
# new to the store (the names, codes and misspellings every message brings)
# and three from a vocabulary of 50,000 drawn as words are, a few often and
# most rarely, so that each is a message the store has not seen.  Between
# the days the store's days are moved back by one (as a day passing would
# leave them).  One store learns everything; the other is pruned with
# quillfnc -learn-prune 10 at the end of every day, so that it has reached
# its size within the run.  Prints the tokens and the file's size every
# five days.
#
# QF_CORPUS and QUILLFNC as for learn-quality.sh; QF_DAYS, QF_PER_DAY and
# QF_PRUNE_DAYS change the twenty days of 5,000 and the 10.
set -euo pipefail
source "$(dirname "$0")/corpus.sh"
qf_open_corpus learn-store-size
days=${QF_DAYS:-20}
perDay=${QF_PER_DAY:-5000}
pruneDays=${QF_PRUNE_DAYS:-10}

for store in whole pruned; do mkdir -p "$work/data-$store"; done
run() {
    local store=$1
    shift
    env XDG_DATA_HOME="$work/data-$store" QUILLFENCE_COMMON_ROOT="$work/data-$store/common" \
        XDG_RUNTIME_DIR="$work/data-$store" "$program" "$@"
}
tokens_db() { find "$work/data-$1" -name tokens.db | head -n 1; }

echo "token store over $((days * perDay)) learned messages ($perDay a day), pruned with -learn-prune $pruneDays every day or not:"
for ((day = 1; day <= days; day++)); do
    rm -rf "$work/day"
    python3 - "$mail" "$work/day" "$day" "$perDay" <<'PY'
import os, random, sys
mail, out, day, per_day = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
files = sorted(os.path.join(d, f) for d in (os.path.join(mail, x) for x in sorted(os.listdir(mail)))
               for f in sorted(os.listdir(d)))
rng = random.Random(day)
letters = "abcdefghijklmnopqrstuvwxyz"
def word(n):
    return "".join(letters[(n // 26 ** i) % 26] for i in range(6)) + "q"
for kind in ("spam", "ham"):
    os.makedirs(os.path.join(out, kind))
for i in range(per_day):
    number = (day - 1) * per_day + i
    source = files[number % len(files)]
    kind = "spam" if os.path.basename(os.path.dirname(source)).startswith("spam") else "ham"
    with open(source, "rb") as f:
        text = f.read()
    new = [word(10**6 + number * 3 + k) for k in range(3)]
    known = [word(int(rng.paretovariate(1.0)) % 50000) for _ in range(3)]
    with open(os.path.join(out, kind, "%d.eml" % number), "wb") as f:
        f.write(text.rstrip(b"\n") + b"\n" + " ".join(new + known).encode() + b"\n")
PY
    for store in whole pruned; do
        run "$store" -learn spam "$work/day/spam" >/dev/null
        run "$store" -learn ham "$work/day/ham" >/dev/null
    done
    run pruned -learn-prune "$pruneDays" >/dev/null
    for store in whole pruned; do
        db=$(tokens_db "$store")
        python3 - "$db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE tokens SET day = day - 1")
db.execute("UPDATE learned SET day = day - 1")
db.commit()
db.close()
PY
    done
    if ((day % 5 == 0)); then
        line="  after $((day * perDay)) messages:"
        for store in whole pruned; do
            db=$(tokens_db "$store")
            count=$(python3 -c 'import sqlite3, sys; print(sqlite3.connect(sys.argv[1]).execute("SELECT count(*) FROM tokens").fetchone()[0])' "$db")
            line="$line $store $count tokens, $(( $(stat -c %s "$db") / 1024 )) KB;"
        done
        echo "${line%;}"
    fi
done
