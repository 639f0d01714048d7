#!/bin/sh
# Installs the Debian packages listed in debian-packages.txt that are missing.
# Cheap when nothing is missing: one dpkg-query call, no apt.
set -eu
list="$(dirname "$0")/debian-packages.txt"
wanted=$(grep -v -e '^#' -e '^[[:space:]]*$' "$list")

# dpkg-query prints one line per known package; unknown ones go to stderr.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' $wanted 2>/dev/null | awk '$1 == "ii" { print $2 }')
missing=""
for p in $wanted; do
    case " $(echo $installed) " in
        *" $p "*) ;;
        *) missing="$missing $p" ;;
    esac
done
[ -z "$missing" ] && exit 0

echo "Installing missing Debian packages:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
