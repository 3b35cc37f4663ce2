# The Linux service's installation and its Debian package (cpack -G DEB):
#   /usr/bin/vorlund, /usr/bin/vorlund-convert     the programs
#   /usr/share/man/man8/vorlund.8.gz, man1/...     their manual pages
#   /usr/share/doc/vorlund/changelog.gz            CHANGELOG, as Debian wants it
#   /lib/systemd/system/vorlund.service            the unit, for one serial line
#   /lib/systemd/system/vorlund@.service           the template, one per line:
#                                                  vorlund@NAME reads
#                                                  /etc/vorlund/NAME.ini and works
#                                                  in /var/lib/vorlund/NAME
#   /lib/systemd/system/vorlund-net@.service       a network cradle's line (socat)
#   /usr/share/vorlund/reserved-names/             the names no instance may take
#   /usr/share/doc/vorlund/README.md.gz            the README
#   /etc/vorlund/Vorlund.ini                       the settings, a conffile
#   /var/lib/vorlund/                              APPDIR: Spool and Out
#   /var/lib/vorlund/Vorlund.ini -> /etc/vorlund/Vorlund.ini
# The service keeps its one application directory, as everywhere; the link
# puts its settings where an administrator looks for them, and both programs
# (vorlund-convert /var/lib/vorlund too) read the same file.
#
# The package is made for the build's target (VORLUND_DEB_ARCH, from
# debian_build.cmake): a cross build gives an arm64 or armhf package whose
# dependencies dpkg-shlibdeps finds among the target's multiarch libraries.
include(GNUInstallDirs)

set(VORLUND_SETTINGS_DIR /etc/vorlund)
set(VORLUND_SETTINGS_FILE ${VORLUND_SETTINGS_DIR}/Vorlund.ini)
set(VORLUND_STATE_DIR /var/lib/vorlund)
set(VORLUND_BINARY /usr/bin/vorlund)
set(VORLUND_UNIT_DIR /lib/systemd/system)
# The package's maintainer, who answers for it: the Maintainer field and the
# signature of every CHANGELOG entry. Set it once, when configuring:
#   cmake -S . -B out/native "-DCPACK_PACKAGE_CONTACT=Lager IT <lager-it@example.se>"
set(CPACK_PACKAGE_CONTACT "Vorlund maintainers <vorlund@example.org>"
    CACHE STRING "The package's maintainer: name <mail address>")

set(dist ${PROJECT_SOURCE_DIR}/src/app/posix/dist)
set(staging ${CMAKE_BINARY_DIR}/package-files)

# A build that can tell systemd when it is ready gets a Type=notify unit;
# one without libsystemd for its target never would, so its unit promises
# nothing and systemd counts the service started once it runs.
if(VORLUND_HAVE_LIBSYSTEMD)
    set(VORLUND_UNIT_TYPE notify)
else()
    set(VORLUND_UNIT_TYPE exec)
endif()

# The plain unit and the template, from one text, so that their hardening
# stays the same.
set(UNIT_TITLE "The Vorlund download service, for one serial line.")
set(UNIT_DESCRIPTION "Vorlund terminal download service")
set(UNIT_APPDIR ${VORLUND_STATE_DIR})
set(UNIT_SETTINGS ${VORLUND_SETTINGS_FILE})
set(UNIT_STATE_DIRECTORY vorlund)
set(UNIT_CONDITIONS "")
set(UNIT_PREPARE "ExecStartPre=/bin/mkdir -p -m 0775 ${UNIT_APPDIR}/Out\n")
configure_file(${dist}/vorlund.service.in ${staging}/vorlund.service @ONLY)
set(UNIT_TITLE "The Vorlund download service, one instance per serial line: vorlund@NAME.")
set(UNIT_DESCRIPTION "Vorlund terminal download service, line %i")
set(UNIT_APPDIR ${VORLUND_STATE_DIR}/%i)
set(UNIT_SETTINGS ${VORLUND_SETTINGS_DIR}/%i.ini)
set(UNIT_STATE_DIRECTORY vorlund/%i)
# Spool and Out are the plain unit's own directories: an instance of either
# name would work inside them (and its StateDirectory= would change Out's
# mode), so the names are refused before anything is made.
set(VORLUND_RESERVED_NAMES /usr/share/vorlund/reserved-names)
set(UNIT_CONDITIONS "AssertPathExists=${UNIT_SETTINGS}\nAssertPathExists=!${VORLUND_RESERVED_NAMES}/%i\n")
set(UNIT_PREPARE "ExecStartPre=/bin/ln -sfn ${UNIT_SETTINGS} ${UNIT_APPDIR}/Vorlund.ini\n${UNIT_PREPARE}")
string(REPLACE "${VORLUND_STATE_DIR}/Out" "${UNIT_APPDIR}/Out" UNIT_PREPARE "${UNIT_PREPARE}")
configure_file(${dist}/vorlund.service.in ${staging}/vorlund@.service @ONLY)

