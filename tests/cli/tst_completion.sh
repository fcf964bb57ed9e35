#!/usr/bin/env bash
# Sources the built completion ($1) and completes the last word of each line, split as bash splits it.
set -u && source "$1" && failed=0
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT && mkdir "$dir/shots" "$dir/shelf" && touch "$dir/sheet"
check() { # LINE EXPECTED...: the completions, in any order
    read -ra COMP_WORDS <<<"${1//=/ = }"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _pictavo; shift
    local got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs) want=$(printf '%s\n' "$@" | sort | xargs)
    [[ $got == "$want" ]] || { echo "FAIL: '${COMP_WORDS[*]}': got '$got', want '$want'" && failed=1; }
}
check 'pictavo --set Threads' ThreadsCount=
check "pictavo --folder $dir/sh" "$dir/shelf" "$dir/shots"
check "pictavo --folder $dir --set ThreadsCount=8 run --s" --skip-existing
check "pictavo report --dead $dir/she" "$dir/sheet" "$dir/shelf"
check 'pictavo setup --url u --p' --password-in-settings
check 'pictavo report --' --dead --moved --parked --blank --errors --changed --back --failing --help
exit $failed
