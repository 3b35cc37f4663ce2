# The Linux service's installation and its Debian package (cpack -G DEB):
#   /usr/bin/vorlund, /usr/bin/vorlund-convert     the programs
#   /usr/share/man/man8/vorlund.8.gz, man1/...     their manual pages
#   /lib/systemd/system/vorlund.service            the unit
#   /etc/vorlund/Vorlund.ini                       the settings, a conffile
#   /var/lib/vorlund/                              APPDIR: Spool and Out
#   /var/lib/vorlund/Vorlund.ini -> /etc/vorlund/Vorlund.ini
# The service keeps its one application directory, as everywhere; the link
# puts its settings where an administrator looks for them, and both programs
# (vorlund-convert /var/lib/vorlund too) read the same file.
include(GNUInstallDirs)

set(VORLUND_SETTINGS_FILE /etc/vorlund/Vorlund.ini)
set(VORLUND_STATE_DIR /var/lib/vorlund)
set(VORLUND_BINARY /usr/bin/vorlund)
set(VORLUND_UNIT_DIR /lib/systemd/system)
set(CPACK_PACKAGE_CONTACT "Vorlund maintainers <vorlund@example.org>"
    CACHE STRING "The package's maintainer")

set(dist ${PROJECT_SOURCE_DIR}/src/app/posix/dist)
set(staging ${CMAKE_BINARY_DIR}/package-files)
string(TIMESTAMP VORLUND_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(file vorlund.service conffiles postinst prerm postrm changelog vorlund.8 vorlund-convert.1)
    configure_file(${dist}/${file}.in ${staging}/${file} @ONLY)
endforeach()
file(CREATE_LINK ${VORLUND_SETTINGS_FILE} ${staging}/Vorlund.ini SYMBOLIC)

# Manual pages and the changelog go in compressed as Debian wants them:
# gzip -n, so the same sources give the same package.
find_program(VORLUND_GZIP gzip REQUIRED)
set(compressed)
foreach(file vorlund.8 vorlund-convert.1 changelog)
    add_custom_command(OUTPUT ${staging}/${file}.gz
                       COMMAND ${VORLUND_GZIP} -9n -c ${staging}/${file} > ${staging}/${file}.gz
                       DEPENDS ${staging}/${file}
                       VERBATIM)
    list(APPEND compressed ${staging}/${file}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${compressed})

install(TARGETS vorlund vorlund-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${staging}/vorlund.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${staging}/vorlund-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${staging}/changelog.gz ${dist}/copyright DESTINATION share/doc/vorlund)
install(FILES ${staging}/vorlund.service DESTINATION ${VORLUND_UNIT_DIR})
install(FILES ${dist}/Vorlund.ini DESTINATION /etc/vorlund)
install(FILES ${staging}/Vorlund.ini DESTINATION ${VORLUND_STATE_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlund)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The settings, the unit and the state directory have fixed places outside
# the prefix, which the DEB generator takes only with DESTDIR staging.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download service for hand-held data-collection terminals")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vorlund waits on a serial line for hand-held terminals that deliver their
data with YMODEM, and converts each delivery (lines of article code and
quantity) into an export text file for other software to pick up.

The package runs it as a systemd service under the system user vorlund;
vorlund-convert converts a delivery once, on demand.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${staging}/conffiles ${staging}/postinst ${staging}/prerm ${staging}/postrm)
# Control files 0644, maintainer scripts 0755, whatever the sources' modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
