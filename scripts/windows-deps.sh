#!/usr/bin/env bash
# Builds the service's dependencies for 64-bit Windows with Debian's
# mingw-w64 (posix threads) into a prefix, as static libraries:
#   Qpid Proton 0.37 (C core + IOCP proactor + SChannel TLS, C++ binding),
#   JsonCpp, simdjson, GoogleTest (gtest, gtest_main, gmock).
#
#   scripts/windows-deps.sh [prefix]      (default: <repo>/build-win/deps)
#
# Sources: the upstream tarballs of Debian's own source packages, fetched
# with `apt-get source --download-only` through a private apt configuration
# (the system's sources lists are not changed), checked against the .dsc;
# GoogleTest from /usr/src/googletest (Debian package `googletest`).
# Proton gets scripts/windows/proton-0.37-mingw.patch.
#
# The prefix gets <prefix>/mt4bridge-win-deps.cmake (targets, variables,
# Windows system libraries) and CMake packages for jsoncpp, simdjson, GTest.
# Nothing is rebuilt while <prefix>/.mt4bridge-win-deps.stamp holds the hash
# of this script, the patch and cmake/mingw-w64.cmake.
# Build trees and downloads: <prefix>.work (or $MT4BRIDGE_WIN_DEPS_WORK).
set -euo pipefail

t0=$(date +%s)
elapsed() { echo "windows-deps: $1 in $(( $(date +%s) - t0 ))s"; }

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/.." && pwd)"
toolchain="$repo/cmake/mingw-w64.cmake"
patchfile="$here/windows/proton-0.37-mingw.patch"
prefix="$(realpath -m "${1:-$repo/build-win/deps}")"
work="$(realpath -m "${MT4BRIDGE_WIN_DEPS_WORK:-$prefix.work}")"
stamp="$prefix/.mt4bridge-win-deps.stamp"
marker="$prefix/.mt4bridge-win-deps"
jobs="$(nproc)"

PROTON_VERSION=0.37.0
# Windows libraries a static Proton (core, IOCP proactor, SChannel) needs.
WIN_SYSTEM_LIBS="ws2_32 secur32 crypt32"

hash="$(cat "${BASH_SOURCE[0]}" "$patchfile" "$toolchain" | sha256sum | cut -d' ' -f1)"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$hash" ]; then
  echo "windows-deps: $prefix is up to date (stamp $hash)"
  elapsed "cached"
  exit 0
fi

for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix \
            x86_64-w64-mingw32-ar cmake ninja python3 patch apt-get sha256sum; do
  command -v "$tool" >/dev/null || { echo "windows-deps: missing $tool" >&2; exit 1; }
done
[ -f /usr/src/googletest/CMakeLists.txt ] || {
  echo "windows-deps: /usr/src/googletest missing (apt-get install googletest)" >&2; exit 1; }

# The prefix is wiped before installing: refuse a directory we did not make.
if [ -d "$prefix" ] && [ -n "$(ls -A "$prefix")" ] && [ ! -e "$marker" ]; then
  echo "windows-deps: $prefix exists and was not made by this script; not touching it" >&2
  exit 1
fi

mkdir -p "$work"
log="$work/logs"; rm -rf "$log"; mkdir -p "$log"
run() {  # run LOGNAME CMD... : output to a log, shown on failure
  local name="$1"; shift
  if ! "$@" >"$log/$name.log" 2>&1; then
    echo "windows-deps: FAILED: $*" >&2
    tail -n 40 "$log/$name.log" >&2
    echo "windows-deps: full log: $log/$name.log" >&2
    exit 1
  fi
}

# ---------------------------------------------------------------- sources
echo "windows-deps: fetching source packages from the configured Debian mirror"
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/keys"
# deb-src lines from the machine's own configuration (deb822 *.sources and
# one-line sources.list files), one line per URI and suite.
python3 - "$apt_dir" > "$apt_dir/sources.list" <<'PY'
import glob, os, re, sys
keydir = os.path.join(sys.argv[1], "keys")
out, seen = [], set()
def emit(opts, uri, suite, comps):
    line = "deb-src %s%s %s %s" % (("[%s] " % " ".join(opts)) if opts else "",
                                   uri, suite, " ".join(comps))
    if line not in seen:
        seen.add(line); out.append(line)
