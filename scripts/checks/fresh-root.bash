# shellcheck shell=bash disable=SC2154 # root, out and logs are scripts/check's
# A fresh machine, as a new user meets it: the run's clean root unpacked, a
# clone of HEAD in it, and there the README's commands. Needs root (chroot
# and mounts); every mount is undone when the step ends, and the root deleted
# unless a later step goes on in it. Sourced by scripts/check.

fresh_clean_env=(env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
    LANG=C.UTF-8 TERM=xterm)

fresh_mounts() {
    awk -v prefix="$fresh/" '$5 == substr(prefix, 1, length(prefix) - 1) || index($5, prefix) == 1 { print $5 }' \
        /proc/self/mountinfo | sort -r
}

fresh_cleanup() {
    local pid mount
    # Whatever still runs in the root was started by this check.
    for pid in /proc/[0-9]*; do
        [ "$(readlink "$pid/root" 2>/dev/null)" != "$fresh" ] || kill -KILL "${pid#/proc/}" 2>/dev/null
    done
    for mount in $(fresh_mounts); do
        umount -l "$mount" || true
    done
    # Never delete through a mount that is still there: it could be the host's /dev.
    if [ -n "$(fresh_mounts)" ]; then
        echo "fresh root: mounts left under $fresh, not deleting it" >&2
    elif [ -z "$fresh_keep" ]; then
        rm -rf --one-file-system "$fresh"
    fi
}

# fresh_root ARCH [keep | again]: unpacks the run's root of that architecture
# into $fresh, with a clone of HEAD in /src/camwatch, and mounts /proc, /sys,
# /dev and a roomy /tmp. With keep the root stays when the step ends; with
# again the step goes on in the root an earlier one kept.
fresh_root() {
    fresh="$out/fresh-$1" fresh_keep=
    [ "${2:-}" != keep ] || fresh_keep=1
    trap fresh_cleanup EXIT
    if [ "${2:-}" = again ]; then
        [ -d "$fresh/src/camwatch" ] || { echo "no root kept in $fresh"; return 1; }
    else
        fresh_unpack "$1" || return 1
    fi
    mount -t proc proc "$fresh/proc"
    mount --rbind /sys "$fresh/sys" && mount --make-rslave "$fresh/sys"
    mount --rbind /dev "$fresh/dev" && mount --make-rslave "$fresh/dev"
    mount -t tmpfs -o mode=1777,size=4g tmpfs "$fresh/tmp"
    echo "fresh root: $1, $(git -C "$root" log -1 --format='%h %s')"
}

fresh_unpack() {
    rm -rf --one-file-system "$fresh"
    mkdir -p "$fresh"
    tar -C "$fresh" -xzf "$(root_tarball "$1")" || return 1
    # As an installed machine has it; sudo looks its own name up.
    printf '127.0.1.1\t%s\n' "$(hostname)" >>"$fresh/etc/hosts"
    # Packages this machine has fetched are linked into the root's apt cache
    # rather than fetched again; apt takes a cached file only when its
    # checksum is the one in the index.
    find /var/cache/apt/archives -maxdepth 1 -name '*.deb' \
        -exec cp -l -n -t "$fresh/var/cache/apt/archives" {} + 2>/dev/null
    fresh_clone /src/camwatch
}

fresh_clone() {
    git clone --quiet --no-hardlinks "$root" "$fresh$1"
}

as_root() {
    chroot "$fresh" "${fresh_clean_env[@]}" HOME=/root "$@"
}

# user_command USER: sets fresh_user to the command prefix that runs as that
# user in the root; ids are numbers so the host's user list plays no part.
user_command() {
    local ids
    ids="$(as_root id -u "$1"):$(as_root id -g "$1")"
    fresh_user=(chroot --userspec="$ids" "$fresh" "${fresh_clean_env[@]}" HOME="/home/$1" USER="$1")
}

# until_key PATTERN COMMAND...: runs the command in a terminal, presses a key
# once a line matches and expects a clean exit soon after.
until_key() {
    local pattern="$1"
    shift
    python3 "$root/tests/lib/launcher.py" --until "$pattern" -- "$@"
}

# The most a newcomer's first command, scripts/demo, may install on a fresh root.
demo_most_packages=80
demo_most_megabytes=360

installed_figures() {
    as_root dpkg-query -W -f="\${Installed-Size}\n" | awk '{ kb += $1 } END { print NR, int(kb / 1024) }'
}

