#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a temporary
# root and checks what an operator gets: the control fields, the file list
# (and that the stand-in stays out), the unpacked batch's usage text and its
# failed-connection log entry, a kelbor-config round trip through a written
# configuration file, the man pages rendering without warnings, and the
# systemd units passing systemd-analyze.
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

dpkg-deb -e "$deb" "$work/control"
if [ -x "$work/control/postinst" ]; then
  sh -n "$work/control/postinst" || fail "postinst has a syntax error"
else
  fail "postinst missing or not executable"
fi

# -- File list.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/files"
expected=(/usr/bin/kelbor /usr/share/kelbor/schema.sql /usr/share/man/man1/kelbor.1.gz
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
fi

# -- Man pages: they render without warnings and carry the project's version.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page")
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt")
  [ -z "$warnings" ] || fail "$name: man warns: $warnings"
  grep -q '^NAME' "$work/page.txt" || fail "$name: no NAME section rendered"
  zcat "$page" | grep -q "^\.TH .* \"kelbor $version\"" || fail "$name: .TH does not name kelbor $version"
done

# -- systemd units, with ExecStart pointed at the unpacked batch (verify does
# not search the unit's PATH for a bare command name).
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/units"
  sed "s|^ExecStart=kelbor |ExecStart=$root/usr/bin/kelbor |" \
    "$root/usr/lib/systemd/system/kelbor.service" >"$work/units/kelbor.service"
  cp "$root/usr/lib/systemd/system/kelbor.timer" "$work/units/"
  grep -q "^ExecStart=$root/usr/bin/kelbor /etc/kelbor/kelbor.ini XXX D$" "$work/units/kelbor.service" \
    || fail "kelbor.service does not run 'kelbor /etc/kelbor/kelbor.ini XXX D'"
  (cd "$work/units" && systemd-analyze verify --man=no ./kelbor.service ./kelbor.timer) \
    || fail "systemd-analyze verify rejects the units"
else
  echo "check-package: systemd-analyze not installed; units not verified"
fi

if [ $failures -ne 0 ]; then
  echo "check-package: $failures failure(s)" >&2
  exit 1
fi
echo "check-package: $(basename "$deb") ok"
