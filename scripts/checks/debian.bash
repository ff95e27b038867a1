# shellcheck shell=bash disable=SC2154 # root, out and logs are scripts/check's
# The package as Debian checks its own: a clean root per architecture, made
# once a run and reused by every check that needs one; the source package; a
# build from it with sbuild in that root, holding only what the Build-Depends
# bring; lintian, blhc, piuparts, the autopkgtest and reprotest. Needs root.
# Sourced by scripts/check.

# The first line of the changelog: "camwatch (VERSION) DISTRIBUTION; ...".
version="$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$root/debian/changelog")"
# The binary packages built from the source, each checked on its own too.
binary_packages=(camwatch camwatch-vcam)

# debs ARCH: the binary packages' files of that architecture.
debs() {
    local package
    for package in "${binary_packages[@]}"; do
        echo "$out/package-$1/${package}_${version}_$1.deb"
    done
}

root_tarball() {
    echo "$out/roots/bookworm-$1.tar.gz"
}

# The machine's own apt sources, which mmdebstrap pastes into a root in
# either form, less the security suite: a root is thrown away after the run,
# and the security suite's armhf index has been seen half-synced on a mirror
# for days, which fails every root that has that architecture, the amd64 one
# that cross-builds for it included. A deb822 file loses the stanza that names
# it, a one-line file the line.
apt_source_files() {
    local file copy folder="$out/roots/sources"
    mkdir -p "$folder"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        if [ ! -f "$file" ] || ! grep -qE '^[[:space:]]*(deb|Types:)' "$file"; then
            continue
        fi
        copy="$folder/$(basename "$file")"
        case "$file" in
            *.sources) awk -v RS= -v ORS='\n\n' '!/-security/' "$file" >"$copy" ;;
            *) grep -v -- '-security' "$file" >"$copy" ;;
        esac
        echo "$copy"
    done
}

