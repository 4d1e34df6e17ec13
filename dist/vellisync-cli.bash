# Bash completion for vellisync-cli: the commands, each command's options, the
# values of options that take one of a few words, and the captions of the
# stored projects (as 'vellisync-cli list' prints them). Needs nothing but
# bash itself; the bash-completion package only has to load it.

_vellisync_cli_run_options='--dry-run --explain --connections --max-delete --on-conflict --password-stdin --quiet
    --log-file --json --help'
_vellisync_cli_create_options='--server --port --user --password-stdin --passive --remote --local --mode
    --subfolders --exact --include --exclude --proxy --proxy-host --proxy-port --connections --on-conflict
    --listing-zone --encryption --trust-fingerprint --help'
_vellisync_cli_state_options='--forget --help'

# What the user typed of the current word, with shell escapes undone: the
# quote it opens ('' when none) and the text itself.
_vellisync_cli_typed() {
    local cur=$1
    _vellisync_cli_quote=
    if [[ $cur == [\"\']* ]]; then
        _vellisync_cli_quote=${cur:0:1}
        _vellisync_cli_text=${cur:1}
        return
    fi
    # "\\" is one backslash; any other backslash only escapes what follows.
    local text=${cur//\\\\/$'\001'}
    text=${text//\\/}
    _vellisync_cli_text=${text//$'\001'/\\}
}

# Adds each candidate that starts with the typed text (any letter case, as
# captions are matched) to COMPREPLY, escaped so that the shell reads it back
# as one word. Inside an opened quote it goes in as it is: readline has taken
# the quote off and closes it again.
_vellisync_cli_add() {
    local candidate lower_text=${_vellisync_cli_text,,}
    for candidate in "$@"; do
        [[ ${candidate,,} == "$lower_text"* ]] || continue
        if [[ -n $_vellisync_cli_quote ]]; then
            COMPREPLY+=("$candidate")
        else
            COMPREPLY+=("$(printf '%q' "$candidate")")
        fi
    done
}

# The captions of the stored projects, one a line. The program is the one
# being completed, so a build tree's runner lists its own projects folder.
_vellisync_cli_captions() {
    local program=$1 caption
    [[ $program == */* && -x $program ]] || program=vellisync-cli
    while IFS=$'\t' read -r caption _; do
        # Unreadable files are listed with the reason in place of a caption.
        [[ -n $caption && $caption != "(unreadable: "* ]] && printf '%s\n' "$caption"
    done < <("$program" list 2>/dev/null)
}

_vellisync_cli_files() { # [-d]: folders only
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    # shellcheck disable=SC2207 # one name a line
    COMPREPLY=($(compgen "${1:--f}" -- "$_vellisync_cli_text"))
}

_vellisync_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command=${COMP_WORDS[1]}
    COMPREPLY=()
    _vellisync_cli_typed "$cur"
    if ((COMP_CWORD == 1)); then
        _vellisync_cli_add run list create state --help --version
        return
    fi
    local choices=
    case $prev in
    --mode) choices='upload download both' ;;
    --on-conflict) [[ $command == run ]] && choices='keep-both skip local remote' || choices='keep-both skip' ;;
    --encryption) choices='none explicit require implicit' ;;
    --proxy) choices='ftp socks' ;;
    --log-file)
        _vellisync_cli_files -f
        return
        ;;
    --local)
        _vellisync_cli_files -d
        return
        ;;
    --connections | --max-delete | --server | --port | --user | --remote | --include | --exclude | \
        --proxy-host | --proxy-port | --listing-zone | --trust-fingerprint)
        return # a value of the user's own
        ;;
    esac
    if [[ -n $choices ]]; then
        # shellcheck disable=SC2086 # a list of plain words
        _vellisync_cli_add $choices
        return
    fi
    if [[ $cur == -* ]]; then
        local options=_vellisync_cli_${command}_options
        # shellcheck disable=SC2086
        [[ -v $options ]] && _vellisync_cli_add ${!options}
        return
    fi
    case $command in
    run | state)
        local -a captions
        mapfile -t captions < <(_vellisync_cli_captions "${COMP_WORDS[0]}")
        _vellisync_cli_add "${captions[@]}"
        # A project file, when no caption fits or a path is being typed.
        if ((${#COMPREPLY[@]} == 0)) || [[ $_vellisync_cli_text == */* ]]; then
            local -a files
            mapfile -t files < <(compgen -f -- "$_vellisync_cli_text")
            _vellisync_cli_add "${files[@]}"
        fi
        ;;
    esac
}

complete -F _vellisync_cli vellisync-cli
