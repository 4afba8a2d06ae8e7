#!/bin/sh
# make-test-certs.sh DIR: a test CA and the server certificates the TLS tests need, each as
# NAME.pem (certificate) and NAME.key (private key) in DIR:
#   ca            the test CA (the tests trust it through SSL_CERT_FILE)
#   good          localhost and 127.0.0.1, for server authentication
#   expired       valid in 2020 only
#   notyet        valid from 2099 on
#   otherhost     for other.invalid only
#   selfsigned    localhost, signed by itself
#   unknownca     localhost, signed by a CA nobody trusts (unknown-ca)
#   clientonly    localhost, limited to client authentication
#   client        a client certificate for the tests that send one
#   allwrong      self-signed, expired, for other.invalid and client authentication only
set -eu
dir=$1
cd "$dir"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }

ca_setup() {  # ca_setup NAME: a CA with its own openssl ca database
  key "$1"
  mkdir -p "$1.db"
  : > "$1.db/index.txt"
  echo 1000 > "$1.db/serial"
  cat > "$1.cnf" <<CNF
[ca]
default_ca = this
[this]
dir = $dir/$1.db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
certificate = $dir/$1.pem
private_key = $dir/$1.key
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
[anything]
commonName = supplied
[v3_ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
CNF
  openssl req -new -x509 -key "$1.key" -out "$1.pem" -days 3650 -subj "/CN=Kadenza Test $1" \
    -config "$1.cnf" -extensions v3_ca 2>/dev/null
}

# issue CA NAME CN SAN EKU START END
issue() {
  key "$2"
  openssl req -new -key "$2.key" -out "$2.csr" -subj "/O=Kadenza Tests/CN=$3" 2>/dev/null
  cat > "$2.ext" <<EXT
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = $5
subjectAltName = $4
EXT
  openssl ca -batch -notext -config "$1.cnf" -in "$2.csr" -out "$2.pem" -extfile "$2.ext" \
    -startdate "$6" -enddate "$7" 2>/dev/null
}

ca_setup ca
ca_setup unknown-ca
now_start=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
now_end=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
issue ca good localhost "DNS:localhost,IP:127.0.0.1" serverAuth "$now_start" "$now_end"
issue ca expired localhost "DNS:localhost,IP:127.0.0.1" serverAuth 20200101000000Z 20200201000000Z
issue ca notyet localhost "DNS:localhost,IP:127.0.0.1" serverAuth 20990101000000Z 20990201000000Z
issue ca otherhost other.invalid "DNS:other.invalid" serverAuth "$now_start" "$now_end"
issue unknown-ca unknownca localhost "DNS:localhost,IP:127.0.0.1" serverAuth "$now_start" "$now_end"
issue ca clientonly localhost "DNS:localhost,IP:127.0.0.1" clientAuth "$now_start" "$now_end"
issue ca client "Kadenza Client" "email:client@example.invalid" "clientAuth,emailProtection" "$now_start" "$now_end"
key selfsigned
openssl req -new -x509 -key selfsigned.key -out selfsigned.pem -days 30 -subj /CN=localhost \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" 2>/dev/null
key allwrong
openssl req -new -key allwrong.key -out allwrong.csr -subj /CN=other.invalid 2>/dev/null
printf 'subjectAltName = DNS:other.invalid\nextendedKeyUsage = clientAuth\n' > allwrong.ext
openssl ca -batch -notext -config ca.cnf -selfsign -keyfile allwrong.key -in allwrong.csr \
  -out allwrong.pem -extfile allwrong.ext -startdate 20200101000000Z -enddate 20200201000000Z \
  2>/dev/null
