# A small download (bench/README.md, "Size of the executable"): everything is built for size, and
# the linker drops every function and datum that nothing reaches (each in a section of its own).
# The installer's time goes to the network, the system's hashing and drawing, and the disk; its
# own busiest loop, miniz's inflate, measured no slower at -Os than at -O2. Link-time optimisation
# was tried and made the executable no smaller, so the build does without it. The product's
# executables are also stripped (app/CMakeLists.txt).
if(NOT MSVC)
  add_compile_options($<$<CONFIG:Release,MinSizeRel>:-Os> -ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections)
endif()
