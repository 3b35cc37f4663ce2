# The resources of a Windows program (icon, manifest, version), compiled by
# windres directly: the project's warning flags apply to every language CMake
# knows, and windres accepts none of them. The manifest is made from
# <program>.exe.manifest.in with the project's version; the .rc finds it and
# the other resources by name.
set(VORLUND_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../src/app/win32/resources)

function(vorlund_add_resources target program rc)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${program}.exe.manifest)
    configure_file(${VORLUND_RESOURCES}/${program}.exe.manifest.in ${manifest} @ONLY)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.o)
    file(GLOB inputs ${VORLUND_RESOURCES}/*.rc ${VORLUND_RESOURCES}/*.rci
        ${VORLUND_RESOURCES}/*.ico)
    add_custom_command(
        OUTPUT ${object}
        COMMAND ${CMAKE_RC_COMPILER}
            -DVORLUND_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
            -DVORLUND_VERSION_MINOR=${PROJECT_VERSION_MINOR}
            -DVORLUND_VERSION_PATCH=${PROJECT_VERSION_PATCH}
            -I ${CMAKE_CURRENT_BINARY_DIR} -I ${VORLUND_RESOURCES}
            -O coff -i ${VORLUND_RESOURCES}/${rc} -o ${object}
        DEPENDS ${inputs} ${manifest}
        COMMENT "Compiling the resources of ${program}.exe"
        VERBATIM)
    target_sources(${target} PRIVATE ${object})
endfunction()
