# Korvane-Setup.exe is started from wherever the browser saved it, often a Downloads folder that also
# holds whatever else was ever downloaded. Windows looks for a DLL that is not a KnownDLL in the
# program's own folder before System32, and it resolves the import table before wWinMain runs, so a
# DLL planted there under such a name would run its code as the player. Every such DLL is therefore
# imported lazily: it is loaded at its first call, after wWinMain has limited the DLL search to System32
# (app/dll_search.cpp). The import table keeps only KnownDLLs and API sets, which the loader never
# takes from the program's folder; tests/app/import_table.py fails the tests when another comes back.
#
# korvane_delay_import(NAME) defines the link target korvane_delay_NAME for NAME.dll: with MinGW, a
# delay-import library holding every export that MinGW's own import library lists (made with dlltool
# when the build is configured); with MSVC, the import library with /DELAYLOAD.
if(NOT MSVC)
  find_program(KORVANE_NM ${KORVANE_MINGW_PREFIX}-nm REQUIRED)
  find_program(KORVANE_DLLTOOL ${KORVANE_MINGW_PREFIX}-dlltool REQUIRED)
endif()

function(korvane_delay_import name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "EXPORTS")
  set(target korvane_delay_${name})
  if(TARGET ${target})
    return()
  endif()
  add_library(${target} INTERFACE)
  if(MSVC)
    target_link_libraries(${target} INTERFACE ${name} delayimp)
    target_link_options(${target} INTERFACE /DELAYLOAD:${name}.dll)
    return()
  endif()

  set(folder ${CMAKE_BINARY_DIR}/delay-imports)
  set(library ${folder}/lib${name}-delay.a)
  file(MAKE_DIRECTORY ${folder})
  if(arg_EXPORTS)
    # MinGW ships no import library for this DLL: the caller names the exports it calls.
    set(imports ${arg_EXPORTS})
  else()
    find_library(import_library_${name} NAMES lib${name}.a REQUIRED NO_CACHE)
    execute_process(COMMAND ${KORVANE_NM} --defined-only ${import_library_${name}}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE "^ I __imp_" "")
  endif()
  list(REMOVE_DUPLICATES imports)
  list(SORT imports)
  if(NOT imports)
    message(FATAL_ERROR "no exports of ${name}.dll to import")
  endif()
  list(JOIN imports "\n" exports)
  file(CONFIGURE OUTPUT ${folder}/${name}.def CONTENT "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n" @ONLY)
  execute_process(COMMAND ${KORVANE_DLLTOOL} --input-def ${name}.def --dllname ${name}.dll
                          --output-delaylib ${library}
                  WORKING_DIRECTORY ${folder} COMMAND_ERROR_IS_FATAL ANY)
  target_link_libraries(${target} INTERFACE ${library})
endfunction()

foreach(name winhttp bcrypt crypt32 d2d1 dwrite dwmapi windowscodecs user32 ole32 shell32 oleacc oleaut32)
  korvane_delay_import(${name})
endforeach()
# UI Automation's provider side (screen readers). UiaRaiseNotificationEvent, which older systems and
# Wine lack, is looked up at run time instead. Not UiaRaiseStructureChangedEvent: Wine 8 exports it
# as a stub that aborts the process when called.
korvane_delay_import(uiautomationcore EXPORTS UiaHostProviderFromHwnd UiaReturnRawElementProvider
                     UiaRaiseAutomationEvent UiaRaiseAutomationPropertyChangedEvent)
