#!/usr/bin/env bash
# The shell completions: both parse, both offer exactly the long options --help lists, and the
# bash one completes option values, folders and files as a Tab would.
# Usage: completion_test.sh WENDREL_BATCH COMPLETIONS_DIR
set -uo pipefail
batch=$1 dir=$2 failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

bash -n "$dir/wendrel-batch.bash" || fail "bash -n"
help_options=$("$batch" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
if command -v zsh >/dev/null; then
    zsh -n "$dir/_wendrel-batch" || fail "zsh -n"
    zsh_options=$(grep -oE -- "--[a-z][a-z-]*(=|\[|})" "$dir/_wendrel-batch" | tr -d '=[}' | sort -u)
    [ "$zsh_options" = "$help_options" ] ||
        fail "zsh options differ from --help: $(comm -3 <(echo "$zsh_options") <(echo "$help_options") | xargs)"
else
    echo "zsh is not installed: its completion is not checked (scripts/deps installs zsh)"
fi

# shellcheck source=/dev/null
source "$dir/wendrel-batch.bash"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir sub && touch a.txt -- -x
# Completes the words after wendrel-batch, the last being the one under the cursor.
offers() {
    COMP_WORDS=(wendrel-batch "$@")
    COMP_CWORD=$#
    _wendrel_batch
    printf '%s\n' "${COMPREPLY[@]}" | sort | xargs
}
bash_options=$(offers -- | tr ' ' '\n' | grep -- '^--.' | sort -u)
[ "$bash_options" = "$help_options" ] ||
    fail "bash options differ from --help: $(comm -3 <(echo "$bash_options") <(echo "$help_options") | xargs)"
while IFS='|' read -r words want; do
    read -ra args <<<"$words"
    [ "$words" != "${words% }" ] && args+=("") # a trailing space: a new, empty word
    got=$(offers "${args[@]}")
    [ "$got" = "$want" ] || fail "[$words]: offered '$got', expected '$want'"
done <<'ROWS'
--color |always auto never
--color = al|always
--encoding = BY|bytes
--rules-encoding utf-1|UTF-16 UTF-16BE UTF-16LE
--whole|--whole-word
--change |-x a.txt sub
--dir |sub
foo bar a|a.txt
-- -|-x
-wi -- |-x a.txt sub
ROWS
exit "$failed"
