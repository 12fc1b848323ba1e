#!/usr/bin/env bash
# Runs test executables inside a virtual machine on Debian's own Linux kernel,
# so that tests of hidraw, evdev, uinput and uhid meet a real kernel.
#
#   scripts/kernel-test.sh [--extra PATH]... [--module PATH]... [--display] [--tsc] [--timeout SECONDS]
#                          <build-dir> <executable>...
#
# 1. The kernel: the package that Debian's linux-image-amd64 depends on (for
#    example linux-image-6.1.0-57-amd64) is fetched with `apt-get download`,
#    and its kernel image (also uncompressed, which boots faster) and its HID
#    and input drivers are unpacked into <build-dir>/kernel/<package>_<version>/,
#    once; nothing is installed on the host. Without package lists
#    (`apt-get update` never ran) they are fetched first. Later runs use that
#    kernel without asking apt again: delete <build-dir>/kernel/ to move to the
#    kernel Debian offers now.
# 2. The initramfs: busybox (static), the modules hid, hid-generic, uhid,
#    evdev and uinput (then each --module), each executable and each --extra
#    PATH at its own path with the shared libraries that `ldd` names for it
#    (and for every ELF file inside a folder given as --extra), a minimal
#    /etc/passwd and /etc/group (root, and nobody with id 65534 for tests
#    that drop privileges), and an init that mounts /proc, /sys and devtmpfs
#    on /dev, loads the modules in that order and runs the executables one
#    after the other as root, each in /tmp, then powers off. The image is a
#    writable file system in memory, so /tmp, /run and every other folder
#    may be written.
# 3. The boot: qemu-system-x86_64 -accel tcg (this machine's KVM cannot nest),
#    two processors, 1 GiB, no display (or --display), within the time
#    limit. The kernel's console goes to the first serial port, the
#    executables' output to the second.
#
# It prints each executable's output (GoogleTest's, for the kernel tests) with
# its result, then the VM's boot and run times, and exits 0 only when every
# executable ran and exited 0. It exits 1 when one failed or never ran, when
# the kernel cannot be fetched or unpacked, when the VM does not boot, or when
# it runs out of time; 2 on a wrong command line.
#
# Options:
#   --extra PATH       copy PATH (a file or a folder, kept at the same path)
#                      into the VM as well; may be given many times. For
#                      example the udev daemon and libinput:
#                        --extra /usr/lib/systemd/systemd-udevd --extra /usr/bin/udevadm
#                        --extra /usr/bin/libinput --extra /usr/libexec/libinput/libinput-debug-events
#                        --extra /lib/udev/rules.d --extra /lib/udev/hwdb.bin --extra /usr/share/libinput
#   --module PATH      load this module of the same kernel too, after the usual
#                      ones and in the order given, named by its path under
#                      lib/modules/<version>/kernel/ (drivers/gpu/drm/drm.ko);
#                      one the unpacked kernel lacks is unpacked from its
#                      package then
#   --display          give the VM qemu's standard VGA card (the bochs DRM
#                      driver's) with a 1920x1080 screen, for a compositor
#                      that drives a screen
#   --tsc              the kernel keeps time by the processor's time stamp
#                      counter, as on real hardware, instead of the emulated
#                      HPET it falls back to under emulation: there every
#                      clock read is a system call and a trapped device access
#                      (about 1 us), which weighs on a program by how often it
#                      reads the clock, not by what it does. Meant for the
#                      benchmarks
#   --timeout SECONDS  the VM's whole time limit, boot included (default 240,
#                      or RAVOLET_KERNEL_TEST_TIMEOUT)
#
# Environment:
#   RAVOLET_KERNEL_PACKAGE  the package whose kernel to use (default
#                           linux-image-amd64; a metapackage is followed to
#                           the versioned package it depends on)
#   RAVOLET_KERNEL_DIR      use this folder instead of fetching: laid out as the
#                           package unpacks (boot/vmlinuz-*, lib/modules/*/)
#
# Inside the VM, /proc/cmdline carries `ravolet.kerneltest=1`: the kernel
# tests' main() refuses to run without it, so that they never pass outside.
set -euo pipefail

