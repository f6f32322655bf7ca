# kov_curl_stack: libcurl with OpenSSL and nghttp2, and libidn2, for the
# current build.
#
# Native builds use Debian's -dev packages. Windows builds link the static
# libraries that tools/install-deps.sh builds into its cache; the prefix is
# KOVANE_MINGW_PREFIX (default: $KOVANE_DEPS_CACHE/mingw, else
# /var/cache/kovane-deps/mingw).
include_guard(GLOBAL)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  if(NOT "$ENV{KOVANE_DEPS_CACHE}" STREQUAL "")
    set(_kov_default_prefix "$ENV{KOVANE_DEPS_CACHE}/mingw")
  else()
    set(_kov_default_prefix "/var/cache/kovane-deps/mingw")
  endif()
  set(KOVANE_MINGW_PREFIX "${_kov_default_prefix}" CACHE PATH
      "Prefix with the static mingw-w64 builds of curl, nghttp2, OpenSSL and libidn2")
  unset(_kov_default_prefix)

  set(_kov_missing "")
  foreach(_kov_file IN ITEMS include/curl/curl.h include/nghttp2/nghttp2.h include/openssl/ssl.h
                             include/idn2.h
                             lib/libcurl.a lib/libnghttp2.a lib/libssl.a lib/libcrypto.a
                             lib/libidn2.a)
    if(NOT EXISTS "${KOVANE_MINGW_PREFIX}/${_kov_file}")
      list(APPEND _kov_missing "${_kov_file}")
    endif()
  endforeach()
  if(_kov_missing)
    list(JOIN _kov_missing ", " _kov_missing)
    message(FATAL_ERROR
      "The Windows build of curl, nghttp2, OpenSSL and libidn2 is missing from KOVANE_MINGW_PREFIX="
      "${KOVANE_MINGW_PREFIX} (no ${_kov_missing}).\n"
      "Build it with (as root):  tools/install-deps.sh\n"
      "or point -DKOVANE_MINGW_PREFIX=... (or KOVANE_DEPS_CACHE) at an existing one.")
  endif()
  unset(_kov_missing)

  # Each library names the Windows libraries it calls, so any link order
  # CMake derives from the dependencies is complete.
  add_library(kovane::crypto STATIC IMPORTED GLOBAL)
  set_target_properties(kovane::crypto PROPERTIES
    IMPORTED_LOCATION "${KOVANE_MINGW_PREFIX}/lib/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KOVANE_MINGW_PREFIX}/include"
    # Sockets for BIO, crypt32 for the system stores, bcrypt for the random
    # seed, advapi32 and user32 for the event log and service checks.
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;advapi32;user32")

  add_library(kovane::ssl STATIC IMPORTED GLOBAL)
  set_target_properties(kovane::ssl PROPERTIES
    IMPORTED_LOCATION "${KOVANE_MINGW_PREFIX}/lib/libssl.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KOVANE_MINGW_PREFIX}/include"
    INTERFACE_LINK_LIBRARIES "kovane::crypto")

  add_library(kovane::nghttp2 STATIC IMPORTED GLOBAL)
  set_target_properties(kovane::nghttp2 PROPERTIES
    IMPORTED_LOCATION "${KOVANE_MINGW_PREFIX}/lib/libnghttp2.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KOVANE_MINGW_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS "NGHTTP2_STATICLIB")

  add_library(kovane::curl STATIC IMPORTED GLOBAL)
  set_target_properties(kovane::curl PROPERTIES
    IMPORTED_LOCATION "${KOVANE_MINGW_PREFIX}/lib/libcurl.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KOVANE_MINGW_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS "CURL_STATICLIB"
    # normaliz: IdnToAscii/IdnToUnicode (curl built with USE_WIN32_IDN);
    # advapi32: the Windows crypto API behind NTLM.
    INTERFACE_LINK_LIBRARIES "kovane::nghttp2;kovane::ssl;kovane::crypto;normaliz;ws2_32;crypt32;bcrypt;advapi32")

  # The URL parser's domain to ASCII; libunistring is inside.
  add_library(kovane::idn2 STATIC IMPORTED GLOBAL)
  set_target_properties(kovane::idn2 PROPERTIES
    IMPORTED_LOCATION "${KOVANE_MINGW_PREFIX}/lib/libidn2.a"
    INTERFACE_INCLUDE_DIRECTORIES "${KOVANE_MINGW_PREFIX}/include")

  add_library(kov_curl_stack INTERFACE)
  target_link_libraries(kov_curl_stack INTERFACE kovane::curl kovane::nghttp2 kovane::ssl kovane::crypto
                                                 kovane::idn2)
else()
  find_package(PkgConfig REQUIRED)
  find_package(OpenSSL 3.0 REQUIRED)
  pkg_check_modules(KOV_LIBCURL REQUIRED IMPORTED_TARGET libcurl>=7.88)
  pkg_check_modules(KOV_NGHTTP2 REQUIRED IMPORTED_TARGET libnghttp2)
  pkg_check_modules(KOV_LIBIDN2 REQUIRED IMPORTED_TARGET libidn2)

  add_library(kov_curl_stack INTERFACE)
  target_link_libraries(kov_curl_stack INTERFACE
    PkgConfig::KOV_LIBCURL OpenSSL::SSL OpenSSL::Crypto PkgConfig::KOV_NGHTTP2 PkgConfig::KOV_LIBIDN2)
endif()
