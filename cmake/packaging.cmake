# Packages, built by CPack: `cmake --workflow --preset package` gives the
# Debian package, `cmake --workflow --preset windows-package` the Windows
# zip.

set(CPACK_PACKAGE_NAME kestrav3)
set(CPACK_PACKAGE_VENDOR "the kestrav3 authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file coder with per-block MD5 checks")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(KESTRAV3_MAINTAINER "kestrav3 authors <kestrav3@example.org>"
  CACHE STRING "Maintainer named in the Debian package")

if(WIN32)
  # The zip: one folder with the program, the library, the window program,
  # the README and the licence; the header and the import library (the
  # development component) stay out.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME kestrav3-${PROJECT_VERSION}-win64)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};runtime;/")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRAV3_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The extended description; the synopsis is the summary above.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "kestrav3 codes a file with a key into a .archi file beside it, and restores
it while checking every 4096-byte block against an MD5 digest stored with
it; blocks that fail are listed in an .err log. It can test a coded file
without writing anything and print the description a coded file carries.
.
The coding detects damage and keeps files from a casual look; it is not
encryption.
.
The package holds the program, its library in a private folder, the public
header, the progress window program, the man page and the bash completion.")
  # Dependencies from the binaries; the library lives in a private folder
  # that the program finds through its run path.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
endif()

include(CPack)
