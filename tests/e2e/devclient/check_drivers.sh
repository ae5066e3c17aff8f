#!/bin/bash
# End-to-end check of the x86_64 stand-in driver images under wine64: loads
# Kestrune.sys as a boot-start kernel service with a seeded device table,
# drives its control device through devclient.exe and compares the answers,
# then loads and unloads Morvellin.sys.
#
#   check_drivers.sh IMAGES_DIR DEVCLIENT_EXE
#
# IMAGES_DIR holds Kestrune.sys and Morvellin.sys (x86_64 builds), e.g.
# build/win64/drivers/images. Exit code 0 when every check passed.
# Starts its own Xvfb and wineserver in a throwaway prefix and stops both.
set -u

IMAGES_DIR=$1
DEVCLIENT=$2
WINE=/usr/lib/wine/wine64
WINESERVER_BIN=/usr/lib/wine/wineserver
SERVICES='HKLM\System\CurrentControlSet\Services'
DRIVERS_WIN='C:\windows\system32\drivers'

export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/kst-drivers-XXXXXX)
export WINESERVER=$WINESERVER_BIN
export WINEDLLOVERRIDES=mscoree,mshtml=
export WINEDEBUG=-all
XVFB_PID=

cleanup() {
    "$WINESERVER_BIN" -k 2>/dev/null
    "$WINESERVER_BIN" -w 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb ":$n" -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        sleep 1
        if kill -0 "$XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$n"
            return 0
        fi
    done
    echo "no free X display" >&2
    return 1
}

FAILURES=0
CHECKS=0

