#!/usr/bin/env bash
# The Windows stage of the tests. Cross-builds skupdater.dll for 32-bit and
# 64-bit Windows with mingw-w64 (warnings are errors), checks that each DLL
# exports exactly the seven functions by their plain names and needs no DLL
# besides the system's, runs the unit tests that need no POSIX stand-in under
# Wine, and runs the Windows host over the comparison files under Wine (with a
# virtual X display for its windows) and the POSIX session host over copies of
# the same files: both must print the same results, show the same message boxes
# and leave the same bytes in every file and every preview.
#
# Installs what it needs from Debian's packages (retrying). Only when the
# package registry cannot be reached does it print a SKIPPED line and succeed.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)

packages=(mingw-w64 wine64 xvfb xauth googletest)
missing() {
    for tool in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix xvfb-run xauth; do
        command -v "$tool" >/dev/null || return 0
    done
    [ -x /usr/lib/wine/wine64 ] && [ -f /usr/src/googletest/CMakeLists.txt ] && return 1
    return 0
}
if missing; then
    installed=no
    for attempt in 1 2 3; do
        if apt-get update && DEBIAN_FRONTEND=noninteractive \
            apt-get install -y --no-install-recommends "${packages[@]}"; then
            installed=yes
            break
        fi
        sleep $((attempt * 15))
    done
    if [ "$installed" = no ]; then
        if apt-get update 2>&1 | grep -Eq 'Could not resolve|Failed to fetch|Temporary failure|Unable to connect|Network is unreachable|Connection timed out'; then
            echo "=================================================================="
            echo "SKIPPED: the Windows stage: the package registry cannot be reached"
            echo "=================================================================="
            exit 0
        fi
        echo "the Windows stage cannot install ${packages[*]}" >&2
        exit 1
    fi
fi

passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, counts and reports it
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "windows: ok   $name"
    else
        failed=$((failed + 1))
        echo "windows: FAIL $name"
    fi
}

