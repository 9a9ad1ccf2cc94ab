#!/usr/bin/env bash
# qev-sign writes PACKAGE.sig through a new file of its own and a rename: a link planted at
# the statement's name, or at the name it once used for its temporary file, is replaced or
# left alone, never written through, and the statement that lands is whole, mode 0644
# (whatever the umask) and holds.
# Usage: qev_sign_test.sh BUILD_DIR
source "$(dirname "$0")/runner.sh"
sign="$build/bin/qev-sign"
[[ -x "$sign" ]] || fail "$sign not built"
pass() { echo "ok: $*"; }

key="$("$sign" keygen "$work/key")"
[[ "$(stat -c %a "$work/key")" == 600 ]] || fail "secret key file mode $(stat -c %a "$work/key")"
umask 077

# name planted in the package's folder | where the link points (inside $work/victims)
cases=(
  "qev next.sig.part|kept"
  "qev next.sig|kept"
  "qev next.sig.part|absent"
  "qev next.sig|absent"
)
for case in "${cases[@]}"; do
  IFS='|' read -r name target <<<"$case"
  rm -rf "$work/pkg" "$work/victims"
  mkdir -p "$work/pkg" "$work/victims"
  printf 'new build' >"$work/pkg/qev next"
  [[ $target == kept ]] && printf 'not to be touched' >"$work/victims/kept"
  ln -s "$work/victims/$target" "$work/pkg/$name"

  "$sign" sign "$work/key" "$work/pkg/qev next" 0.2.1.2 >/dev/null || fail "$case: sign failed"
  if [[ $target == kept ]]; then
    [[ "$(cat "$work/victims/kept")" == 'not to be touched' ]] || fail "$case: the link was followed"
  else
    [[ ! -e "$work/victims/absent" ]] || fail "$case: a file was made through the link"
  fi
  statement="$work/pkg/qev next.sig"
  [[ -f "$statement" && ! -L "$statement" ]] || fail "$case: the statement is not a file of its own"
  [[ "$(stat -c %a "$statement")" == 644 ]] || fail "$case: statement mode $(stat -c %a "$statement")"
  "$sign" verify "$key" "$work/pkg/qev next" >/dev/null || fail "$case: the statement does not hold"
  left="$(find "$work/pkg" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -vxF -e 'qev next' -e 'qev next.sig' -e "$name" || true)"
  [[ -z "$left" ]] || fail "$case: left behind: $left"
done
pass "links at the statement's and the old temporary name are not followed (${#cases[@]} cases)"

# A statement that cannot be put in place: an error, and no temporary file left.
rm -rf "$work/pkg"
mkdir -p "$work/pkg/qev next.sig"
printf 'new build' >"$work/pkg/qev next"
"$sign" sign "$work/key" "$work/pkg/qev next" 0.2.1.2 >/dev/null 2>&1 && fail "signed over a folder"
[[ "$(find "$work/pkg" -mindepth 1 -maxdepth 1 | wc -l)" == 2 ]] || fail "left behind: $(ls -A "$work/pkg")"
pass "a failed rename leaves nothing behind"
echo "qev-sign e2e: ok"
