#!/usr/bin/env bash
# Checks what a built driver module shows the controller process that loads it:
#  - the ELF header: a shared object for the board (--target mipsel: ELF32,
#    little-endian, MIPS) or else for the machine this script runs on;
#  - get_providers is defined as a global function under its plain, unmangled
#    name;
#  - none of the module's own classes is among its dynamic symbols, and
#    get_providers is its only strong definition there (weak and unique
#    instances from the host's, the standard library's and Boost's headers
#    may be);
#  - every symbol it leaves undefined is the host's (its device, provider and
#    controller classes, get_ttime), jsoncpp's, the C++ runtime's or the C
#    library's, and it needs no other shared library;
#  - no symbol it needs from the runtimes is of a newer version than the
#    board's requirements below;
#  - it has no RUNPATH or RPATH: a folder of the build machine there would be
#    searched on the board, and an empty entry means the current folder;
#  - with --host-symbols LIST, the host's symbols it needs are exactly those
#    LIST names (abi/host-symbols.txt: what the controller must export), so
#    that a change that needs another one fails until the list says so.
# Prints each fault, naming the symbol, and exits 1 if there is any; else the
# shared libraries and the newest runtime versions the module needs.
# Usage: cmake/check-module-symbols.sh [--target mipsel] [--host-symbols LIST] MODULE.so
set -euo pipefail

usage="usage: $0 [--target mipsel] [--host-symbols LIST] MODULE.so"
target=build
host_list=
while [ $# -gt 1 ]; do
    case "$1" in
    --target) target=${2:?"--target needs a name (mipsel)"} ;;
    --host-symbols) host_list=${2:?"--host-symbols needs a file"} ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
    shift 2
done
module=${1:?$usage}
[ -f "$module" ] || { echo "$module: no such file" >&2; exit 2; }
[ -z "$host_list" ] || [ -f "$host_list" ] || { echo "$host_list: no such file" >&2; exit 2; }

own_names='(QuillmarUPS|UniDataDevice|UniData|ups_protocol|LeadingInteger)'
host_classes='(SMDVDevice|SMDSPDevice|VDeviceInterface|Provider|SMDSPDeviceProvider|SMDController|rule_value)'
special='((typeinfo|typeinfo name|vtable|VTT|construction vtable) for )?'
host_symbol="^${special}${host_classes}(::|\$)|^get_ttime\\("
jsoncpp_symbol="^${special}Json::"
runtime_version='^(GLIBC|GLIBCXX|CXXABI|GCC)_'
toolchain_hooks='^(__gmon_start__|__cxa_finalize|_ITM_registerTMCloneTable|_ITM_deregisterTMCloneTable)$'
# The newest version of each runtime the board must provide, as README states
# them: a module that needs a newer one does not load there. GLIBC_2.32
# (__libc_single_threaded, read by shared_ptr's count) and GLIBCXX_3.4.29
# (std::__throw_bad_array_new_length, from the allocations of std::regex)
# come from the toolchain's C++ headers.
declare -A newest_allowed=([GLIBC]=2.32 [GLIBCXX]=3.4.29 [CXXABI]=1.3 [GCC]=3.3.1)
runtime_libraries='^(libjsoncpp\.so\.[0-9]+|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libc\.so\.6|libm\.so\.6|libpthread\.so\.0|libdl\.so\.2)$'

faults=0
fault() {
    echo "$module: $*" >&2
    faults=$((faults + 1))
}

header_field() { readelf -h "$1" | sed -n "s/^ *$2: *//p"; }

check_header() {
    local class data machine
    class=$(header_field "$module" Class)
    data=$(header_field "$module" Data)
    machine=$(header_field "$module" Machine)
    case "$(header_field "$module" Type)" in
    DYN*) ;;
    *) fault "is no shared object" ;;
    esac
    if [ "$target" = mipsel ]; then
        [ "$class" = ELF32 ] || fault "is $class, the board needs ELF32"
        [[ "$data" == *"little endian"* ]] || fault "is $data, the board needs little endian"
        [[ "$machine" == MIPS* ]] || fault "is built for $machine, the board needs MIPS"
    else
        local own=$BASH
        [ "$class" = "$(header_field "$own" Class)" ] || fault "is $class, unlike this machine"
        [ "$data" = "$(header_field "$own" Data)" ] || fault "is $data, unlike this machine"
        [ "$machine" = "$(header_field "$own" Machine)" ] ||
            fault "is built for $machine, not for this machine"
    fi
    header_summary="$class, $data, $machine"
}