# Both DLLs, warning-free (the presets make warnings errors).
for preset in windows-x86 windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# The export table of each DLL holds exactly the seven names, and the DLL
# imports nothing but the system's own DLLs.
exports_are_the_seven() {
    local objdump=$1 dll=$2
    diff <(printf '%s\n' Close List ListPicture Open Register UnRegister Update) \
        <("$objdump" -p "$dll" |
            sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
}
imports_only_the_system() {
    local objdump=$1 dll=$2
    ! "$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        grep -viE '^(kernel32|user32|gdi32|advapi32|msvcrt)\.dll$'
}
is_format() {
    local objdump=$1 dll=$2 format=$3
    "$objdump" -f "$dll" | grep -q "file format $format"
}
check "32-bit DLL exports exactly the seven names" \
    exports_are_the_seven i686-w64-mingw32-objdump build/windows-x86/skupdater.dll
check "64-bit DLL exports exactly the seven names" \
    exports_are_the_seven x86_64-w64-mingw32-objdump build/windows-x64/skupdater.dll
check "32-bit DLL is a 32-bit DLL" \
    is_format i686-w64-mingw32-objdump build/windows-x86/skupdater.dll pei-i386
check "32-bit DLL needs no runtime DLL" \
    imports_only_the_system i686-w64-mingw32-objdump build/windows-x86/skupdater.dll
check "64-bit DLL needs no runtime DLL" \
    imports_only_the_system x86_64-w64-mingw32-objdump build/windows-x64/skupdater.dll

# The POSIX side of the comparison (built already by the main test command).
cmake --preset debug >/dev/null
cmake --build build/debug --target skupdater sk_session_host sk_comparison_files

# Wine: a private prefix, quiet, with the ANSI code page 932 of a Japanese
# Windows, and a virtual display for the host's windows and the message boxes.
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
japanese() { env LC_ALL=ja_JP.UTF-8 "$@"; }
display=""
cleanup() {
    if [ -n "$display" ]; then kill "$display" 2>/dev/null || true; fi
    japanese /usr/lib/wine/wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
for n in $(seq 90 130); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    display=$!
    sleep 1
    if kill -0 "$display" 2>/dev/null; then
        export DISPLAY=":$n"
        break
    fi
    display=""
done
[ -n "$display" ] || { echo "the Windows stage cannot start a virtual display" >&2; exit 1; }
# A fresh prefix, complete (its services and drives written) before it is used;
# its drive E is a CD-ROM drive on a folder, which the drive service reads when
# it starts.
rm -rf "$WINEPREFIX"
japanese "$wine" wineboot --init >/dev/null 2>&1
japanese /usr/lib/wine/wineserver -w
mkdir -p "$root/build/windows-compare-cd"
ln -sfn "$root/build/windows-compare-cd" "$WINEPREFIX/dosdevices/e:"
japanese "$wine" reg add 'HKLM\Software\Wine\Drives' /v e: /t REG_SZ /d cdrom /f >/dev/null
japanese /usr/lib/wine/wineserver -w

check "unit tests under Wine" japanese ctest --preset windows-x64

# The comparison: the same road over copies of the same files on both sides.
work="$root/build/windows-compare"
rm -rf "$work"
mkdir -p "$work/tmp"
mapfile -t names < <(build/debug/tools/windows/sk_comparison_files "$work/files")
for side in posix windows; do
    cp -r "$work/files" "$work/$side"
    mkdir -p "$work/$side/previews"
done
road() {  # road FOLDER SEPARATOR: the commands of the run over the files in FOLDER
    local at=$1 s=$2
    printf '%s\n' register
    for name in "${names[@]}"; do
        printf '%s\n' open "$at${s}content$s$name" list 100 list 300 list 200 \
            preview 200 32 24 "$at${s}previews$s$name-before.rgb" update \
            preview 200 32 24 "$at${s}previews$s$name-after.rgb" close
    done
    printf '%s\n' open "$at${s}content${s}missing.rez" close unregister
}
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The POSIX session host and the Windows host over a road, each with its own
# message log and answers: run_posix|run_windows NAME ANSWERS COMMANDS...
run_posix() {
    local name=$1 answers=$2
    shift 2
    env TMPDIR="$work/tmp" SKELMORA_MESSAGE_ANSWERS="$answers" \
        SKELMORA_MESSAGE_LOG="$work/posix-$name.log" \
        build/debug/tools/windows/sk_session_host build/debug/libskupdater.so "$@" \
        >"$work/posix-$name.out" 2>/dev/null || true
    # A run that shows no message box writes no log.
    grep -s '"event":"message"' "$work/posix-$name.log" >"$work/posix-$name.messages" || true
}
run_windows() {
    local name=$1 answers=$2
    shift 2
    japanese env SKELMORA_MESSAGE_ANSWERS="$answers" \
        SKELMORA_MESSAGE_LOG="$(windows_path "$work/windows-$name.messages")" \
        timeout 300 "$wine" build/windows-x64/sk_windows_host.exe build/windows-x64/skupdater.dll \
        "$@" >"$work/windows-$name.out" 2>/dev/null || true
    touch "$work/windows-$name.messages"
}
key='HKLM\SOFTWARE\Vellcor\SKELMORA\1.5\UPDATER'
registry() {  # registry NAME VALUE: sets the value, or removes it when VALUE is empty
    if [ -n "$2" ]; then
        japanese "$wine" reg add "$key" /v "$1" /t REG_SZ /d "$2" /f >/dev/null
    else
        japanese "$wine" reg delete "$key" /v "$1" /f >/dev/null 2>&1 || true
    fi
}
same_runs() {  # same_runs NAME: the same output and the same message boxes
    diff "$work/posix-$1.out" "$work/windows-$1.out" &&
        diff "$work/posix-$1.messages" "$work/windows-$1.messages"
}

# The update source on the hard disk, named in the registry.
mapfile -t posix_road < <(road "$work/posix" /)
mapfile -t windows_road < <(road "$(windows_path "$work/windows")" '\')
HDPathForRez="$work/posix/source" PathForRez= SKELMORA_DRIVES= run_posix road "" "${posix_road[@]}"
registry HDPathForRez "$(windows_path "$work/windows/source")"
registry PathForRez ""
run_windows road "" "${windows_road[@]}"
check "the same results of every call" diff "$work/posix-road.out" "$work/windows-road.out"
check "the same message boxes" diff "$work/posix-road.messages" "$work/windows-road.messages"
check "the same files" diff <(cd "$work/posix" && find . -type f | sort) \
    <(cd "$work/windows" && find . -type f | sort)
same_bytes() {
    local file
    for file in $(cd "$work/posix" && find . -type f | sort); do
        cmp "$work/posix/$file" "$work/windows/$file" || return 1
    done
}
check "the same bytes in every file and preview" same_bytes
# The comparison means something only when the road did what it should.
road_did_its_work() {
    [ "$(grep -c '^update 1$' "$work/posix-road.out")" -ge 6 ] &&
        grep -q '^open 0$' "$work/posix-road.out" &&
        grep -q 'アップデートが終了しました' "$work/posix-road.messages" &&
        ! cmp -s "$work/posix/previews/fish.rez-before.rgb" "$work/posix/previews/fish.rez-after.rgb" &&
        [ -n "$(tr -d '\0' <"$work/posix/previews/fish.rez-after.rgb" | head -c 1)" ] &&
        ! cmp -s "$work/files/content/fish.rez" "$work/posix/content/fish.rez"
}
check "the road updated files, drew previews and showed messages" road_did_its_work

# The update source on the CD in drive E, which the registry names: first a
# disc without it (the prompt, OK, the wrong disc, the prompt, Cancel), then
# one with it. Wine's drive E is a CD-ROM drive on a folder.
rm -rf "$work/posix-cd" "$root/build/windows-compare-cd"
mkdir -p "$work/posix-cd" "$root/build/windows-compare-cd"
registry HDPathForRez ""
registry PathForRez 'E:\Skelmora\Aquarium.exe'
HDPathForRez= PathForRez='E:\Skelmora\Aquarium.exe' SKELMORA_DRIVES="E=cdrom=$work/posix-cd" \
    run_posix wrong-disc 1,1,2 register unregister
run_windows wrong-disc 1,1,2 register unregister
check "a disc without the update source: the same prompts" same_runs wrong-disc
for cd in "$work/posix-cd" "$root/build/windows-compare-cd"; do
    mkdir -p "$cd/Utility/Updater"
    cp "$work/files/source/Updater.rez" "$cd/Utility/Updater/"
done
HDPathForRez= PathForRez='E:\Skelmora\Aquarium.exe' SKELMORA_DRIVES="E=cdrom=$work/posix-cd" \
    run_posix right-disc "" register unregister
run_windows right-disc "" register unregister
check "a disc with the update source: the same registration" same_runs right-disc
cd_runs_did_their_work() {
    [ "$(cat "$work/posix-wrong-disc.out")" = $'register 0\nunregister 1' ] &&
        [ "$(grep -c '"type":1,' "$work/posix-wrong-disc.messages")" -eq 2 ] &&
        [ "$(head -1 "$work/posix-right-disc.out")" = "register 1" ]
}
check "the drive runs found the CD-ROM drive and prompted" cd_runs_did_their_work

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
