#!/usr/bin/env bash
# scripts/apt-sources fed apt sources in each form a Debian machine may keep
# them in, under a stand-in root; the output must be what mmdebstrap is given.
set -uo pipefail
script="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/apt-sources"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0

# expect <name> <root> <expected output>: the script must succeed with exactly it.
expect() {
    local output
    if ! output="$("$script" "$2" 2>&1)"; then
        echo "FAIL $1: status non-zero: $output"
        failures=$((failures + 1))
    elif [ "$output" != "$3" ]; then
        echo "FAIL $1"
        diff <(printf '%s\n' "$3") <(printf '%s\n' "$output") | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "ok   $1"
    fi
}

# refuse <name> <root> <part of the message>
refuse() {
    local output
    if output="$("$script" "$2" 2>&1)"; then
        echo "FAIL $1: succeeded with: $output"
        failures=$((failures + 1))
    elif [[ $output != *"$3"* ]]; then
        echo "FAIL $1: message was: $output"
        failures=$((failures + 1))
    else
        echo "ok   $1"
    fi
}

new_root() {
    mkdir -p "$scratch/$1/etc/apt/sources.list.d"
    echo "$scratch/$1"
}

# The classic file, as debian-installer writes it: comments, source lines, an
# option list and another release's line among the ones that count.
root="$(new_root classic)"
cat >"$root/etc/apt/sources.list" <<'EOF'
# deb cdrom:[Debian GNU/Linux 12 _Bookworm_]/ bookworm main

deb http://deb.debian.org/debian/ bookworm main non-free-firmware
deb-src http://deb.debian.org/debian/ bookworm main non-free-firmware
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://security.debian.org/debian-security bookworm-security main # security
deb http://deb.debian.org/debian/ trixie main
	deb   http://deb.debian.org/debian/   bookworm-updates   main   contrib
EOF
expect "one-line sources.list" "$root" \
    "deb http://deb.debian.org/debian/ bookworm main non-free-firmware
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://security.debian.org/debian-security bookworm-security main
deb http://deb.debian.org/debian/ bookworm-updates main contrib"

# One-line files under sources.list.d; a file apt does not read is not read.
root="$(new_root list-d)"
echo "deb http://mirror.example/debian bookworm main" >"$root/etc/apt/sources.list.d/mirror.list"
echo "deb https://vendor.example/apt cloud-sdk-bookworm main" >"$root/etc/apt/sources.list.d/vendor.list"
echo "deb http://old.example/debian bookworm main" >"$root/etc/apt/sources.list.d/old.list.disabled"
expect "one-line *.list" "$root" "deb http://mirror.example/debian bookworm main"

# deb822 stanzas: several suites and URIs, a disabled one, sources only, a key
# given inline, a vendor's suite, and a last stanza with no newline at its end.
root="$(new_root deb822)"
cat >"$root/etc/apt/sources.list.d/debian.sources" <<'EOF'
Types: deb
# http://snapshot.debian.org/archive/debian/20250520T000000Z
URIs: http://deb.debian.org/debian http://ftp.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://disabled.example/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main

types: deb deb-src
uris: http://deb.debian.org/debian-security
suites: bookworm-security
components: main
 contrib
signed-by:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR8lsD3K87ZM18gzyQZJD+w
 -----END PGP PUBLIC KEY BLOCK-----
EOF
printf 'Types: deb\nURIs: https://vendor.example/node\nSuites: nodistro\nComponents: main\nArchitectures: amd64 arm64' \
    >"$root/etc/apt/sources.list.d/vendor.sources"
expect "deb822 *.sources" "$root" \
    "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://ftp.example/debian bookworm main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://ftp.example/debian bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main contrib"

# Every form at once, the way a machine upgraded over the years may have them.
root="$(new_root mixed)"
cp "$scratch/classic/etc/apt/sources.list" "$root/etc/apt/"
cp "$scratch/list-d/etc/apt/sources.list.d/"* "$scratch/deb822/etc/apt/sources.list.d/"* \
    "$root/etc/apt/sources.list.d/"
printf 'Types: deb\nURIs: http://arm.example/debian\nSuites: bookworm\nComponents: main\nArchitectures: arm64, armhf\n' \
    >"$root/etc/apt/sources.list.d/ports.sources"
output="$("$script" "$root" 2>&1)"
if [ "$(wc -l <<<"$output")" -eq 10 ] &&
    grep -qxF "deb [arch=arm64,armhf] http://arm.example/debian bookworm main" <<<"$output"; then
    echo "ok   all forms together"
else
    echo "FAIL all forms together: $output"
    failures=$((failures + 1))
fi

refuse "no sources at all" "$(new_root empty)" "no apt sources under"
root="$(new_root elsewhere)"
echo "deb http://deb.debian.org/debian trixie main" >"$root/etc/apt/sources.list"
refuse "sources of another release only" "$root" "no entry for bookworm"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "all passed"
