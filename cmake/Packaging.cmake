# The Debian package of the whole project (cpack -G DEB, run by
# scripts/package.sh): library, headers, pkg-config file, the pressmark
# command, the Python package and the documents under /usr/share/doc.
# scripts/package.sh states the Depends: line from the built files.

# The command and the extension find this project's library before any
# other copy the loader knows of (an older one under /usr/local/lib); in a
# wheel the command sits beside the library ($ORIGIN).
set_target_properties(pressmark-cli PROPERTIES INSTALL_RPATH "$ORIGIN;${CMAKE_INSTALL_FULL_LIBDIR}")

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/pressmark)
install(FILES README.md DESTINATION ${doc_dir})
# Where the README's links expect it; the units name it as their documentation.
install(FILES docs/operations.md DESTINATION ${doc_dir}/docs)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
  install(FILES LICENSE DESTINATION ${doc_dir})
endif()
configure_file(cmake/deb/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/deb/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/deb/copyright DESTINATION ${doc_dir})

# The service's systemd units and their settings file, installed only where
# the system's own packages put theirs (the package's prefix, /usr): a
# source install under /usr/local leaves /etc and the unit folder alone.
# The units start nothing on installation (see cmake/deb/postinst).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  install(FILES cmake/deb/pressmark.service cmake/deb/pressmark-worker.service DESTINATION /lib/systemd/system)
  install(FILES cmake/deb/service.conf DESTINATION /etc/pressmark)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pressmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Pressmark")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Automation component for PDF and PostScript conversion")
# The summary above is the first line; CPack indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Pressmark converts office documents, PostScript and web pages to PDF and
works on PDF files (merging, bookmarks, forms, signing) through
late-bound automation objects. This package holds the library, its
headers and pkg-config file, the pressmark command, the Python module and
systemd units for the HTTP service and a farm worker (not enabled).

License: AGPL-3.0-or-later")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pressmark developers <pressmark@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# xz, as Debian's own packages: the PDF engine's library is mostly MuPDF's
# built-in fonts, which xz packs a quarter smaller than gzip.
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/deb/conffiles
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/deb/postinst
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/deb/prerm
  ${CMAKE_CURRENT_SOURCE_DIR}/cmake/deb/postrm)
include(CPack)
