# One INTERFACE target that carries the language level, the warnings and the
# Qt defines every target of the project is built with.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# ccache, with paths taken relative to the source tree: another clone of the
# project (a CI checkout) reuses what this one compiled. (The debug info of a
# reused object names the tree it was first compiled in.)
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER env "CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}" CCACHE_NOHASHDIR=1 "${CCACHE_PROGRAM}")
endif()

add_library(tessaly_config INTERFACE)
target_compile_features(tessaly_config INTERFACE cxx_std_20)
target_compile_definitions(tessaly_config INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_URL_CAST_FROM_STRING
  QT_USE_QSTRINGBUILDER
  TESSALY_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TESSALY_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TESSALY_VERSION_PATCH=${PROJECT_VERSION_PATCH})
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(tessaly_config INTERFACE
    -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
  if(DEFINED ENV{CI} OR TESSALY_WERROR)
    target_compile_options(tessaly_config INTERFACE -Werror)
  endif()
endif()

# Fuzz builds instrument everything for coverage and check with ASan and UBSan.
if(TESSALY_FUZZ)
  target_compile_options(tessaly_config INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(tessaly_config INTERFACE -fsanitize=address,undefined)
endif()

# Sanitizer build: -DTESSALY_SANITIZE=ON
option(TESSALY_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TESSALY_SANITIZE)
  target_compile_options(tessaly_config INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(tessaly_config INTERFACE -fsanitize=address,undefined)
endif()
