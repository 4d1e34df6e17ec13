#!/usr/bin/env bash
# The bash completion of vellisync-cli, called as bash calls it (COMP_WORDS,
# COMP_CWORD in, COMPREPLY out), against a home of its own holding two stored
# projects, one with a blank in its caption, and a project file.
#   bash_completion_test.sh COMPLETION CLI_DIR
set -uo pipefail
completion=$1
export PATH="$2:$PATH"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home LC_ALL=C.UTF-8
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CONFIG_HOME
mkdir -p "$home/site" "$home/work"
for caption in "Nightly mirror" Deploy; do
    vellisync-cli create "$caption" --local "$home/site" --remote /htdocs >/dev/null || exit 1
done
touch "$home/work/my site.VSPJ"
cd "$home/work" || exit 1

# shellcheck source=/dev/null
source "$completion"

failures=0
# expect "REPLIES" WORD...: the sorted replies, joined by '|', when the last
# word is the one being completed.
expect() {
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _vellisync_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: $* -> '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

expect '--help|--version|create|list|run|state' vellisync-cli ''
expect 'run' vellisync-cli r
# Captions, escaped so that the shell reads each back as one word.
expect 'Deploy|Nightly\ mirror' vellisync-cli run ''
expect 'Nightly\ mirror' vellisync-cli run Ni
expect 'Nightly\ mirror' vellisync-cli run night
expect 'Nightly\ mirror' vellisync-cli run 'Nightly\ m'
expect 'Deploy' vellisync-cli run --dry-run --quiet de
expect 'Deploy' vellisync-cli state --forget De
# In an opened quote readline takes the quote off and closes it: no escapes.
expect 'Nightly mirror' vellisync-cli run '"Nightly m'
expect 'Nightly mirror' vellisync-cli state "'Nig"
# A project file when no caption fits.
expect './my\ site.VSPJ' vellisync-cli run ./my
# Each command's options, and the values of options that take a word.
expect '--dry-run' vellisync-cli run --d
expect '--forget|--help' vellisync-cli state --
expect '' vellisync-cli list --
expect '--mode' vellisync-cli create X --mo
expect 'both|download|upload' vellisync-cli create X --mode ''
expect 'keep-both|local|remote|skip' vellisync-cli run --on-conflict ''
expect 'keep-both|skip' vellisync-cli create X --on-conflict ''
expect 'explicit' vellisync-cli create X --encryption ex
expect '' vellisync-cli create X --server ''

((failures == 0)) && echo "bash completion: all cases passed"
exit $((failures > 0))