# make_root ARCH: a minimal bookworm root of that architecture, as a tarball.
# Packages this machine has fetched are linked in rather than fetched again,
# and what the root fetched goes back to this machine's apt cache, which is
# kept from run to run. A foreign root runs under qemu-user.
make_root() {
    local arch="$1" tarball sources cache=/var/cache/apt/archives
    tarball="$(root_tarball "$arch")"
    mapfile -t sources < <(apt_source_files)
    [ ${#sources[@]} -gt 0 ] || { echo "no apt sources on this machine"; return 1; }
    mkdir -p "$out/roots"
    rm -f "$tarball"
    mmdebstrap --quiet --variant=apt --arch="$arch" --skip=essential/unlink \
        --setup-hook="mkdir -p \"\$1$cache\" && find $cache -maxdepth 1 -name '*.deb' -exec cp -l -n -t \"\$1$cache\" {} +" \
        --customize-hook="find \"\$1$cache\" -maxdepth 1 -name '*.deb' -links 1 -exec cp -n -t $cache {} +" \
        bookworm "$tarball" "${sources[@]}" &&
        echo "figure: root $arch from ${sources[*]}"
}

# step_root-amd64: the run's clean amd64 root
step_root-amd64() {
    make_root amd64
}

# step_root-arm64: the run's clean arm64 root
step_root-arm64() {
    make_root arm64
}

# step_root-armhf: the run's clean armhf root
step_root-armhf() {
    make_root armhf
}

# step_source: the source package, and lintian on it
step_source() {
    local tree="$out/source/camwatch-$version"
    rm -rf "$out/source"
    mkdir -p "$tree"
    tar -C "$root" --exclude='./build*' --exclude=./.git --exclude=__pycache__ -cf - . |
        tar -C "$tree" -xf -
    (cd "$tree" && dpkg-buildpackage -S -d --no-sign) &&
        lintian --fail-on error,warning "$out/source/camwatch_$version.dsc"
}

# package ARCH: the binary packages built from the source package by sbuild,
# in the amd64 root (cross for ARM), and their list. The package's build runs
# no tests, so the test tools of the Build-Depends (the nocheck profile) are
# left out.
package() {
    local arch="$1" dir="$out/package-$1" cross=(--profiles=nocheck) built
    [ "$arch" = amd64 ] || cross=(--host="$arch" "--profiles=cross,nocheck")
    [ -f "$out/source/camwatch_$version.dsc" ] || step_source || return 1
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && sbuild --chroot-mode=unshare --chroot="$(root_tarball amd64)" --dist=unstable \
        --build=amd64 "${cross[@]}" --no-apt-upgrade --no-apt-distupgrade \
        --no-run-lintian --no-run-piuparts --no-run-autopkgtest "$out/source/camwatch_$version.dsc") &&
        mapfile -t built < <(debs "$arch") &&
        ls -l "${built[@]}"
}

# step_package-amd64: the amd64 packages built by sbuild in the clean root,
# and what they do: camwatch-vcam alone runs another OpenNI2 program, and
# camwatch on its demo
step_package-amd64() {
    local built
    package amd64 && mapfile -t built < <(debs amd64) &&
        PYTHONPATH="$root/tests/lib" /usr/bin/python3 "$root/packaging/test_package.py" "${built[@]}"
}

# step_package-arm64: the arm64 packages cross-built by sbuild in the clean root
step_package-arm64() {
    package arm64
}

# step_package-armhf: the armhf packages cross-built by sbuild in the clean root
step_package-armhf() {
    package armhf
}

# binary_lintian ARCH: no error, warning or hardening tag in any package the
# .changes lists.
binary_lintian() {
    local tags="$out/package-$1/lintian.tags"
    lintian --info --display-experimental --fail-on error,warning \
        "$out/package-$1/camwatch_${version}_$1.changes" | tee "$tags" &&
        ! grep -q 'hardening-' "$tags"
}

# step_lintian-amd64: lintian on the amd64 packages
step_lintian-amd64() {
    binary_lintian amd64
}

# step_lintian-arm64: lintian on the arm64 packages
step_lintian-arm64() {
    binary_lintian arm64
}

# step_lintian-armhf: lintian on the armhf packages
step_lintian-armhf() {
    binary_lintian armhf
}

build_flags() {
    blhc --arch="$1" "$out/package-$1/camwatch_${version}_$1.build"
}

# step_blhc-amd64: the compiler and linker flags of the amd64 build log
step_blhc-amd64() {
    build_flags amd64
}

# step_blhc-arm64: the compiler and linker flags of the arm64 build log
step_blhc-arm64() {
    build_flags arm64
}

# step_blhc-armhf: the compiler and linker flags of the armhf build log
step_blhc-armhf() {
    build_flags armhf
}

# install_and_purge ARCH: piuparts in the run's root of the architecture,
# with the root's own apt sources, for each package alone: either is
# installed without the other.
install_and_purge() {
    local deb
    for deb in $(debs "$1"); do
        echo "--- piuparts $(basename "$deb")"
        piuparts --distribution=bookworm --arch="$1" --basetgz="$(root_tarball "$1")" \
            --keep-sources-list "$deb" || return 1
    done
}

# step_piuparts-amd64: install, remove and purge of each amd64 package alone
step_piuparts-amd64() {
    install_and_purge amd64
}

# step_piuparts-arm64: install, remove and purge of each arm64 package alone, emulated
step_piuparts-arm64() {
    install_and_purge arm64
}

# step_piuparts-armhf: install, remove and purge of each armhf package alone, emulated
step_piuparts-armhf() {
    install_and_purge armhf
}

# package_tests ARCH: the autopkgtest in a testbed made from the run's root of
# the architecture, apart from this machine, each test installing the
# packages it names. autopkgtest's unshare testbed maps root to the
# subordinate ids that scripts/setup ci gives it.
package_tests() {
    local built
    mapfile -t built < <(debs "$1")
    (cd "$out/source/camwatch-$version" &&
        autopkgtest -U --no-built-binaries "${built[@]}" . -- \
            unshare --arch="$1" --tarball="$(root_tarball "$1")")
}

# step_autopkgtest-amd64: the packages' tests on amd64
step_autopkgtest-amd64() {
    package_tests amd64
}

# step_autopkgtest-arm64: the packages' tests on arm64, emulated
step_autopkgtest-arm64() {
    package_tests arm64
}

# step_autopkgtest-armhf: the packages' tests on armhf, emulated
step_autopkgtest-armhf() {
    package_tests armhf
}

# reproducible ARCH: two builds here under varied time, umask, locale, file
# order and so on give the same bytes (the user, host name and kernel
# variations are off).
reproducible() {
    local arch="$1" cross=(-Pnocheck) dir="$out/reprotest-$1"
    [ "$arch" = amd64 ] || cross=(-a"$arch" "-Pcross,nocheck")
    rm -rf "$dir"
    mkdir -p "$dir"
    (cd "$dir" && dpkg-source -x "$out/source/camwatch_$version.dsc" "camwatch-$version") &&
        (cd "$dir/camwatch-$version" && reprotest --vary=-user_group,-domain_host,-kernel \
            --store-dir "$dir/store" \
            -c "dpkg-buildpackage -b --no-sign ${cross[*]}" . "../*.deb")
}

# step_reprotest-amd64: the amd64 package builds reproducibly
step_reprotest-amd64() {
    reproducible amd64
}

# step_reprotest-arm64: the arm64 package builds reproducibly
step_reprotest-arm64() {
    reproducible arm64
}

# step_reprotest-armhf: the armhf package builds reproducibly
step_reprotest-armhf() {
    reproducible armhf
}

# step_setup-release: installs what the release's checks need
step_setup-release() {
    "$root/scripts/setup" release
}
