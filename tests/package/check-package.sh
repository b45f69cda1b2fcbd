#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary
# root and checks what an operator gets: the control fields, the file list
# (and that the stand-in stays out), the unpacked batch's usage text and its
# failed-connection log entry, a kelbor-config round trip through a written
# configuration file, the man pages rendering without warnings, the systemd
# units passing systemd-analyze, lintian, the run wrapper, the logrotate file,
# and (as root) installing, upgrading, removing and purging the package in a
# scratch root with dpkg.
#
# Usage: check-package.sh BUILD_DIR VERSION HAS_CONFIG_TOOL(0|1)
set -uo pipefail

build=$(cd "$1" && pwd)
version=$2
has_config=$3

for tool in cpack dpkg-deb man groff; do
  if ! command -v "$tool" >/dev/null; then
    echo "check-package: $tool is missing; run tools/install-deps" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# -- Build the package into the temporary folder, away from the build tree's
# own _CPack_Packages.
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
debs=("$work"/out/kelbor_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  ls -l "$work/out" >&2
  echo "FAIL: expected exactly one kelbor_*.deb" >&2
  exit 1
fi
deb=${debs[0]}

# -- Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kelbor ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', project says $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Section)" ] || fail "no Section"
case "$(field Depends)" in
  *libodbc*) ;;
  *) fail "Depends lacks the unixODBC runtime: '$(field Depends)'" ;;
esac
[ -n "$(field Description)" ] || fail "no Description"

case "$(field Depends)" in
  *adduser*) ;;
  *) fail "Depends lacks adduser, which postinst calls: '$(field Depends)'" ;;
esac

dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  if [ -x "$work/control/$script" ]; then
    sh -n "$work/control/$script" || fail "$script has a syntax error"
  else
    fail "$script missing or not executable"
  fi
done
grep -qxF /etc/logrotate.d/kelbor "$work/control/conffiles" 2>/dev/null \
  || fail "/etc/logrotate.d/kelbor is not a conffile"

# -- lintian: no error, no warning.
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 \
    || fail "lintian: $(grep -v 'root privileges' "$work/lintian.log")"
else
  fail "lintian is missing; run tools/install-deps"
fi
# The changelog names the version that is packaged.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/kelbor/changelog.gz | zcat | sed -n 1p \
  | grep -qF "kelbor ($version)" || fail "changelog does not start with kelbor ($version)"

# -- File list.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/files"
expected=(/usr/bin/kelbor /usr/bin/kelbor-catchup /usr/bin/kelbor-nightly /usr/share/kelbor/schema.sql
          /usr/share/man/man1/kelbor.1.gz /usr/share/man/man1/kelbor-catchup.1.gz
          /usr/share/man/man1/kelbor-nightly.1.gz
          /etc/logrotate.d/kelbor /usr/share/doc/kelbor/copyright /usr/share/doc/kelbor/changelog.gz
          /usr/lib/systemd/system/kelbor.service /usr/lib/systemd/system/kelbor.timer
          /usr/share/doc/kelbor/README.md /usr/share/doc/kelbor/examples/kelbor.cron)
if [ "$has_config" = 1 ]; then
  expected+=(/usr/bin/kelbor-config /usr/share/man/man1/kelbor-config.1.gz)
fi
for f in "${expected[@]}"; do
  grep -qxF "$f" "$work/files" || fail "package lacks $f"
done
if grep -iE 'standin|test|\.so($|\.)|\.a$' "$work/files"; then
  fail "package carries build-time helpers (listed above)"
fi

# -- Unpack and run the batch: two parameters give the usage text and status 0.
root=$work/root
dpkg-deb -x "$deb" "$root"
mkdir -p "$work/run"
usage=$(printf 'Aufruf: kelbor [Param1] [Param2] [Param3]\nParam1: Pfad der Inidatei\nParam2: QUORV/XXX QUORV=Firmenkonsol.-Version\nParam3: D/X D=Debug\nEND')
out=$(cd "$work/run" && "$root/usr/bin/kelbor" one two; rc=$?; printf 'END'; exit $rc)
rc=$?
[ $rc -eq 0 ] || fail "kelbor with two parameters exited with $rc"
[ "$out" = "$usage" ] || fail "usage text differs: $(printf '%q' "$out")"
[ ! -e "$work/run/kelbor.log" ] || fail "usage run created kelbor.log"

