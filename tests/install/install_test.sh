#!/usr/bin/env bash
# The product as installed: into a scratch root, run from there, and its
# desktop integration judged by the freedesktop tools themselves.
# usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR PREFIX VERSION WORK
set -euo pipefail
cmake=$1 build=$2 source=$3 prefix=$4 version=$5 work=$6
root=$work/root
usr=$root$prefix
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

[[ -f $build/bin/viewer.exe ]] || { echo "viewer.exe was not built (no mingw-w64 cross compiler)"; exit 77; }
rm -rf "$work"
mkdir -p "$work"
DESTDIR=$root "$cmake" --install "$build" >"$work/install.log"

# The programs alone in bin/, the files every architecture shares in
# share/quorvane; the .chm serves Windows and stays out.
for f in bin/quorvanec share/quorvane/viewer.exe share/quorvane/quorvane-help.qpf \
         share/applications/quorvane.desktop share/mime/packages/quorvane.xml \
         share/metainfo/org.quorvane.compiler.metainfo.xml share/man/man1/quorvanec.1.gz \
         share/doc/quorvane/copyright share/doc/quorvane/changelog.gz; do
  [[ -f $usr/$f ]] || fail "not installed: $f"
done
[[ -z $(find "$root" -name '*.chm') && ! -e $usr/lib/quorvane ]] || fail "installed into lib/ or a .chm: $(find "$root" -name '*.chm')"
for f in "$usr"/bin/*; do
  case ${f##*/} in quorvane | quorvanec | quorvane-view) ;; *) fail "unexpected in bin: $f" ;; esac
done

# The installed compiler finds viewer.exe in the data folder, not in the
# build tree: the EXE starts with exactly those bytes and verifies.
site=$work/site
mkdir -p "$site/pages" "$work/out"
printf '<html><body><a href="pages/a.html">A</a></body></html>\n' >"$site/index.html"
printf '<html><body>A page</body></html>\n' >"$site/pages/a.html"
printf 'body { color: navy; }\n' >"$site/site.css"
qvc=$usr/bin/quorvanec
"$qvc" new --home "$site/index.html" --out "$work/out/site.exe" "$work/site.qp" >/dev/null
"$qvc" build --quiet "$work/site.qp" || fail "build from the installed location"
verdict=$("$qvc" verify "$work/out/site.exe") || fail "verify: $verdict"
[[ $verdict == *"archive and 4 entries verified" ]] || fail "verify said: $verdict"
viewer=$usr/share/quorvane/viewer.exe
cmp -s -n "$(stat -c %s "$viewer")" "$viewer" "$work/out/site.exe" || fail "the EXE does not start with the installed viewer.exe"
tail -c +"$(($(stat -c %s "$viewer") + 1))" "$work/out/site.exe" >"$work/site.qpf" # the archive alone
"$qvc" verify "$work/site.qpf" >/dev/null || fail "the EXE's archive alone is no QPF"

# Found nowhere, the message names the place beside the program.
mv "$viewer" "$work/viewer.exe"
message=$("$qvc" build --quiet "$work/site.qp" 2>&1) && fail "built without viewer.exe"
[[ $message == *"Cannot open file \"$usr/bin/viewer.exe\"."* ]] || fail "message without viewer.exe: $message"
mv "$work/viewer.exe" "$viewer"

# Desktop entries (also the viewer's, which installs only with its program).
for entry in "$usr"/share/applications/*.desktop "$source/packaging/quorvane-view.desktop"; do
  out=$(desktop-file-validate "$entry" 2>&1) && [[ -z $out ]] || fail "desktop-file-validate $entry: $out"
  # Without it, docks cannot tie the window to its entry.
  grep -q '^StartupWMClass=' "$entry" || fail "$entry: no StartupWMClass"
done

# MIME types, as GIO detects them from the compiled database: a project by
# its root element (other archives use *.qp too), a compiled site by name.
data=$work/xdg
mkdir -p "$data/mime/packages"
cp "$usr"/share/mime/packages/*.xml "$data/mime/packages/"
update-mime-database "$data/mime" >/dev/null 2>&1
printf 'qpress10archive' >"$work/other.qp"
for pair in "$work/site.qp=application/x-quorvane-project" "$work/other.qp=application/x-qpress" \
            "$source/examples/sample-qpf.qp=application/x-quorvane-project" \
            "$work/site.qpf=application/x-quorvane-package"; do
  file=${pair%=*} want=${pair##*=}
  got=$(XDG_DATA_HOME=$data gio info -a standard::content-type "$file" | sed -n 's/.*content-type: //p')
  [[ $got == "$want" ]] || fail "type of $file: $got, not $want"
done

# AppStream metadata, one component per desktop entry, under the licence
# of LICENSE, and one version everywhere.
for entry in "$usr"/share/applications/*.desktop; do
  name=${entry##*/}
  metainfo=$(grep -l "<launchable type=\"desktop-id\">$name<" "$usr"/share/metainfo/*.xml) || fail "no AppStream component for $name"
  [[ -n $metainfo ]] || continue
  out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli: $out"
  grep -q "<release version=\"$version\"" "$metainfo" || fail "$metainfo: no release $version"
  grep -q "<project_license>MIT</project_license>" "$metainfo" || fail "$metainfo: not MIT"
done
head -n 1 "$source/LICENSE" | grep -qx "MIT License" || fail "LICENSE is not the MIT licence"
zcat "$usr/share/doc/quorvane/changelog.gz" | head -n 1 | grep -qF "quorvane ($version)" || fail "changelog: not $version"

# Icons: every size where the theme expects it, at its size.
for size in 16 22 24 32 48 64 128 256; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/quorvane.png
  [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "icon $png: $(file -b "$png")"
done
xmllint --noout "$usr/share/icons/hicolor/scalable/apps/quorvane.svg" || fail "scalable icon"

# Manual pages: clean under man's own checks, and every command and option
# quorvanec names in its help documented in quorvanec(1).
for page in "$usr"/share/man/man1/*.1.gz; do
  out=$(man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) && [[ -z $out ]] || fail "man $page: $out"
done
manual=$(zcat "$usr/share/man/man1/quorvanec.1.gz" | sed 's/\\-/-/g')
commands=$("$qvc" --help | sed -n '/^Subcommands:/,$s/^  \([a-z]*\) .*/\1/p')
[[ -n $commands ]] || fail "no commands in quorvanec --help"
for command in $commands; do
  grep -q "^\.BI* \"$command " <<<"$manual" || fail "quorvanec(1) lacks the command $command"
  for option in $("$qvc" "$command" --help | grep -o -- '--[a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$manual" || fail "quorvanec(1) lacks $command $option"
  done
done

((failures == 0)) || { echo "$failures failures" >&2; exit 1; }
echo "installed into $root: all checks passed"
