# Install rules and the Debian package.
#
# What ships: the batch, its catch-up of a missed day, the configuration tool (once it is built), the run
# wrapper kelbor-nightly, the schema script, the man pages, the systemd
# service and timer (installed, never enabled: the configuration file has to
# exist first), the logrotate file, the operators' README and the cron line
# as an example. The stand-in driver and the tests are
# build-time helpers and have no install rules, so neither `cmake --install`
# nor the package can pick them up.
include(GNUInstallDirs)

install(TARGETS kelbor kelbor-catchup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The run wrapper lies beside the batch, so the units and the cron line find
# it by name under either prefix.
if(TARGET kelbor-config)
  install(TARGETS kelbor-config kelbor-nightly RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES sql/schema.sql DESTINATION ${CMAKE_INSTALL_DATADIR}/kelbor)
install(FILES README.md packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/README.md packaging/kelbor.cron packaging/kelbor.logrotate
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# logrotate reads only /etc/logrotate.d, whatever the prefix.
install(FILES packaging/kelbor.logrotate DESTINATION /etc/logrotate.d RENAME kelbor)
# systemd searches /usr/lib/systemd/system and /usr/local/lib/systemd/system,
# so the units work from either prefix; ExecStart names the run wrapper
# without a path for the same reason.
install(FILES packaging/kelbor.service packaging/kelbor.timer
        DESTINATION lib/systemd/system)

# Man pages: gzipped at build time as Debian policy asks; installed plain when
# gzip is missing. kelbor-config's page ships only with the tool itself.
set(KELBOR_MAN_PAGES kelbor.1 kelbor-catchup.1 kelbor-nightly.1)
if(TARGET kelbor-config)
  list(APPEND KELBOR_MAN_PAGES kelbor-config.1)
endif()
find_program(KELBOR_GZIP gzip)
set(KELBOR_MAN_FILES)
foreach(page IN LISTS KELBOR_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page})
  if(KELBOR_GZIP)
    set(target ${CMAKE_BINARY_DIR}/man/${page}.gz)
    # -n leaves name and time stamp out, so the same page gives the same bytes.
    add_custom_command(OUTPUT ${target}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                       COMMAND ${KELBOR_GZIP} -9 -n -c ${source} > ${target}
                       DEPENDS ${source}
                       COMMENT "Compressing man page ${page}"
                       VERBATIM)
    list(APPEND KELBOR_MAN_FILES ${target})
  else()
    list(APPEND KELBOR_MAN_FILES ${source})
  endif()
endforeach()
# The package's changelog, compressed as Debian policy asks.
set(KELBOR_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
if(KELBOR_GZIP)
  set(KELBOR_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${KELBOR_CHANGELOG}
                     COMMAND ${KELBOR_GZIP} -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                             > ${KELBOR_CHANGELOG}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                     VERBATIM)
endif()
add_custom_target(kelbor_man_pages ALL DEPENDS ${KELBOR_MAN_FILES} ${KELBOR_CHANGELOG})
install(FILES ${KELBOR_MAN_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KELBOR_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(KELBOR_MAINTAINER "kelbor maintainers <kelbor@example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelbor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KELBOR_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "nightly follow-up bookings for a personnel time-recording database")
# CPack puts the summary in front and indents the lines for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kelbor is an unattended batch that connects through ODBC to the SQL Server
database of a personnel time-recording system. For every employee's day
record of the previous day it carries absence messages of the last earlier
message day forward as follow-up bookings, credits their time into the day
record and lists the changed days in a parameter file for a downstream
consumer.

The package installs the batch, the kelbor-config tool for the enciphered
configuration file, the schema script, and a systemd service and timer for
the nightly run (not enabled).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KELBOR_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/kelbor")
# The ODBC drivers for the database are the operator's choice; unixodbc brings
# isql for testing a data source by hand.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "unixodbc")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "msodbcsql18 | tdsodbc")
# dpkg-shlibdeps computes the exact library dependencies (libodbc2, libc6,
# libstdc++6 and, in a sanitizer build, the sanitizer runtimes); without it
# the unixODBC runtime is named by hand, libodbc1 being its name before
# Debian 12.
find_program(KELBOR_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(KELBOR_FILE file)
# The maintainer scripts create the service user with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
if(KELBOR_DPKG_SHLIBDEPS AND KELBOR_FILE)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  string(PREPEND CPACK_DEBIAN_PACKAGE_DEPENDS "libodbc2 | libodbc1, libc6, libstdc++6, ")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
include(CPack)

if(KELBOR_TESTS)
  enable_testing()
  # Builds the package from this build folder, unpacks it and runs what it
  # installed. ctest runs it after the build, so the binaries exist.
  add_test(NAME package_deb
           COMMAND ${PROJECT_SOURCE_DIR}/tests/package/check-package.sh
                   ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} $<TARGET_EXISTS:kelbor-config>)
  set_tests_properties(package_deb PROPERTIES TIMEOUT 300 LABELS package)
endif()
