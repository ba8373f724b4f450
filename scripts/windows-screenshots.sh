#!/usr/bin/env bash
# Starts mirka.exe under wine on a virtual X display, links it on loopback to the Linux
# terminal end, and takes PNG screenshots of the login window and the talk window at 100 %:
#   bash scripts/windows-screenshots.sh [WINDOWS_FOLDER [LINUX_BUILD [OUT]]]
# WINDOWS_FOLDER is the shipped folder of scripts/windows-package.sh (build-windows-gui/mirka),
# LINUX_BUILD a Linux build with src/cli/mirka-cli (build-normal), OUT the folder for the
# pictures (docs/windows). The wine prefix is its own (~/.cache/mirka-windows/wine-gui), with
# Japanese fonts from Debian's fonts-ipafont standing in for the Windows ones.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
windows=$(readlink -f "${1:-build-windows-gui/mirka}")
linux=$(readlink -f "${2:-build-normal}")
out=$(readlink -m "${3:-docs/windows}")
cache=${MIRKA_WINDOWS_CACHE:-$HOME/.cache/mirka-windows}
cli=$linux/src/cli/mirka-cli
[ -x "$windows/mirka.exe" ] || { echo "no $windows/mirka.exe (scripts/windows-package.sh)" >&2; exit 1; }
[ -x "$cli" ] || { echo "no $cli" >&2; exit 1; }

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for package in xvfb xdotool imagemagick fonts-ipafont-gothic fonts-ipafont-mincho wine64; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

export WINEPREFIX=$cache/wine-gui WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A Japanese Windows (wine takes its locale from the Unix one): its code page, and its
# dialog font.
if ! locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
    "${sudo_cmd[@]}" localedef --no-archive -f UTF-8 -i ja_JP ja_JP.UTF-8
fi
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
pids=()
work=$(mktemp -d)
finish() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    "${wine%/*}/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

# A free display number.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "windows-screenshots: making the wine prefix $WINEPREFIX" >&2
    "$wine" wineboot -i >/dev/null 2>&1
fi
# The Windows names of the Japanese faces, as the program and Qt ask for them, given the
# IPA fonts' files: MS UI Gothic is what "MS Shell Dlg" is on a Japanese Windows.
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
for file in /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf \
    /usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf /usr/share/fonts/opentype/ipafont-mincho/ipam.ttf; do
    ln -sf "$file" "$fonts/"
done
cat >"$work/fonts.reg" <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAPGothic"
"MS PGothic"="IPAPGothic"
"MS Gothic"="IPAGothic"
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"ＭＳ 明朝"="IPAMincho"
"Meiryo"="IPAPGothic"
"Meiryo UI"="IPAPGothic"
"Yu Gothic UI"="IPAPGothic"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="MS UI Gothic"
"MS Shell Dlg 2"="MS UI Gothic"
EOF
# regedit reads a version 5 file as UTF-16 with its byte order mark.
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$work/fonts.reg"; } >"$work/fonts16.reg"
reg_file=$work/fonts16.reg
"$wine" regedit /S "Z:${reg_file//\//\\}" >/dev/null 2>&1
"${wine%/*}/wineserver" -w 2>/dev/null || true

# The Windows copy waits as the server on a port of its own; conf.txt in its working folder
# keeps its settings out of the prefix's %APPDATA%.
port=$((20000 + RANDOM % 20000))
run=$work/run
mkdir -p "$run/receive"
printf '[server]\r\nport=%d\r\n[main]\r\nname=ウィンドウズ\r\n' "$port" | iconv -f UTF-8 -t CP932 >"$run/conf.txt"
(cd "$run" && exec "$wine" "$windows/mirka.exe") >"$work/mirka.log" 2>&1 &
pids+=($!)

# Waits for a visible top-level window whose title matches; prints its id.
window_named() {
    local name=$1 id
    for _ in $(seq 600); do
        id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    echo "windows-screenshots: no window named $name" >&2
    return 1
}
# The window's picture alone, cropped from the screen (there is no window manager).
shoot() {
    local id=$1 file=$2 x y w h
    eval "$(xdotool getwindowgeometry --shell "$id")"
    x=$X y=$Y w=$WIDTH h=$HEIGHT
    import -window root -crop "${w}x${h}+${x}+${y}" +repage -strip "$file"
    echo "windows-screenshots: $file (${w}x${h})" >&2
}

mkdir -p "$out"
login=$(window_named "${LOGIN_TITLE:-.}")
sleep 2  # the first paint under wine
shoot "$login" "$out/login.png"
echo "LOGIN_WINDOW=$login" >"$work/ids"
if [ -n "${SHOTS_LOGIN_ONLY:-}" ]; then exit 0; fi

# 接続/開始 in server mode: where the button sits in the login window, given in its own
# coordinates by START_AT (x,y) once read from login.png.
eval "$(xdotool getwindowgeometry --shell "$login")"
start_at=${START_AT:?give START_AT=x,y of the 接続/開始 button in login.png}
# SERVER_AT (x,y): the サーバとして起動する choice, clicked first when the window opens on the
# client's side.
if [ -n "${SERVER_AT:-}" ]; then
    xdotool mousemove $((X + ${SERVER_AT%,*})) $((Y + ${SERVER_AT#*,})) click 1
    sleep 1
fi
# UPNP_OFF_AT (x,y): the UPnPを使用しない box. The server must not look for a gateway: that
# search would go to the real SSDP group.
upnp_off=${UPNP_OFF_AT:?give UPNP_OFF_AT=x,y of the UPnPを使用しない box in login.png}
xdotool mousemove $((X + ${upnp_off%,*})) $((Y + ${upnp_off#*,})) click 1
sleep 1
xdotool mousemove $((X + ${start_at%,*})) $((Y + ${start_at#*,})) click 1
# The Linux copy connects once the server listens (--retry), says a line and stays while
# its input, a pipe this script holds open, stays open.
mkfifo "$work/say"
"$cli" connect "127.0.0.1:$port" --retry 120 --stay --name リナックス <"$work/say" \
    >"$work/cli.log" 2>&1 &
pids+=($!)
exec 3>"$work/say"
echo "こんにちは、Linux から送った発言です" >&3
talk=$(window_named "${TALK_TITLE:-Ver\\.T100a}")
sleep 5
shoot "$talk" "$out/talk.png"
cat "$work/cli.log" >&2
exec 3>&-