# deb822
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    text = open(path, encoding="utf-8").read()
    for n, stanza in enumerate(re.split(r"\n\s*\n", text)):
        fields, key = {}, None
        for raw in stanza.splitlines():
            if raw.startswith("#"):
                continue
            if raw[:1] in (" ", "\t") and key:
                fields[key] += "\n" + raw.strip()
                continue
            if ":" in raw:
                key, val = raw.split(":", 1)
                key = key.strip().lower(); fields[key] = val.strip()
        if not fields.get("uris") or fields.get("enabled", "yes").lower() == "no":
            continue
        if not set(fields.get("types", "").split()) & {"deb", "deb-src"}:
            continue
        opts = []
        sb = fields.get("signed-by", "").strip()
        if sb.startswith("-----BEGIN") or "\n" in sb:
            kf = os.path.join(keydir, "%s-%d.asc" % (os.path.basename(path), n))
            with open(kf, "w") as f:
                f.write("\n".join("" if l == "." else l for l in sb.splitlines()) + "\n")
            opts.append("signed-by=" + kf)
        elif sb:
            opts.append("signed-by=" + sb.replace(" ", ","))
        for o in ("architectures", "trusted"):
            if o in fields:
                opts.append("%s=%s" % ("arch" if o == "architectures" else o,
                                       fields[o].replace(" ", ",")))
        for uri in fields["uris"].split():
            for suite in fields.get("suites", "").split():
                emit(opts, uri, suite, fields.get("components", "").split())
# one-line format
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    if not os.path.exists(path):
        continue
    for raw in open(path, encoding="utf-8"):
        line = raw.split("#", 1)[0].strip()
        m = re.match(r"^(deb|deb-src)\s+(\[[^\]]*\]\s+)?(\S+)\s+(\S+)\s*(.*)$", line)
        if m:
            opts = m.group(2).strip()[1:-1].split() if m.group(2) else []
            emit(opts, m.group(3), m.group(4), m.group(5).split())
