# What a release carries beyond the library and its headers, and the zip of
# the Windows build (win64 or win32) that scripts/package.sh makes with CPack.
# The Debian packages are built the Debian way, from packaging/debian.

# Korvanu.def lists the C interface only, read from korvane_c.h at build time
# (the header is the one list of it); MSVC hosts link the Korvanu.lib made
# from it. The exported C++ class is for mingw hosts and stays out of both.
if(WIN32)
  set(KORVANE_DEF ${PROJECT_BINARY_DIR}/Korvanu.def)
  add_custom_command(OUTPUT ${KORVANE_DEF}
    COMMAND ${CMAKE_COMMAND} -DHEADER=${PROJECT_SOURCE_DIR}/include/korvane/korvane_c.h -DOUT=${KORVANE_DEF}
            -P ${PROJECT_SOURCE_DIR}/cmake/WriteDef.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/include/korvane/korvane_c.h ${PROJECT_SOURCE_DIR}/cmake/WriteDef.cmake
    COMMENT "Listing the C interface in Korvanu.def")
  find_program(KORVANE_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15 llvm-dlltool-16)
  set(korvane_release_files ${KORVANE_DEF})
  if(KORVANE_DLLTOOL)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(korvane_machine i386:x86-64)
    else()
      set(korvane_machine i386)
    endif()
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/Korvanu.lib
      COMMAND ${KORVANE_DLLTOOL} -m ${korvane_machine} -D Korvanu.dll -d ${KORVANE_DEF} -l ${PROJECT_BINARY_DIR}/Korvanu.lib
      DEPENDS ${KORVANE_DEF}
      COMMENT "MSVC import library Korvanu.lib")
    list(APPEND korvane_release_files ${PROJECT_BINARY_DIR}/Korvanu.lib)
  else()
    message(STATUS "llvm-dlltool not found: no Korvanu.lib for MSVC hosts")
  endif()
  add_custom_target(korvane_msvc_lib ALL DEPENDS ${korvane_release_files})
  install(FILES ${korvane_release_files} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  # The licences of the project and of all that Korvanu.dll and korvane.exe
  # hold (linked statically).
  install(FILES README.md CHANGELOG.md LICENSE THIRD-PARTY-NOTICES.txt DESTINATION .)
  # The source of what the LGPL covers in korvane.exe (libqrencode), as built.
  file(GLOB korvane_lgpl_sources "${KORVANE_WIN_PREFIX}/src/*.orig.tar.*")
  install(FILES ${korvane_lgpl_sources} DESTINATION third-party-source)
  install(FILES bindings/csharp/Korvane.cs DESTINATION bindings/csharp)
else()
  install(FILES README.md CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvane)
  # The Python package, pure ctypes, with the version file it reads when
  # installed. The default suits Debian's python3 under the prefix /usr.
  set(KORVANE_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING "Where the Python package goes, under the prefix")
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/python/VERSION CONTENT "${PROJECT_VERSION}\n")
  install(DIRECTORY python/korvane/ DESTINATION ${KORVANE_PYTHON_DIR}/korvane
    FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/python/VERSION DESTINATION ${KORVANE_PYTHON_DIR}/korvane)
endif()

if(WIN32)
  set(CPACK_PACKAGE_NAME korvane)
  set(CPACK_PACKAGE_VENDOR Korvane)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Drive PTZ cameras that work with a presenter-tracking system")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