usage() {
  sed -n 's/^#   \(scripts\/kernel-test.sh .*\)/usage: \1/p' "${BASH_SOURCE[0]}" >&2
  exit 2
}
fail() {
  echo "kernel-test: $*" >&2
  exit 1
}

extras=()
extra_modules=()
display=(-vga none)
clock=""
timeout_seconds="${RAVOLET_KERNEL_TEST_TIMEOUT:-240}"
while [ $# -gt 0 ]; do
  case "$1" in
    --extra) [ $# -ge 2 ] || usage; extras+=("$2"); shift 2 ;;
    --extra=*) extras+=("${1#--extra=}"); shift ;;
    --module) [ $# -ge 2 ] || usage; extra_modules+=("$2"); shift 2 ;;
    --module=*) extra_modules+=("${1#--module=}"); shift ;;
    --display) display=(-device VGA,xres=1920,yres=1080,vgamem_mb=64); shift ;;
    --tsc) clock=" clocksource=tsc tsc=reliable"; shift ;;
    --timeout) [ $# -ge 2 ] || usage; timeout_seconds="$2"; shift 2 ;;
    --timeout=*) timeout_seconds="${1#--timeout=}"; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || usage
[[ "$timeout_seconds" =~ ^[0-9]+$ ]] || fail "--timeout takes whole seconds, not '$timeout_seconds'"
for module in "${extra_modules[@]}"; do
  [[ "$module" =~ ^[A-Za-z0-9_/.-]+\.ko$ && "$module" != *..* ]] || fail "--module $module is no path of a module"
done
build_dir="$(mkdir -p "$1" && cd "$1" && pwd)"
shift
executables=()
for exe in "$@"; do
  [ -f "$exe" ] && [ -x "$exe" ] || fail "$exe is not an executable file"
  executables+=("$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")")
done
for extra in "${extras[@]}"; do
  [ -e "$extra" ] || fail "--extra $extra does not exist"
done

for tool in qemu-system-x86_64 busybox cpio ldd; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/packages.txt lists it; bash scripts/setup.sh installs what is missing)"
done

# The modules, in the order they are loaded (each after what it depends on),
# as paths under lib/modules/<version>/kernel/.
modules=(drivers/hid/hid.ko drivers/hid/hid-generic.ko drivers/hid/uhid.ko drivers/input/evdev.ko
  drivers/input/misc/uinput.ko "${extra_modules[@]}")

# ---- The kernel ----

# The versioned package behind a metapackage, else the package itself.
resolve_package() { # name
  local name="$1" dep
  dep="$(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
    --no-enhances "$name" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ <>]*\)$/\1/p' | head -n1)"
  echo "${dep:-$name}"
}

# Unpacks the kernel's own ELF image from its compressed boot image, as
# boot/vmlinux beside it, where that image has the entry point qemu can boot
# directly (PVH): a kernel under TCG takes 3 to 5 s to unpack itself at every
# boot. Without it the compressed image boots as it is.
extract_elf_image() { # unpacked package folder
  local vmlinuz offset
  vmlinuz="$(compgen -G "$1/boot/vmlinuz-*" | head -n1)" || return 0
  command -v xz >/dev/null && command -v readelf >/dev/null || return 0
  for offset in $(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | cut -d: -f1); do
    # The stream is followed by more of the boot image, which xz complains about.
    tail -c +"$((offset + 1))" "$vmlinuz" | xz -dc >"$1/boot/vmlinux" 2>/dev/null || true
    if readelf -n "$1/boot/vmlinux" 2>/dev/null | grep -q 'Xen.*(0x00000012)'; then
      return 0
    fi
  done
  rm -f "$1/boot/vmlinux"
}

