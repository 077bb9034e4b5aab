# What a release carries beyond the library and its headers, and the packages
# scripts/package.sh makes with CPack: a .deb on Debian, a zip of the Windows
# build (win64 or win32).

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
  install(FILES README.md CHANGELOG.md DESTINATION .)
  install(FILES bindings/csharp/Korvane.cs DESTINATION bindings/csharp)
else()
  install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/korvane)
  # The Python package, pure ctypes, with the version file it reads when
  # installed. The default suits Debian's python3 under the prefix /usr.
  set(KORVANE_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING "Where the Python package goes, under the prefix")
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/python/VERSION CONTENT "${PROJECT_VERSION}\n")
  install(DIRECTORY python/korvane/ DESTINATION ${KORVANE_PYTHON_DIR}/korvane
    FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/python/VERSION DESTINATION ${KORVANE_PYTHON_DIR}/korvane)
endif()

set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_CONTACT "Korvane developers <korvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Drive PTZ cameras that work with a presenter-tracking system")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME korvane-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 The Korvanu library (C++ and C interfaces, headers, CMake package and
 pkg-config file), the korvane tool and the korvane Python package.")
  # Depends from the binaries' own needs; shlibs and the ldconfig trigger for
  # the library.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3)
  # Python writes its byte-code beside the package when root imports it:
  # removed with the package, so a purge leaves nothing.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/prerm.in ${PROJECT_BINARY_DIR}/deb/prerm @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  # ldconfig runs once the library is unpacked or removed, as for Debian's
  # own library packages.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/prerm ${PROJECT_SOURCE_DIR}/cmake/deb/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