# -- kelbor-config: a value there and back, then a configuration file written
# by the packaged tool, read by the packaged batch.
if [ "$has_config" = 1 ]; then
  cfg=$root/usr/bin/kelbor-config
  hex=$(printf 'Kennwort-123' | "$cfg" encipher) || fail "encipher exited with $?"
  hex=${hex%$'\n'}
  [[ "$hex" =~ ^([0-9A-F]{16})+$ ]] || fail "encipher gave '$hex', not upper-case hex blocks"
  plain=$("$cfg" decipher "$hex") || fail "decipher exited with $?"
  [ "$plain" = Kennwort-123 ] || fail "decipher gave '$plain'"

  ini=$work/kelbor.ini
  printf 'geheim\n' | "$cfg" write "$ini" --login nightly --dsn kelbor-no-such-dsn --schema qrv \
    --password-stdin || fail "write exited with $?"
  [ "$(stat -c %a "$ini" 2>/dev/null)" = 600 ] || fail "configuration file mode is not 0600"
  shown=$("$cfg" show "$ini") || fail "show exited with $?"
  grep -q nightly <<<"$shown" || fail "show lacks the login: $shown"
  grep -q kelbor-no-such-dsn <<<"$shown" || fail "show lacks the data source: $shown"
  ! grep -q geheim <<<"$shown" || fail "show without --reveal prints the password"
  "$cfg" show "$ini" --reveal | grep -q geheim || fail "show --reveal lacks the password"

  # A private, empty driver-manager configuration, so the data source is
  # unknown whatever the machine has registered.
  mkdir -p "$work/odbc"
  : >"$work/odbc/odbcinst.ini"
  : >"$work/odbc/odbc.ini"
  (cd "$work/run" && ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/odbc.ini "$root/usr/bin/kelbor" "$ini" XXX D >/dev/null)
  rc=$?
  [ $rc -eq 0 ] || fail "kelbor after a failed connection exited with $rc"
  log=$work/run/kelbor.log
  if [ -f "$log" ]; then
    [ "$(wc -l <"$log")" -eq 3 ] || fail "log has $(wc -l <"$log") lines, expected 3: $(cat -A "$log")"
    [ -z "$(sed -n 1p "$log")" ] || fail "log does not start with an empty line"
    sed -n 2p "$log" | grep -qE '^Datum: [0-9]{2}\.[0-9]{2}\.[0-9]{4}  Uhrzeit: [0-9]{2}:[0-9]{2}:[0-9]{2}$' \
      || fail "time stamp line: $(sed -n 2p "$log")"
    [ "$(sed -n 3p "$log")" = "Fehler(DB-Connect)! RC:-1 Name:nightly Pwd:*** Net:kelbor-no-such-dsn" ] \
      || fail "connect failure line: $(sed -n 3p "$log")"
  else
    fail "no kelbor.log after a run with D"
  fi
  [ ! -e "$work/run/kelbortgb" ] || fail "a run without connection wrote kelbortgb"

  # The packaged preflight names the cause of that failure.
  checked=$(ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/odbc.ini "$cfg" check "$ini")
  rc=$?
  [ $rc -eq 1 ] || fail "kelbor-config check of an unknown data source exited with $rc"
  grep -q '^likely cause: unknown data source: "kelbor-no-such-dsn"' <<<"$checked" \
    || fail "kelbor-config check: $checked"
  ! grep -q geheim <<<"$checked" || fail "kelbor-config check prints the password"
fi

# -- Man pages: they render without warnings and carry the project's version.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page")
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt")
  [ -z "$warnings" ] || fail "$name: man warns: $warnings"
  grep -q '^NAME' "$work/page.txt" || fail "$name: no NAME section rendered"
  zcat "$page" | grep -q "^\.TH .* \"kelbor $version\"" || fail "$name: .TH does not name kelbor $version"
done

# -- systemd units, with ExecStart pointed at the unpacked wrapper (verify does
# not search the unit's PATH for a bare command name).
service=$root/usr/lib/systemd/system/kelbor.service
grep -qx 'ExecStart=kelbor-nightly /etc/kelbor/kelbor.ini XXX D' "$service" \
  || fail "kelbor.service does not run 'kelbor-nightly /etc/kelbor/kelbor.ini XXX D'"
grep -qx 'TimeoutStartSec=6h' "$service" || fail "kelbor.service has no start timeout"
cron=$root/usr/share/doc/kelbor/examples/kelbor.cron
grep -q 'flock -n' "$cron" || fail "the cron line's comment does not say that it takes a lock"
grep -qE '^[^#].*timeout -k 10m 6h kelbor-nightly /etc/kelbor/kelbor.ini XXX D' "$cron" \
  || fail "the cron line does not run kelbor-nightly under the service's time limit"
