# Shared by the scripts that build from Debian's source packages: where the
# results are cached (outside the work tree, so a new checkout, `git clean`
# and CI on the same machine reuse them), how source packages are fetched
# without touching the machine's own apt sources, and progress lines.
# Source this file; it defines functions and variables only.

ob_cache_dir="${OB_CACHE_DIR:-${XDG_CACHE_HOME:-${HOME:-/var/tmp}/.cache}/orbiel}"

ob_as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    else
        sudo -n "$@"
    fi
}

ob_started_at=$SECONDS
ob_progress() {  # ob_progress WHAT...: one line with the minutes since the start
    local s=$((SECONDS - ob_started_at))
    printf '%s [%d:%02d] %s\n' "${ob_progress_name:-build}" $((s / 60)) $((s % 60)) "$*"
}

# Runs a build step with its output in a log; on failure shows the log's end.
ob_step() {  # ob_step LOG WHAT COMMAND...
    local log="$1" what="$2"
    shift 2
    ob_progress "$what"
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "${ob_progress_name:-build}: $what failed (log: $log)" >&2
        return 1
    fi
}

# Installs Debian packages the build needs when they are missing.
ob_need_packages() {  # ob_need_packages PACKAGE...
    local missing=() p status
    for p in "$@"; do
        status="$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)"
        [[ "$status" == installed ]] || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    echo "${ob_progress_name:-build}: installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive ob_as_root apt-get update -q
    DEBIAN_FRONTEND=noninteractive ob_as_root apt-get install -y -q \
        --no-install-recommends "${missing[@]}" </dev/null
}

# apt with a private list of the same archive's source entries, so that
# `apt-get source` works without a deb-src line in the machine's own lists.
ob_source_apt_dir="$ob_cache_dir/apt-sources"
ob_source_apt() {  # ob_source_apt apt-get|apt-cache ARGS...
    local program="$1"
    shift
    "$program" -o Dir::Etc::SourceList="$ob_source_apt_dir/sources.list" \
        -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$ob_source_apt_dir/lists" \
        -o Dir::Cache="$ob_source_apt_dir/cache" "$@"
}

ob_source_lists() {  # makes the private lists once (again with --refresh)
    local list="$ob_source_apt_dir/sources.list"
    if [[ "${1:-}" != --refresh && -s "$list" && -n "$(ls -A "$ob_source_apt_dir/lists" 2>/dev/null)" ]]; then
        return 0
    fi
    mkdir -p "$ob_source_apt_dir/lists/partial" "$ob_source_apt_dir/cache/archives/partial"
    # Every archive the machine's own lists use, as source entries.
    {
        grep -hE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list 2>/dev/null |
            sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' || true
        local f
        for f in /etc/apt/sources.list.d/*.sources; do
            [[ -f "$f" ]] || continue
            awk '
                /^[[:space:]]*$/ { if (uri != "") for (i in s) print "deb-src " uri " " s[i] " " comp; uri = ""; delete s; n = 0; next }
                /^URIs:/ { uri = $2 }
                /^Suites:/ { for (i = 2; i <= NF; i++) s[i] = $i }
                /^Components:/ { comp = ""; for (i = 2; i <= NF; i++) comp = comp " " $i }
                END { if (uri != "") for (i in s) print "deb-src " uri " " s[i] " " comp }
            ' "$f"
        done
    } | sort -u >"$list"
    chmod -R a+rwX "$ob_source_apt_dir"
    ob_source_apt apt-get update -q >/dev/null
}

# Fetches and unpacks a Debian source package (with Debian's patches applied)
# into DIR; prints the directory of the unpacked tree. With VERSION, that
# version exactly: the one a cache key names (an archive may list an update
# whose files it does not carry).
ob_source_package() {  # ob_source_package NAME DIR [VERSION]
    local name="$1" dir="$2" wanted="$1${3:+=$3}"
    mkdir -p "$dir" && chmod 777 "$dir"
    ob_source_lists
    if ! (cd "$dir" && ob_source_apt apt-get source -q "$wanted" >"$dir/apt-source.log" 2>&1); then
        ob_source_lists --refresh
        (cd "$dir" && ob_source_apt apt-get source -q "$wanted" >"$dir/apt-source.log" 2>&1) || {
            cat "$dir/apt-source.log" >&2
            return 1
        }
    fi
    find "$dir" -mindepth 1 -maxdepth 1 -type d -name "$name-*" -print -quit
}

# The newest version the sources list: security updates included, for a
# library that reads what comes from anywhere.
ob_newest_source_version() {  # ob_newest_source_version NAME
    ob_source_lists
    local v newest=""
    for v in $(ob_source_apt apt-cache showsrc -q "$1" 2>/dev/null | awk '/^Version:/ { print $2 }'); do
        if [[ -z "$newest" ]] || dpkg --compare-versions "$v" gt "$newest"; then newest="$v"; fi
    done
    echo "$newest"
}

# The version `apt-get source NAME` would fetch.
ob_source_version() {  # ob_source_version NAME
    ob_source_lists
    ob_source_apt apt-cache showsrc -q "$1" 2>/dev/null | awk '/^Version:/ && !v { v = $2 } END { print v }'
}
