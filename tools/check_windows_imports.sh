#!/usr/bin/env bash
# Fails when a Windows executable imports a DLL that a bare Windows does not
# ship (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll and the like):
# such a brain would not start under Piskvork or the Gomocup judge.
set -euo pipefail
exe=${1:?usage: check_windows_imports.sh FILE.exe}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# The system's own libraries, in lower case.
system_dlls=" kernel32.dll msvcrt.dll ucrtbase.dll ntdll.dll advapi32.dll user32.dll gdi32.dll
 shell32.dll ole32.dll oleaut32.dll ws2_32.dll psapi.dll bcrypt.dll version.dll shlwapi.dll "

mapfile -t dlls < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [ ${#dlls[@]} -eq 0 ]; then
    echo "check_windows_imports: no import table found in $exe" >&2
    exit 1
fi
foreign=()
for dll in "${dlls[@]}"; do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case "$lower" in
        api-ms-win-*) continue ;;
    esac
    case "$system_dlls" in
        *" $lower "*) ;;
        *) foreign+=("$dll") ;;
    esac
done
echo "$exe imports: ${dlls[*]}"
if [ ${#foreign[@]} -gt 0 ]; then
    echo "not part of Windows: ${foreign[*]}" >&2
    exit 1
fi