# expect NAME EXPECTED_EXIT EXPECTED_OUTPUT_PATTERN -- devclient arguments
expect() {
    local name=$1 want_rc=$2 pattern=$3 out rc
    shift 4
    out=$("$WINE" 'C:\devclient.exe' "$@" 2>&1)
    rc=$?
    out=${out//$'\r'/}
    CHECKS=$((CHECKS + 1))
    if [ "$rc" != "$want_rc" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
        FAILURES=$((FAILURES + 1))
        printf 'FAIL %s: exit %s (want %s), output:\n%s\n' "$name" "$rc" "$want_rc" "$out"
    else
        printf 'ok   %s\n' "$name"
    fi
}

# Little-endian hex of a 32-bit number.
u32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# record HBA PATH TARGET LUN LETTER ADAPTER_HEX16 CONTEXT STATUS SENSELEN SENSE_HEX36
record() {
    printf '%s%s%s%s%s%s%s%02x%02x%s' "$(u32 "$1")" "$(u32 "$2")" "$(u32 "$3")" "$(u32 "$4")" \
        "$(u32 "$5")" "$6" "$(u32 "$7")" "$8" "$9" "${10}"
}

hex() { local h="$*"; printf '%s' "${h// /}"; }
ZERO_SENSE=$(hex 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00)
NOT_READY=$(hex 70 00 02 00 00 00 00 0a 00 00 00 00 04 01 00 00 00 00)
UNIT_ATTN=$(hex 70 00 06 00 00 00 00 0a 00 00 00 00 28 00 00 00 00 ff)
ATAPI=6174617069000000
ABCDEFGH=4142434445464748
TABLE=$(record 1 0 1 0 4 $ATAPI 0x11223344 0 0 $ZERO_SENSE)$(
    record 2 1 2 3 255 $ABCDEFGH 0xdeadbeef 2 18 $NOT_READY)$(
    record 2 1 2 4 0 $ABCDEFGH 0x0badf00d 0x12 18 $UNIT_ATTN)

set_parameters() { "$WINE" reg add "$SERVICES\\Kestrune" /v Parameters "$@" /f >/dev/null; }
restart_kestrune() {
    "$WINE" sc stop Kestrune >/dev/null
    "$WINE" sc start Kestrune >/dev/null
}

# A .reg file setting Parameters to COUNT copies of one record: values this
# long do not fit on a command line.
import_records() {
    local count=$1 rec bytes file=$WINEPREFIX/drive_c/params.reg
    rec=$(record 7 0 0 0 0 $ATAPI 0 0 0 $ZERO_SENSE | sed 's/../&,/g')
    bytes=$(for ((i = 0; i < count; i++)); do printf '%s' "$rec"; done)
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Kestrune]\r\n"Parameters"=hex:%s\r\n' \
        "${bytes%,}" >"$file"
    "$WINE" regedit /s 'C:\params.reg'
}

setup_prefix() {
    "$WINE" wineboot -i >/dev/null 2>&1
    "$WINESERVER_BIN" -k
    "$WINESERVER_BIN" -w
    cp "$IMAGES_DIR/Kestrune.sys" "$IMAGES_DIR/Morvellin.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/"
    cp "$DEVCLIENT" "$WINEPREFIX/drive_c/devclient.exe"
    "$WINE" sc create Kestrune type= kernel start= boot group= "System Bus Extender" \
        binpath= "$DRIVERS_WIN\\Kestrune.sys" >/dev/null
    "$WINE" sc create Morvellin type= kernel start= demand binpath= "$DRIVERS_WIN\\Morvellin.sys" >/dev/null
    set_parameters /t REG_BINARY /d "$TABLE"
    # New session: the boot-start driver loads as it starts. A persistent
    # server keeps the service processes alive between the commands below.
    # The session is started by a command whose output is not captured: the
    # service processes inherit that command's stdout and would otherwise
    # hold a capturing pipe open for ever.
    "$WINESERVER_BIN" -k
    "$WINESERVER_BIN" -w
    "$WINESERVER_BIN" -p
    "$WINE" wineboot >/dev/null 2>&1 </dev/null
}

check_requests() {
    expect "initiate succeeds" 0 '^ok' -- initiate
    expect "uninitiate succeeds" 0 '^ok' -- uninitiate
    expect "count of seeded table" 0 '^count 3$' -- count
    expect "entry 0 fields" 0 'entry 0 hba=1 path=0 target=1 lun=0 letter=4 adapter="atapi" context=0x11223344' -- entries
    expect "entry 1 eight-byte adapter name" 0 'entry 1 hba=2 path=1 target=2 lun=3 letter=255 adapter="ABCDEFGH" context=0xdeadbeef' -- entries
    expect "entries raw bytes" 0 "^ok $(sed 's/../& /g; s/ $//' <<<"${TABLE:0:64}")" -- getinfo 96
    expect "info output of 0 bytes" 1 '^error 122' -- getinfo 0
    expect "info output of 3 bytes" 1 '^error 122' -- getinfo 3
    expect "info output of 5 bytes" 1 '^error 122' -- getinfo 5
    expect "info output of two entries" 1 '^error 122' -- getinfo 64
    expect "info output of four entries" 1 '^error 87' -- getinfo 128
    expect "passthrough good status" 0 "status 0x00 senselen 0 sense $(sed 's/../& /g; s/ $//' <<<$ZERO_SENSE)" -- passthrough 0
    expect "passthrough not ready" 0 "status 0x02 senselen 18 sense $(sed 's/../& /g; s/ $//' <<<$NOT_READY)" -- passthrough 1
    expect "passthrough same adapter, other LUN" 0 "status 0x12 senselen 18 sense $(sed 's/../& /g; s/ $//' <<<$UNIT_ATTN)" -- passthrough 2
    expect "passthrough leaves data buffer" 0 'data0 0x00' -- passthrough 0
    local field
    for field in hba adapter path target lun; do
        expect "passthrough with other $field fails" 1 '^error 433$' -- alter 1 $field
    done
    expect "passthrough ignores context value" 0 'status 0x02 senselen 18' -- alter 1 context
    expect "passthrough of 95 bytes fails" 1 '^error 87' -- ptlen 95
    expect "passthrough of 97 bytes fails" 1 '^error 87' -- ptlen 97
    expect "unknown request fails" 1 '^error 1$' -- ioctl 220024
}

check_table_loading() {
    set_parameters /t REG_BINARY /d "${TABLE:0:102}"
    restart_kestrune
    expect "51-byte table means no devices" 0 '^count 0$' -- count
    set_parameters /t REG_BINARY /d "${TABLE:0:104}"
    restart_kestrune
    expect "one record" 0 '^count 1$' -- count
    set_parameters /t REG_SZ /d "${TABLE:0:104}"
    restart_kestrune
    expect "text value means no devices" 0 '^count 0$' -- count
    "$WINE" reg delete "$SERVICES\\Kestrune" /v Parameters /f >/dev/null
    restart_kestrune
    expect "missing value means no devices" 0 '^count 0$' -- count
    expect "no devices, empty entry list succeeds" 0 '^ok' -- getinfo 0
    import_records 4097
    restart_kestrune
    expect "table capped at 4096 records" 0 '^count 4096$' -- count
    expect "capped table entries" 0 '^ok' -- getinfo 131072
}

check_unload() {
    "$WINE" sc stop Kestrune >/dev/null
    expect "device gone after unload" 3 '^open failed 2' -- count
    "$WINE" sc start Kestrune >/dev/null
    expect "device back after reload" 0 '^count' -- count
}

check_morvellin() {
    "$WINE" sc start Morvellin >/dev/null
    expect "Morvellin device opens" 0 '^ok' -- -d '\\.\Morvellin' open
    expect "Morvellin fails requests" 1 '^error 1$' -- -d '\\.\Morvellin' initiate
    "$WINE" sc stop Morvellin >/dev/null
    expect "Morvellin gone after unload" 3 '^open failed 2' -- -d '\\.\Morvellin' open
}

start_xvfb || exit 1
setup_prefix
check_requests
check_unload
check_table_loading
check_morvellin
echo "$CHECKS checks, $FAILURES failed"
[ "$FAILURES" -eq 0 ]
