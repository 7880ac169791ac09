# Packages made with CPack (scripts/package drives them):
#   Linux:   a Debian package of mrvdbtool with its manual page, the External Databases guide,
#            the changelog and the copyright file;
#   Windows: a zip of mrvdbconv.exe, mrvdbtool.exe, the guide as HTML and a readme.
include(GNUInstallDirs)
set(CPACK_PACKAGE_NAME mrvdbtool)
set(CPACK_PACKAGE_VENDOR "Mrv Database Converter developers")
set(CPACK_PACKAGE_CONTACT "Mrv Database Converter developers <mrvdbconv@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Converts the Mrv mail filter's local databases into External Databases")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# Only what the program installs, none of the third-party libraries' own install rules.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};runtime;/")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mrvdbconv-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt DESTINATION . RENAME README.txt
          COMPONENT runtime)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Converts the Mrv mail filter's local databases into External Databases\n\
 mrvdbtool moves the Automatic Sender Whitelist, Greylisting, DHA Protection\n\
 and Honeypot databases of the Mrv mail filter out of their single-file .abs\n\
 format into tables on SQLite, PostgreSQL, MariaDB/MySQL or SQL Server. It\n\
 checks a run before it starts, stops the mail-filter service only while the\n\
 files are copied, verifies the target afterwards, and reads .abs files.")
  # Debian wants the changelog compressed, beside the copyright file.
  set(_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
  add_custom_command(OUTPUT ${_changelog}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
                     COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_changelog}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
                     COMMENT "Compressing the package changelog")
  add_custom_target(package_changelog ALL DEPENDS ${_changelog})
  install(FILES ${_changelog} ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION share/doc/mrvdbtool COMPONENT runtime)
endif()

include(CPack)
