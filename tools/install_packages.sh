#!/usr/bin/env bash
# Installs with apt-get whatever is missing of PROBE:PACKAGE pairs, where PROBE
# is a command name or an absolute path that the package provides.
set -euo pipefail
missing=()
for pair in "$@"; do
    probe=${pair%%:*}
    package=${pair#*:}
    if [[ $probe == /* ]]; then
        [ -e "$probe" ] && continue
    else
        command -v "$probe" >/dev/null 2>&1 && continue
    fi
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
