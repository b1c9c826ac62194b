# Installation and the Debian package.
#
# The two helpers go to <prefix>/libexec/pellow/ together with the modules they load with dlopen:
# each helper looks for its modules beside its own executable (/proc/self/exe), so they must stay
# in one folder. veltra-codesign, the signing tool of a vendor's release pipeline, goes to
# <prefix>/bin/.
#
#   cmake --install out --prefix /opt/pellow        # or: make install PREFIX=/opt/pellow
#   cd out && cpack -G DEB                          # or: make package
include(GNUInstallDirs)

set(PELLOW_INSTALL_LIBEXECDIR "${CMAKE_INSTALL_LIBEXECDIR}/pellow")

install(TARGETS github-helper RUNTIME DESTINATION ${PELLOW_INSTALL_LIBEXECDIR} COMPONENT helpers)
foreach(module IN ITEMS pellow-net pellow-secret veltra-gtk-alert)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${PELLOW_INSTALL_LIBEXECDIR} COMPONENT helpers)
  endif()
endforeach()
if(TARGET suite-setup-helper)
  install(TARGETS suite-setup-helper RUNTIME DESTINATION ${PELLOW_INSTALL_LIBEXECDIR}
          COMPONENT helpers)
endif()
if(TARGET veltra-codesign)
  install(TARGETS veltra-codesign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT helpers)
endif()

if(PELLOW_TEST_SEAMS)
  message(STATUS "Packaging: PELLOW_TEST_SEAMS is ON; this build is for tests and the demo, "
                 "not for installing or packaging (make install / make package build without it).")
endif()
if(VELTRA_TRUST_ANCHOR STREQUAL "")
  message(STATUS "Packaging: suite-setup-helper trusts the development anchor of this build "
                 "folder; a release names the vendor's with -DVELTRA_TRUST_ANCHOR=FILE.")
endif()

set(CPACK_PACKAGE_NAME "pellow-helpers")
set(CPACK_PACKAGE_VENDOR "Pemberhollo")
set(CPACK_PACKAGE_VERSION_MAJOR 1)
set(CPACK_PACKAGE_VERSION_MINOR 0)
set(CPACK_PACKAGE_VERSION_PATCH 0)
set(CPACK_PACKAGE_CONTACT "Pemberhollo <support@pemberhollo.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Helpers of the Pellow notes app: GitHub sign-in and git credentials, suite app setup")
# One string: a list would reach the control file with its ";" separators.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "github-helper signs the user in to GitHub with the device flow, keeps the credential in the\n"
    "desktop keyring or a private file, and answers git's credential-helper protocol.\n"
    "suite-setup-helper verifies and connects the signed apps of the Veltra suite.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Declared by hand rather than by dpkg-shlibdeps: the helpers link none of these, the modules
# they load on demand do (libcurl and ICU: pellow-net.so; libsecret: pellow-secret.so; GTK:
# veltra-gtk-alert.so, without which the connection alert falls back to the terminal).
# veltra-codesign links OpenSSL and the shared C++ runtime; the modules link libgcc_s.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.36), libgcc-s1, libstdc++6 (>= 12), libcurl4 (>= 7.85), libicu72, libssl3, libsecret-1-0, libuuid1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0, git")

include(CPack)
