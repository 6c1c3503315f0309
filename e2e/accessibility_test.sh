#!/usr/bin/env bash
# The Linux build as a screen reader sees it: the accessibility tree read
# through AT-SPI, the buttons pressed through it, their states following
# Record and Stop, and the focus the keyboard moves. Under a virtual
# display, on a private sound server.

E2E_NEEDS="session app display sound"
source "$(dirname "$0")/lib.sh"
desktop_accessibility
app_start "$E2E_DIR/app.log" || exit 1

echo "The tree"
atspi tree larkspan >"$E2E_DIR/tree.txt" || { cat "$E2E_DIR/tree.txt"; exit 1; }
sed 's/^/  | /' "$E2E_DIR/tree.txt"
line() {  # the tree's line for a role and name
    grep -F "$1 \"$2\"" "$E2E_DIR/tree.txt"
}
has() {  # line state...: the line's states include every state; !state: not that one
    local states=" ${1#*[}" s
    states="${states%%]*} "
    for s in "${@:2}"; do
        if [ "${s#!}" != "$s" ]; then
            [[ "$states" != *" ${s#!} "* ]] || return 1
        else
            [[ "$states" == *" $s "* ]] || return 1
        fi
    done
}
offers() { [[ "$1" == *"actions: $2" ]]; }  # line actions
title=$(sed -n 's/^  dialog "\(.*\)" \[.*/\1/p' "$E2E_DIR/tree.txt")
e2e_check "one dialog, titled \"Larkspan 1.0 ...\"" test "${title#Larkspan 1.0 }" != "$title"
record=$(line "push button" Record) stop=$(line "push button" Stop)
contact=$(line label "Contact: larkspan@example.org;  https://larkspan.example.org")
e2e_check "push buttons Record and Stop, and the contact text" test -n "$record" -a -n "$stop" -a -n "$contact"
e2e_check "Record: enabled, focusable, focused; Press" has "$record" enabled focusable focused
e2e_check "Record offers Press" offers "$record" Press
e2e_check "Stop: disabled, focusable, not focused" has "$stop" '!enabled' focusable '!focused'
e2e_check "Stop offers nothing" offers "$stop" -

echo "Record, pressed through AT-SPI"
atspi press larkspan Record
e2e_check "Record disabled" atspi wait larkspan Record '!enabled'
e2e_check "Stop enabled" atspi wait larkspan Stop enabled focusable
e2e_check "both streams open" app_wait_streams 3
echo "Tab, on the keyboard"
e2e_key "$APP_WIN" Tab
e2e_check "Stop has the focus and says it can" atspi wait larkspan Stop focused focusable

echo "Stop, pressed through AT-SPI"
atspi press larkspan Stop
e2e_check "Record enabled" atspi wait larkspan Record enabled
e2e_check "Stop disabled" atspi wait larkspan Stop '!enabled'
e2e_check "the streams close" app_wait_streams 0
atspi tree larkspan | sed 's/^/  | /'

echo "Closing"
app_close
e2e_check "the program exits with 0" test "$APP_STATUS" = 0

e2e_result "accessibility e2e"
