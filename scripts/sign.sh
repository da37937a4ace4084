#!/usr/bin/env bash
# Authenticode signing of the release's files with osslsigncode, when a
# certificate is given in the environment:
#   SIGN_PKCS12          a PKCS#12 file with the code-signing key and its chain
#   SIGN_PASSWORD_FILE   a file holding that file's password (none: no password)
# or, for a key on a hardware token (through the OpenSSL pkcs11 engine,
# Debian package libengine-pkcs11-openssl):
#   SIGN_PKCS11_MODULE   the token's PKCS#11 module (a .so file)
#   SIGN_PKCS11_KEY      the key's PKCS#11 URI (pkcs11:token=...;object=...)
#   SIGN_PKCS11_CERT     the certificate: a PEM/DER file with its chain, or
#                        its PKCS#11 URI on the token
#   SIGN_PKCS11_PIN_FILE a file holding the token's PIN (none: asked for)
#   SIGN_PKCS11_ENGINE   the engine (default: pkcs11.so in OpenSSL's engines folder)
# and for either kind:
#   SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server, so that the signature
#                        stays valid after the certificate expires
#
#   sign.sh --check    checks the settings and prints one line saying how the
#                      release will be signed, or that it will be unsigned;
#                      fails with the reason when they are unusable
#   sign.sh FILE...    signs each PE or MSI file in place (nothing to do when
#                      no certificate is given)
#
# Passwords and PINs are read from their files by the tools themselves, so
# they never appear on a command line.
set -euo pipefail

readonly kDescription="QUENTAR Agent Monitor"

fail() {
  echo "sign: $*" >&2
  exit 1
}

readable() {  # VARIABLE: fails unless the file that VARIABLE names can be read
  local file=${!1}
  [ -e "$file" ] || fail "$1: no such file: $file"
  if ! [ -f "$file" ] || ! [ -r "$file" ]; then fail "$1: not a readable file: $file"; fi
}

# Which kind of certificate is given: pkcs12, pkcs11 or none.
kind() {
  local p12=${SIGN_PKCS12:-} p11=${SIGN_PKCS11_MODULE:-}${SIGN_PKCS11_KEY:-}${SIGN_PKCS11_CERT:-}
  if [ -n "$p12" ] && [ -n "$p11" ]; then
    fail "both SIGN_PKCS12 and SIGN_PKCS11_* are set: give one certificate"
  elif [ -n "$p12" ]; then
    echo pkcs12
  elif [ -n "$p11" ]; then
    echo pkcs11
  else
    echo none
  fi
}

