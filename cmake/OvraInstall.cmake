# cmake --install: headers, libraries (DLLs and import libraries on Windows, shared objects on
# Linux), libntp beside the library that loads it, the tools, and a package config so that a host
# project writes find_package(OvraPlatformMisc) and links OvraPlatformMisc::OvraPlatformMisc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OVRA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OvraPlatformMisc)

set_target_properties(Ovra-Platform-Misc PROPERTIES EXPORT_NAME OvraPlatformMisc)
set_target_properties(Ovra-Bases PROPERTIES EXPORT_NAME Bases)
set_target_properties(Ovra-Platform-Common PROPERTIES EXPORT_NAME PlatformCommon)
if(NOT WIN32)
    # Installed binaries find their siblings wherever the tree is put.
    foreach(target Ovra-Bases Ovra-Platform-Common Ovra-Platform-Misc)
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    endforeach()
endif()

install(TARGETS Ovra-Bases Ovra-Platform-Common Ovra-Platform-Misc
    EXPORT OvraPlatformMiscTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ ${PROJECT_SOURCE_DIR}/base/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# libntp is loaded at run time from the folder of Ovra-Platform-Misc, so it goes where that goes.
if(TARGET ntp)
    install(TARGETS ntp
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/libntp/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

# On Linux the formatter loads "fmifs.dll" as the libfmifs.so in its own folder.
if(TARGET fmifs)
    set_target_properties(fmifs PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS fmifs LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

if(TARGET ovractl)
    if(NOT WIN32)
        set_target_properties(ovractl PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
    install(TARGETS ovractl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(OVRA_RUNTIME_DLLS)
    # The MinGW runtime the DLLs were built against (OvraCommon.cmake).
    install(FILES ${OVRA_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT OvraPlatformMiscTargets NAMESPACE OvraPlatformMisc:: DESTINATION ${OVRA_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OvraPlatformMiscConfig.cmake.in
    ${CMAKE_BINARY_DIR}/OvraPlatformMiscConfig.cmake INSTALL_DESTINATION ${OVRA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OvraPlatformMiscConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OvraPlatformMiscConfig.cmake
              ${CMAKE_BINARY_DIR}/OvraPlatformMiscConfigVersion.cmake
        DESTINATION ${OVRA_CMAKE_DIR})