print("\n".join(out))
PY
[ -s "$apt_dir/sources.list" ] || { echo "windows-deps: no Debian sources configured" >&2; exit 1; }
apt_opts=(
  -o "Dir::Etc::sourcelist=$apt_dir/sources.list"
  -o "Dir::Etc::sourceparts=-"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
)
[ "$(id -u)" -eq 0 ] && apt_opts+=(-o "APT::Sandbox::User=root")
run apt-update apt-get "${apt_opts[@]}" update
dl="$work/downloads"; mkdir -p "$dl"
rm -f "$dl"/*.dsc   # cheap to refetch; tarballs already there are reused
# qpid-proton's .debian.tar.xz may be missing on the mirror: only the
# upstream .orig tarballs are used, so a failure is checked per file below.
(cd "$dl" && apt-get "${apt_opts[@]}" source --download-only \
   libqpid-proton-cpp12-dev libjsoncpp-dev libsimdjson-dev) >"$log/apt-source.log" 2>&1 || \
  echo "windows-deps: apt-get source reported errors (see $log/apt-source.log); checking the orig tarballs"

orig_of() {  # orig_of SOURCE_PACKAGE -> path of its verified .orig tarball
  local src="$1" dsc orig sum
  dsc="$(ls "$dl/${src}"_*.dsc 2>/dev/null | sort -V | tail -n 1)"
  [ -n "$dsc" ] || { echo "windows-deps: no .dsc for $src (see $log/apt-source.log)" >&2; return 1; }
  read -r sum orig < <(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0}
                          f && $3 ~ /\.orig\.tar\./ {print $1, $3}' "$dsc")
  [ -n "${orig:-}" ] && [ -f "$dl/$orig" ] || {
    echo "windows-deps: $src: upstream tarball ${orig:-?} not downloaded" >&2; return 1; }
  echo "$sum  $dl/$orig" | sha256sum -c --quiet - >&2 || {
    echo "windows-deps: $src: sha256 mismatch for $orig" >&2; return 1; }
  echo "$dl/$orig"
}
proton_tar="$(orig_of qpid-proton)"
jsoncpp_tar="$(orig_of libjsoncpp)"
simdjson_tar="$(orig_of simdjson)"
case "$(basename "$proton_tar")" in
  "qpid-proton_${PROTON_VERSION}.orig."*) ;;
  *) echo "windows-deps: expected qpid-proton $PROTON_VERSION (the patch is for it), got $(basename "$proton_tar")" >&2
     exit 1 ;;
esac
echo "windows-deps: sources: $(basename "$proton_tar") $(basename "$jsoncpp_tar") $(basename "$simdjson_tar") (sha256 ok)"

src="$work/src"; bld="$work/build"
rm -rf "$src" "$bld"; mkdir -p "$src" "$bld"
extract() {  # extract TARBALL NAME -> $src/NAME
  mkdir -p "$src/$2"
  tar -xf "$1" -C "$src/$2" --strip-components=1
}
extract "$proton_tar" proton
extract "$jsoncpp_tar" jsoncpp
extract "$simdjson_tar" simdjson
(cd "$src/proton" && patch -p1 --quiet < "$patchfile")

rm -rf "$prefix"; mkdir -p "$prefix"; : > "$marker"

cmake_common=(
  -G Ninja
  -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  -DMT4BRIDGE_WIN_DEPS="$prefix"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$prefix"
  -DCMAKE_INSTALL_LIBDIR=lib
  -DBUILD_SHARED_LIBS=OFF
  -DBUILD_TESTING=OFF
  -Wno-dev
)

# ---------------------------------------------------------------- JsonCpp
echo "windows-deps: building JsonCpp"
run jsoncpp-configure cmake -S "$src/jsoncpp" -B "$bld/jsoncpp" "${cmake_common[@]}" \
  -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
  -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
  -DJSONCPP_WITH_EXAMPLE=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON \
  -DJSONCPP_WITH_CMAKE_PACKAGE=ON
run jsoncpp-build cmake --build "$bld/jsoncpp" --target install -j "$jobs"

# ---------------------------------------------------------------- simdjson
echo "windows-deps: building simdjson"
run simdjson-configure cmake -S "$src/simdjson" -B "$bld/simdjson" "${cmake_common[@]}" \
  -DSIMDJSON_DEVELOPER_MODE=OFF -DSIMDJSON_ENABLE_THREADS=ON
run simdjson-build cmake --build "$bld/simdjson" --target install -j "$jobs"

# ---------------------------------------------------------------- GoogleTest
echo "windows-deps: building GoogleTest from /usr/src/googletest"
run gtest-configure cmake -S /usr/src/googletest -B "$bld/googletest" "${cmake_common[@]}" \
  -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_build_tests=OFF -Dgtest_build_samples=OFF
run gtest-build cmake --build "$bld/googletest" --target install -j "$jobs"

# ---------------------------------------------------------------- Proton
echo "windows-deps: building Qpid Proton $PROTON_VERSION (C core + IOCP proactor + SChannel, C++)"
run proton-configure cmake -S "$src/proton" -B "$bld/proton" "${cmake_common[@]}" \
  -DBUILD_STATIC_LIBS=ON -DBUILD_BINDINGS=cpp -DBUILD_CPP=ON -DBUILD_GO=OFF \
  -DBUILD_EXAMPLES=OFF -DBUILD_TLS=OFF \
  -DPROACTOR=iocp -DSSL_IMPL=schannel -DSASL_IMPL=none -DENABLE_JSONCPP=OFF \
  -DENABLE_WARNING_ERROR=OFF -DENABLE_LINKTIME_OPTIMIZATION=OFF \
  -DENABLE_FUZZ_TESTING=OFF -DENABLE_BENCHMARKS=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON -DCMAKE_DISABLE_FIND_PACKAGE_CyrusSASL=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_SWIG=ON -DCMAKE_DISABLE_FIND_PACKAGE_Doxygen=ON
# Only the static libraries (the shared ones and the legacy reactor/messenger
# library are not needed), so no `install` target: copied by hand below.
run proton-build cmake --build "$bld/proton" -j "$jobs" --target \
  qpid-proton-core-static qpid-proton-proactor-static qpid-proton-cpp-static
mkdir -p "$prefix/include/proton" "$prefix/lib"
cp "$bld/proton/c/include/proton/"*.h "$prefix/include/proton/"      # incl. generated version.h
cp -r "$src/proton/cpp/include/proton/." "$prefix/include/proton/"   # *.hpp, codec/, internal/, io/
# libqpid-proton.a = core (+SChannel, SASL builtin) + IOCP proactor: the
# same names as Debian's libqpid-proton.so / libqpid-proton-cpp.so.
printf 'CREATE %s\nADDLIB %s\nADDLIB %s\nSAVE\nEND\n' "$prefix/lib/libqpid-proton.a" \
  "$bld/proton/c/libqpid-proton-core-static.a" "$bld/proton/c/libqpid-proton-proactor-static.a" \
  | x86_64-w64-mingw32-ar -M
x86_64-w64-mingw32-ranlib "$prefix/lib/libqpid-proton.a"
cp "$bld/proton/cpp/libqpid-proton-cpp-static.a" "$prefix/lib/libqpid-proton-cpp.a"
cp "$src/proton/LICENSE.txt" "$prefix/include/proton/LICENSE.txt"

# ---------------------------------------------------------------- glue for the project
echo "$WIN_SYSTEM_LIBS" > "$prefix/proton-libs.txt"
cat > "$prefix/mt4bridge-win-deps.cmake" <<EOF
# Generated by scripts/windows-deps.sh: Windows (mingw-w64) dependencies.
#   include(\${MT4BRIDGE_WIN_DEPS}/mt4bridge-win-deps.cmake)
# Proton is static: users compile with PN_CPP_DECLARE_STATIC and
# PROTON_DECLARE_STATIC and link the Windows libraries below.
get_filename_component(_mt4w_prefix "\${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)

set(PROTON_CPP_LIB "\${_mt4w_prefix}/lib/libqpid-proton-cpp.a")
set(PROTON_C_LIB   "\${_mt4w_prefix}/lib/libqpid-proton.a")
set(PROTON_INCLUDE_DIR "\${_mt4w_prefix}/include")
set(PROTON_WIN_DEFINITIONS PN_CPP_DECLARE_STATIC PROTON_DECLARE_STATIC)
set(PROTON_WIN_SYSTEM_LIBS $WIN_SYSTEM_LIBS)

if(NOT TARGET Proton::proton)
  add_library(Proton::proton STATIC IMPORTED)
  set_target_properties(Proton::proton PROPERTIES
    IMPORTED_LOCATION "\${PROTON_C_LIB}"
    IMPORTED_LINK_INTERFACE_LANGUAGES "C;CXX"
    INTERFACE_INCLUDE_DIRECTORIES "\${PROTON_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "PROTON_DECLARE_STATIC"
    INTERFACE_LINK_LIBRARIES "\${PROTON_WIN_SYSTEM_LIBS}")
endif()
if(NOT TARGET Proton::cpp)
  add_library(Proton::cpp STATIC IMPORTED)
  set_target_properties(Proton::cpp PROPERTIES
    IMPORTED_LOCATION "\${PROTON_CPP_LIB}"
    IMPORTED_LINK_INTERFACE_LANGUAGES "CXX"
    INTERFACE_INCLUDE_DIRECTORIES "\${PROTON_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "PN_CPP_DECLARE_STATIC;PROTON_DECLARE_STATIC"
    INTERFACE_LINK_LIBRARIES "Proton::proton")
endif()

# find_package(jsoncpp CONFIG) / (simdjson CONFIG) / (GTest) also work through
# the toolchain's CMAKE_FIND_ROOT_PATH; these make them independent of it.
set(jsoncpp_DIR  "\${_mt4w_prefix}/lib/cmake/jsoncpp"  CACHE PATH "")
set(simdjson_DIR "\${_mt4w_prefix}/lib/cmake/simdjson" CACHE PATH "")
set(GTest_DIR    "\${_mt4w_prefix}/lib/cmake/GTest"    CACHE PATH "")
unset(_mt4w_prefix)
EOF

for f in lib/libqpid-proton.a lib/libqpid-proton-cpp.a lib/libjsoncpp.a lib/libsimdjson.a \
         lib/libgtest.a lib/libgtest_main.a lib/cmake/jsoncpp/jsoncppConfig.cmake \
         lib/cmake/simdjson/simdjson-config.cmake lib/cmake/GTest/GTestConfig.cmake \
         include/proton/container.hpp include/proton/version.h; do
  [ -e "$prefix/$f" ] || { echo "windows-deps: missing after install: $prefix/$f" >&2; exit 1; }
done

echo "$hash" > "$stamp"
echo "windows-deps: installed into $prefix"
echo "windows-deps: include($prefix/mt4bridge-win-deps.cmake); compile Proton users with" \
     "-DPN_CPP_DECLARE_STATIC -DPROTON_DECLARE_STATIC; link ${WIN_SYSTEM_LIBS}"
elapsed "built"
