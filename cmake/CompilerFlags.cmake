# SPDX-License-Identifier: MIT
# Warnings for our own targets only; third-party headers come in as SYSTEM.
add_library(qv_warnings INTERFACE)
add_library(quorvane::warnings ALIAS qv_warnings)
target_compile_options(qv_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual -Wimplicit-fallthrough)
if(QV_WERROR)
  target_compile_options(qv_warnings INTERFACE -Werror)
endif()

if(QV_SANITIZE)
  string(REPLACE ";" "," _qv_san "${QV_SANITIZE}")
  add_compile_options(-fsanitize=${_qv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_qv_san})
endif()

if(QV_BUILD_FUZZ)
  # Coverage instrumentation for the library the fuzz targets link.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
