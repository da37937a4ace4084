#!/usr/bin/env bash
# Authenticode signing of the release as make dist does it (scripts/sign.sh),
# with a throwaway certificate authority and code-signing certificate made
# here: the executable, the message DLL and the MSI package built from the
# signed pair verify against that authority and not without it; one changed
# byte breaks each; the files inside the package are the signed ones; a
# time-stamp from a local RFC 3161 server verifies; a key on a PKCS#11 token
# (SoftHSM) signs as well; unusable settings are refused with their reason
# before any file is touched. Under Wine, WinVerifyTrust tells the signed
# executable and DLL from unsigned and changed ones (Wine checks neither the
# chain nor an MSI's digest, so that part stays with osslsigncode).
#   signing.sh SOURCE_DIR EXE DLL VERSION WORK_DIR VERIFY_TRUST_EXE
set -euo pipefail
for tool in osslsigncode openssl wixl msiextract python3 softhsm2-util; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/setup.sh installs it): signing not tried"
    exit 77
  fi
done
kSource=$(realpath -e "$1")
kExe=$(realpath -e "$2")
kDll=$(realpath -e "$3")
kVerifyTrust=$(realpath -e "$6")
readonly kSource kExe kDll kVerifyTrust kVersion=$4 kWork=$5
readonly kSign="$kSource/scripts/sign.sh"
rm -rf "$kWork"
mkdir -p "$kWork"
cd "$kWork"
# Only the settings each case gives.
unset "${!SIGN_@}"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# flip FILE OFFSET: inverts the byte at OFFSET.
flip() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  # shellcheck disable=SC2059
  printf "\\$(printf '%03o' $((byte ^ 0xff)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

verifies() {  # FILE [OPTIONS...]: osslsigncode verify succeeds
  local file=$1
  shift
  osslsigncode verify "$@" -in "$file" >"$file.verify.log" 2>&1
}

# --- A certificate authority, a code-signing certificate it issued, a
# time-stamping certificate, and the signer's PKCS#12 file.
openssl_quiet() { openssl "$@" 2>>openssl.log; }
openssl_quiet req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=didurozir test root" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
issue() {  # NAME SUBJECT EXTENDED_KEY_USAGE
  openssl_quiet req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "$2" -out "$1.csr"
  printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
    "extendedKeyUsage=$3" subjectKeyIdentifier=hash >"$1.ext"
  openssl_quiet x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem"
}
issue signer "/O=didurozir tests/CN=didurozir test signer" codeSigning
issue tsa "/CN=didurozir test time-stamps" critical,timeStamping
printf 'pass phrase with spaces\n' >password.txt
printf 'not it\n' >wrong.txt
openssl_quiet pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem \
  -passout file:password.txt -out signer.p12
openssl_quiet pkcs12 -export -legacy -inkey signer.key -in signer.pem -certfile ca.pem \
  -passout file:password.txt -out legacy.p12
openssl_quiet x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days -1 \
  -extfile signer.ext -out expired.pem
openssl_quiet pkcs12 -export -inkey signer.key -in expired.pem -passout file:password.txt \
  -out expired.p12
readonly kP12=(SIGN_PKCS12="$kWork/signer.p12" SIGN_PASSWORD_FILE="$kWork/password.txt")

# --- Unusable settings: refused with their reason, the file left as it was.
cp "$kExe" victim.exe
refused() {  # MESSAGE SETTINGS...
  local message=$1 out rc=0
  shift
  out=$(env "$@" "$kSign" --check 2>&1) || rc=$?
  if [ "$rc" -eq 0 ] || [[ $out != *"$message"* ]]; then
    fail "--check with $*: exit $rc, '$out'; expected a failure saying '$message'"
    return
  fi
  rc=0
  env "$@" "$kSign" victim.exe >/dev/null 2>&1 || rc=$?
  if [ "$rc" -eq 0 ] || ! cmp -s victim.exe "$kExe"; then
    fail "signing with $*: exit $rc, or the file changed"
    return
  fi
  pass "refused: $message"
}
refused "SIGN_PKCS12: no such file: $kWork/missing.p12" \
  SIGN_PKCS12="$kWork/missing.p12" SIGN_PASSWORD_FILE="$kWork/password.txt"
refused "SIGN_PASSWORD_FILE: no such file: $kWork/missing.txt" \
  SIGN_PKCS12="$kWork/signer.p12" SIGN_PASSWORD_FILE="$kWork/missing.txt"
refused "cannot open $kWork/signer.p12 with the password in $kWork/wrong.txt: wrong password" \
  SIGN_PKCS12="$kWork/signer.p12" SIGN_PASSWORD_FILE="$kWork/wrong.txt"
refused "(no SIGN_PASSWORD_FILE: empty password): wrong password" \
  SIGN_PKCS12="$kWork/signer.p12"
