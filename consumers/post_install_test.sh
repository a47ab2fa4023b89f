#!/usr/bin/env bash
# Installs a built tree into a fresh prefix and builds small outside programs against it, once
# through the CMake packages and once through pkg-config, with nothing of the build tree on any
# search path. Compilers and flags come from CC, CXX, CFLAGS, CXXFLAGS and LDFLAGS.
# The stream reader runs on SAMPLE_VOLUME when rawpipe is among the programs.
#   post_install_test.sh BUILD_DIR LIBDIR DATADIR [PROGRAM...]
set -euo pipefail
build=$1
libdir=$2
datadir=$3
shift 3
programs=("$@")
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "post-install: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "installation failed"
}

# Text files (packages, pkg-config files, headers) must not point back into the build tree, nor
# may the libraries' run paths.
if leaks=$(grep -rIl -- "$build" "$prefix"); then
    fail "installed files refer to the build tree: $leaks"
fi
for lib in "$prefix/$libdir"/lib*.so; do
    if readelf -d "$lib" | grep -E 'R(UN)?PATH' | grep -q -- "$build"; then
        fail "$lib keeps a run path into the build tree"
    fi
done

# Runs a consumer and checks that it loaded its library from the prefix.
run_consumer() {
    local program=$1 library=$2
    local resolved
    resolved=$(ldd "$program" | awk -v lib="$library" '$1 ~ "^" lib "\\.so" {print $3}')
    case "$resolved" in
        "$prefix"/*) ;;
        *) fail "$program loads $library from '${resolved:-nowhere}', not from $prefix" ;;
    esac
    "$program" || fail "$program failed"
}

clean_env=(env -u CMAKE_PREFIX_PATH -u PKG_CONFIG_PATH -u LD_LIBRARY_PATH -u CPATH
           -u LIBRARY_PATH -u C_INCLUDE_PATH -u CPLUS_INCLUDE_PATH)

echo "== through find_package"
"${clean_env[@]}" cmake -S "$here/cmake-project" -B "$work/cmake" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
    -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" || {
    cat "$work/cmake.log" >&2
    fail "the CMake consumer does not configure"
}
"${clean_env[@]}" cmake --build "$work/cmake" >>"$work/cmake.log" || {
    cat "$work/cmake.log" >&2
    fail "the CMake consumer does not build"
}
run_consumer "$work/cmake/pvol_consumer" libpvol
run_consumer "$work/cmake/nowcast_consumer" libnowcast

echo "== through pkg-config"
pc() { "${clean_env[@]}" PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config "$@"; }
for package in pvol nowcast; do
    [ "$(pc --variable=libdir "$package")" -ef "$prefix/$libdir" ] ||
        fail "pkg-config places $package in $(pc --variable=libdir "$package")"
done
mkdir -p "$work/pc"
# shellcheck disable=SC2046,SC2086  # flags are word lists
"${clean_env[@]}" ${CC:-cc} -std=c11 ${CFLAGS:-} $(pc --cflags pvol) "$here/pvol_consumer.c" \
    -o "$work/pc/pvol_consumer" ${LDFLAGS:-} $(pc --libs pvol) -lm \
    -Wl,-rpath,"$(pc --variable=libdir pvol)" || fail "the C consumer does not build"
# No -std of its own: the pkg-config file must bring the standard the headers need.
# shellcheck disable=SC2046,SC2086
"${clean_env[@]}" ${CXX:-c++} ${CXXFLAGS:-} $(pc --cflags nowcast) \
    "$here/nowcast_consumer.cpp" -o "$work/pc/nowcast_consumer" ${LDFLAGS:-} \
    $(pc --libs nowcast) -Wl,-rpath,"$(pc --variable=libdir nowcast)" ||
    fail "the C++ consumer does not build"
run_consumer "$work/pc/pvol_consumer" libpvol
run_consumer "$work/pc/nowcast_consumer" libnowcast

echo "== the installed C example on the sample volume"
example=$prefix/$datadir/azm_radar/examples/read_raw.c
[ -f "$example" ] || fail "read_raw.c is not installed"
# shellcheck disable=SC2046,SC2086
"${clean_env[@]}" ${CC:-cc} -std=c99 -Wall -Wextra -pedantic -Werror ${CFLAGS:-} \
    $(pc --cflags pvol) "$example" -o "$work/pc/read_raw" ${LDFLAGS:-} $(pc --libs pvol) \
    -Wl,-rpath,"$(pc --variable=libdir pvol)" || fail "the C example does not build"
"$work/pc/read_raw" "$SAMPLE_VOLUME" >"$work/read_raw.log" || fail "the C example failed"
grep -q '^site ' "$work/read_raw.log" && grep -q '^sweep 0: .* rays, first ray at azimuth' \
    "$work/read_raw.log" || fail "the C example printed: $(cat "$work/read_raw.log")"
head -n 2 "$work/read_raw.log"

if [ ${#programs[@]} -gt 0 ]; then
    echo "== installed programs"
fi
for name in "${programs[@]}"; do
    program=$prefix/bin/$name
    [ -x "$program" ] || fail "$name is not installed"
    [ -f "$prefix/$datadir/man/man1/$name.1" ] || fail "$name has no manual page"
    for option in --help --version; do
        out=$("$program" "$option" 2>"$work/stderr") || fail "$name $option exits non-zero"
        [ -n "$out" ] || fail "$name $option prints nothing on standard output"
        [ ! -s "$work/stderr" ] || fail "$name $option writes to standard error"
    done
    echo "$name: $("$program" --version | head -n 1)"
done
# The installed pipe and the installed reader, which compiles the installed schema.
if [[ " ${programs[*]} " == *" rawpipe "* ]]; then
    echo "== the sample volume through the installed rawpipe and stream reader"
    "$prefix/bin/rawpipe" -i "$SAMPLE_VOLUME" -o "$work/sample.pb" || fail "rawpipe failed"
    "${clean_env[@]}" -u AZM_RADAR_PROTO /usr/bin/python3 \
        "$prefix/$datadir/azm_radar/examples/read_stream.py" - --png "$work/sample.png" \
        <"$work/sample.pb" >"$work/reader.log" || fail "the stream reader failed"
    tail -n 1 "$work/reader.log"
    [ -s "$work/sample.png" ] || fail "the stream reader wrote no picture"
fi
echo "post-install: ok"
