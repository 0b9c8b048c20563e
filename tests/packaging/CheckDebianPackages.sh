#!/usr/bin/env bash
# Packs the build tree into its Debian packages and checks them as a system sees them: control
# fields, contents (all under /usr, no file in two packages), lintian without errors, installation
# into a scratch root with dpkg, the installed tool, the Python package, an application built
# against the installed development files (with pkg-config and with find_package), the shipped
# examples, and removal that leaves nothing behind, not even a package's configuration.
#
# CheckDebianPackages.sh BUILD_DIR WORK_DIR CONSUMER_DIR VERSION ABSENT_ADDRESS SENSOR_ADDRESS
#                        UDP_PORT CPACK
set -euo pipefail
build=$1 work=$2 consumer=$3 version=$4 absent=$5 sensor=$6 port=$7 cpack=$8
revision=1
# dpkg looks for ldconfig and friends on PATH, which need not hold sbin for a normal user.
export PATH=$PATH:/usr/sbin:/sbin

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
field() {  # field PACKAGE FIELD
    dpkg-deb --field "$work/packages/$1_${version}-${revision}_"*.deb "$2"
}
files_of() {  # files_of PACKAGE: the package's files and links, one per line, without "./"
    dpkg-deb --fsys-tarfile "$work/packages/$1_${version}-${revision}_"*.deb |
        tar -t | grep -v '/$' | sed 's|^\./||' | sort
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/packages" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }

packages=(libquil0 libquil-dev quil-tools)
if grep -q '^set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME' "$build/CPackConfig.cmake"; then
    packages+=(python3-quil)
fi
if grep -q '^set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME' "$build/CPackConfig.cmake"; then
    packages+=(quil-gateway)
fi
for p in "${packages[@]}"; do
    [ "$(field "$p" Package)" = "$p" ] || fail "no package $p"
    [ "$(field "$p" Version)" = "$version-$revision" ] || fail "$p: version $(field "$p" Version)"
    [ "$(field "$p" Maintainer)" = "Quil developers <quil@example.org>" ] || fail "$p: maintainer"
done
[ "$(ls "$work/packages"/*.deb | wc -l)" -eq "${#packages[@]}" ] || fail "unexpected packages"

# Dependencies between the packages and on the system's libraries.
depends_on() {  # depends_on PACKAGE TEXT
    field "$1" Depends | tr ',' '\n' | sed 's/^ *//' | grep -qxF "$2" ||
        fail "$1 does not depend on $2: $(field "$1" Depends)"
}
depends_on libquil-dev "libquil0 (= $version-$revision)"
depends_on quil-tools "libquil0 (= $version-$revision)"
field libquil0 Depends | grep -q 'libpcap0.8' || fail "libquil0 lacks its libpcap dependency"
dpkg-deb --info "$work/packages/libquil0_"*.deb shlibs | grep -qx "libquil 0 libquil0 (>= $version-$revision)" ||
    fail "libquil0: no shlibs entry"
dpkg-deb --info "$work/packages/libquil0_"*.deb triggers | grep -qx "activate-noawait ldconfig" ||
    fail "libquil0: no ldconfig trigger"
if [[ " ${packages[*]} " == *" python3-quil "* ]]; then
    depends_on python3-quil python3-numpy
fi

# Contents: under /usr, each package with its copyright and changelog, no file in two packages.
: > "$work/all-files"
for p in "${packages[@]}"; do
    files_of "$p" > "$work/$p.files"
    grep -v '^usr/' "$work/$p.files" && fail "$p installs outside /usr"
    for doc in copyright changelog.Debian.gz; do
        grep -qx "usr/share/doc/$p/$doc" "$work/$p.files" || fail "$p lacks $doc"
    done
    cat "$work/$p.files" >> "$work/all-files"
done
shared=$(sort "$work/all-files" | uniq -d)
[ -z "$shared" ] || fail "files in two packages: $shared"
expect() {  # expect PACKAGE PATTERN: a file of PACKAGE matches the extended regex
    grep -qE "^$2\$" "$work/$1.files" || fail "$1 lacks $2"
}
expect libquil0 'usr/lib/([a-z0-9_-]+/)?libquil\.so\.0'
expect libquil-dev 'usr/lib/([a-z0-9_-]+/)?libquil\.so'
expect libquil-dev 'usr/include/quil/Quil\.h'
expect libquil-dev 'usr/include/quil/sim/VirtualSensor\.h'
expect libquil-dev 'usr/include/quil/catalogue/Document\.h'
expect libquil-dev 'usr/lib/([a-z0-9_-]+/)?libquil_sim\.a'
expect libquil-dev 'usr/lib/([a-z0-9_-]+/)?cmake/Quil/QuilSimTargets\.cmake'
expect libquil-dev 'usr/lib/([a-z0-9_-]+/)?pkgconfig/quil\.pc'
expect libquil-dev 'usr/share/doc/libquil-dev/examples/CMakeLists\.txt'
expect libquil-dev 'usr/share/doc/libquil-dev/examples/stream_profiles\.cpp'
expect libquil-dev 'usr/share/doc/libquil-dev/examples/record_and_replay\.cpp'
expect libquil-dev 'usr/share/doc/libquil-dev/examples/heightmap\.py'
expect quil-tools 'usr/bin/quil'
expect quil-tools 'usr/bin/quil-sim'
expect quil-tools 'usr/share/man/man1/quil\.1\.gz'
expect quil-tools 'usr/share/man/man1/quil-sim\.1\.gz'
expect quil-tools 'usr/share/bash-completion/completions/quil'
if [[ " ${packages[*]} " == *" quil-gateway "* ]]; then
    depends_on quil-gateway "libquil0 (= $version-$revision)"
    expect quil-gateway 'usr/bin/quil-gateway'
    expect quil-gateway 'usr/lib/systemd/system/quil-gateway@\.service'
    expect quil-gateway 'usr/share/man/man1/quil-gateway\.1\.gz'
    expect quil-gateway 'usr/share/doc/quil-gateway/examples/gateway\.yaml'
    expect quil-gateway 'usr/share/doc/quil-gateway/README\.md'
    for script in postinst prerm; do
        dpkg-deb --info "$work/packages/quil-gateway_"*.deb "$script" | grep -q systemctl ||
            fail "quil-gateway: no $script that calls systemd"
    done
fi

# lintian: errors fail the test; warnings are listed.
if ! lintian --fail-on error --tag-display-limit 0 "$work/packages"/*.deb > "$work/lintian.log" 2>&1; then
    cat "$work/lintian.log"
    fail "lintian reports errors"
fi
grep -E '^[WE]: ' "$work/lintian.log" || true

# Installation into a scratch root, as a normal user could.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: > "$root/var/lib/dpkg/status"
dpkg_root=(dpkg --root="$root" --log=/dev/null --force-not-root --force-script-chrootless
    --force-depends)
"${dpkg_root[@]}" --install "$work/packages"/*.deb > "$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --install"; }
for p in "${packages[@]}"; do
    [ "$(dpkg-query --root="$root" -W -f='${Status}' "$p")" = "install ok installed" ] ||
        fail "$p is not installed"
done

library=$(find "$root/usr/lib" -name libquil.so.0 -type l)
libdir=$(dirname "$library")
readelf -d "$library" | grep -q 'SONAME.*\[libquil\.so\.0\]' || fail "libquil.so.0: SONAME"
readelf -d "$root/usr/bin/quil" | grep -qE 'RPATH|RUNPATH' && fail "quil carries an RPATH under /usr"
readelf -d "$root/usr/bin/quil" | grep -q 'NEEDED.*\[libquil\.so\.0\]' || fail "quil: NEEDED"
# In /usr the system's loader finds the library; in the scratch root, the library path stands in.
[ "$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/quil" --version)" = "quil $version" ] ||
    fail "quil --version"
"$root/usr/bin/quil-sim" --help > /dev/null || fail "quil-sim --help"
if [[ " ${packages[*]} " == *" quil-gateway "* ]]; then
    [ "$(LD_LIBRARY_PATH=$libdir "$root/usr/bin/quil-gateway" --version)" = "quil-gateway $version" ] ||
        fail "quil-gateway --version"
    # The unit as systemd reads it, its program found in the scratch root.
    if command -v systemd-analyze > /dev/null; then
        sed "s|/usr/bin/quil-gateway|$root/usr/bin/quil-gateway|" \
            "$root/usr/lib/systemd/system/quil-gateway@.service" > "$work/quil-gateway@line1.service"
        systemd-analyze verify --man=no "$work/quil-gateway@line1.service" > "$work/unit.log" 2>&1 ||
            { cat "$work/unit.log"; fail "systemd-analyze verify quil-gateway@.service"; }
        # Hardened: rated "OK" or better (the levels are SAFE, OK, MEDIUM, EXPOSED, UNSAFE).
        systemd-analyze security --offline=true "$work/quil-gateway@line1.service" \
            > "$work/security.log" 2>&1 || true
        grep -qE 'Overall exposure level for .*: [0-9.]+ (SAFE|OK)' "$work/security.log" ||
            { cat "$work/security.log"; fail "quil-gateway@.service is not hardened to OK"; }
    else
        echo "skipped: the unit's checks (systemd-analyze is missing)"
    fi
fi
if [[ " ${packages[*]} " == *" python3-quil "* ]]; then
    [ "$(cd "$work" && PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
        'import quil; print(quil.__version__)')" = "$version" ] || fail "python3-quil: version"
fi

# An application built with pkg-config against the installed files.
pcdir=$(dirname "$(find "$root/usr/lib" -name quil.pc)")
[ "$(PKG_CONFIG_PATH=$pcdir pkg-config --modversion quil)" = "$version" ] || fail "pkg-config version"
# shellcheck disable=SC2046
g++ -std=c++17 -o "$work/pkgconfig-consumer" "$(dirname "$0")/pkgconfig_consumer.cpp" \
    -DQUIL_EXPECTED_VERSION="\"$version\"" -DQUIL_ABSENT_ADDRESS="\"$absent\"" \
    -DQUIL_UDP_PORT="$port" $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs quil) ||
    fail "building with pkg-config"
LD_LIBRARY_PATH=$libdir "$work/pkgconfig-consumer" || fail "the pkg-config consumer"

# An application built with find_package(Quil COMPONENTS sim) against the installed files.
cmake -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" \
    -DABSENT_ADDRESS="$absent" -DSENSOR_ADDRESS="$sensor" -DUDP_PORT="$port" \
    > "$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "configuring with find_package"; }
cmake --build "$work/consumer" >> "$work/consumer.log" 2>&1 ||
    { cat "$work/consumer.log"; fail "building with find_package"; }
LD_LIBRARY_PATH=$libdir "$work/consumer/consumer" || fail "the find_package consumer"

# The shipped examples build against the installed files.
cmake -S "$root/usr/share/doc/libquil-dev/examples" -B "$work/examples" \
    -DCMAKE_PREFIX_PATH="$root/usr" > "$work/examples.log" 2>&1 &&
    cmake --build "$work/examples" >> "$work/examples.log" 2>&1 ||
    { cat "$work/examples.log"; fail "building the shipped examples"; }

# Removal leaves nothing of what the packages listed.
for p in "${packages[@]}"; do
    dpkg-query --root="$root" -L "$p" >> "$work/installed-paths"
done
reverse=()
for p in "${packages[@]}"; do reverse=("$p" "${reverse[@]}"); done
# Removal without purge leaves no package with configuration behind ("rc"): the packages have
# no conffiles and no postrm. The gateway's scripts leave the host's systemd alone under
# DPKG_ROOT (this scratch root).
"${dpkg_root[@]}" --remove "${reverse[@]}" >> "$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --remove"; }
for p in "${packages[@]}"; do
    state=$(dpkg-query --root="$root" -W -f='${db:Status-Status}' "$p" 2> /dev/null || true)
    [ -z "$state" ] || [ "$state" = "not-installed" ] || fail "$p is left in state $state"
done
"${dpkg_root[@]}" --purge "${reverse[@]}" >> "$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; fail "dpkg --purge"; }
while read -r path; do
    if [ -e "$root$path" ] && [ ! -d "$root$path" ] || [ -L "$root$path" ]; then
        fail "left behind: $path"
    fi
done < "$work/installed-paths"
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[ -z "$left" ] || fail "left behind: $left"
echo "ok: ${packages[*]}"
