#!/bin/sh
# The demonstration supplier's program update: an updater in the client's
# \Update folder with the supplier's signature beside it, made with the
# demonstration key (a key pair of its own, made here when missing; a
# pharmacy never trusts it).
#
#   make_update.sh <client's home on the FTP server> <key folder>
#
# The key folder keeps private.pem (the demonstration supplier's) and
# supplier.pub (what the demonstration program folder trusts).
set -eu
home=$1
keys=$2
mkdir -p "$keys"
chmod 700 "$keys"
if [ ! -f "$keys/private.pem" ]; then
  (umask 077 && openssl genpkey -algorithm ed25519 -out "$keys/private.pem")
fi
openssl pkey -in "$keys/private.pem" -pubout -out "$keys/supplier.pub"

# The updater restarts the program through its launcher once the running
# copy (its parent) has ended: enough to show the signed path end to end.
mkdir -p "$home/Update"
cat > "$home/Update/update" <<'UPDATER'
#!/bin/sh
# Демонстрационное обновление: перезапуск программы.
cd "$(dirname "$0")/.." && exec ./vorn "$PPID"
UPDATER
openssl pkeyutl -sign -rawin -inkey "$keys/private.pem" -in "$home/Update/update" -out "$home/Update/update.sig"
