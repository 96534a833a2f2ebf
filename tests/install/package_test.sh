#!/usr/bin/env bash
# Makes the Debian package from the build (into a temporary folder, as
# scripts/package does into build/) and checks what a user installs: the file
# list, the control data with its computed dependencies, and manual pages
# that render without a warning.
#
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps man; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d /tmp/quillmark-package-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
(cd "$build" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg") > "$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb="$tmp/pkg/quillmark_${version}_${arch}.deb"
[[ -f "$deb" ]] || { ls "$tmp/pkg"; fail "no quillmark_${version}_${arch}.deb"; }

# The files.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' > "$tmp/files"
for f in /usr/bin/filemaker-host /usr/bin/acrobat-host \
         /usr/lib/quillmark/libquill_foundation.so /usr/lib/quillmark/libquill_apple_events.so \
         /usr/lib/quillmark/libquill_process.so /usr/lib/quillmark/libFMWrapper.so \
         /usr/lib/quillmark/Extensions/QuillmarkFM.fmplugin/Contents/MacOS/QuillmarkFM \
         /usr/lib/quillmark/Extensions/QuillmarkFM.fmplugin/Contents/Resources/en.lproj/Quillmark.strings \
         /usr/lib/quillmark/Plug-ins/QuillmarkAcro.acroplugin/Contents/MacOS/QuillmarkAcro \
         /usr/lib/quillmark/Applications/Acrobat.app/Contents/Info \
         /usr/lib/quillmark/Applications/Acrobat.app/Contents/MacOS/AdobeAcrobat \
         /usr/share/doc/quillmark/copyright /usr/share/doc/quillmark/examples/demo.fmscript \
         /usr/share/doc/quillmark/examples/demo.sh /usr/share/doc/quillmark/examples/form.pdf \
         /usr/share/doc/quillmark/examples/merge.sh /usr/share/doc/quillmark/examples/merge.fmscript \
         /usr/share/doc/quillmark/examples/members.csv /usr/share/doc/quillmark/examples/members.map \
         /usr/lib/quillmark/quill-merge-plan /usr/lib/quillmark/quill-merge-report /usr/share/doc/quillmark/changelog.gz \
         /usr/share/man/man1/filemaker-host.1.gz /usr/share/man/man1/acrobat-host.1.gz \
         /usr/share/man/man7/quillmark.7.gz; do
  grep -qxF "$f" "$tmp/files" || fail "the package lacks $f"
done
if grep -E '(^|/)(bench_|fuzz_|quill_test|quill-make-pdfs|[^/]*_test$)|\.a$|/include/' "$tmp/files"; then
  fail "the package holds tests, benchmarks, tools or development files"
fi
if dpkg-deb -c "$deb" | grep -E -- '-> /'; then
  fail "the package holds an absolute link"
fi

# The control data.
field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == quillmark ]] || fail "Package is $(field Package)"
[[ "$(field Version)" == "$version" ]] || fail "Version is $(field Version), not $version"
[[ "$(field Architecture)" == "$arch" ]] || fail "Architecture is $(field Architecture)"
[[ -n "$(field Maintainer)" && -n "$(field Section)" ]] || fail "no Maintainer or Section"
depends=$(field Depends)
for lib in libqpdf libpoppler libcups2 libc6 libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# A server without a desktop installs it: GTK is loaded only when a file
# panel opens, so it is recommended, not required, and nothing links to it.
[[ "$depends" != *gtk* ]] || fail "Depends names GTK: $depends"
[[ "$(field Recommends)" == *libgtk-3-0* ]] || fail "Recommends lacks libgtk-3-0: $(field Recommends)"
# A server with nothing but the package still has faces for values outside a
# field's own font; every suggested package is one the examples or printing use.
for font in fonts-noto-core fonts-noto-cjk fonts-symbola fonts-unifont; do
  [[ ", $(field Recommends)," == *", $font,"* ]] || fail "Recommends lacks $font: $(field Recommends)"
  [[ "$depends" != *"$font"* ]] || fail "Depends names $font: $depends"
done
[[ "$(field Suggests)" == "poppler-utils, cups" ]] || fail "Suggests is not poppler-utils and cups: $(field Suggests)"
description=$(field Description)
[[ $(printf '%s\n' "$description" | wc -l) -ge 3 ]] || fail "no long description: $description"

# The installed programs answer from wherever the package is unpacked, and
# name the package's version.
dpkg-deb -x "$deb" "$tmp/root"
for host in filemaker-host acrobat-host; do
  got=$(env -i PATH=/usr/bin:/bin HOME="$tmp" "$tmp/root/usr/bin/$host" --version)
  [[ "$got" == "$host (Quillmark) $version" ]] || fail "$host --version says \"$got\""
done
if readelf -d "$tmp/root/usr/lib/quillmark/libquill_foundation.so" | grep -q 'NEEDED.*gtk'; then
  fail "libquill_foundation.so links GTK instead of loading it when a panel opens"
fi
if hits=$(grep -rlF "$build" "$tmp/root"); then
  fail "packaged files name the build tree: $hits"
fi

# The manual pages render without warnings and say what they are.
for page in man1/filemaker-host.1 man1/acrobat-host.1 man7/quillmark.7; do
  gz="$tmp/root/usr/share/man/$page.gz"
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$gz" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || fail "$page renders with warnings: $warnings"
  text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$gz" 2>/dev/null)
  name=$(basename "$page"); name=${name%.*}
  [[ "$text" == *NAME*"$name"* && "$text" == *EXAMPLE* ]] || fail "$page lacks its NAME or EXAMPLES"
done
text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -l "$tmp/root/usr/share/man/man7/quillmark.7.gz" 2>/dev/null)
count=$(printf '%s\n' "$text" | sed -n '/^FUNCTIONS/,/^ERRORS/p' | grep -cE '^ +Torv_[A-Za-z]+ {2,}' || true)
[[ "$count" -eq 20 ]] || fail "quillmark(7) lists $count functions, not 20"
[[ "$text" == *-1104*"Acrobat quit while a file was open."* ]] || fail "quillmark(7) lacks the error codes"
# lintian: no error and no warning (a release build has the hardening flags).
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" > "$tmp/lintian" 2>&1
  if grep -E '^[EW]: ' "$tmp/lintian"; then
    fail "lintian finds errors or warnings"
  fi
else
  echo "lintian is not installed: not run"
fi
echo "package $(basename "$deb"): $(wc -l < "$tmp/files") entries, Depends: $depends"
