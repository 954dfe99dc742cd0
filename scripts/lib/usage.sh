# Arguments as every script takes them: -h/--help prints the usage on
# standard output and ends with 0; anything the script does not know ends with
# a usage error (standard error, status 2). Both happen before any work, so a
# mistyped option never sets off a download or a build.
# Source this file after setting `usage` to the script's usage text.

ob_help() {
    printf '%s\n' "$usage"
    exit 0
}

ob_usage_error() {  # ob_usage_error WHY
    echo "${0##*/}: $1" >&2
    printf '%s\n' "$usage" >&2
    exit 2
}

# For a script that takes no arguments at all.
ob_no_arguments() {  # ob_no_arguments "$@"
    case "${1-}" in -h | --help) ob_help ;; esac
    (($# == 0)) || ob_usage_error "unknown argument: $1"
}

# For the usual shape: -h/--help, else at most one of the given options.
ob_one_option() {  # ob_one_option "OPTION..." "$@"
    local options=" $1 "
    shift
    case "${1-}" in -h | --help) ob_help ;; esac
    (($# <= 1)) || ob_usage_error "too many arguments: $*"
    [[ $# -eq 0 || "$options" == *" $1 "* ]] || ob_usage_error "unknown argument: $1"
}