# The PKCS#12 file as osslsigncode will read it: the password opens it and it
# holds a key and a certificate. OpenSSL 3 opens files with the old RC2/3DES
# encryption only with -legacy; osslsigncode before 2.6 cannot read those.
check_pkcs12() {
  readable SIGN_PKCS12
  local pass=(-passin pass:)
  if [ -n "${SIGN_PASSWORD_FILE:-}" ]; then
    readable SIGN_PASSWORD_FILE
    pass=(-passin "file:$SIGN_PASSWORD_FILE")
  fi
  local legacy=()
  if ! openssl pkcs12 -in "$SIGN_PKCS12" "${pass[@]}" -noout 2>/dev/null; then
    openssl pkcs12 -legacy -in "$SIGN_PKCS12" "${pass[@]}" -noout 2>/dev/null ||
      fail "SIGN_PKCS12: cannot open $SIGN_PKCS12 with the password in" \
        "${SIGN_PASSWORD_FILE:-(no SIGN_PASSWORD_FILE: empty password)}:" \
        "wrong password, or not a PKCS#12 file"
    legacy=(-legacy)
    local version
    version=$(osslsigncode --version 2>/dev/null | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
    if [ "$(printf '%s\n2.6\n' "$version" | sort -V | head -1)" != 2.6 ]; then
      fail "SIGN_PKCS12: $SIGN_PKCS12 uses the legacy RC2/3DES encryption, which" \
        "osslsigncode $version cannot read; export it again with AES:" \
        "openssl pkcs12 -legacy -in OLD -nodes | openssl pkcs12 -export -out NEW"
    fi
  fi
  openssl pkcs12 "${legacy[@]}" -in "$SIGN_PKCS12" "${pass[@]}" -nocerts -nodes 2>/dev/null |
    grep -q "PRIVATE KEY" || fail "SIGN_PKCS12: $SIGN_PKCS12 holds no private key"
  signer=$(openssl pkcs12 "${legacy[@]}" -in "$SIGN_PKCS12" "${pass[@]}" -nokeys -clcerts 2>/dev/null |
    openssl x509 -noout -subject -nameopt RFC2253 2>/dev/null | sed 's/^subject= *//') ||
    fail "SIGN_PKCS12: $SIGN_PKCS12 holds no certificate"
  [ -n "$signer" ] || fail "SIGN_PKCS12: $SIGN_PKCS12 holds no certificate"
  openssl pkcs12 "${legacy[@]}" -in "$SIGN_PKCS12" "${pass[@]}" -nokeys -clcerts 2>/dev/null |
    openssl x509 -noout -checkend 0 >/dev/null ||
    fail "SIGN_PKCS12: the certificate of $signer has expired"
}

pkcs11_engine() {
  if [ -n "${SIGN_PKCS11_ENGINE:-}" ]; then
    echo "$SIGN_PKCS11_ENGINE"
  else
    echo "$(openssl version -e | sed 's/^ENGINESDIR: "\(.*\)"$/\1/')/pkcs11.so"
  fi
}

check_pkcs11() {
  [ -n "${SIGN_PKCS11_MODULE:-}" ] || fail "SIGN_PKCS11_MODULE is not set (the token's PKCS#11 module)"
  [ -n "${SIGN_PKCS11_KEY:-}" ] || fail "SIGN_PKCS11_KEY is not set (the key's pkcs11: URI)"
  [ -n "${SIGN_PKCS11_CERT:-}" ] || fail "SIGN_PKCS11_CERT is not set (a certificate file or pkcs11: URI)"
  readable SIGN_PKCS11_MODULE
  case $SIGN_PKCS11_KEY in
    pkcs11:*) ;;
    *) fail "SIGN_PKCS11_KEY: not a pkcs11: URI: $SIGN_PKCS11_KEY" ;;
  esac
  case $SIGN_PKCS11_CERT in
    pkcs11:*) signer="the certificate $SIGN_PKCS11_CERT" ;;
    *)
      readable SIGN_PKCS11_CERT
      signer=$(openssl x509 -in "$SIGN_PKCS11_CERT" -noout -subject -nameopt RFC2253 2>/dev/null ||
        openssl x509 -inform DER -in "$SIGN_PKCS11_CERT" -noout -subject -nameopt RFC2253 2>/dev/null) ||
        fail "SIGN_PKCS11_CERT: no certificate in $SIGN_PKCS11_CERT"
      signer=${signer#subject=}
      signer=${signer# }
      { openssl x509 -in "$SIGN_PKCS11_CERT" -noout -checkend 0 ||
        openssl x509 -inform DER -in "$SIGN_PKCS11_CERT" -noout -checkend 0; } >/dev/null 2>&1 ||
        fail "SIGN_PKCS11_CERT: the certificate of $signer has expired"
      ;;
  esac
  [ -z "${SIGN_PKCS11_PIN_FILE:-}" ] || readable SIGN_PKCS11_PIN_FILE
  local engine
  engine=$(pkcs11_engine)
  [ -f "$engine" ] ||
    fail "the OpenSSL pkcs11 engine $engine is missing (Debian package libengine-pkcs11-openssl," \
      "or set SIGN_PKCS11_ENGINE)"
}

# Checks everything; sets signer and prints nothing.
check() {
  case $kKind in
    none)
      local stray
      for stray in SIGN_PASSWORD_FILE SIGN_PKCS11_PIN_FILE SIGN_PKCS11_ENGINE SIGN_TIMESTAMP_URL; do
        [ -z "${!stray:-}" ] || fail "$stray is set but no certificate is (SIGN_PKCS12 or SIGN_PKCS11_*)"
      done
      ;;
    pkcs12)
      [ -z "${SIGN_PKCS11_PIN_FILE:-}${SIGN_PKCS11_ENGINE:-}" ] ||
        fail "SIGN_PKCS11_PIN_FILE or SIGN_PKCS11_ENGINE is set with SIGN_PKCS12: give one certificate"
      check_pkcs12
      ;;
    pkcs11)
      [ -z "${SIGN_PASSWORD_FILE:-}" ] ||
        fail "SIGN_PASSWORD_FILE goes with SIGN_PKCS12; a token's PIN goes in SIGN_PKCS11_PIN_FILE"
      check_pkcs11
      ;;
  esac
  case ${SIGN_TIMESTAMP_URL:-http://} in
    http://* | https://*) ;;
    *) fail "SIGN_TIMESTAMP_URL: not an http:// or https:// URL: $SIGN_TIMESTAMP_URL" ;;
  esac
  command -v osslsigncode >/dev/null || [ "$kKind" = none ] ||
    fail "osslsigncode is missing (Debian package osslsigncode)"
}

