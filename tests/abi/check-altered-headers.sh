#!/usr/bin/env bash
# Alters a copy of our host declarations the way the controller's headers may
# differ from them, runs abi/check-host-headers.sh on it as an integrator
# would, and checks its exit status and that it says what differs; or gives
# it, or abi/compare-reports.sh, what they must refuse.
# Usage: tests/abi/check-altered-headers.sh CASE WORK_DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
name=${1:?"usage: $0 CASE WORK_DIR"}
copy=${2:?"usage: $0 CASE WORK_DIR"}/$name
headers=()
options=()
run=()

# Edits a file of the copy with sed; an edit that changes nothing fails the test.
edit() {
    local before
    before=$(cat "$1")
    sed -i "$2" "$1"
    [ "$(cat "$1")" != "$before" ] || { echo "FAILED: '$2' changed nothing in $1"; exit 1; }
}

# The exit status expected; standard input: the words expected, one extended
# regular expression a line.
expect() {
    status=$1
    patterns=$(cat)
}

rm -rf "$copy"
mkdir -p "$copy/plugin"
cp -r "$root/framework" "$copy/"
cp "$root/plugin/Provider.h" "$copy/plugin/"
cd "$copy"

case "$name" in
agrees_under_other_header_names_with_flags_added_to_the_defaults)
    mkdir host
    mv framework/ttime.h host/TimeStamp.h
    # An include from a folder of the controller's SDK, given by the added flags.
    mkdir -p sdk/vendor
    echo '#pragma once' >sdk/vendor/config.h
    edit host/TimeStamp.h 's|^#include <cstdint>|&\n#include <vendor/config.h>|'
    headers=(framework/SMDSPDevice.h host/TimeStamp.h plugin/Provider.h)
    options=(--board-flags "-I $copy/sdk" --build-flags "-I $copy/sdk")
    expect 0 <<'END'
agree with ours: [0-9]+ facts on the board
END
    ;;
names_an_include_the_board_compiler_cannot_find)
    edit framework/ttime.h 's|^#include <cstdint>|&\n#include <vendor/config.h>|'
    expect 2 <<'END'
finds no vendor/config.h \(included from .*framework/ttime.h:[0-9]+\): give the folder it is in with --board-flags
END
    ;;
names_reordered_rule_value_members_of_the_same_size)
    # The plain members first: still 108 bytes, but the strings that
    # rule_values_.clear() destroys lie elsewhere.
    edit framework/HostTypes.h '/^    std::string /{H;d}; /^    bool state = false;/G'
    expect 1 <<'END'
rule_value::signal_key is at 0 here and 12 in the controller's headers
rule_value::level is at 96 here and 0 in the controller's headers
differ from ours on the board
END
    ;;
names_a_time_stamp_in_reverse_order)
    # Second first, year last: the same 7 bytes.
    awk '/^struct ttime \{/ { print; inside = 1; next }
         inside && /^\};/ { for (i = n; i >= 1; i--) print field[i]; inside = 0 }
         inside { field[++n] = $0; next } 1' framework/ttime.h >ttime.reversed
    ! cmp -s ttime.reversed framework/ttime.h || { echo "FAILED: ttime not reversed"; exit 1; }
    mv ttime.reversed framework/ttime.h
    expect 1 <<'END'
ttime::year is at 0 here and 5 in the controller's headers
ttime::second is at 6 here and 0 in the controller's headers
END
    ;;
names_swapped_members_that_the_module_destroys)
    edit framework/SMDVDevice.h 's/std::map<std::string, bool> bool_states_;/@/; s/std::weak_ptr<SMDController> controller_;/std::map<std::string, bool> bool_states_;/; s/@/std::weak_ptr<SMDController> controller_;/'
    expect 1 <<'END'
SMDVDevice::bool_states_ is at [0-9]+ here and [0-9]+ in the controller's headers
SMDVDevice::controller_ is at [0-9]+ here and [0-9]+ in the controller's headers
END
    ;;
names_two_swapped_members)
    edit framework/SMDSPDevice.h 's/int step_;/int @;/; s/int baud_rate_;/int step_;/; s/int @;/int baud_rate_;/'
    expect 1 <<'END'
