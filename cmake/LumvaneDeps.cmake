# All third-party libraries come from Debian packages (scripts/setup.sh installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(BZip2 REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(CURL REQUIRED)
# Asio and Beast (header-only) serve the loopback RPC servers.
find_package(Boost 1.74 REQUIRED)
pkg_check_modules(THRIFT REQUIRED IMPORTED_TARGET thrift>=0.17)
pkg_check_modules(ARGON2 REQUIRED IMPORTED_TARGET libargon2)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
find_program(THRIFT_COMPILER thrift REQUIRED)

# Debian builds cpp-httplib as a shared library (TLS, zlib and brotli enabled); the
# header only declares the classes.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
add_library(lumvane_httplib INTERFACE)
target_link_libraries(lumvane_httplib INTERFACE PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto
  Threads::Threads)

if(LUMVANE_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Widgets Bluetooth DBus)
endif()

if(LUMVANE_TESTS OR LUMVANE_FUZZ)
  find_package(GTest REQUIRED)
endif()
if(LUMVANE_BENCH)
  find_package(benchmark REQUIRED)
endif()
