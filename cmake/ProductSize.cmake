# A small download: the product is built for size where that costs the player no measurable time
# (bench/README.md has the sizes and the extraction figure).
# - -Os for our code: the installer's time goes to the network, the system's hashing and drawing,
#   and the disk, not to its own loops. miniz's inflate is the exception and keeps -O2
#   (cmake/Miniz.cmake).
# - Every function and datum in a section of its own, and the linker drops those nothing reaches.
# - Link-time optimisation for the product's executables (korvane_link_time_optimised): objects
#   carry both the compiler's intermediate code and ordinary code, so the test programs, linked from
#   the same libraries, take the ordinary code and link as quickly as before.
# The product's executables are also stripped (app/CMakeLists.txt).
if(NOT MSVC)
  add_compile_options($<$<CONFIG:Release,MinSizeRel>:-Os> -ffunction-sections -fdata-sections
                      $<$<CONFIG:Release,MinSizeRel>:-flto> $<$<CONFIG:Release,MinSizeRel>:-ffat-lto-objects>)
  add_link_options(-Wl,--gc-sections -fno-lto)
endif()

function(korvane_link_time_optimised)
  if(NOT MSVC)
    foreach(target IN LISTS ARGN)
      target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-flto=2> $<$<CONFIG:Release,MinSizeRel>:-Os>)
    endforeach()
  endif()
endfunction()