SMDSPDevice::step_ is at [0-9]+ here and [0-9]+ in the controller's headers
SMDSPDevice::baud_rate_ is at [0-9]+ here and [0-9]+ in the controller's headers
differ from ours on the board
END
    ;;
names_a_moved_virtual_function)
    edit framework/SMDSPDevice.h \
        '/virtual bool IsStalled();/d; s/^\( *\)virtual int RefreshStatus();/\1virtual bool IsStalled();\n&/'
    expect 1 <<'END'
SMDSPDevice::IsStalled\(\) is in virtual table slot [0-9]+ here and in slot [0-9]+ in the controller's headers
SMDSPDevice::RefreshStatus\(\) is in virtual table slot [0-9]+ here and in slot [0-9]+ in the controller's headers
END
    ;;
names_a_changed_result_type)
    edit framework/SMDSPDevice.h 's/virtual int SendData(/virtual bool SendData(/'
    expect 1 <<'END'
SMDSPDevice::SendData\(const unsigned char\*, unsigned int\) is declared `int SendData\(const unsigned char\*, unsigned int\)` here and `bool SendData\(const unsigned char\*, unsigned int\)` in the controller's headers
END
    ;;
names_a_missing_member_a_plain_function_and_a_type_the_board_hides)
    edit framework/SMDSPDevice.h '/unsigned int rx_len_;/d; s/virtual bool OpenPort();/bool OpenPort();/'
    edit framework/VDeviceInterface.h 's/unsigned int data_id_ = 0;/std::size_t data_id_ = 0;/'
    expect 1 <<'END'
SMDSPDevice::rx_len_ is missing in the controller's headers
SMDSPDevice::OpenPort\(\) is in virtual table slot [0-9]+ here and not virtual in the controller's headers
On the build machine \(.*\), besides: 1 difference
VDeviceInterface::data_id_ is of type `unsigned int` here and `unsigned long` in the controller's headers
differ from ours on the board
END
    ;;
refuses_headers_that_lack_a_host_class)
    headers=(framework/SMDSPDevice.h framework/ttime.h)
    expect 2 <<'END'
The probe does not build against the headers in .* for the board
error: .Provider. was not declared
name every header that holds one of them
END
    ;;
refuses_a_folder_without_the_headers)
    rm -r framework plugin
    expect 2 <<'END'
holds no framework/SMDSPDevice.h; name the headers that declare the host's classes
END
    ;;
refuses_a_header_that_is_not_there)
    headers=(framework/SMDSPDevice.h framework/TimeStamp.h)
    expect 2 <<<"holds no framework/TimeStamp.h$"
    ;;
refuses_a_folder_that_is_not_there)
    run=("$root/abi/check-host-headers.sh" "$copy/nowhere")
    expect 2 <<<"nowhere: no such folder$"
    ;;
refuses_to_compare_a_line_that_is_no_fact)
    printf 'SMDSPDevice size 4712\n' >spaces.txt
    run=("$root/abi/compare-reports.sh" "$root/abi/host-abi.mipsel.txt" spaces.txt)
    expect 2 <<<"spaces.txt:1: not a line of a layout report"
    ;;
refuses_to_compare_a_report_that_is_not_there)
    run=("$root/abi/compare-reports.sh" "$root/abi/host-abi.mipsel.txt" nothing.txt)
    expect 2 <<<"nothing.txt: cannot read the report"
    ;;
*)
    echo "unknown case: $name" >&2
    exit 2
    ;;
esac
[ ${#run[@]} -gt 0 ] || run=("$root/abi/check-host-headers.sh" "${options[@]}" "$copy" "${headers[@]}")

actual=0
failed=0
output=$("${run[@]}" 2>&1) || actual=$?
echo "$output"
if [ "$actual" -ne "$status" ]; then
    echo "FAILED: exit status $actual, expected $status"
    failed=1
fi
while IFS= read -r pattern; do
    if ! grep -Eq -- "$pattern" <<<"$output"; then
        echo "FAILED: nothing says: $pattern"
        failed=1
    fi
done <<<"$patterns"
exit "$failed"