# step_fresh-root-amd64: on a fresh amd64 root: scripts/setup as a user
# without sudo names what to install; scripts/demo as a user with sudo, in a
# terminal, ended by one key; the amd64 packages installed with apt-get where
# the camera library is missing, camwatch-vcam first and alone, and
# camwatch-vcam run by a user
step_fresh-root-amd64() {
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -o APT::Color=0)
    local user message before after deb vcam_deb status
    fresh_root amd64 || return 1
    for user in newcomer helper; do
        as_root useradd --create-home "$user"
        fresh_clone "/home/$user/camwatch"
        as_root chown -R "$user:$user" "/home/$user/camwatch"
    done

    echo "--- scripts/setup as a user without sudo"
    user_command newcomer
    if message="$("${fresh_user[@]}" sh -c 'cd ~/camwatch && scripts/setup' </dev/null 2>&1)"; then
        echo "scripts/setup succeeded without root or sudo"
        return 1
    fi
    echo "$message"
    grep -qE 'apt-get (install|satisfy)' <<<"$message" || { echo "no list of packages to install"; return 1; }

    echo "--- scripts/demo as a user with sudo, in a terminal, ended by one key"
    as_root "${apt[@]}" update -qq && as_root "${apt[@]}" install -y --no-install-recommends -qq sudo >/dev/null
    as_root sh -c 'printf "helper ALL=(ALL) NOPASSWD: ALL\n" >/etc/sudoers.d/helper && chmod 0440 /etc/sudoers.d/helper'
    user_command helper
    local megabytes_before megabytes_after
    read -r before megabytes_before <<<"$(installed_figures)"
    until_key '^\[[0-9]{8,}\] Depth middle index' \
        "${fresh_user[@]}" sh -c 'cd ~/camwatch && scripts/demo' || return 1
    read -r after megabytes_after <<<"$(installed_figures)"
    local packages=$((after - before)) megabytes=$((megabytes_after - megabytes_before))
    echo "figure: the demo installed $packages packages, $megabytes MB"
    # What building and running camwatch needs, without the Debian package's
    # tools (debhelper and what it brings: 109 packages and 380 MB).
    if [ "$packages" -gt "$demo_most_packages" ] || [ "$megabytes" -gt "$demo_most_megabytes" ]; then
        echo "the demo installed more than $demo_most_packages packages or $demo_most_megabytes MB"
        return 1
    fi

    deb="$out/package-amd64/camwatch_${version}_amd64.deb"
    vcam_deb="$out/package-amd64/camwatch-vcam_${version}_amd64.deb"
    echo "--- apt-get install of camwatch-vcam alone, without the camera library"
    cp "$deb" "$vcam_deb" "$fresh/src/" || return 1
    as_root "${apt[@]}" purge -y libopenni2-0 >/dev/null
    as_root "${apt[@]}" install -y "/src/$(basename "$vcam_deb")" | tee "$fresh/install.log"
    grep -q '^Setting up libopenni2-0' "$fresh/install.log" || { echo "the library was not pulled in"; return 1; }

    echo "--- camwatch-vcam as a user, without camwatch"
    status=0
    message="$("${fresh_user[@]}" camwatch-vcam </dev/null 2>&1)" || status=$?
    echo "$message (status $status)"
    if [ "$status" -ne 127 ] || ! grep -q 'camwatch is not installed' <<<"$message"; then
        echo "camwatch-vcam did not say camwatch is missing"
        return 1
    fi

    echo "--- apt-get install of camwatch"
    as_root "${apt[@]}" install -y "/src/$(basename "$deb")" || return 1

    echo "--- camwatch-vcam as a user, ended by one key"
    until_key '^\[[0-9]{8,}\] Color RGB value' "${fresh_user[@]}" camwatch-vcam
}

# step_fresh-root-arm64: on a fresh arm64 root, emulated, root types the
# README's first command, scripts/demo, ended by one key; then what the second
# one installs and builds, kept for fresh-root-arm64-test
step_fresh-root-arm64() {
    fresh_root arm64 keep || return 1
    # sudo does not work under the emulator: without the open-binary flag that
    # the set-up leaves out, the kernel runs a set-user-ID program with its
    # caller's ids. So root types them.
    echo "--- scripts/demo as root in a terminal, ended by one key"
    until_key '^\[[0-9]{8,}\] Depth middle index' \
        chroot "$fresh" "${fresh_clean_env[@]}" HOME=/root sh -c 'cd /src/camwatch && scripts/demo' || return 1
    # Compiling under the emulator is most of the time: it is done here,
    # beside other builds, and the suite runs on its own in the next step.
    echo "--- what scripts/test sets up and builds, as root"
    as_root sh -c 'cd /src/camwatch && scripts/setup test && cmake --preset default && cmake --build --preset default' </dev/null
}

# step_fresh-root-arm64-test: in that root, root types the README's second
# command, scripts/test
step_fresh-root-arm64-test() {
    fresh_root arm64 again || return 1
    echo "--- scripts/test as root"
    as_root sh -c 'cd /src/camwatch && scripts/test' </dev/null
}

# What scripts/setup ci writes for sbuild and autopkgtest, which cannot run in
# a chroot (no user namespaces there) to show it themselves. The host name is
# not asked: the root is unpacked with it in /etc/hosts.
setup_gave_the_machine() {
    local ids
    for ids in /etc/subuid /etc/subgid; do
        as_root grep -q '^root:' "$ids" || { echo "scripts/setup ci left no range for root in $ids"; return 1; }
    done
}

# step_setup-levels: on a fresh amd64 root, as root, every level of
# scripts/setup on its own, in a fixed order, then all of them again, which
# must install nothing more
step_setup-levels() {
    local level again
    fresh_root amd64 || return 1
    for level in $(as_root sh -c 'cd /src/camwatch && scripts/setup --levels'); do
        echo "--- scripts/setup $level"
        as_root sh -c "cd /src/camwatch && scripts/setup $level" </dev/null >"$fresh/setup-$level.log" 2>&1 ||
            { cat "$fresh/setup-$level.log"; echo "scripts/setup $level failed"; return 1; }
        grep -E '^scripts/setup: installing' "$fresh/setup-$level.log" || echo "    nothing more to install"
        [ "$level" != ci ] || setup_gave_the_machine || return 1
    done
    again="$(as_root sh -c 'cd /src/camwatch && scripts/setup all' </dev/null 2>&1)"
    [ -z "$again" ] || { echo "$again"; echo "scripts/setup all installed more after every level had run"; return 1; }
}
