# The SDK: what a suite app or the Pellow app needs to embed the two libraries, installed by
# `make install` and packaged as pellow-helpers-dev (component "sdk"):
#
#   <prefix>/include/PellowGitHub/*.h, <prefix>/include/VeltraSuiteSetup/*.h   public headers only
#   <prefix>/<libdir>/libpellow-github.a, libveltra-suite-setup.a               static, PIC
#   <prefix>/<libdir>/cmake/PellowGitHub/, .../cmake/VeltraSuiteSetup/        CMake packages
#   <prefix>/<libdir>/pkgconfig/pellow-github.pc, veltra-suite-setup.pc       pkg-config
#
#   find_package(PellowGitHub CONFIG REQUIRED)       # Pellow::GitHub
#   find_package(VeltraSuiteSetup CONFIG REQUIRED)   # Veltra::SuiteSetup
#   target_link_libraries(app PRIVATE Pellow::GitHub Veltra::SuiteSetup)
#
# The libraries are static: their interface is C++ with standard-library and nlohmann_json types
# and carries no ABI promise between releases, so an application carries the code it was built
# against, and the runtime package ships no shared library for it to break. The modules that the
# GitHub library loads at run time (pellow-net.so, pellow-secret.so) come with the runtime
# package in <prefix>/libexec/pellow, where the library looks for them (support/ModuleLocation.h).
# The targets carry their usage requirements: C++20, the include folder, and what they link. The
# private-file kit is compiled into each archive (pellow_embed_private_files), so nothing internal
# is installed or exported.
include(CMakePackageConfigHelpers)

set(PELLOW_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake")
set(PELLOW_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# pkg-config files find their prefix from their own place, so that the tree can be moved; a
# package for /usr is never moved and says /usr, so that pkg-config recognises its include and
# library folders as the system's and leaves them out (-I/usr/include in a consumer's flags would
# reorder the system headers). The C++ standard is the consumer's choice, at least C++20: the
# files name none, so that they never override a newer one.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(pellow_pc_prefix "/usr")
else()
  file(RELATIVE_PATH pellow_pc_to_prefix "/${PELLOW_INSTALL_PKGCONFIGDIR}" "/")
  string(REGEX REPLACE "/$" "" pellow_pc_to_prefix "${pellow_pc_to_prefix}")
  set(pellow_pc_prefix "\${pcfiledir}/${pellow_pc_to_prefix}")
endif()

# pellow_install_sdk_library(TARGET PACKAGE PKGCONFIG NAMESPACE): the library, its public header
# set, its CMake package (<PACKAGE>Config.cmake from cmake/sdk/<PACKAGE>Config.cmake.in) and its
# pkg-config file (cmake/sdk/<PKGCONFIG>.pc.in).
function(pellow_install_sdk_library target package pkgconfig namespace)
  install(TARGETS ${target} EXPORT ${package}Targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk
          FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk
          FILE_SET session_headers DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT sdk)
  install(EXPORT ${package}Targets NAMESPACE ${namespace}
          DESTINATION ${PELLOW_INSTALL_CMAKEDIR}/${package} COMPONENT sdk)
  configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/sdk/${package}Config.cmake.in
    ${PROJECT_BINARY_DIR}/sdk-packages/${package}Config.cmake
    INSTALL_DESTINATION ${PELLOW_INSTALL_CMAKEDIR}/${package})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/sdk-packages/${package}ConfigVersion.cmake
                                   VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/sdk-packages/${package}Config.cmake
                ${PROJECT_BINARY_DIR}/sdk-packages/${package}ConfigVersion.cmake
          DESTINATION ${PELLOW_INSTALL_CMAKEDIR}/${package} COMPONENT sdk)
  set(PC_PREFIX "${pellow_pc_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/sdk/${pkgconfig}.pc.in
                 ${PROJECT_BINARY_DIR}/sdk-packages/${pkgconfig}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/sdk-packages/${pkgconfig}.pc
          DESTINATION ${PELLOW_INSTALL_PKGCONFIGDIR} COMPONENT sdk)
endfunction()

pellow_install_sdk_library(pellow_github PellowGitHub pellow-github Pellow::)
pellow_install_sdk_library(veltra_suite_setup VeltraSuiteSetup veltra-suite-setup Veltra::)