grep -qE '^MAILTO=' "$cron" || fail "the cron file does not say where its mail goes"
# Once the package is removed the line stays quiet instead of failing each night.
cronline=$(grep -E '^[0-9]' "$cron" | sed 's/^[^ ]* [^ ]* [^ ]* [^ ]* [^ ]* kelbor //')
out=$(cd "$work" && PATH=/nonexistent /bin/sh -c "$cronline" 2>&1)
rc=$?
[ $rc -eq 0 ] && [ -z "$out" ] || fail "the cron line without the package: status $rc, output $out"
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/units"
  sed "s|^ExecStart=kelbor-nightly |ExecStart=$root/usr/bin/kelbor-nightly |" "$service" \
    >"$work/units/kelbor.service"
  cp "$root/usr/lib/systemd/system/kelbor.timer" "$work/units/"
  (cd "$work/units" && systemd-analyze verify --man=no ./kelbor.service ./kelbor.timer) \
    || fail "systemd-analyze verify rejects the units"
else
  echo "check-package: systemd-analyze not installed; units not verified"
fi

# -- The packaged wrapper around the packaged batch: a night whose connection
# fails is a failed night, with one summary line.
if [ "$has_config" = 1 ]; then
  mkdir -p "$work/night"
  out=$(cd "$work/night" && KELBOR=$root/usr/bin/kelbor ODBCSYSINI=$work/odbc ODBCINI=$work/odbc/odbc.ini \
        "$root/usr/bin/kelbor-nightly" "$ini" XXX D)
  rc=$?
  [ $rc -eq 1 ] || fail "kelbor-nightly after a failed connection exited with $rc"
  [[ "$out" =~ ^kelbor\ run\ [0-9.]+\ [0-9:]+:\ accounting\ day\ unknown\;\ .*\;\ errors:\ DB-Connect\ 1\;\ the\ look\ at\ the\ database\ before\ the\ run\ failed: ]] \
    || fail "kelbor-nightly summary: $out"
fi

# -- logrotate: the packaged file rotates a log of 256 KiB or more and leaves a
# smaller one. The service user does not exist here, so root stands in.
if command -v logrotate >/dev/null; then
  mkdir -p "$work/rotate"
  sed -e "s|/var/lib/kelbor/kelbor.log|$work/rotate/kelbor.log|" -e 's/kelbor kelbor$/root root/' \
    "$root/etc/logrotate.d/kelbor" >"$work/rotate.conf"
  head -c 200000 /dev/zero | tr '\0' 'x' >"$work/rotate/kelbor.log"
  logrotate -s "$work/rotate.state" "$work/rotate.conf" || fail "logrotate rejects the file"
  [ ! -e "$work/rotate/kelbor.log.1" ] || fail "logrotate rotated a log of 200000 bytes"
  head -c 300000 /dev/zero | tr '\0' 'x' >"$work/rotate/kelbor.log"
  logrotate -s "$work/rotate.state" "$work/rotate.conf" || fail "logrotate rejects the file"
  [ "$(stat -c %s "$work/rotate/kelbor.log.1" 2>/dev/null)" = 300000 ] \
    || fail "logrotate did not rotate a log of 300000 bytes"
  [ "$(stat -c %s%a "$work/rotate/kelbor.log" 2>/dev/null)" = 0640 ] \
    || fail "logrotate did not create an empty kelbor.log with mode 0640"
else
  fail "logrotate is missing; run tools/install-deps"
fi