# Downloads the package into a new folder under the kernel cache and prints
# the folder; the .deb is the only file in it.
download_package() { # name version
  local download
  download="$(mktemp -d "$build_dir/kernel/download.XXXXXX")"
  # As root, apt would hand the download to its own user, who may not
  # write into the build folder.
  local sandbox=()
  [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
  if ! (cd "$download" && apt-get download "${sandbox[@]}" "$1=$2" >&2); then
    rm -rf "$download"
    fail "cannot fetch the kernel: apt-get download $1=$2 failed"
  fi
  echo "$download"
}

fetch_kernel() {
  local package="${RAVOLET_KERNEL_PACKAGE:-linux-image-amd64}"
  # What the package resolved to last time, once unpacked, is used as it is.
  local resolved="$build_dir/kernel/$package.resolved"
  if [ -f "$resolved" ] && [ -f "$build_dir/kernel/$(cat "$resolved")/.unpacked" ]; then
    kernel_dir="$build_dir/kernel/$(cat "$resolved")"
    return
  fi
  if ! compgen -G "/var/lib/apt/lists/*_Packages*" >/dev/null; then
    echo "kernel-test: no package lists yet; running apt-get update" >&2
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update >&2 || fail "apt-get update failed, so the kernel package cannot be found"
  fi
  local name version
  name="$(resolve_package "$package")"
  version="$(apt-cache policy "$name" 2>/dev/null | sed -n 's/^ *Candidate: //p')"
  if [ -z "$version" ] || [ "$version" = "(none)" ]; then
    fail "cannot fetch the kernel: no package '$name' is known to apt (RAVOLET_KERNEL_PACKAGE=$package)"
  fi
  local cache="$build_dir/kernel/${name}_$version"
  exec 9>"$build_dir/kernel/.lock"
  flock 9
  if [ ! -f "$cache/.unpacked" ]; then
    echo "kernel-test: fetching $name $version into $cache" >&2
    local download deb
    download="$(download_package "$name" "$version")" || exit 1
    deb="$(compgen -G "$download/*.deb" | head -n1)"
    # Only the kernel image and the HID and input drivers: a few MB instead
    # of the package's 400.
    mkdir -p "$download/root"
    if ! dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$download/root" --wildcards \
      './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*' './lib/modules/*/kernel/drivers/input/*'; then
      rm -rf "$download"
      fail "cannot unpack the kernel from $deb"
    fi
    extract_elf_image "$download/root"
    rm -rf "$cache"
    mv "$download/root" "$cache"
    rm -rf "$download"
    touch "$cache/.unpacked"
  fi
  echo "${name}_$version" >"$resolved"
  exec 9>&-
  kernel_dir="$cache"
}

# Unpacks the modules that the unpacked kernel lacks from its package (the
# folder is named <package>_<version>), beside the others.
fetch_missing_modules() {
  local missing=() module
  for module in "${modules[@]}"; do
    compgen -G "$kernel_dir/lib/modules/*/kernel/$module" >/dev/null || missing+=("./lib/modules/*/kernel/$module")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  local folder name version download deb
  folder="$(basename "$kernel_dir")"
  name="${folder%%_*}"
  version="${folder#*_}"
  exec 9>"$build_dir/kernel/.lock"
  flock 9
  echo "kernel-test: unpacking ${missing[*]} from $name $version" >&2
  download="$(download_package "$name" "$version")" || exit 1
  deb="$(compgen -G "$download/*.deb" | head -n1)"
  mkdir -p "$download/root"
  if ! dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$download/root" --wildcards "${missing[@]}"; then
    rm -rf "$download"
    fail "cannot unpack ${missing[*]} from $deb"
  fi
  cp -a "$download/root/lib" "$kernel_dir/"
  rm -rf "$download"
  exec 9>&-
}

mkdir -p "$build_dir/kernel"
if [ -n "${RAVOLET_KERNEL_DIR:-}" ]; then
  kernel_dir="$RAVOLET_KERNEL_DIR"
  [ -d "$kernel_dir" ] || fail "RAVOLET_KERNEL_DIR=$kernel_dir is not a folder"
else
  fetch_kernel
  fetch_missing_modules
fi
vmlinuz="$(compgen -G "$kernel_dir/boot/vmlinuz-*" | head -n1 || true)"
[ -n "$vmlinuz" ] || fail "no kernel image (boot/vmlinuz-*) in $kernel_dir"
[ ! -f "$kernel_dir/boot/vmlinux" ] || vmlinuz="$kernel_dir/boot/vmlinux"
module_root="$(compgen -G "$kernel_dir/lib/modules/*" | head -n1 || true)"
[ -n "$module_root" ] || fail "no modules (lib/modules/*) in $kernel_dir"
for module in "${modules[@]}"; do
  [ -f "$module_root/kernel/$module" ] || fail "the module $module is missing from $module_root"
done

# ---- The initramfs ----

work="$(mktemp -d "$build_dir/kernel/run.XXXXXX")"
qemu_pid=""
cleanup() {
  [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
root="$work/root"
mkdir -p "$root"/{dev,proc,sys,tmp,run,etc,ravolet/modules}

# The host's merged /usr links (/lib -> usr/lib and so on), so that every
# file can be copied to the path that its users name it by.
for dir in bin sbin lib lib64; do
  if [ -L "/$dir" ]; then
    target="$(readlink "/$dir")"
    mkdir -p "$root/${target#/}"
    ln -s "$target" "$root/$dir"
  else
    mkdir -p "$root/$dir"
  fi
done
mkdir -p "$root/usr/bin" "$root/usr/sbin"

is_elf() { [ -f "$1" ] && [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]; }

copied_libraries=" "
# Copies one file to its own path inside the image, following links.
copy_file() { # path
  mkdir -p "$root$(dirname "$1")"
  cp -L --preserve=mode "$1" "$root$1"
}
# Copies the shared libraries and the loader that an ELF file needs.
copy_libraries() { # elf file
  local line lib
  # A static executable has none; ldd says so and fails.
  while read -r line; do
    case "$line" in
      *"=> not found"*) fail "$1 needs ${line%% *}, which ldd cannot find" ;;
      *"=> /"*) lib="${line#*=> }"; lib="${lib%% (*}" ;;
      /*) lib="${line%% (*}" ;;
      *) continue ;;
    esac
    if [[ "$copied_libraries" != *" $lib "* ]]; then
      copied_libraries+="$lib "
      copy_file "$lib"
    fi
  done < <(ldd "$1" 2>/dev/null || true)
}
copy_path() { # file or folder
  local path
  path="$(realpath -s "$1")"
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    mkdir -p "$root$(dirname "$path")"
    cp -a "$path" "$root$(dirname "$path")/"
    while IFS= read -r -d '' file; do
      if is_elf "$file"; then copy_libraries "$file"; fi
    done < <(find "$path" -type f -print0)
  else
    copy_file "$path"
    if is_elf "$path"; then copy_libraries "$path"; fi
  fi
}

printf 'root:x:0:0:root:/tmp:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
# The test programs (and programs of the build given as --extra) go in
# without their debug information: with it they are hundreds of MB, and an
# image that does not fit the VM's memory unpacks only in part (the programs
# past that point are "not found").
for extra in "${extras[@]}"; do
  copy_path "$extra"
  [ -f "$extra" ] && strip --strip-debug "$root$(realpath -s "$extra")" 2>/dev/null || true
done
for exe in "${executables[@]}"; do
  copy_path "$exe"
  strip --strip-debug "$root$(realpath -s "$exe")" 2>/dev/null || true
done
printf '%s\n' "${executables[@]}" >"$root/ravolet/tests"

for module in "${modules[@]}"; do
  cp "$module_root/kernel/$module" "$root/ravolet/modules/"
  basename "$module" >>"$root/ravolet/modules/order"
done

busybox="$(command -v busybox)"
copy_path "$busybox"

# Markers on the second serial port tell the host where each executable's
# output begins and ends and how it exited; a marker may follow output that
# did not end its last line. Busybox links its commands in first (it leaves
# alone a name that was copied in for real).
{
  echo "#!$busybox sh"
  echo "$busybox mount -t proc proc /proc && $busybox --install -s /usr/bin"
  cat <<'INIT'
# The second serial port is a terminal: no colour codes in what it carries.
export PATH=/usr/bin:/usr/sbin:/bin:/sbin HOME=/tmp GTEST_COLOR=no TERM=dumb
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The image itself is a writable file system in memory: /tmp and /run stay
# folders of it, so that executables copied in below /tmp stay visible.
chmod 1777 /tmp
exec 3>/dev/ttyS1
echo "@@ravolet:booted $(cut -d' ' -f1 /proc/uptime)" >&3
for module in $(cat /ravolet/modules/order); do
  insmod "/ravolet/modules/$module" || echo "@@ravolet:module-failed $module" >&3
done
while read -r exe; do
  echo "@@ravolet:begin $exe" >&3
  (cd /tmp && "$exe") >&3 2>&1 </dev/null
  echo "@@ravolet:end $? $exe" >&3
done </ravolet/tests
echo "@@ravolet:finished $(cut -d' ' -f1 /proc/uptime)" >&3
exec 3>&-
poweroff -f
INIT
} >"$root/init"
chmod 755 "$root/init"

started=$EPOCHREALTIME
(cd "$root" && find . -print0 | cpio --null -o -H newc -R 0:0 --quiet) >"$work/initramfs.cpio" ||
  fail "cannot build the initramfs"
image_seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
image_mib=$(($(stat -c %s "$work/initramfs.cpio") / 1048576))

# ---- The boot ----

console="$work/console.log"
results="$work/results.log"
started=$EPOCHREALTIME
set +e
timeout -k 5 "$timeout_seconds" qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 1024 \
  -nodefaults -no-user-config -display none "${display[@]}" -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet panic=-1 ravolet.kerneltest=1$clock" \
  -serial "file:$console" -serial "file:$results" 2>"$work/qemu.err" &
qemu_pid=$!
wait "$qemu_pid"
qemu_status=$?
qemu_pid=""
set -e
wall_seconds=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
[ -f "$results" ] || : >"$results"

# ---- The report ----

show_console() {
  echo "---- the VM's console (last 60 lines) ----" >&2
  if [ -s "$console" ]; then tr -d '\r' <"$console" | tail -n 60 >&2; else echo "(empty)" >&2; fi
  if [ -s "$work/qemu.err" ]; then
    echo "---- qemu ----" >&2
    cat "$work/qemu.err" >&2
  fi
}

booted=""
finished=""
current=""
failed_modules=()
declare -A status=()
while IFS= read -r line || [ -n "$line" ]; do
  line="${line%$'\r'}"
  if [[ "$line" == *"@@ravolet:"* ]]; then
    before="${line%%@@ravolet:*}"
    marker="${line#"$before"@@ravolet:}"
    [ -z "$before" ] || echo "$before"
    case "$marker" in
      booted\ *) booted="${marker#booted }" ;;
      finished\ *) finished="${marker#finished }" ;;
      module-failed\ *) failed_modules+=("${marker#module-failed }") ;;
      begin\ *)
        current="${marker#begin }"
        echo "==== $current"
        ;;
      end\ *)
        rest="${marker#end }"
        code="${rest%% *}"
        name="${rest#* }"
        status["$name"]="$code"
        if [ "$code" = 0 ]; then
          echo "==== passed: $name"
        else
          echo "==== FAILED (exit status $code): $name"
        fi
        current=""
        ;;
    esac
  elif [ -n "$current" ]; then
    echo "$line"
  fi
done <"$results"

if [ -n "$booted" ]; then
  run_seconds="?"
  [ -z "$finished" ] || run_seconds=$(awk -v a="$booted" -v b="$finished" 'BEGIN { printf "%.1f", b - a }')
  echo "kernel-test: image ${image_mib} MiB in ${image_seconds} s; VM: init started at ${booted} s of uptime, executables ran ${run_seconds} s, ${wall_seconds} s in all"
fi

if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  show_console
  if [ -z "$booted" ]; then
    fail "the VM ran out of its ${timeout_seconds} s before its init started"
  elif [ -n "$current" ]; then
    fail "the VM ran out of its ${timeout_seconds} s while $current ran"
  fi
  fail "the VM ran out of its ${timeout_seconds} s"
fi
if [ -z "$booted" ]; then
  show_console
  fail "the VM did not boot: its init never started (qemu exit status $qemu_status)"
fi
if [ -z "$finished" ]; then
  show_console
  fail "the VM stopped before its init finished${current:+, while $current ran} (qemu exit status $qemu_status)"
fi

passed=0
failed=0
for exe in "${executables[@]}"; do
  if [ "${status[$exe]:-}" = 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    [ -n "${status[$exe]:-}" ] || echo "kernel-test: $exe did not run" >&2
  fi
done
for module in "${failed_modules[@]}"; do
  echo "kernel-test: the module $module did not load" >&2
  failed=$((failed + 1))
done
echo "kernel-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
