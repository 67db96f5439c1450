# The Debian package: `cpack -G DEB` in the build folder gives ombrik_<version>_<arch>.deb with
# the desktop program (when built), ombrik-cli, the help pages, the icons and the menu entry.
set(CPACK_PACKAGE_NAME "ombrik")
set(CPACK_PACKAGE_VENDOR "Corvanti Software")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Outlook Express folder file (.dbx) converter")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ombrik reads Outlook Express mail folder files (.dbx) and writes every e-mail they hold as "
    "EML or MSG files, MBOX mailboxes, HTML or RTF documents, or Outlook PST data files. It comes "
    "as a desktop program (ombrik) and a command-line program (ombrik-cli).")
set(CPACK_PACKAGE_CONTACT "Ombrik maintainers <support@corvanti.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.corvanti.example/ombrik/")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "mail")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries the programs link to: computed with exact versions from the built binaries by
# dpkg-shlibdeps where it is available, else named by hand for Debian 12.
find_program(OMBRIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(OMBRIK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(ombrik_deb_depends "libc6, libstdc++6, libgcc-s1, libgmime-3.0-0, libglib2.0-0")
  if(OMBRIK_MIMALLOC AND NOT OMBRIK_SANITIZE)
    string(APPEND ombrik_deb_depends ", libmimalloc2.0")
  endif()
  if(OMBRIK_BUILD_GUI)
    string(APPEND ombrik_deb_depends ", libwxgtk3.2-1, libwxbase3.2-1")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ombrik_deb_depends}")
endif()
if(OMBRIK_BUILD_GUI)
  # Opens the help pages and web addresses in the desktop's browser.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
endif()

# Manual pages (compressed, as Debian keeps them) and the shell completion of ombrik-cli.
find_program(OMBRIK_GZIP gzip REQUIRED)
set(man_pages ombrik-cli.1)
if(OMBRIK_BUILD_GUI)
  list(APPEND man_pages ombrik.1)
endif()
set(man_outputs)
foreach(page IN LISTS man_pages)
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page})
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${OMBRIK_GZIP} -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${page}")
  list(APPEND man_outputs ${output})
endforeach()
add_custom_target(ombrik_man ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completion/ombrik-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR "DEB")
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build.*/" "/out/")
include(CPack)