foreach(file conffiles postinst prerm postrm vorlund.8 vorlund-convert.1)
    configure_file(${dist}/${file}.in ${staging}/${file} @ONLY)
endforeach()
file(CREATE_LINK ${VORLUND_SETTINGS_FILE} ${staging}/Vorlund.ini SYMBOLIC)

# The changelog is the repository's own, its entries signed by the
# maintainer configured above. Its newest entry must be this version's, so
# that no release goes out with another's notes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG)
file(READ ${PROJECT_SOURCE_DIR}/CHANGELOG changelog)
if(NOT changelog MATCHES "^vorlund \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "CHANGELOG: the first entry is not for version ${PROJECT_VERSION}")
endif()
string(REGEX REPLACE "\n -- [^\n]*>  " "\n -- ${CPACK_PACKAGE_CONTACT}  " changelog "${changelog}")
# Written only when it changed, so that the package is not remade for nothing.
set(written "")
if(EXISTS ${staging}/changelog)
    file(READ ${staging}/changelog written)
endif()
if(NOT written STREQUAL changelog)
    file(WRITE ${staging}/changelog "${changelog}")
endif()

# Manual pages and the changelog go in compressed as Debian wants them:
# gzip -n, so the same sources give the same package.
find_program(VORLUND_GZIP gzip REQUIRED)
set(compressed)
foreach(file vorlund.8 vorlund-convert.1 changelog ${PROJECT_SOURCE_DIR}/README.md)
    get_filename_component(name ${file} NAME)
    get_filename_component(source ${file} ABSOLUTE BASE_DIR ${staging})
    add_custom_command(OUTPUT ${staging}/${name}.gz
                       COMMAND ${VORLUND_GZIP} -9n -c ${source} > ${staging}/${name}.gz
                       DEPENDS ${source}
                       VERBATIM)
    list(APPEND compressed ${staging}/${name}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${compressed})

install(TARGETS vorlund vorlund-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripped as dh_strip does: also of the compiler's notes, which only make
# the programs bigger.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        foreach(program vorlund vorlund-convert)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                                    --remove-section=.note
                                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                            RESULT_VARIABLE stripped)
            if(NOT stripped EQUAL 0)
                message(FATAL_ERROR \"${CMAKE_STRIP} failed on \${program}\")
            endif()
        endforeach()
    endif()")
install(FILES ${staging}/vorlund.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${staging}/vorlund-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${staging}/changelog.gz ${staging}/README.md.gz ${dist}/copyright
        DESTINATION share/doc/vorlund)
install(FILES ${staging}/vorlund.service ${staging}/vorlund@.service ${dist}/vorlund-net@.service
        DESTINATION ${VORLUND_UNIT_DIR})
foreach(name Spool Out)
    file(WRITE ${staging}/reserved-${name}
         "${name} is a directory of the plain vorlund.service: no vorlund@ instance may have this name.\n")
    install(FILES ${staging}/reserved-${name} DESTINATION ${VORLUND_RESERVED_NAMES} RENAME ${name})
endforeach()
install(FILES ${dist}/Vorlund.ini DESTINATION ${VORLUND_SETTINGS_DIR})
install(FILES ${staging}/Vorlund.ini DESTINATION ${VORLUND_STATE_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlund)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VORLUND_DEB_ARCH})
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
data with ZMODEM, YMODEM or XMODEM, and converts each delivery (lines of
article code and quantity) into an export text file for other software to
pick up. Every delivery is on disk before the terminal is told it arrived,
and one that cannot be exported is kept until an operator settles it.

The package runs it as a systemd service under the system user vorlund,
one instance per serial line, also for network cradles through socat;
vorlund-convert converts a delivery once, lists what waits and settles it.")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS socat)
# dpkg-shlibdeps answers for the build machine's architecture unless told
# the target's; it then reads the target's libraries' dependency
# information from their multiarch packages (libc6:arm64, ...).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake.in
               ${CMAKE_BINARY_DIR}/cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack_options.cmake)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${staging}/conffiles ${staging}/postinst ${staging}/prerm ${staging}/postrm)
# Control files 0644, maintainer scripts 0755, whatever the sources' modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
