#!/usr/bin/env bash
# The version resource of every program of the release, read back under Wine
# the way Explorer reads it (GetFileVersionInfo):
#   version_resource_test.sh setup_probe.exe VERSION FILE...
# Every file must name the product, carry VERSION (also as four numbers) and
# a German description, and know its own file name.
set -uo pipefail

probe=$1 version=$2
shift 2
failed=0
source "$(dirname "$0")/../lib/checks.sh"

quad=$version
while [[ $(tr -cd . <<<"$quad") != ... ]]; do quad+=.0; done

for file in "$@"; do
  name=${file##*/}
  info=$(wine "$probe" version "$(winepath -w "$file")" | tr -d '\r')
  field() { sed -n "s/^$1=//p" <<<"$info"; }
  check "$name: product" "$(field ProductName)" "Brevalo Kantiq"
  check "$name: product version" "$(field ProductVersion)" "$version"
  check "$name: file version" "$(field FileVersion)" "$version"
  check "$name: version numbers" "$(field FixedFileVersion) $(field FixedProductVersion)" "$quad $quad"
  check "$name: language German" "$(field Translation | cut -c1-4)" "0407"
  check "$name: maker" "$(field CompanyName)" "Brevalo"
  check "$name: file name" "$(field OriginalFilename)" "$name"
  description=$(field FileDescription)
  if [[ $description == Kantiq\ –\ * ]]; then
    say "ok   $name: description \"$description\""
  else
    say "FAIL $name: description \"$description\""
    failed=1
  fi
done

((failed)) && exit 1
say "all checks passed"
