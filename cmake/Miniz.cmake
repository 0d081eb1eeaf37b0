# korvane_miniz_library(TARGET DIR): miniz's single-file build (miniz.c + miniz.h from npm) as a
# static library. Shared by the cross build (cmake/Dependencies.cmake) and the native release tool
# (tools/CMakeLists.txt), so both read ZIPs with the same configuration.
function(korvane_miniz_library target dir)
  if(NOT EXISTS ${dir}/miniz.c)
    message(FATAL_ERROR "miniz not found in ${dir} (run npm ci)")
  endif()
  add_library(${target} STATIC ${dir}/miniz.c)
  target_include_directories(${target} SYSTEM PUBLIC ${dir})
  # 64-bit offsets and the stdio reader (mz_zip_reader_init_cfile) are what the package reader uses.
  target_compile_definitions(${target} PUBLIC MINIZ_NO_ZLIB_COMPATIBLE_NAMES)
endfunction()
