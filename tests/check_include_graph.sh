#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The folders' include graph must have no cycles: every edge "A includes B"
# between two project folders goes to tsort, which refuses a loop. The build
# keeps each library to the headers of what it links; this keeps the links
# themselves in layers. Relative includes would slip past both, so none are
# allowed.
set -eu
root=$1
cd "$root"
folders="app cli emulator exporter log modbus mqtt ping plan platform platform/widgets protocol settings timeline viewer waveform"
if grep -rn --include='*.h' --include='*.cpp' '#include "\.\./' $folders; then
    echo "relative include found" >&2
    exit 1
fi
for folder in $folders; do
    for file in "$folder"/*.h "$folder"/*.cpp; do
        [ -e "$file" ] || continue
        sed -n 's/^#include "\(.*\)\/[^/]*\.h"$/\1/p' "$file" | while read -r target; do
            [ "$target" = "$folder" ] || echo "$folder $target"
        done
    done
done | sort -u | tsort >/dev/null
