#!/usr/bin/env bash
# Builds the Windows program and its release zip twice, from two clones of the
# same commit in two different folders, at two different times, and checks
# that both give the same bytes.
# Usage: reproducible_build.sh REPOSITORY
set -euo pipefail
repository=$1
work=$(mktemp -d /tmp/savelink-twin-XXXXXX)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH  # the build must find the commit's date itself

build() {
  git clone --quiet "$repository" "$1"
  (cd "$1" && cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null &&
    cd build-windows && cpack >/dev/null && sha256sum --quiet -c SHA256SUMS)
}
build "$work/one/savelink"
sleep 2
build "$work/another/folder/savelink"

status=0
for name in savelink.exe "$(cd "$work/one/savelink/build-windows" && ls savelink-*-win64.zip)" SHA256SUMS; do
  first=$(sha256sum < "$work/one/savelink/build-windows/$name" | cut -d' ' -f1)
  second=$(sha256sum < "$work/another/folder/savelink/build-windows/$name" | cut -d' ' -f1)
  if [ "$first" = "$second" ]; then
    echo "same: $name $first"
  else
    echo "DIFFERENT: $name $first $second"
    status=1
  fi
done
exit $status