# One line per named dynamic symbol: type, binding, section index, name
# without its version, version (or -), demangled name; tab-separated.
symbol_table() {
    local raw
    raw=$(readelf --dyn-syms --wide "$module" | awk '
        $1 ~ /^[0-9]+:$/ && $5 != "LOCAL" {
            n = NF
            if ($n ~ /^\([0-9]+\)$/) n--
            name = $n
            version = "-"
            at = index(name, "@")
            if (at > 0) {
                version = substr(name, at + 1)
                sub(/^@/, "", version)
                name = substr(name, 1, at - 1)
            }
            printf "%s\t%s\t%s\t%s\t%s\n", $4, $5, $(n - 1), name, version
        }')
    [ -n "$raw" ] || return 0
    paste <(printf '%s\n' "$raw") <(printf '%s\n' "$raw" | cut -f4 | c++filt)
}

# True when version A is newer than version B (dotted numbers).
newer() { [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$1" ]; }

# Each version is compared once: a module asks for the same few many times.
declare -A too_new=()
check_runtime_version() {
    local name=$1 version=$2 runtime=${2%%_*} allowed
    allowed=${newest_allowed[$runtime]:-}
    [ -n "$allowed" ] || return 0
    if [ -z "${too_new[$version]:-}" ]; then
        too_new[$version]=no
        if newer "${version#*_}" "$allowed"; then too_new[$version]=yes; fi
    fi
    if [ "${too_new[$version]}" = yes ]; then
        fault "needs $name@$version, newer than the board's ${runtime}_$allowed"
    fi
}

check_symbols() {
    local type bind index name version plain entry=0
    undefined=0
    host_needs=()
    while IFS=$'\t' read -r type bind index name version plain; do
        if [ "$index" != UND ]; then
            if [ "$name" = get_providers ]; then
                entry=1
                if [ "$type" != FUNC ] || [ "$bind" != GLOBAL ]; then
                    fault "get_providers is a $bind $type, not a global function"
                fi
            elif [[ "$plain" =~ (^|[^A-Za-z0-9_])$own_names([^A-Za-z0-9_]|$) ]]; then
                fault "leaks $plain ($name)"
            elif [ "$bind" = GLOBAL ]; then
                fault "exports $plain ($name) besides get_providers"
            fi
            continue
        fi
        undefined=$((undefined + 1))
        if [[ "$version" =~ $runtime_version ]]; then
            check_runtime_version "$plain" "$version"
            continue
        fi
        if [[ "$plain" =~ $host_symbol ]]; then
            host_needs+=("$plain")
            continue
        fi
        if [[ "$plain" =~ $jsoncpp_symbol ]]; then
            continue
        fi
        if [ "$bind" = WEAK ] && [[ "$name" =~ $toolchain_hooks ]]; then
            continue
        fi
        fault "needs $plain ($name), which neither the host, jsoncpp nor the runtimes define"
    done < <(symbol_table)
    if [ "$entry" -eq 0 ]; then
        if symbol_table | cut -f6 | grep -q '^get_providers('; then
            fault "get_providers is exported with a mangled (C++) name; the host looks up the plain one"
        else
            fault "defines no get_providers"
        fi
    fi
}

check_search_path() {
    local kind path
    while IFS=$'\t' read -r kind path; do
        fault "has a $kind [$path]: the loader would search it on the board before the controller's" \
            "libraries (an empty entry is the current folder); the module must have none"
    done < <(readelf -d "$module" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]/\1\t\2/p')
}

# The host's symbols the module needs against the committed list of them.
check_host_list() {
    local listed symbol
    [ -n "$host_list" ] || return 0
    listed=$(grep -v -e '^#' -e '^$' "$host_list" | LC_ALL=C sort -u)
    while IFS= read -r symbol; do
        fault "needs $symbol from the host, which $host_list does not list:" \
            "the controller must export it too; add it to the list"
    done < <(LC_ALL=C comm -13 <(printf '%s\n' "$listed") <(printf '%s\n' "${host_needs[@]}" | LC_ALL=C sort -u))
    while IFS= read -r symbol; do
        fault "no longer needs $symbol from the host, which $host_list lists: take it out"
    done < <(LC_ALL=C comm -23 <(printf '%s\n' "$listed") <(printf '%s\n' "${host_needs[@]}" | LC_ALL=C sort -u))
}

needed_libraries() { readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }

check_libraries() {
    local library
    for library in $(needed_libraries); do
        [[ "$library" =~ $runtime_libraries ]] || fault "needs the library $library"
    done
}

# The newest version the module needs of each runtime, e.g. "GLIBC_2.32 GLIBCXX_3.4.29".
newest_versions() {
    local runtime
    for runtime in GLIBC GLIBCXX CXXABI GCC; do
        readelf -V --wide "$module" | grep -o "Name: ${runtime}_[0-9.]*" | cut -d' ' -f2 |
            sort -V | tail -n 1
    done | paste -sd' '
}

check_header
check_symbols
check_libraries
check_search_path
check_host_list
if [ "$faults" -gt 0 ]; then
    echo "$module: $faults fault(s) in what the module shows its host" >&2
    exit 1
fi
host_said="${#host_needs[@]} of them the host's"
[ -z "$host_list" ] || host_said+=", those $host_list lists"
echo "$module: symbols OK ($header_summary; exports get_providers; no RUNPATH; $undefined undefined, all from the host, jsoncpp or the runtimes; $host_said)"
echo "$module: needs $(needed_libraries | paste -sd' '); newest versions $(newest_versions)"
