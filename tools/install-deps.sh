#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, then builds static
# OpenSSL, nghttp2 and curl for x86_64-w64-mingw32 from Debian's own source
# packages into a cache outside the checkout. Run as root (installing packages
# and the default cache need it); safe to run again: the packages are skipped
# when present and the build is reused while this script is unchanged.
#
#   KOVANE_DEPS_CACHE   cache folder (default /var/cache/kovane-deps)
#
# The Windows prefix ends up in $KOVANE_DEPS_CACHE/mingw (a symlink to the
# build for this script's contents).
set -euo pipefail

readonly PACKAGES=(
	# build
	build-essential cmake ninja-build make pkg-config perl python3
	clang clang-format libclang-rt-14-dev
	# the fuzz targets: clang 16 is the first that compiles libstdc++ 12's <expected>
	clang-16 libclang-rt-16-dev
	g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
	# native libraries
	libcurl4-openssl-dev libssl-dev libnghttp2-dev libidn2-dev nlohmann-json3-dev
	googletest libgtest-dev libgmock-dev libbenchmark-dev
	# test tools
	openssl ca-certificates nghttp2-server osslsigncode
	# the loopback server of the download benchmark
	nginx-light
	xvfb xauth xdotool
	# Wine, plus the parts its recommends bring that the GUI tests rely on:
	# fonts for the boxes and the X extensions winex11 loads at run time
	wine64 wine fonts-wine
	libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxfixes3
	libxinerama1 libxxf86vm1
	# source packages: apt-get source and dpkg-source
	dpkg-dev xz-utils patch
)

readonly MINGW_HOST=x86_64-w64-mingw32
# The launcher is a download users wait for: small code, unused functions and data dropped by
# the final link, and link-time optimisation across the libraries and the program (archives
# indexed by gcc-ar so that the linker sees the symbols of their LTO objects). The objects keep
# their plain code as well, so that test programs can link without the link-time step.
readonly SIZE_CFLAGS="-Os -flto -ffat-lto-objects -ffunction-sections -fdata-sections"

# fd 3 is the script's standard error, also inside steps whose output goes to a log.
exec 3>&2
log() { printf '[install-deps] %s\n' "$*" >&3; }
die() {
	log "error: $*"
	exit 1
}

