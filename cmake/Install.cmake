# What `cmake --install` puts where, and the Debian package CPack makes of it.
#   bin/tessaly-poster, bin/tessaly-par2
#   share/tessaly-poster/Languages/*.lng, share/tessaly-poster/Stunnel/stunnel_tessaly
#   share/applications, share/metainfo, share/icons/hicolor, share/man/man1 (both pages, gzipped),
#   share/doc/tessaly-poster/copyright
include(GNUInstallDirs)

set(TESSALY_APP_ID net.tessaly.Poster)
set(TESSALY_SHARE "${CMAKE_INSTALL_DATADIR}/tessaly-poster")

install(TARGETS tessaly-poster tessaly-par2 RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/resources/Languages/" DESTINATION "${TESSALY_SHARE}/Languages"
        FILES_MATCHING PATTERN "*.lng")
install(PROGRAMS "${PROJECT_SOURCE_DIR}/resources/stunnel/stunnel_tessaly" DESTINATION "${TESSALY_SHARE}/Stunnel")
install(FILES "${PROJECT_SOURCE_DIR}/resources/desktop/${TESSALY_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
configure_file("${PROJECT_SOURCE_DIR}/resources/desktop/${TESSALY_APP_ID}.metainfo.xml"
               "${CMAKE_BINARY_DIR}/${TESSALY_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/${TESSALY_APP_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
# The man pages compressed, as Debian's policy asks (-n: the same bytes at every build).
set(_man_pages)
foreach(_page tessaly-poster tessaly-par2)
  set(_man_gz "${CMAKE_BINARY_DIR}/${_page}.1.gz")
  add_custom_command(OUTPUT "${_man_gz}"
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh "${PROJECT_SOURCE_DIR}/app/${_page}.1" "${_man_gz}"
    DEPENDS "${PROJECT_SOURCE_DIR}/app/${_page}.1" VERBATIM)
  list(APPEND _man_pages "${_man_gz}")
  install(FILES "${_man_gz}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
endforeach()
add_custom_target(tessaly_man ALL DEPENDS ${_man_pages})
install(FILES "${PROJECT_SOURCE_DIR}/resources/copyright" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tessaly-poster")

# The icon: the SVG, and PNGs of the usual sizes rendered from it.
set(_svg "${PROJECT_SOURCE_DIR}/resources/icons/tessaly-poster.svg")
install(FILES "${_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(_pngs)
  foreach(_size 16 24 32 48 64 128 256)
    set(_png "${CMAKE_BINARY_DIR}/icons/${_size}x${_size}/tessaly-poster.png")
    add_custom_command(OUTPUT "${_png}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/icons/${_size}x${_size}"
      COMMAND "${RSVG_CONVERT}" -w ${_size} -h ${_size} -o "${_png}" "${_svg}"
      DEPENDS "${_svg}" VERBATIM)
    list(APPEND _pngs "${_png}")
    install(FILES "${_png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps")
  endforeach()
  add_custom_target(tessaly_icons ALL DEPENDS ${_pngs})
else()
  message(WARNING "rsvg-convert not found (Debian: librsvg2-bin): only the SVG icon is installed")
endif()

set(CPACK_PACKAGE_NAME tessaly-poster)
set(CPACK_PACKAGE_VENDOR "The Tessaly Poster developers")
set(CPACK_PACKAGE_CONTACT "Tessaly Poster developers <poster@tessaly-poster.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Post binary files to Usenet as yEnc articles")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Queues files, cuts them into parts and posts each part yEnc-encoded to one news server over up to 25 "
    "connections, with restarts, resumption, NZB files, speed limits and unattended runs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "stunnel4")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "rar, par2")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_GENERATOR DEB)
include(CPack)
