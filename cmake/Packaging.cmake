# Installation and the Debian packages.
#
# Component "helpers", the runtime package pellow-helpers: the two helpers go to
# <prefix>/libexec/pellow/ together with the modules they load with dlopen (each helper looks for
# its modules beside its own executable, so they stay in one folder; an application that links
# the GitHub library looks there too, by the path fixed at configure time). veltra-codesign, the
# signing tool of a vendor's release pipeline, goes to <prefix>/bin/; the manual pages, the
# copyright and the changelog to <prefix>/share/.
# Component "sdk", the development package pellow-helpers-dev: headers, static libraries, CMake
# and pkg-config packages (cmake/SDK.cmake).
#
#   make install PREFIX=/opt/pellow VELTRA_TRUST_ANCHOR=vendor-root.pem
#   make package VELTRA_TRUST_ANCHOR=vendor-root.pem       # build-release/*.deb
#
# Installing refuses a build whose suite-setup-helper would trust the development anchor of its
# build folder, unless it was configured with -DVELTRA_DEVELOPMENT_ANCHOR=ON; and a prefix other
# than the configured one, where the GitHub library would not find its modules.

# Guards first: they run before anything is copied, for every component.
if(VELTRA_TRUST_ANCHOR STREQUAL "" AND NOT VELTRA_DEVELOPMENT_ANCHOR)
  install(CODE "message(FATAL_ERROR \"This build's suite-setup-helper trusts the development \
anchor made in ${CMAKE_BINARY_DIR}/veltra-dev-anchor, whose key lies in that folder. Configure \
with -DVELTRA_TRUST_ANCHOR=<vendor root PEM> (make install VELTRA_TRUST_ANCHOR=...), or, for \
development only, with -DVELTRA_DEVELOPMENT_ANCHOR=ON.\")" ALL_COMPONENTS)
endif()
install(CODE "
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"${CMAKE_INSTALL_PREFIX}\")
    message(FATAL_ERROR \"This build was configured for the prefix ${CMAKE_INSTALL_PREFIX}: the \
GitHub library looks for its modules in ${PELLOW_INSTALL_FULL_MODULEDIR}. Configure it with \
-DCMAKE_INSTALL_PREFIX=\${CMAKE_INSTALL_PREFIX} (make install PREFIX=... does) instead of \
installing it elsewhere.\")
  endif()" ALL_COMPONENTS)

install(TARGETS github-helper suite-setup-helper RUNTIME DESTINATION ${PELLOW_INSTALL_MODULEDIR}
        COMPONENT helpers)
install(TARGETS pellow-net pellow-secret veltra-gtk-alert LIBRARY DESTINATION
        ${PELLOW_INSTALL_MODULEDIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT helpers)
install(TARGETS veltra-codesign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT helpers)

# Manual pages and the Debian documentation, compressed as Debian wants them (gzip -9n).
find_program(PELLOW_GZIP gzip REQUIRED)
set(pellow_compressed)
foreach(source IN ITEMS docs/man/github-helper.1 docs/man/suite-setup-helper.1
                        docs/man/veltra-codesign.1 cmake/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${PELLOW_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND pellow_compressed ${output})
endforeach()
add_custom_target(packaging-docs ALL DEPENDS ${pellow_compressed})
install(FILES ${CMAKE_BINARY_DIR}/packaging/github-helper.1.gz
              ${CMAKE_BINARY_DIR}/packaging/suite-setup-helper.1.gz
              ${CMAKE_BINARY_DIR}/packaging/veltra-codesign.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT helpers)
set(pellow_components helpers sdk)
set(pellow_packages pellow-helpers pellow-helpers-dev)
foreach(component package IN ZIP_LISTS pellow_components pellow_packages)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
                ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/SDK.cmake)

if(PELLOW_TEST_SEAMS)
  message(STATUS "Packaging: PELLOW_TEST_SEAMS is ON; this build is for tests and the demo and "
                 "installs into ${CMAKE_INSTALL_PREFIX} (make install / make package build "
                 "without it).")
endif()

# The Debian packages: one per component.
set(CPACK_PACKAGE_NAME "pellow-helpers")
set(CPACK_PACKAGE_VENDOR "Pemberhollo")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pemberhollo <support@pemberhollo.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL helpers sdk)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")

set(CPACK_DEBIAN_HELPERS_PACKAGE_NAME "pellow-helpers")
set(CPACK_DEBIAN_HELPERS_PACKAGE_SECTION "utils")
# One string: a list would reach the control file with its ";" separators.
string(CONCAT CPACK_COMPONENT_HELPERS_DESCRIPTION
    "Helpers of the Pellow notes app: GitHub sign-in, suite app setup\n"
    "github-helper signs the user in to GitHub with the device flow, keeps the\n"
    "credential in the desktop keyring or a private file, and answers git's\n"
    "credential-helper protocol. suite-setup-helper verifies and connects the\n"
    "signed apps of the Veltra suite; veltra-codesign signs an app bundle.")
# Declared by hand rather than by dpkg-shlibdeps: the helpers link none of these, the modules
# they load on demand do (libcurl and ICU: pellow-net.so; libsecret and, for the Secret portal
# store inside a Flatpak sandbox, libcrypto: pellow-secret.so; GTK:
# veltra-gtk-alert.so, without which the connection alert falls back to the terminal).
# veltra-codesign links OpenSSL and the shared C++ runtime; the modules link libgcc_s.
set(CPACK_DEBIAN_HELPERS_PACKAGE_DEPENDS
    "libc6 (>= 2.36), libgcc-s1, libstdc++6 (>= 12), libcurl4 (>= 7.85), libicu72, libssl3, libsecret-1-0, libuuid1")
set(CPACK_DEBIAN_HELPERS_PACKAGE_RECOMMENDS "libgtk-3-0, git")

set(CPACK_DEBIAN_SDK_PACKAGE_NAME "pellow-helpers-dev")
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION "libdevel")
string(CONCAT CPACK_COMPONENT_SDK_DESCRIPTION
    "SDK of the Pellow helpers: GitHub and suite-setup libraries\n"
    "Static C++20 libraries with their public headers, CMake packages\n"
    "(PellowGitHub: Pellow::GitHub, VeltraSuiteSetup: Veltra::SuiteSetup) and\n"
    "pkg-config files (pellow-github, veltra-suite-setup), for the Pellow app\n"
    "and the suite apps that embed them, including the background reconcile.")
# The GitHub library loads the runtime package's modules; the headers use nlohmann_json; the
# suite library links OpenSSL and libuuid.
set(CPACK_DEBIAN_SDK_PACKAGE_DEPENDS
    "pellow-helpers (= ${PROJECT_VERSION}), nlohmann-json3-dev (>= 3.11), libssl-dev (>= 3), uuid-dev")

include(CPack)
