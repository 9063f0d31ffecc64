# Sourced by the corpus measurements (filter-quality.sh, learn-quality.sh):
# qf_open_corpus NAME finds the corpus and the program and unpacks the
# corpus.  It sets root, program, work (a temporary folder, removed on exit),
# mail (the folder holding the corpus's folders) and corpus.  A missing corpus is
# reported and ends the script with status 0; a missing program with 1.
#
# QF_CORPUS names the corpus (a .tar.gz, or a folder already unpacked); by
# default ../shared/corpus/dev-mail.tar.gz beside the repository.  QUILLFNC
# names the program (default build/bin/quillfnc).
qf_open_corpus() {
    local name=$1
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    corpus="${QF_CORPUS:-$root/../shared/corpus/dev-mail.tar.gz}"
    program="${QUILLFNC:-$root/build/bin/quillfnc}"
    if [ ! -e "$corpus" ]; then
        echo "$name: no corpus at $corpus; nothing measured"
        exit 0
    fi
    if [ ! -x "$program" ]; then
        echo "$name: no program at $program (build first)" >&2
        exit 1
    fi
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    if [ -d "$corpus" ]; then
        mail="$corpus"
    else
        mkdir "$work/mail"
        tar -xzf "$corpus" -C "$work/mail"
        mail="$work/mail"
    fi
}
