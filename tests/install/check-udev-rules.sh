#!/usr/bin/env bash
# Checks Ravolet's udev rules file: with "udevadm verify" where udev has it
# (systemd 253 and later), and always line by line, since an older udev
# reads a malformed line by skipping it in silence. Each rule must match
# something (a rule without a match would tag every device), use only keys
# and operators udev knows, grant through the uaccess tag (or only import a
# parent's property for a later rule) and never through a group or a mode,
# and the three grants must be there, each for only the nodes Ravolet opens:
# the G502 X's HID++ hidraw node (interface 1), its pointer's event nodes
# (interface 0), and /dev/uinput as a static node.
set -euo pipefail
rules="$1"
fail() { echo "$rules: $*" >&2; exit 1; }

name="$(basename "$rules")"
# logind's uaccess is acted on by 73-seat-late.rules: the tag must be set before.
[[ $name =~ ^([0-9]{2})-[a-z0-9-]+\.rules$ ]] || fail "not named NN-name.rules"
((10#${BASH_REMATCH[1]} < 73)) || fail "numbered ${BASH_REMATCH[1]}, not below 73"

if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify --resolve-names=never "$rules" || fail "udevadm verify refused it"
fi

hidraw=0 events=0 uinput=0 number=0
while IFS= read -r line || [ -n "$line" ]; do
  number=$((number + 1))
  [[ $line =~ ^[[:space:]]*(#|$) ]] && continue
  matches=0 uaccess=0 imports=0
  IFS=',' read -ra tokens <<<"$line"
  for token in "${tokens[@]}"; do
    token="${token#"${token%%[![:space:]]*}"}"
    token="${token%"${token##*[![:space:]]}"}"
    [[ $token =~ ^([A-Z]+)(\{[A-Za-z0-9_/]+\})?(==|!=|\+=|-=|:=|=)\"([^\"]*)\"$ ]] ||
      fail "line $number: cannot read \"$token\""
    key="${BASH_REMATCH[1]}" operator="${BASH_REMATCH[3]}" value="${BASH_REMATCH[4]}"
    case "$key" in
      ACTION | SUBSYSTEM | SUBSYSTEMS | KERNEL | KERNELS | ATTR | ATTRS | ENV | DRIVERS)
        [[ $operator == "==" || $operator == "!=" ]] || fail "line $number: $key takes == or !=, not $operator"
        matches=$((matches + 1)) ;;
      TAG | OPTIONS)
        [[ $operator == "+=" ]] || fail "line $number: $key should be added to (+=), not $operator"
        [[ $key == TAG && $value == uaccess ]] && uaccess=1 ;;
      IMPORT)
        [[ $operator == "=" && $token == IMPORT\{parent\}* ]] || fail "line $number: only IMPORT{parent}=\"...\" may import"
        imports=1 ;;
      GROUP | MODE | OWNER) fail "line $number: grants through $key; only the uaccess tag may grant" ;;
      *) fail "line $number: unknown key $key" ;;
    esac
  done
  ((matches > 0)) || fail "line $number: matches nothing, so it would apply to every device"
  ((uaccess || imports)) || fail "line $number: neither sets the uaccess tag nor imports for a rule that does"
  ((uaccess && imports)) && fail "line $number: imports and grants at once (udev matches before it imports)"
  [[ $line == *'SUBSYSTEM=="hidraw"'* && $line == *'KERNELS=="0003:046D:C099.*"'* && $line == *'ENV{HID_PHYS}=="*/input1"'* ]] &&
    ((uaccess)) && hidraw=1
  [[ $line == *'SUBSYSTEM=="input"'* && $line == *'KERNEL=="event*"'* && $line == *'ATTRS{id/vendor}=="046d"'* &&
    $line == *'ATTRS{id/product}=="c099"'* && $line == *'ATTRS{phys}=="*/input0"'* ]] && ((uaccess)) && events=1
  [[ $line == *'KERNEL=="uinput"'* && $line == *'OPTIONS+="static_node=uinput"'* ]] && uinput=1
done <"$rules"

((hidraw)) || fail "no rule for the mouse's HID++ hidraw node (interface 1) alone"
((events)) || fail "no rule for the mouse's pointer event nodes (interface 0) alone"
((uinput)) || fail "no rule for /dev/uinput as a static node"
echo "$rules: well formed"
