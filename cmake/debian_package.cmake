# make package: a .deb that Debian's lintian accepts. Its dependencies dpkg-shlibdeps reads
# from the programs; the copyright and changelog go where Debian looks for them.
include(GNUInstallDirs)

set(TOLVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tolvane)
find_program(GZIP gzip REQUIRED)

# tolvane_install_gzipped(SOURCE DESTINATION [RENAME NAME])
# Installs SOURCE compressed as Debian wants it (gzip -9n: no name, no time stamp, so the same
# text always gives the same bytes) and adds the compressed file to gzipped_files in the caller's
# scope, for a target that builds them.
function(tolvane_install_gzipped source destination)
    cmake_parse_arguments(ARG "" "RENAME" "" ${ARGN})
    get_filename_component(name ${source} NAME)
    if(ARG_RENAME)
        set(name ${ARG_RENAME})
    endif()
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/gzipped)
    set(output ${folder}/${name}.gz)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${name}
        COMMAND ${GZIP} -9nf ${folder}/${name}
        DEPENDS ${source}
        VERBATIM)
    install(FILES ${output} DESTINATION ${destination})
    set(gzipped_files ${gzipped_files} ${output} PARENT_SCOPE)
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane")
set(CPACK_PACKAGE_CONTACT "Tolvane Developers <developers@tolvane.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for DVRs: firmware, PTZ tables and unit identities")
# The extended description under the summary line; Debian shows its lines as they are written,
# so each stays under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Tolvane sends application and integrated firmware images, PTZ protocol"
       "tables and unit identities (MAC address and serial number) to digital"
       "video recorders, from a desktop window (tolvane) or a script"
       "(tolvane-cli), and keeps a production record of the units sent, in an"
       "SQLite file or on a PostgreSQL server."
       ""
       "tolvane-sim simulates a recorder for trying the tool without one.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plugins at run time, and record report reads Chart.js when it writes a
# page: both out of dpkg-shlibdeps' sight.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libjs-chart.js")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Folders as Debian expects them whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
