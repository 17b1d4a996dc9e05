#!/usr/bin/env bash
# Builds the sample Zorvik Store APK (package ru.zorvik.store) from the sources
# beside this script and writes it to resources/ZorvikStore.apk.
#
# Needs these Debian 12 packages (this script installs nothing itself):
#   aapt                  - packs the manifest and resources
#   android-framework-res - framework-res.apk, the platform resources aapt links against
#   libsmali-java         - smali, assembles the activity into classes.dex
#   zipalign              - 4-byte alignment of stored entries
#   apksigner             - v1 + v2 signing
#   a JDK or JRE          - runs smali and apksigner (keytool only to make a new key)
#
# Usage: tools/sample-apk/build.sh [OUTPUT.apk]
#
# The installer compiles the SHA-256 of the APK it carries into itself, so
# after rebuilding this APK the installer must be rebuilt as well.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out="${1:-$repo/resources/ZorvikStore.apk}"

framework_res=/usr/share/android-framework-res/framework-res.apk
keystore="$here/sample-debug.p12"
key_alias=sample
key_pass=zorvik-sample

# Every zip entry gets this time, so the same sources give the same bytes
# up to the signature (RSA PKCS#1 v1.5 is deterministic, so in practice
# the whole file repeats).
fixed_time=200001010000

missing=()
need_tool() { # tool package
    command -v "$1" >/dev/null 2>&1 || missing+=("$2 (for $1)")
}
need_tool aapt aapt
need_tool smali libsmali-java
need_tool zipalign zipalign
need_tool apksigner apksigner
need_tool java default-jre-headless
[[ -f "$framework_res" ]] || missing+=("android-framework-res (for $framework_res)")
if ((${#missing[@]})); then
    echo "build.sh: missing Debian packages:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "install them with: apt-get install aapt android-framework-res libsmali-java zipalign apksigner" >&2
    exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Stage the inputs with fixed modification times: aapt stamps each entry
# with its source file's mtime.
cp -r "$here/AndroidManifest.xml" "$here/res" "$work/"
mkdir "$work/dex"
smali assemble --api 21 -o "$work/dex/classes.dex" "$here/smali"
find "$work" -exec touch -h -t "$fixed_time" {} +

# minSdk/targetSdk come from the manifest; framework-res.apk is API 29.
aapt package -f \
    -M "$work/AndroidManifest.xml" \
    -S "$work/res" \
    -I "$framework_res" \
    -F "$work/unaligned.apk"
(cd "$work/dex" && aapt add "$work/unaligned.apk" classes.dex >/dev/null)

zipalign -f -p 4 "$work/unaligned.apk" "$work/aligned.apk"

# v1 keeps Android 5/6 happy, v2 is what 7+ checks; v3/v4 add nothing for a
# sample key that never rotates.
apksigner sign \
    --ks "$keystore" --ks-key-alias "$key_alias" \
    --ks-pass "pass:$key_pass" --key-pass "pass:$key_pass" \
    --min-sdk-version 21 \
    --v1-signing-enabled true --v2-signing-enabled true \
    --v3-signing-enabled false --v4-signing-enabled false \
    --out "$work/signed.apk" "$work/aligned.apk"

apksigner verify --min-sdk-version 21 "$work/signed.apk"
zipalign -c 4 "$work/signed.apk"

mkdir -p "$(dirname "$out")"
cp "$work/signed.apk" "$out"
echo "built $out"
sha256sum "$out"
