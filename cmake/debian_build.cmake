# What a Linux build takes from Debian's own tools:
#   VORLUND_DEB_ARCH  the Debian architecture the programs are built for
#                     (amd64, arm64, armhf), from the compiler's target, so a
#                     cross build is packaged and flagged for its target
#   the distribution's build flags, as Debian builds its own packages
#                     (dpkg-buildflags): every hardening feature (fortified C
#                     library calls, stack protector, read-only relocations
#                     bound at start-up), and on 32-bit targets (armhf)
#                     64-bit file offsets, without which stat() fails on a
#                     big file system's inode numbers. The build type still
#                     chooses the optimisation and the debug information.
#                     Not in a Debug build (fortifying needs optimisation),
#                     nor in the sanitizer and fuzzing builds, which are
#                     never shipped and bring their own instrumentation.
# Both are left out quietly where dpkg's tools are missing (another
# distribution): the programs are the same, only less hardened.
option(VORLUND_DISTRIBUTION_FLAGS "Build with the distribution's hardening flags (dpkg-buildflags)" ON)

find_program(VORLUND_DPKG_ARCHITECTURE dpkg-architecture)
find_program(VORLUND_DPKG_BUILDFLAGS dpkg-buildflags)

set(VORLUND_DEB_ARCH "")
if(VORLUND_DPKG_ARCHITECTURE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                    OUTPUT_VARIABLE target OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${VORLUND_DPKG_ARCHITECTURE} -t ${target} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE VORLUND_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT VORLUND_DEB_ARCH AND NOT CMAKE_CROSSCOMPILING)
        # clang names its target its own way (x86_64-pc-linux-gnu).
        execute_process(COMMAND ${VORLUND_DPKG_ARCHITECTURE} -qDEB_HOST_ARCH
                        OUTPUT_VARIABLE VORLUND_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
endif()

if(VORLUND_DISTRIBUTION_FLAGS AND VORLUND_DPKG_BUILDFLAGS AND VORLUND_DEB_ARCH
   AND NOT VORLUND_SANITIZE AND NOT VORLUND_FUZZ)
    set(shipped_build "$<NOT:$<CONFIG:Debug>>")
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        # Run in the sources, so that their path is mapped to "." in the
        # debug information whatever the checkout's place.
        execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${VORLUND_DEB_ARCH}
                                "DEB_BUILD_MAINT_OPTIONS=hardening=+all future=+lfs"
                                ${VORLUND_DPKG_BUILDFLAGS} --get ${kind}
                        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(O[0-9sgz]?|g[0-9]?)$")
        list(APPEND VORLUND_DISTRIBUTION_FLAG_LIST ${flags})
        list(TRANSFORM flags REPLACE "^(.+)$" "$<${shipped_build}:\\1>")
        if(kind STREQUAL LDFLAGS)
            add_link_options(${flags})
        else()
            add_compile_options(${flags})
        endif()
    endforeach()
    message(STATUS "Distribution flags for ${VORLUND_DEB_ARCH}: ${VORLUND_DISTRIBUTION_FLAG_LIST}")
endif()
