#!/usr/bin/env bash
# Puts a demo recipient certificate into the user NSS database of a throw-away home folder,
# so the encrypted export has a certificate to address. The private key stays beside it for
# decrypting the exported file with openssl.
#   scripts/demo-certificate.sh HOME
set -euo pipefail
home=${1:?usage: demo-certificate.sh HOME}
db="$home/.pki/nssdb"
keys="$home/demo-recipient"
mkdir -p "$db" "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 365 \
  -subj "/CN=Velomark Demo Recipient/O=Demo" \
  -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
[ -e "$db/cert9.db" ] || certutil -N --empty-password -d "sql:$db"
certutil -A -d "sql:$db" -n "Velomark Demo Recipient" -t ",," -i "$keys/cert.pem"
cat <<TEXT
Demo certificate "CN=Velomark Demo Recipient, O=Demo" is in $db.
Open an exported file with:
  openssl cms -decrypt -binary -inform DER -in FILE -recip $keys/cert.pem -inkey $keys/key.pem -out FILE.csv
TEXT
