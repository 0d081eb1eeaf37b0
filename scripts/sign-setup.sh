#!/usr/bin/env bash
# Authenticode-signs a built Korvane-Setup.exe with the publisher's code-signing certificate
# (osslsigncode): SHA-256 digest, the program's name and the publisher's URL in the signature, and
# an RFC 3161 timestamp when a timestamp server is given, so the signature stays valid after the
# certificate expires.
#
#   scripts/sign-setup.sh --pkcs12 FILE.p12 [--password-file FILE] [--timestamp URL] INPUT.exe OUTPUT.exe
#   scripts/sign-setup.sh --cert CHAIN.pem --key KEY.pem [--password-file FILE] [--timestamp URL] INPUT.exe OUTPUT.exe
#
# A password is only ever read from a file, never taken on the command line (where other users of
# the machine can see it). OUTPUT is written through a temporary file beside it and checked before it
# takes its name; OUTPUT may be INPUT. Exit 1 on failure, 2 on a wrong command line.
set -euo pipefail

NAME="Korvane Setup"
INFO_URL="https://korvane.ru"

usage() {
  sed -n '7,8p' "${BASH_SOURCE[0]}" | sed 's/^#   /usage: /' >&2
  exit 2
}

pkcs12="" cert="" key="" password_file="" timestamp=""
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --pkcs12|--cert|--key|--password-file|--timestamp)
      [ $# -ge 2 ] || usage
      case "$1" in
        --pkcs12) pkcs12=$2 ;;
        --cert) cert=$2 ;;
        --key) key=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp) timestamp=$2 ;;
      esac
      shift 2 ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 2 ] || usage
input=${positional[0]} output=${positional[1]}

credentials=()
if [ -n "$pkcs12" ] && [ -z "$cert$key" ]; then
  credentials=(-pkcs12 "$pkcs12")
elif [ -z "$pkcs12" ] && [ -n "$cert" ] && [ -n "$key" ]; then
  credentials=(-certs "$cert" -key "$key")
else
  usage
fi
[ -z "$password_file" ] || credentials+=(-readpass "$password_file")
if [ -n "$timestamp" ]; then
  credentials+=(-ts "$timestamp")
else
  echo "sign-setup: warning: no --timestamp server given; the signature stops being valid when the" \
       "certificate expires (give the RFC 3161 URL of your CA's timestamp server)" >&2
fi

command -v osslsigncode >/dev/null || { echo "sign-setup: osslsigncode is missing (scripts/setup.sh installs it)" >&2; exit 1; }
[ -f "$input" ] || { echo "sign-setup: no such file: $input" >&2; exit 1; }

temporary=$(mktemp "$(dirname "$output")/.$(basename "$output").XXXXXX")
trap 'rm -f "$temporary"' EXIT
# osslsigncode will not write over an existing file.
rm -f "$temporary"
if ! osslsigncode sign "${credentials[@]}" -h sha256 -n "$NAME" -i "$INFO_URL" \
       -in "$input" -out "$temporary" >"$temporary.log" 2>&1; then
  cat "$temporary.log" >&2
  rm -f "$temporary.log"
  echo "sign-setup: signing $input failed" >&2
  exit 1
fi
rm -f "$temporary.log"
# Whether the chain is trusted is the verifier's question (osslsigncode verify -CAfile ..., or
# Windows); here the new signature must cover exactly the file it sits in.
report=$(osslsigncode verify -ignore-timestamp -ignore-cdp -in "$temporary" 2>&1 || true)
current=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$report")
calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$report")
if [ -z "$current" ] || [ "$current" != "$calculated" ]; then
  echo "$report" >&2
  echo "sign-setup: the signed file does not match its own signature" >&2
  exit 1
fi
mv -f "$temporary" "$output"
trap - EXIT
echo "sign-setup: signed $output"