# -- Install, upgrade, remove and purge with dpkg in a scratch root. dpkg runs
# the maintainer scripts outside a chroot with DPKG_ROOT set, so they work on
# the scratch root's files, users included; the dependencies are not there.
forces=$(dpkg --force-help 2>&1)
if [ "$(id -u)" -eq 0 ] && [[ "$forces" == *script-chrootless* ]]; then
  sroot=$work/scratch
  mkdir -p "$sroot/var/lib/dpkg/info" "$sroot/var/lib/dpkg/updates" "$sroot/etc"
  : >"$sroot/var/lib/dpkg/status"
  : >"$sroot/var/lib/dpkg/available"
  printf 'root:x:0:0:root:/root:/bin/sh\n' >"$sroot/etc/passwd"
  printf 'root:x:0:\n' >"$sroot/etc/group"
  printf 'root:*:19000:0:99999:7:::\n' >"$sroot/etc/shadow"
  printf 'root:*::\n' >"$sroot/etc/gshadow"
  chmod 0640 "$sroot/etc/shadow" "$sroot/etc/gshadow"
  sdpkg() {
    dpkg --root="$sroot" --force-script-chrootless --force-depends --log="$work/dpkg.log" "$@" \
      >>"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out" >&2; fail "dpkg $*"; }
  }
  ids() { stat -c '%u:%g %a' "$1" 2>/dev/null; }

  sdpkg -i "$deb"
  uid=$(awk -F: '$1 == "kelbor" { print $3 }' "$sroot/etc/passwd")
  gid=$(awk -F: '$1 == "kelbor" { print $3 }' "$sroot/etc/group")
  [ -n "$uid" ] && [ -n "$gid" ] || fail "install: no user and group kelbor in the root"
  [ "$(ids "$sroot/var/lib/kelbor")" = "$uid:$gid 750" ] \
    || fail "install: /var/lib/kelbor is $(ids "$sroot/var/lib/kelbor")"
  [ "$(ids "$sroot/etc/kelbor")" = "0:$gid 750" ] || fail "install: /etc/kelbor is $(ids "$sroot/etc/kelbor")"
  [ -x "$sroot/usr/bin/kelbor-nightly" ] || fail "install: no /usr/bin/kelbor-nightly"

  # What an operator does after installing: a configuration file, a first log,
  # the timer enabled, a wider mode for the consumer's group.
  : >"$sroot/etc/kelbor/kelbor.ini"
  : >"$sroot/var/lib/kelbor/kelbor.log"
  mkdir -p "$sroot/etc/systemd/system/timers.target.wants"
  ln -s /usr/lib/systemd/system/kelbor.timer "$sroot/etc/systemd/system/timers.target.wants/kelbor.timer"
  chmod 0770 "$sroot/var/lib/kelbor"
  chmod 0710 "$sroot/etc/kelbor"

  # The same package as the next version.
  dpkg-deb -R "$deb" "$work/next"
  sed -i "s/^Version: .*/Version: $version.1/" "$work/next/DEBIAN/control"
  dpkg-deb -b "$work/next" "$work/kelbor_next.deb" >/dev/null
  sdpkg -i "$work/kelbor_next.deb"
  [ "$(dpkg-query --root="$sroot" -W -f='${Version}' kelbor)" = "$version.1" ] || fail "upgrade: not upgraded"
  [ "$(ids "$sroot/var/lib/kelbor")" = "$uid:$gid 770" ] \
    || fail "upgrade: /var/lib/kelbor became $(ids "$sroot/var/lib/kelbor")"
  [ "$(ids "$sroot/etc/kelbor")" = "0:$gid 710" ] || fail "upgrade: /etc/kelbor became $(ids "$sroot/etc/kelbor")"
  [ -L "$sroot/etc/systemd/system/timers.target.wants/kelbor.timer" ] || fail "upgrade: the timer was disabled"
  [ "$(grep -c '^kelbor:' "$sroot/etc/passwd")" = 1 ] || fail "upgrade: the user kelbor was created again"

  sdpkg -r kelbor
  [ ! -e "$sroot/usr/bin/kelbor" ] || fail "remove: /usr/bin/kelbor is still there"
  [ ! -L "$sroot/etc/systemd/system/timers.target.wants/kelbor.timer" ] \
    || fail "remove: the timer is still enabled (a dangling link)"
  [ -e "$sroot/etc/kelbor/kelbor.ini" ] && [ -e "$sroot/var/lib/kelbor/kelbor.log" ] \
    || fail "remove: took the configuration or the log"
  [ -e "$sroot/etc/logrotate.d/kelbor" ] || fail "remove: took the conffile"

  sdpkg -P kelbor
  for gone in /etc/kelbor /var/lib/kelbor /etc/logrotate.d/kelbor; do
    [ ! -e "$sroot$gone" ] || fail "purge: $gone is still there"
  done
  [ "$(grep -c '^kelbor:' "$sroot/etc/passwd")" = 1 ] || fail "purge: the service user is gone"
  [ -z "$(dpkg-query --root="$sroot" -W -f='${Status}' kelbor 2>/dev/null)" ] \
    || fail "purge: dpkg still knows kelbor: $(dpkg-query --root="$sroot" -W -f='${Status}' kelbor)"
  left=$(cd "$sroot" && find . -type f -o -type l | grep -vE '^\./(var/lib/dpkg|etc/(passwd|group|shadow|gshadow))' \
         | grep -v -- '-$')
  [ -z "$left" ] || fail "purge left files behind: $left"
else
  echo "check-package: not root (or dpkg without --force-script-chrootless); install, upgrade, remove and purge not tried"
fi

if [ $failures -ne 0 ]; then
  echo "check-package: $failures failure(s)" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") ok"
