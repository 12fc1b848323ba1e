#!/usr/bin/env bash
# The kernel test harness fails, with a message saying why, whenever the tests
# did not all run and pass: no kernel to fetch, a kernel that does not boot, a
# VM out of time, an executable that fails.
#   HarnessTests.sh <kernel-test.sh> <build-dir>
set -uo pipefail
harness="$1"
build_dir="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# A kernel folder laid out as the package unpacks, whose image is no kernel.
broken="$scratch/broken-kernel"
mkdir -p "$broken/boot" "$broken/lib/modules/0.0.0/kernel/drivers/hid" "$broken/lib/modules/0.0.0/kernel/drivers/input/misc"
echo "not a kernel" >"$broken/boot/vmlinuz-0.0.0"
for module in hid/hid hid/hid-generic hid/uhid input/evdev input/misc/uinput; do
  echo "not a module" >"$broken/lib/modules/0.0.0/kernel/drivers/$module.ko"
done

failures=0
# case: what, environment, expected message, arguments...
expect_failure() {
  local what="$1" environment="$2" message="$3"
  shift 3
  local output status
  output="$(env $environment bash "$harness" "$@" 2>&1)"
  status=$?
  if [ "$status" -ne 1 ] || [[ "$output" != *"$message"* ]]; then
    echo "FAILED: $what: exit status $status, expected 1 with \"$message\"; it said:"
    echo "$output" | tail -n 20
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

expect_failure "a kernel package that does not exist" "RAVOLET_KERNEL_PACKAGE=ravolet-no-such-kernel" \
  "cannot fetch the kernel" "$build_dir" /usr/bin/true
expect_failure "a kernel image that does not boot" "RAVOLET_KERNEL_DIR=$broken" \
  "the VM did not boot" "$build_dir" /usr/bin/true
expect_failure "a VM that runs out of time" "" \
  "the VM ran out of its 1 s" --timeout 1 "$build_dir" /usr/bin/true
expect_failure "an executable that fails in the VM" "" \
  "FAILED (exit status 1): /usr/bin/false" "$build_dir" /usr/bin/true /usr/bin/false

echo "$((4 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
