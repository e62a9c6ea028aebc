#!/bin/sh
# Installs the Debian packages the build, the tests, the demo and the benchmarks need.
# Does nothing when everything is there already; otherwise needs root and apt-get.
set -eu

packages="cmake make g++ clang libclang-rt-14-dev llvm libgtest-dev libbenchmark-dev valgrind
g++-mingw-w64-i686 wine wine32:i386 inetutils-ftp tnftp python3-pyftpdlib hyperfine python3 util-linux mount"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: run as root, or install these packages:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# wine32 lives in the i386 architecture, which a fresh amd64 machine does not have.
case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
  *" i386 "*) ;;
  *) dpkg --add-architecture i386 ;;
esac
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null
