# Sourced by the scripts that fetch Debian packages into a cache folder without installing them
# into this machine. The archive's address is the one this machine's apt already uses, so no
# host name is written here; only the suite, the architecture and the package names are ours.

# Prints the address of the machine's main Debian archive (the entry whose suite has no suffix
# such as -updates or -security).
debian_archive() {
    local uri
    uri=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' | awk '$2 !~ /-/ {print $1; exit}')
    if [ -z "$uri" ]; then
        echo "apt names no Debian archive on this machine (apt-get indextargets is empty)" >&2
        return 1
    fi
    echo "$uri"
}

# debian_apt_state STATE SUITE TYPES [ARCH]: a private apt state folder for SUITE (TYPES is
# "deb", "deb-src" or both) and, with ARCH, that architecture alone, with an empty list of
# installed packages so that a download fetches a package's whole closure. Sets the array
# apt_opts for `apt-get "${apt_opts[@]}" ...`; nothing outside STATE is read or written.
debian_apt_state() {
    local state=$1 suite=$2 types=$3 arch=${4:-} archive
    archive=$(debian_archive) || return 1
    mkdir -p "$state/lists/partial" "$state/archives/partial"
    : >"$state/status"
    cat >"$state/$suite.sources" <<SOURCES
Types: $types
URIs: $archive
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt_opts=(-o "Dir::Etc::sourcelist=$state/$suite.sources" -o "Dir::Etc::sourceparts=-"
        -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=$state/status"
        -o "Dir::Cache::archives=$state/archives" -o "Debug::NoLocking=1"
        -o "APT::Sandbox::User=root")
    if [ -n "$arch" ]; then
        apt_opts+=(-o "APT::Architecture=$arch" -o "APT::Architectures::=$arch")
    fi
}
