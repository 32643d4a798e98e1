#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The top CMakeLists.txt adds the folders lowest layer first, and says each
# library links only those before it: a library that links one added after it
# makes that a lie, and the order of the layers a reader takes from it wrong.
# Only the LINK list of lumora_add_library and target_link_libraries calls
# count, so comments may name any library.
set -eu
root=$1
cd "$root"
order=$(sed -n 's/^add_subdirectory(\([^ )]*\).*/\1/p' CMakeLists.txt)
own_library() {
    sed -n 's/.*lumora_add_library(\(lumora_[a-z_]*\).*/\1/p' "$1/CMakeLists.txt"
}
libraries=" "
for folder in $order; do
    [ -f "$folder/CMakeLists.txt" ] && libraries="$libraries$(own_library "$folder") "
done
before=" "
status=0
for folder in $order; do
    [ -f "$folder/CMakeLists.txt" ] || continue
    own=$(own_library "$folder")
    [ -n "$own" ] || continue
    links=$(tr '\n' ' ' <"$folder/CMakeLists.txt" |
        grep -o -e 'LINK [^)]*' -e 'target_link_libraries([^)]*' | grep -o 'lumora_[a-z_]*' | sort -u)
    for used in $links; do
        case "$libraries" in *" $used "*) ;; *) continue ;; esac
        [ "$used" != "$own" ] || continue
        case "$before" in
        *" $used "*) ;;
        *)
            echo "$folder/CMakeLists.txt: $own links $used, which CMakeLists.txt adds after it" >&2
            status=1
            ;;
        esac
    done
    before="$before$own "
done
exit $status
