# How users get the library: the headers they include as <tarnwick/x.h>, the
# install rules, the CMake package (target Tarnwick::tarnwick), the
# pkg-config file and the packages (a .deb natively, a ZIP per Windows
# target). docs/using.md shows each way.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The public headers, by folder. The others (vector kernels, the extended
# precision helpers, the lifetimes registry) are the library's own.
set(TW_PUBLIC_SUPPORT_HEADERS
    arrays assemble cmdline console errors files heap numbers parse recall search sort startup strings
    temptext)
set(TW_PUBLIC_TRACE_HEADERS trace text msgbox kernels)

# <tarnwick/x.h> for every public header, and <tarnwick/tarnwick.h> for all of
# them: in the build tree they name the sources by their full path, installed
# they name the copies beside them.
set(TW_BUILD_INCLUDE "${PROJECT_BINARY_DIR}/include/tarnwick")
set(TW_INSTALL_INCLUDE "${PROJECT_BINARY_DIR}/install-include/tarnwick")
set(TW_UMBRELLA "// Every public header of the Tarnwick library.\n#pragma once\n\n")
foreach(folder support trace)
  string(TOUPPER "${folder}" upper)
  foreach(name ${TW_PUBLIC_${upper}_HEADERS})
    set(line "#include \"${folder}/${name}.h\"")
    file(CONFIGURE OUTPUT "${TW_BUILD_INCLUDE}/${name}.h"
         CONTENT "// Tarnwick: ${folder}/${name}.h\n#pragma once\n#include \"${PROJECT_SOURCE_DIR}/${folder}/${name}.h\"\n")
    file(CONFIGURE OUTPUT "${TW_INSTALL_INCLUDE}/${name}.h"
         CONTENT "// Tarnwick: ${folder}/${name}.h\n#pragma once\n${line}\n")
    string(APPEND TW_UMBRELLA "#include \"${name}.h\"\n")
    install(FILES "${PROJECT_SOURCE_DIR}/${folder}/${name}.h"
            DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/tarnwick/${folder}" COMPONENT development)
    install(FILES "${TW_INSTALL_INCLUDE}/${name}.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/tarnwick"
            COMPONENT development)
  endforeach()
endforeach()
file(CONFIGURE OUTPUT "${TW_BUILD_INCLUDE}/tarnwick.h" CONTENT "${TW_UMBRELLA}")
install(FILES "${TW_BUILD_INCLUDE}/tarnwick.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/tarnwick"
        COMPONENT development)
install(FILES "${PROJECT_SOURCE_DIR}/compat/win32.h"
        DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/tarnwick/compat" COMPONENT development)

# The library and its CMake package.
set(TW_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Tarnwick")
install(TARGETS tarnwick EXPORT TarnwickTargets ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
        COMPONENT development)
install(EXPORT TarnwickTargets NAMESPACE Tarnwick:: DESTINATION "${TW_CMAKE_DIR}"
        COMPONENT development)
configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/TarnwickConfig.cmake.in"
                              "${PROJECT_BINARY_DIR}/TarnwickConfig.cmake" INSTALL_DESTINATION "${TW_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake"
                                 COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/TarnwickConfig.cmake" "${PROJECT_BINARY_DIR}/TarnwickConfigVersion.cmake"
        DESTINATION "${TW_CMAKE_DIR}" COMPONENT development)

# pkg-config: the same flags the CMake target carries.
set(TW_PC_CFLAGS "")
set(TW_PC_LIBS "")
if(NOT WIN32)
  string(APPEND TW_PC_CFLAGS " -D_FILE_OFFSET_BITS=64")
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  string(APPEND TW_PC_CFLAGS " -msse2")
endif()
if(WIN32)
  set(TW_PC_LIBS " -luser32 -lkernel32 -static -static-libgcc -static-libstdc++")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/tarnwick.pc.in" "${PROJECT_BINARY_DIR}/tarnwick.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/tarnwick.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
        COMPONENT development)

# The user documentation goes with the package.
file(GLOB TW_DOC_PAGES_TO_INSTALL "${PROJECT_SOURCE_DIR}/docs/*.md")
install(FILES ${TW_DOC_PAGES_TO_INSTALL} DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT development)
if(WIN32)
  install(FILES "${PROJECT_SOURCE_DIR}/cmake/SDK-README.md" DESTINATION . RENAME README.md
          COMPONENT development)
endif()

# Packages: `cpack` in the build folder (scripts/package makes them all).
set(CPACK_PACKAGE_NAME "libtarnwick-dev")
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarnwick: ${PROJECT_DESCRIPTION} (static library and headers)")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <tarnwick@localhost>")
set(CPACK_COMPONENTS_ALL development)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME "tarnwick-${PROJECT_VERSION}-win64-sdk")
  else()
    set(CPACK_PACKAGE_FILE_NAME "tarnwick-${PROJECT_VERSION}-win32-sdk")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL OFF)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
