#!/bin/sh
# Installs the Debian packages a make target needs. Does nothing when everything is
# there already; otherwise needs root and apt-get.
#
#   scripts/install-deps.sh          everything: builds, tests, benchmarks, packages
#   scripts/install-deps.sh demo     only what `make demo` needs: a compiler, CMake, an
#                                    ftp client and the FTP server the demo starts
#   scripts/install-deps.sh install  only what `make install` needs: a compiler and CMake
#   scripts/install-deps.sh deb      the same and Debian's packaging tools, for `make deb`
#
# Both Windows paths are installed on every machine: wine64 runs the 64-bit program
# anywhere, wine32 the 32-bit one where the kernel runs 32-bit programs. Installing
# wine32 does not need such a kernel. The tests also run the real clients in German
# and French, whose locales a fresh machine does not have: they are generated here.
set -eu

# A production server gets no cross compiler, Wine or test tool from `make install`.
build="cmake make g++ gzip"
demo="$build python3 python3-pyftpdlib inetutils-ftp"
case ${1:-all} in
  install) packages=$build ;;
  deb) packages="$build dpkg-dev" ;;
  demo) packages=$demo ;;
  all) packages="$demo clang libclang-rt-14-dev llvm libgtest-dev libbenchmark-dev valgrind
tnftp hyperfine util-linux mount gzip lintian locales
g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386" ;;
  *) echo "usage: $0 [demo|install|deb]" >&2; exit 2 ;;
esac

locales=""
case ${1:-all} in all) locales="de_DE fr_FR" ;; esac
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
missing_locales=""
for l in $locales; do
  locale -a 2>/dev/null | grep -qx "$l.utf8" || missing_locales="$missing_locales $l"
done
[ -z "$missing$missing_locales" ] && exit 0

[ -z "$missing" ] || echo "installing:$missing"
[ -z "$missing_locales" ] || echo "generating the UTF-8 locales:$missing_locales"
if [ "$(id -u)" != 0 ]; then
  echo "install-deps: run as root, or install these packages:$missing, locales:$missing_locales" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# wine32 lives in the i386 architecture, which a fresh amd64 machine does not have.
case "$missing" in
  *:i386*)
    case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
      *" i386 "*) ;;
      *) dpkg --add-architecture i386 ;;
    esac ;;
esac
if [ -n "$missing" ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
for l in $missing_locales; do
  localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
