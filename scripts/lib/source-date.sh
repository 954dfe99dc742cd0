# The build stamp in the programs is the commit's time, not the clock's, so
# that one commit builds to the same bytes and SHA256SUMS says something.
# A SOURCE_DATE_EPOCH given by the caller stays; outside a git checkout CMake
# takes the time it configures.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]] &&
    ob_commit_time="$(git -C "$(dirname "${BASH_SOURCE[0]}")" log -1 --format=%ct 2>/dev/null)" &&
    [[ -n "$ob_commit_time" ]]; then
    export SOURCE_DATE_EPOCH="$ob_commit_time"
fi
