# Layers enforced by the build. Includes spell "folder/header.h"; a folder's headers are on the
# include path of its own library and of what links that library (PUBLIC or INTERFACE), never of a
# target that does not: an include across layers that the target does not link fails to compile.
# No target puts the whole source root on its include path.
#
# korvane_expose_folder(TARGET SCOPE FOLDER): FOLDER of the source root becomes includable as
# "FOLDER/..." for TARGET at SCOPE. The path added is a folder of the build tree that holds only a
# link named FOLDER to the source folder.
get_filename_component(korvane_source_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(korvane_expose_folder target scope folder)
  set(exposed ${CMAKE_BINARY_DIR}/exposed/${folder})
  if(NOT IS_SYMLINK ${exposed}/${folder})
    file(MAKE_DIRECTORY ${exposed})
    file(CREATE_LINK ${korvane_source_root}/${folder} ${exposed}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${exposed})
endfunction()
