# clang-cl as an MSVC host's compiler; no Windows SDK here, so nothing is
# linked while configuring.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_C_COMPILER_TARGET ${KORVANE_MSVC_TARGET})
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_LINKER lld-link)
