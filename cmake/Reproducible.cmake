# The same commit built twice, in any folders, gives the same bytes, so anyone can rebuild a
# published Korvane-Setup.exe and compare (scripts/check-reproducible.sh does it in the tests):
# - source and build folders are mapped to fixed names wherever the compiler records a path
#   (__FILE__, debug information);
# - the PE header's link time stamp is left at zero;
# - static libraries store no dates, owners or modes of their members.
# Nothing in the code reads __DATE__ or __TIME__; the version record (resources/installer.rc) is text.
# Included by the product's build and by the release tool's (tools/), whose sources also lie above
# its own project folder: the repository's root is this file's parent folder.
if(NOT MSVC)
  get_filename_component(korvane_repository ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
  add_compile_options(-ffile-prefix-map=${korvane_repository}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  endif()
  foreach(language C CXX)
    set(CMAKE_${language}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${language}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${language}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
  endforeach()
endif()