refused "or not a PKCS#12 file" \
  SIGN_PKCS12="$kWork/ca.pem" SIGN_PASSWORD_FILE="$kWork/password.txt"
refused "both SIGN_PKCS12 and SIGN_PKCS11_* are set" \
  "${kP12[@]}" SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so
refused "SIGN_PKCS11_KEY is not set" SIGN_PKCS11_MODULE="$kWork/ca.pem"
refused "SIGN_PASSWORD_FILE is set but no certificate is" SIGN_PASSWORD_FILE="$kWork/password.txt"
refused "SIGN_TIMESTAMP_URL: not an http:// or https:// URL" "${kP12[@]}" SIGN_TIMESTAMP_URL=ftp://x
refused "SIGN_PKCS12: the certificate of CN=didurozir test signer,O=didurozir tests has expired" \
  SIGN_PKCS12="$kWork/expired.p12" SIGN_PASSWORD_FILE="$kWork/password.txt"
refused "SIGN_PKCS11_CERT: the certificate of CN=didurozir test signer,O=didurozir tests has expired" \
  SIGN_PKCS11_MODULE="$kWork/ca.pem" SIGN_PKCS11_KEY="pkcs11:object=signer" \
  SIGN_PKCS11_CERT="$kWork/expired.pem"
refused "SIGN_PKCS11_CERT: no certificate in $kWork/password.txt" \
  SIGN_PKCS11_MODULE="$kWork/ca.pem" SIGN_PKCS11_KEY="pkcs11:object=signer" \
  SIGN_PKCS11_CERT="$kWork/password.txt"

# --- No certificate: unsigned, said in one line, files untouched.
out=$("$kSign" --check 2>&1)
[ "$out" = "unsigned: no certificate given (SIGN_PKCS12 or SIGN_PKCS11_KEY)" ] ||
  fail "--check without a certificate: '$out'"
if ! "$kSign" victim.exe || ! cmp -s victim.exe "$kExe"; then
  fail "without a certificate the file changed"
fi
osslsigncode verify -CAfile ca.pem -in victim.exe >/dev/null 2>&1 &&
  fail "the built executable is already signed"

# --- The release: executable and DLL signed, the MSI built from them, signed.
mkdir stage
cp "$kExe" stage/didurozir.exe
cp "$kDll" stage/didurozir-messages.dll
out=$(env "${kP12[@]}" "$kSign" --check)
[ "$out" = "signed with the PKCS#12 file $kWork/signer.p12 (CN=didurozir test signer,O=didurozir tests)" ] ||
  fail "--check with a PKCS#12 file: '$out'"
env "${kP12[@]}" "$kSign" stage/didurozir.exe stage/didurozir-messages.dll
readonly kMsi="didurozir-$kVersion-x64.msi"
"$kSource/scripts/package.sh" stage "$kVersion" "$kMsi"
env "${kP12[@]}" "$kSign" "$kMsi"

for file in stage/didurozir.exe stage/didurozir-messages.dll "$kMsi"; do
  if verifies "$file" -CAfile ca.pem; then
    pass "$file verifies against the test authority"
  else
    fail "$file does not verify: $(cat "$file.verify.log")"
  fi
  grep -q "CN=didurozir test signer" "$file.verify.log" || fail "$file: the signer is not named"
  # The system's authorities do not know the test root.
  verifies "$file" && fail "$file verifies without the test authority"
  cp "$file" "$file.tampered"
  flip "$file.tampered" $(($(stat -c %s "$file") / 2))
  if verifies "$file.tampered" -CAfile ca.pem || ! grep -q MISMATCH "$file.tampered.verify.log"; then
    fail "$file with one byte changed: $(cat "$file.tampered.verify.log")"
  else
    pass "$file with one byte changed fails on its digest"
  fi
done

# What Windows's own check makes of them, with an unsigned copy besides.
trust() { "$kSource/scripts/wine-run.sh" "$kVerifyTrust" "Z:$kWork/$1" 2>/dev/null | tr -d '\r'; }
cp "$kDll" unsigned.dll
while read -r file expected; do
  got=$(trust "$file")
  if [ "$got" = "$expected" ]; then
    pass "WinVerifyTrust $file: $got"
  else
    fail "WinVerifyTrust $file: '$got', expected $expected"
  fi
done <<'TABLE'
stage/didurozir.exe 0x00000000
stage/didurozir-messages.dll 0x00000000
unsigned.dll 0x800B0100
stage/didurozir.exe.tampered 0x80096010
stage/didurozir-messages.dll.tampered 0x80096010
TABLE

mkdir extracted
msiextract -C extracted "$kMsi" >/dev/null
for name in didurozir.exe didurozir-messages.dll; do
  inside=$(find extracted -name "$name" -type f)
  if [ -n "$inside" ] && cmp -s "$inside" "stage/$name"; then
    pass "the package's $name is the signed one"
  else
    fail "the package's $name ('$inside') differs from the signed one"
  fi
done