# The options that name the certificate and key.
credentials() {
  case $kKind in
    pkcs12)
      printf '%s %s\n' -pkcs12 "$SIGN_PKCS12"
      [ -z "${SIGN_PASSWORD_FILE:-}" ] || printf '%s %s\n' -readpass "$SIGN_PASSWORD_FILE"
      ;;
    pkcs11)
      printf '%s %s\n' -pkcs11engine "$(pkcs11_engine)"
      printf '%s %s\n' -pkcs11module "$SIGN_PKCS11_MODULE"
      printf '%s %s\n' -key "$SIGN_PKCS11_KEY"
      case $SIGN_PKCS11_CERT in
        pkcs11:*) printf '%s %s\n' -pkcs11cert "$SIGN_PKCS11_CERT" ;;
        *) printf '%s %s\n' -certs "$SIGN_PKCS11_CERT" ;;
      esac
      [ -z "${SIGN_PKCS11_PIN_FILE:-}" ] || printf '%s %s\n' -readpass "$SIGN_PKCS11_PIN_FILE"
      ;;
  esac
}

sign_file() {  # FILE
  local file=$1 out="$1.signing" log
  local args=()
  # One option and its value a line: paths with spaces stay whole.
  while read -r option value; do args+=("$option" "$value"); done < <(credentials)
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$SIGN_TIMESTAMP_URL")
  rm -f "$out"
  if ! log=$(osslsigncode sign "${args[@]}" -h sha256 -n "$kDescription" -in "$file" -out "$out" 2>&1); then
    rm -f "$out"
    fail "osslsigncode could not sign $file: $(printf '%s' "$log" | tr '\n' ' ')"
  fi
  chmod --reference="$file" "$out"
  mv -f "$out" "$file"
}

signer=
kKind=$(kind)
readonly kKind
if [ "${1:-}" = --check ]; then
  check
  case $kKind in
    none) echo "unsigned: no certificate given (SIGN_PKCS12 or SIGN_PKCS11_KEY)" ;;
    pkcs12) echo "signed with the PKCS#12 file $SIGN_PKCS12 ($signer)${SIGN_TIMESTAMP_URL:+, time-stamped by $SIGN_TIMESTAMP_URL}" ;;
    pkcs11) echo "signed with the key $SIGN_PKCS11_KEY ($signer)${SIGN_TIMESTAMP_URL:+, time-stamped by $SIGN_TIMESTAMP_URL}" ;;
  esac
  exit 0
fi
[ $# -gt 0 ] || fail "usage: sign.sh --check | sign.sh FILE..."
check
[ "$kKind" != none ] || exit 0
for file in "$@"; do
  [ -f "$file" ] || fail "no such file: $file"
  sign_file "$file"
done