install_packages() {
	local pkg name status
	local -A state=()
	# One query for all: a second run of the script should take no time.
	while read -r name status; do
		[[ -n $name ]] && state[$name]=$status
	done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null || true)
	local missing=()
	for pkg in "${PACKAGES[@]}"; do
		[[ ${state[$pkg]:-} == installed ]] || missing+=("$pkg")
	done
	if ((${#missing[@]} == 0)); then
		log "all ${#PACKAGES[@]} Debian packages are installed"
		return
	fi
	((EUID == 0)) || die "run as root to install: ${missing[*]}"
	log "installing: ${missing[*]}"
	export DEBIAN_FRONTEND=noninteractive
	apt-get update
	apt-get install -y --no-install-recommends "${PACKAGES[@]}"
}

# Writes deb-src entries for the enabled Debian sources of this machine into
# the private sources folder $1. Only suites of this release (plain, -updates,
# -security) and component main are kept: third-party repositories and
# backports would hand us other versions than the native -dev packages.
derive_source_entries() {
	local out=$1 codename
	# shellcheck source=/dev/null
	codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
	[[ -n $codename ]] || die "no VERSION_CODENAME in /etc/os-release"
	python3 - "$codename" "$out" <<'PY'
import glob, os, re, sys

codename, out = sys.argv[1], sys.argv[2]
suite_re = re.compile(r"^%s(?:-updates|-security|/updates)?$" % re.escape(codename))
seen = set()
deb822, oneline = [], []

def keep(uri, suite, comps):
    return suite_re.match(suite) and "main" in comps and (uri, suite) not in seen

def files(pattern):
    return [f for f in sorted(glob.glob(pattern)) if ".disabled" not in os.path.basename(f)]

# One-line format: "deb [opts] uri suite comp...".
for path in (["/etc/apt/sources.list"] if os.path.isfile("/etc/apt/sources.list") else []) + \
        files("/etc/apt/sources.list.d/*.list"):
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.split("#", 1)[0].strip()
        m = re.match(r"^(deb|deb-src)\s+(?:\[([^\]]*)\]\s+)?(\S+)\s+(\S+)\s+(.*)$", line)
        if not m:
            continue
        opts = [o for o in (m.group(2) or "").split()
                if not re.match(r"^(arch|lang|target)[-+]?=", o)]
        uri, suite, comps = m.group(3), m.group(4), m.group(5).split()
        if keep(uri, suite, comps):
            seen.add((uri, suite))
            oneline.append("deb-src %s%s %s main" % (
                "[%s] " % " ".join(opts) if opts else "", uri, suite))

# deb822 format: stanzas separated by blank lines.
for path in files("/etc/apt/sources.list.d/*.sources"):
    text = open(path, encoding="utf-8", errors="replace").read()
    for stanza in re.split(r"\n\s*\n", text):
        fields, key = {}, None
        for line in stanza.splitlines():
            if line.startswith("#"):
                continue
            if line[:1] in (" ", "\t") and key:
                fields[key] += "\n" + line
                continue
            if ":" in line:
                key, value = line.split(":", 1)
                key = key.strip().lower()
                fields[key] = value.strip()
        if fields.get("enabled", "yes").strip().lower() == "no":
            continue
        if not set(fields.get("types", "").split()) & {"deb", "deb-src"}:
            continue
        comps = fields.get("components", "").split()
        for uri in fields.get("uris", "").split():
            suites = [s for s in fields.get("suites", "").split() if keep(uri, s, comps)]
            if not suites:
                continue
            seen.update((uri, s) for s in suites)
            entry = ["Types: deb-src", "URIs: " + uri, "Suites: " + " ".join(suites),
                     "Components: main"]
            if "signed-by" in fields:
                entry.append("Signed-By: " + fields["signed-by"])
            deb822.append("\n".join(entry))

if not deb822 and not oneline:
    sys.exit("no enabled Debian source for %s in /etc/apt" % codename)
with open(os.path.join(out, "debian-src.sources"), "w") as f:
    f.write("\n\n".join(deb822) + ("\n" if deb822 else ""))
with open(os.path.join(out, "debian-src.list"), "w") as f:
    f.write("\n".join(oneline) + ("\n" if oneline else ""))
PY
}

# Runs a step with its output in a log file; shows the log's end when it fails.
run_logged() {
	local name=$1
	shift
	local logfile="$WORK/log/${name// /-}.log" rc=0 start=$SECONDS
	# A subshell outside any condition, so that errexit holds inside the step.
	set +e
	(
		set -e
		"$@"
	) >"$logfile" 2>&1
	rc=$?
	set -e
	if ((rc != 0)); then
		tail -n 60 "$logfile" >&2
		die "$name failed (logs kept in $CACHE/failed-logs)"
	fi
	log "$name: $((SECONDS - start)) s"
}

# Downloads the newest version of source package $1 that the mirror still has
# (a Sources index can name a version whose files are already gone) and
# unpacks it with Debian's patches into $WORK/src/$1.
fetch_source() {
	local pkg=$1 version dl
	local flog="$WORK/log/fetch-$pkg.log"
	local versions=()
	# Newest first, in Debian's version order.
	for version in $(apt-cache "${APT_OPTS[@]}" showsrc "$pkg" |
		awk -v p="$pkg" '/^Package:/ {cur = $2} /^Version:/ && cur == p {print $2}' | sort -u); do
		local i=${#versions[@]}
		versions+=("$version")
		while ((i > 0)) && dpkg --compare-versions "${versions[i]}" gt "${versions[i - 1]}"; do
			versions[i]=${versions[i - 1]}
			versions[i - 1]=$version
			i=$((i - 1))
		done
	done
	((${#versions[@]} > 0)) || die "no source package $pkg in the private source list"
	for version in "${versions[@]}"; do
		dl="$WORK/dl/$pkg-$version"
		mkdir -p "$dl"
		# Let apt's unprivileged downloader write here.
		if ((EUID == 0)) && id _apt >/dev/null 2>&1; then chown _apt "$dl"; fi
		if (cd "$dl" && apt-get "${APT_OPTS[@]}" -q source --download-only "$pkg=$version") >>"$flog" 2>&1; then
			dpkg-source -x "$dl"/*.dsc "$WORK/src/$pkg" >>"$flog" 2>&1 ||
				die "dpkg-source -x failed for $pkg $version (logs kept in $CACHE/failed-logs)"
			log "source $pkg $version"
			printf '%s %s\n' "$pkg" "$version" >>"$WORK/versions"
			return
		fi
		log "source $pkg $version cannot be downloaded, trying an older one"
		rm -rf "$dl"
	done
	tail -n 30 "$flog" >&2
	die "could not download any version of source package $pkg"
}

build_openssl() {
	local src="$WORK/src/openssl" bld="$WORK/build/openssl"
	mkdir -p "$bld"
	# Small on purpose: TLS 1.2/1.3 with X25519/P-256/P-384, AES-GCM,
	# ChaCha20-Poly1305 and ECDSA/RSA stay; old protocols, the legacy provider,
	# loadable modules and rarely used algorithms go; so do finite-field DH
	# (the client offers ECDHE only) and DES/MD4 (curl's NTLM then uses the
	# Windows crypto API). No openssl.cnf is read at start-up. 3.0 knows no
	# no-docs/no-apps: building only the libraries and installing only the
	# development files comes to the same. Nothing here uses the deprecated
	# API, CMAC, pre-shared keys or OpenSSL's own sockets (curl brings its
	# own BIO); the small-footprint tables trade a little speed for size.
	(cd "$bld" && "$src/Configure" mingw64 \
		--cross-compile-prefix="$MINGW_HOST-" CC=gcc-posix \
		AR=gcc-ar-posix RANLIB=gcc-ranlib-posix \
		--prefix="$PARTIAL" --libdir=lib \
		no-shared no-dso no-module no-engine no-legacy no-autoload-config \
		no-ssl3 no-tls1 no-tls1_1 no-dtls no-tests \
		no-comp no-srp no-srtp no-sctp no-ct no-ocsp no-cms no-ts no-cmp \
		no-rfc3779 no-gost no-ec2m no-nextprotoneg no-ssl-trace no-ui-console \
		no-idea no-seed no-camellia no-aria no-bf no-cast no-rc2 no-rc4 no-rc5 \
		no-md2 no-mdc2 no-whirlpool no-sm2 no-sm3 no-sm4 no-blake2 no-siphash \
		no-scrypt no-capieng no-padlockeng no-afalgeng no-devcryptoeng \
		no-dsa no-dh no-des no-md4 no-rmd160 no-ocb no-siv no-multiblock \
		no-async no-dgram no-filenames \
		no-deprecated no-cmac no-psk no-sock \
		-DOPENSSL_SMALL_FOOTPRINT $SIZE_CFLAGS)
	# The data folders compiled into libcrypto must be Windows paths that only
	# administrators can write: a Unix path would resolve against the current
	# drive (C:\var\cache\...), which any user may create.
	local dir="C:/Program Files/Common Files/SSL"
	local dirs=(OPENSSLDIR="$dir" ENGINESDIR="$dir/engines-3" MODULESDIR="$dir/ossl-modules")
	make -C "$bld" -j"$JOBS" "${dirs[@]}" build_libs
	make -C "$bld" "${dirs[@]}" install_dev
}

write_toolchain() {
	cat >"$WORK/mingw-toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $MINGW_HOST-gcc-posix)
set(CMAKE_CXX_COMPILER $MINGW_HOST-g++-posix)
set(CMAKE_RC_COMPILER $MINGW_HOST-windres)
set(CMAKE_AR /usr/bin/$MINGW_HOST-gcc-ar-posix)
set(CMAKE_RANLIB /usr/bin/$MINGW_HOST-gcc-ranlib-posix)
set(CMAKE_C_FLAGS_INIT "$SIZE_CFLAGS")
set(CMAKE_FIND_ROOT_PATH /usr/$MINGW_HOST "$PARTIAL")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

build_nghttp2() {
	local src="$WORK/src/nghttp2" bld="$WORK/build/nghttp2"
	# 1.52 fails to link when both clock_gettime (winpthreads) and
	# GetTickCount64 are found (time_now_sec is left undefined); take the
	# Windows call.
	cmake -S "$src" -B "$bld" -G Ninja \
		-DCMAKE_TOOLCHAIN_FILE="$WORK/mingw-toolchain.cmake" \
		-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX="$PARTIAL" \
		-DCMAKE_INSTALL_LIBDIR=lib \
		-DENABLE_LIB_ONLY=ON -DENABLE_STATIC_LIB=ON -DENABLE_SHARED_LIB=OFF \
		-DENABLE_DOC=OFF -DENABLE_FAILMALLOC=OFF -DENABLE_HTTP3=OFF \
		-DWITH_LIBXML2=OFF -DWITH_JEMALLOC=OFF -DWITH_MRUBY=OFF \
		-DWITH_NEVERBLEED=OFF -DWITH_LIBBPF=OFF -DHAVE_CLOCK_GETTIME=OFF \
		-DCMAKE_DISABLE_FIND_PACKAGE_Libevent=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_LibXml2=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_Jansson=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_Systemd=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_Libcares=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_LibEV=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_OpenSSL=ON \
		-DCMAKE_DISABLE_FIND_PACKAGE_CUnit=ON
	cmake --build "$bld" -j"$JOBS"
	cmake --install "$bld"
}

# Configures curl in $WORK/build/curl; extra arguments override the defaults.
configure_curl() {
	# CA bundle and path none: autodetection would bake the build machine's
	# /etc/ssl paths into the Windows library. Unicode: file names given to
	# libcurl are UTF-8, like the rest of the launcher. Off as well: what the
	# client never asks for (cookies, HSTS, alt-svc, DoH, MIME, netrc, any
	# authentication but Basic, the progress meter, the option tables, date
	# parsing, shuffled DNS).
	cmake -S "$WORK/src/curl" -B "$WORK/build/curl" -G Ninja \
		-DCMAKE_TOOLCHAIN_FILE="$WORK/mingw-toolchain.cmake" \
		-DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_INSTALL_PREFIX="$PARTIAL" \
		-DCMAKE_INSTALL_LIBDIR=lib \
		-DCMAKE_C_FLAGS="$SIZE_CFLAGS -DNGHTTP2_STATICLIB" \
		-DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
		-DENABLE_MANUAL=OFF -DPICKY_COMPILER=OFF -DENABLE_UNICODE=ON \
		-DCURL_ENABLE_SSL=ON -DCURL_USE_OPENSSL=ON \
		-DOPENSSL_ROOT_DIR="$PARTIAL" -DOPENSSL_USE_STATIC_LIBS=ON \
		-DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON \
		-DUSE_NGHTTP2=ON \
		-DNGHTTP2_INCLUDE_DIR="$PARTIAL/include" \
		-DNGHTTP2_LIBRARY="$PARTIAL/lib/libnghttp2.a" \
		-DUSE_WIN32_IDN=ON -DUSE_LIBIDN2=OFF \
		-DENABLE_THREADED_RESOLVER=ON -DENABLE_ARES=OFF \
		-DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON \
		-DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF \
		-DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_USE_LIBPSL=OFF \
		-DENABLE_UNIX_SOCKETS=OFF -DENABLE_WEBSOCKETS=OFF \
		-DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF \
		-DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_COOKIES=ON -DCURL_DISABLE_CRYPTO_AUTH=ON \
		-DCURL_DISABLE_DOH=ON -DCURL_DISABLE_GETOPTIONS=ON -DCURL_DISABLE_HSTS=ON \
		-DCURL_DISABLE_LIBCURL_OPTION=ON -DCURL_DISABLE_MIME=ON -DCURL_DISABLE_NETRC=ON \
		-DCURL_DISABLE_NTLM=ON -DCURL_DISABLE_PARSEDATE=ON -DCURL_DISABLE_PROGRESS_METER=ON \
		-DCURL_DISABLE_SHUFFLE_DNS=ON \
		"$@"
}

# Results of curl's platform checks for this cross toolchain. The checks are
# about a hundred small compiles and links against the mingw-w64 headers, run
# one at a time (~90 s); curl seeds the same way for MSVC
# (CMake/Platforms/WindowsCache.cmake). Used only for the toolchain they were
# read from; any other runs the checks.
readonly CURL_CHECKS_TOOLCHAIN="gcc 12 mingw-w64 10.0.0-3 curl 7.88.1"
readonly CURL_CHECKS=(
	HAVE_ALARM= HAVE_ARPA_TFTP_H= HAVE_ATOMIC=1 HAVE_BASENAME=1 HAVE_BOOL_T=1
	HAVE_BUILTIN_AVAILABLE= HAVE_CLOCK_GETTIME_MONOTONIC=1 HAVE_FCHMOD= HAVE_FCNTL_O_NONBLOCK=
	HAVE_FILE_OFFSET_BITS=1 HAVE_FREEADDRINFO=1 HAVE_FSETXATTR= HAVE_FTRUNCATE=1 HAVE_GETADDRINFO=1
	HAVE_GETPEERNAME=1 HAVE_GETPPID= HAVE_GETPWUID_R= HAVE_GETRLIMIT= HAVE_GETSOCKNAME=1
	HAVE_GLIBC_STRERROR_R= HAVE_IDN2_H= HAVE_IFADDRS_H= HAVE_IF_NAMETOINDEX= HAVE_INET_NTOP=1
	HAVE_INET_PTON=1 HAVE_IOCTLSOCKET=1 HAVE_IOCTLSOCKET_CAMEL= HAVE_IOCTLSOCKET_CAMEL_FIONBIO=
	HAVE_IOCTLSOCKET_FIONBIO=1 HAVE_IOCTL_FIONBIO= HAVE_IOCTL_SIOCGIFADDR= HAVE_LIBGEN_H=1
	HAVE_LIBWINMM=1 HAVE_LIBWS2_32=1 HAVE_LINUX_TCP_H= HAVE_LOCALE_H=1 HAVE_MACH_ABSOLUTE_TIME=
	HAVE_MINGW_ORIGINAL= HAVE_MSG_NOSIGNAL= HAVE_NETINET_TCP_H= HAVE_PIPE= HAVE_POLL_H=
	HAVE_POSIX_STRERROR_R= HAVE_RECV=1 HAVE_SEND=1 HAVE_SENDMSG= HAVE_SETLOCALE=1 HAVE_SETMODE=1
	HAVE_SETRLIMIT= HAVE_SETSOCKOPT_SO_NONBLOCK= HAVE_SIGINTERRUPT= HAVE_SIZEOF_ADDRESS_FAMILY=FALSE
	HAVE_SIZEOF_CURL_OFF_T=TRUE HAVE_SIZEOF_INT=TRUE HAVE_SIZEOF_LONG=TRUE
	HAVE_SIZEOF_LONG_LONG=TRUE HAVE_SIZEOF_OFF_T=TRUE HAVE_SIZEOF_SA_FAMILY_T=FALSE
	HAVE_SIZEOF_SIZE_T=TRUE HAVE_SIZEOF_SSIZE_T=TRUE HAVE_SIZEOF_STRUCT_SOCKADDR_STORAGE=TRUE
	HAVE_SIZEOF_TIME_T=TRUE HAVE_SIZEOF___INT64=TRUE HAVE_SNPRINTF=1 HAVE_SOCKETPAIR= HAVE_SSL_H=
	HAVE_STDATOMIC_H=1 HAVE_STDBOOL_H=1 HAVE_STDDEF_H=1 HAVE_STRCASECMP=1 HAVE_STRERROR_R=
	HAVE_STROPTS_H= HAVE_STRTOK_R=1 HAVE_STRTOLL=1 HAVE_STRUCT_TIMEVAL=1 HAVE_SYS_FILIO_H=
	HAVE_SYS_IOCTL_H= HAVE_SYS_RESOURCE_H= HAVE_SYS_UN_H= HAVE_SYS_UTSNAME_H= HAVE_SYS_XATTR_H=
	HAVE_UNISTD_H=1 HAVE_UTIMES= HAVE_VARIADIC_MACROS_C99=1 HAVE_VARIADIC_MACROS_GCC=1
	HAVE_WINCRYPT_H=1 HAVE_WINDOWS_H=1 HAVE_WINSOCK2_H=1 HAVE_WS2TCPIP_H=1 HAVE__STRTOI64=1
	SIZEOF_ADDRESS_FAMILY= SIZEOF_CURL_OFF_T=8 SIZEOF_INT=4 SIZEOF_LONG=4 SIZEOF_LONG_LONG=8
	SIZEOF_OFF_T=8 SIZEOF_SA_FAMILY_T= SIZEOF_SIZE_T=8 SIZEOF_SSIZE_T=8
	SIZEOF_STRUCT_SOCKADDR_STORAGE=128 SIZEOF_TIME_T=8 SIZEOF___INT64=8
)

curl_checks_cache() {
	local out=$1 gcc_major mingw_version curl_version entry
	gcc_major=$("$MINGW_HOST-gcc-posix" -dumpversion)
	gcc_major=${gcc_major%%[.-]*}
	mingw_version=$(dpkg-query -W -f='${Version}' mingw-w64-x86-64-dev 2>/dev/null || true)
	curl_version=$(sed -n 's/^#define LIBCURL_VERSION "\(.*\)"$/\1/p' "$WORK/src/curl/include/curl/curlver.h")
	: >"$out"
	if [[ "gcc $gcc_major mingw-w64 $mingw_version curl $curl_version" != "$CURL_CHECKS_TOOLCHAIN" ]]; then
		log "curl: toolchain differs from the seeded checks ($gcc_major, $mingw_version, $curl_version); running them"
		return
	fi
	for entry in "${CURL_CHECKS[@]}"; do
		printf 'set(%s "%s" CACHE INTERNAL "")\n' "${entry%%=*}" "${entry#*=}" >>"$out"
	done
}

build_curl() {
	local src="$WORK/src/curl" patch
	# Debian's series ends with the patches for its GnuTLS and NSS flavours,
	# which its own OpenSSL build leaves out too.
	for patch in 99_nss.patch 90_gnutls.patch; do
		if [[ -f $src/debian/patches/$patch ]] &&
			patch -d "$src" -p1 -R --dry-run -s -f <"$src/debian/patches/$patch" >/dev/null; then
			patch -d "$src" -p1 -R -s -f <"$src/debian/patches/$patch"
		fi
	done
	curl_checks_cache "$WORK/curl-checks.cmake"
	configure_curl -C "$WORK/curl-checks.cmake"
	cmake --build "$WORK/build/curl" -j"$JOBS"
	cmake --install "$WORK/build/curl"
}

# Links a small Windows program against the new prefix, with the libraries in
# the order cmake/curl_stack.cmake uses, so that a prefix that cannot link is
# never marked complete.
link_check() {
	cat >"$WORK/link_check.c" <<'EOF'
#include <curl/curl.h>
#include <nghttp2/nghttp2.h>
#include <openssl/ssl.h>

int main(int argc, char **argv)
{
	CURL *h;
	if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK || !nghttp2_version(0) ||
	    !OPENSSL_init_ssl(0, NULL))
		return 1;
	h = curl_easy_init();
	if (argc > 1 && h) {
		curl_easy_setopt(h, CURLOPT_URL, argv[1]);
		curl_easy_perform(h);
	}
	curl_easy_cleanup(h);
	return 0;
}
EOF
	# shellcheck disable=SC2086 # SIZE_CFLAGS is a list of flags
	"$MINGW_HOST-gcc-posix" $SIZE_CFLAGS -Wl,--gc-sections -static -DCURL_STATICLIB -DNGHTTP2_STATICLIB -I"$PARTIAL/include" \
		"$WORK/link_check.c" -o "$WORK/link_check.exe" \
		"$PARTIAL/lib/libcurl.a" "$PARTIAL/lib/libnghttp2.a" \
		"$PARTIAL/lib/libssl.a" "$PARTIAL/lib/libcrypto.a" \
		-lnormaliz -lws2_32 -lcrypt32 -lbcrypt -ladvapi32 -luser32
}

# The build ran with the .partial folder as its prefix; make the installed
# pkg-config and CMake files name the final folder.
fix_prefix_paths() {
	local f
	while IFS= read -r -d '' f; do
		if grep -qF "$PARTIAL" "$f"; then
			sed -i "s|$PARTIAL|$FINAL|g" "$f"
		fi
	done < <(find "$PARTIAL" -type f \( -name '*.pc' -o -name '*.cmake' -o -name 'curl-config' \) -print0)
}

cleanup_work() {
	if (($1 != 0)) && [[ -d $WORK/log ]]; then
		rm -rf "$CACHE/failed-logs"
		cp -r "$WORK/log" "$CACHE/failed-logs"
	fi
	rm -rf "$WORK"
}

build_mingw_stack() {
	local apt_dir="$CACHE/apt"
	rm -rf "$apt_dir/sources.list.d"
	mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
	: >"$apt_dir/sources.list"
	derive_source_entries "$apt_dir/sources.list.d"
	# A private view of apt: our own source list, index and cache; the
	# machine's apt configuration and state stay as they are.
	APT_OPTS=(
		-o "Dir::Etc::SourceList=$apt_dir/sources.list"
		-o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
		-o "Dir::State::Lists=$apt_dir/lists"
		-o "Dir::Cache=$apt_dir/cache"
	)

	WORK=$(mktemp -d "${TMPDIR:-/tmp}/kovane-deps.XXXXXX")
	trap 'cleanup_work $?' EXIT
	mkdir -p "$WORK/log" "$WORK/dl" "$WORK/src" "$WORK/build"
	# Under the lock, any half-done build is left over from a run that died.
	rm -rf "$CACHE"/mingw-*.partial
	mkdir -p "$PARTIAL"

	local start=$SECONDS
	run_logged "apt-get update (private source list)" apt-get "${APT_OPTS[@]}" -q update
	local pkg
	for pkg in openssl nghttp2 curl; do fetch_source "$pkg"; done
	local fetched=$SECONDS

	write_toolchain
	# One after the other: OpenSSL alone fills the cores, and the configure
	# steps of the others only slow down beside it.
	run_logged "build openssl" build_openssl
	run_logged "build nghttp2" build_nghttp2
	run_logged "build curl" build_curl
	run_logged "link check" link_check

	fix_prefix_paths
	rm -rf "$CACHE/failed-logs"
	cp "$WORK/versions" "$PARTIAL/versions.txt"
	touch "$PARTIAL/.complete"
	rm -rf "$FINAL"
	mv -T "$PARTIAL" "$FINAL"
	log "sources fetched in $((fetched - start)) s, built in $((SECONDS - fetched)) s"
}

main() {
	local script
	script=$(readlink -f "${BASH_SOURCE[0]}")

	install_packages

	CACHE=$(realpath -m "${KOVANE_DEPS_CACHE:-/var/cache/kovane-deps}")
	local key
	key=$(sha256sum "$script" | cut -c1-16)
	FINAL="$CACHE/mingw-$key"
	PARTIAL="$FINAL.partial"
	JOBS=$(nproc)
	mkdir -p "$CACHE"

	# One builder at a time per cache.
	exec 9>"$CACHE/.lock"
	flock 9

	if [[ -e $FINAL/.complete ]]; then
		log "reusing $FINAL"
	else
		build_mingw_stack
	fi
	ln -sfn "mingw-$key" "$CACHE/mingw.new"
	mv -T "$CACHE/mingw.new" "$CACHE/mingw"
	log "Windows prefix: $CACHE/mingw -> $FINAL"
	printf '%s\n' "$FINAL"
}

main "$@"
