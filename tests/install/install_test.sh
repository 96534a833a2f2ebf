#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the prefix elsewhere and
# runs the installed demo from there, in an environment that names neither the
# build tree nor the source tree. The filled form must come out as it does
# from the build tree's own demo run.
#
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)

tmp=$(mktemp -d /tmp/quillmark-install-test.XXXXXX)
cleanup() { rm -rf "$tmp"; }
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/first" >/dev/null
mv "$tmp/first" "$tmp/moved"
prefix="$tmp/moved"

# What a user runs is there, and nothing else of the build.
for f in bin/filemaker-host bin/acrobat-host \
         lib/quillmark/libquill_foundation.so lib/quillmark/libquill_apple_events.so \
         lib/quillmark/libquill_process.so lib/quillmark/libFMWrapper.so \
         lib/quillmark/Extensions/QuillmarkFM.fmplugin/Contents/MacOS/QuillmarkFM \
         lib/quillmark/Extensions/QuillmarkFM.fmplugin/Contents/Resources/en.lproj/Quillmark.strings \
         lib/quillmark/Plug-ins/QuillmarkAcro.acroplugin/Contents/MacOS/QuillmarkAcro \
         lib/quillmark/Applications/Acrobat.app/Contents/Info \
         share/doc/quillmark/examples/demo.sh share/doc/quillmark/examples/form.pdf \
         share/man/man1/filemaker-host.1.gz share/man/man7/quillmark.7.gz; do
  [[ -e "$prefix/$f" ]] || fail "$f is not installed"
done
extra=$(ls "$prefix/bin" | grep -vxE 'filemaker-host|acrobat-host' || true)
[[ -z "$extra" ]] || fail "more than the two hosts in bin/: $extra"
link=$(readlink "$prefix/lib/quillmark/Applications/Acrobat.app/Contents/MacOS/AdobeAcrobat")
[[ "$link" != /* ]] || fail "the application's executable is an absolute link: $link"
[[ "$(readlink -f "$prefix/lib/quillmark/Applications/Acrobat.app/Contents/MacOS/AdobeAcrobat")" == "$prefix/bin/acrobat-host" ]] ||
  fail "the application's executable does not lead to bin/acrobat-host"

# No installed file refers to the build tree (run paths, folders, links).
# Debug information keeps the folder each object was compiled in, which
# nothing reads at run time: it is left out of the comparison, as a stripped
# install (--strip, the package) leaves it out of the files.
mkdir -p "$tmp/nodebug"
while IFS= read -r -d '' f; do
  if [[ ! -L "$f" ]] && cmp -s -n 4 "$f" <(printf '\177ELF'); then
    objcopy --strip-debug "$f" "$tmp/nodebug/check"
    if grep -qF "$build" "$tmp/nodebug/check"; then fail "${f#"$prefix"/} names the build tree"; fi
  elif grep -qF "$build" "$f"; then
    fail "${f#"$prefix"/} names the build tree"
  fi
done < <(find "$prefix" -type f -print0)

clean_env=(env -i HOME="$tmp/home" PATH=/usr/bin:/bin LANG=C.UTF-8)
mkdir -p "$tmp/home" "$tmp/work"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for host in filemaker-host acrobat-host; do
  got=$(cd "$tmp/work" && "${clean_env[@]}" "$prefix/bin/$host" --version)
  [[ "$got" == "$host (Quillmark) $version" ]] || fail "$host --version says \"$got\""
done

# The demo, once from the moved prefix and once from the build tree.
(cd "$tmp/work" && "${clean_env[@]}" QUILL_DEMO_OUT="$tmp/out-installed" \
  "$prefix/share/doc/quillmark/examples/demo.sh") > "$tmp/installed.log" 2>&1 ||
  { cat "$tmp/installed.log"; fail "the installed demo failed"; }
(cd "$tmp/work" && "${clean_env[@]}" QUILL_BUILD="$build" QUILL_DEMO_OUT="$tmp/out-build" \
  "$source/examples/demo.sh") > "$tmp/build.log" 2>&1 ||
  { cat "$tmp/build.log"; fail "the build tree's demo failed"; }

grep -qxF "Quillmark $version" "$tmp/installed.log" || { cat "$tmp/installed.log"; fail "Torv_Version ( \"long\" ) did not answer"; }
if grep -qF '!!ERROR!!' "$tmp/installed.log"; then
  cat "$tmp/installed.log"
  fail "a function failed in the installed demo"
fi

# Same calculations, same results: only the folder names differ.
normalise() { grep -v '^== ' "$1" | sed -e "s|$tmp/out-installed|OUT|g" -e "s|$tmp/out-build|OUT|g"; }
diff <(normalise "$tmp/build.log") <(normalise "$tmp/installed.log") ||
  fail "the installed demo answered differently from the build tree's"

# Same documents: field values, information and page counts.
describe() {
  qpdf --json --json-key=acroform "$1" | grep -E '"(fullname|value)"'
  pdfinfo "$1" | grep -E '^(Title|Pages):'
}
for pdf in membership.pdf filled.pdf; do
  [[ -s "$tmp/out-installed/$pdf" ]] || fail "the installed demo did not write $pdf"
  diff <(describe "$tmp/out-build/$pdf") <(describe "$tmp/out-installed/$pdf") ||
    fail "$pdf differs between the build tree's demo and the installed one"
done
filled=$(describe "$tmp/out-installed/membership.pdf")
[[ "$filled" == *'"value": "u:Ann Example"'* ]] || fail "the installed demo did not fill applicant.name"
echo "installed, moved to $prefix, demo ran with the same results"