# --- A time-stamp from an RFC 3161 server (a local one, answering with
# openssl ts), checked against the time-stamping certificate's authority.
printf '%s\n' '[ tsa ]' 'default_tsa = test' '[ test ]' "serial = $kWork/tsa.serial" \
  "signer_cert = $kWork/tsa.pem" "signer_key = $kWork/tsa.key" "certs = $kWork/ca.pem" \
  signer_digest=sha256 default_policy=1.3.6.1.4.1.55555.1 'digests = sha256, sha384, sha512' \
  ess_cert_id_alg=sha256 >tsa.cnf
echo 01 >tsa.serial
python3 "$(dirname "$0")/tsa_server.py" tsa.cnf tsa.port 2>tsa.log &
tsa_pid=$!
trap 'kill "$tsa_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done
cp "$kDll" stamped.dll
if ! [ -s tsa.port ]; then
  fail "the time-stamp server did not start: $(cat tsa.log)"
elif ! env "${kP12[@]}" SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat tsa.port)/" \
  no_proxy=127.0.0.1 NO_PROXY=127.0.0.1 "$kSign" stamped.dll; then
  fail "signing with a time-stamp: $(cat tsa.log)"
elif ! verifies stamped.dll -CAfile ca.pem -TSA-CAfile ca.pem; then
  fail "the time-stamped DLL does not verify: $(cat stamped.dll.verify.log)"
elif grep -q "Timestamp is not available" stamped.dll.verify.log ||
  ! grep -q "didurozir test time-stamps" stamped.dll.verify.log; then
  fail "no time-stamp in the signature: $(cat stamped.dll.verify.log)"
else
  pass "a time-stamped signature verifies"
fi
kill "$tsa_pid"
trap - EXIT

# --- A key on a PKCS#11 token (SoftHSM), the certificate chain from a file.
export SOFTHSM2_CONF="$kWork/softhsm2.conf"
mkdir tokens
echo "directories.tokendir = $kWork/tokens" >"$SOFTHSM2_CONF"
printf '123456\n' >pin.txt
softhsm2-util --init-token --free --label didurozir-test --pin 123456 --so-pin 654321 >softhsm.log
openssl_quiet pkcs8 -topk8 -nocrypt -in signer.key -out signer.p8
softhsm2-util --import signer.p8 --token didurozir-test --label signer --id 01 --pin 123456 >>softhsm.log
cat signer.pem ca.pem >chain.pem
cp "$kExe" token.exe
readonly kToken=(SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so
  "SIGN_PKCS11_KEY=pkcs11:token=didurozir-test;object=signer;type=private"
  SIGN_PKCS11_CERT="$kWork/chain.pem" SIGN_PKCS11_PIN_FILE="$kWork/pin.txt")
out=$(env "${kToken[@]}" "$kSign" --check 2>&1) || true
[ "$out" = "signed with the key pkcs11:token=didurozir-test;object=signer;type=private (CN=didurozir test signer,O=didurozir tests)" ] ||
  fail "--check with a token: '$out'"
if env "${kToken[@]}" "$kSign" token.exe && verifies token.exe -CAfile ca.pem; then
  pass "a key on a PKCS#11 token signs"
else
  fail "signing with a PKCS#11 token: $(cat token.exe.verify.log 2>/dev/null)"
fi
printf '000000\n' >wrong-pin.txt
cp "$kExe" token.exe
rc=0
out=$(env "${kToken[@]}" SIGN_PKCS11_PIN_FILE="$kWork/wrong-pin.txt" "$kSign" token.exe 2>&1) || rc=$?
if [ "$rc" -ne 0 ] && [[ $out == "sign: osslsigncode could not sign token.exe: "* ]] &&
  cmp -s token.exe "$kExe" && ! [ -e token.exe.signing ]; then
  pass "a wrong PIN fails and leaves the file as it was"
else
  fail "a wrong PIN: exit $rc, '$out'"
fi

# --- Old RC2/3DES-encrypted PKCS#12 files: osslsigncode 2.6 and later read
# them; with earlier versions the check says how to convert them.
version=$(osslsigncode --version | sed -n '1s/^osslsigncode \([0-9.]*\).*/\1/p')
cp "$kDll" legacy.dll
if [ "$(printf '%s\n2.6\n' "$version" | sort -V | head -1)" = 2.6 ]; then
  env SIGN_PKCS12="$kWork/legacy.p12" SIGN_PASSWORD_FILE="$kWork/password.txt" "$kSign" legacy.dll
  if verifies legacy.dll -CAfile ca.pem; then
    pass "a legacy PKCS#12 file signs"
  else
    fail "a legacy PKCS#12 file: $(cat legacy.dll.verify.log)"
  fi
else
  refused "uses the legacy RC2/3DES encryption" \
    SIGN_PKCS12="$kWork/legacy.p12" SIGN_PASSWORD_FILE="$kWork/password.txt"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all signing checks passed"
