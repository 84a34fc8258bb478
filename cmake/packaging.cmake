# The Debian package: `cpack` in a release build folder writes tessary_VERSION_amd64.deb from the
# install rules. What Debian's checks ask of a package (stripped programs, compressed manual pages,
# a changelog, a copyright file) is built here rather than waived.
include(GNUInstallDirs)

set(TESSARY_PACKAGE_NAME tessary)
set(TESSARY_CONTACT "The Tessary developers <tessary@example.org>")
set(TESSARY_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${TESSARY_PACKAGE_NAME})

# Directories the install creates are 755 whatever the umask of the person building.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

find_program(TESSARY_GZIP gzip REQUIRED)

# Installs FILE compressed into DESTINATION, as manual pages and changelogs are shipped. -n keeps
# the name and the time out of the header, so the same text always gives the same bytes.
function(tessary_install_gzipped file destination)
    get_filename_component(name "${file}" NAME)
    set(copy "${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}")
    add_custom_command(OUTPUT "${copy}.gz"
                       COMMAND ${CMAKE_COMMAND} -E copy "${file}" "${copy}"
                       COMMAND ${TESSARY_GZIP} -9nf "${copy}"
                       DEPENDS "${file}"
                       VERBATIM)
    add_custom_target(gzip-${name} ALL DEPENDS "${copy}.gz")
    install(FILES "${copy}.gz" DESTINATION "${destination}")
endfunction()

# The changelog: changelog.gz, not changelog.Debian.gz, as the version carries no Debian revision
# (the package is built from its own source). Its trailer wants the date in RFC 2822 form.
execute_process(COMMAND date -u -R -d "${TESSARY_RELEASE_DATE}"
                OUTPUT_VARIABLE TESSARY_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
               ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
tessary_install_gzipped(${CMAKE_CURRENT_BINARY_DIR}/debian/changelog ${TESSARY_PACKAGE_DOC_DIR})

# The copyright file in Debian's machine-readable form, its licence text taken from LICENSE:
# the holder from its copyright line, then every line indented, blank ones as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
if(NOT license_text MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE: no copyright line followed by the licence text")
endif()
set(TESSARY_COPYRIGHT_HOLDER "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" license_body "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " TESSARY_LICENSE_BODY " ${license_body}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in
               ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright DESTINATION ${TESSARY_PACKAGE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TESSARY_PACKAGE_NAME})
set(CPACK_PACKAGE_CONTACT "${TESSARY_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair still images captured from interlaced video")
set(CPACK_PACKAGE_DESCRIPTION [[
Tessary repairs still frames captured from interlaced video, where the even
and the odd rows come from two different fields. It reads JPEG, GIF, BMP and
PNG files and applies the repairs picked: deinterlace, clip the black bands
at the top and the bottom, and soften the rows next to them.

This package holds the desktop program Tessary, whose preview compares the
picture as loaded with the picture repaired, and the command-line tool
tessary-batch, for scripts and whole archives.]])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
