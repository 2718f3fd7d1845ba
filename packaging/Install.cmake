# What `cmake --install` puts on the system, and the two Debian packages made from it (cpack -G DEB,
# scripts/package): pelloran-cli (the command line, no Qt: a server or cluster node installs it alone) and
# pelloran (the window, on top of pelloran-cli). The version is the project's; the date is the release's.
include(GNUInstallDirs)

set(PELLORAN_APP_ID org.pelloran.Pelloran)
set(PELLORAN_DATE 2026-12-08)
# Debian's place for each package's documents.
set(PELLORAN_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pelloran)
set(PELLORAN_CLI_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pelloran-cli)

install(TARGETS pelloran-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
if(TARGET pelloran)
  install(TARGETS pelloran RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui)
endif()

# The files that name the output formats are made from `pelloran-cli --list-formats` (FormatFiles.cmake):
# each template, then what it becomes in the build tree.
set(PELLORAN_COMPLETIONS_DIR ${CMAKE_BINARY_DIR}/completions)
set(PELLORAN_FORMAT_TEMPLATES
  ${CMAKE_SOURCE_DIR}/cli/completions/pelloran-cli.bash.in ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.bash
  ${CMAKE_SOURCE_DIR}/cli/completions/_pelloran-cli.in ${PELLORAN_COMPLETIONS_DIR}/_pelloran-cli
  ${CMAKE_SOURCE_DIR}/cli/completions/pelloran-cli.fish.in ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.fish
  ${CMAKE_SOURCE_DIR}/res/${PELLORAN_APP_ID}.desktop.in ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.desktop
  ${CMAKE_CURRENT_LIST_DIR}/${PELLORAN_APP_ID}.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.metainfo.xml
  ${CMAKE_CURRENT_LIST_DIR}/pelloran.1.in ${CMAKE_BINARY_DIR}/packaging/pelloran.1)
set(PELLORAN_FORMAT_INPUTS)
set(PELLORAN_FORMAT_OUTPUTS ${CMAKE_BINARY_DIR}/packaging/formats.h2m)
set(pairs ${PELLORAN_FORMAT_TEMPLATES})
while(pairs)
  list(POP_FRONT pairs template output)
  list(APPEND PELLORAN_FORMAT_INPUTS ${template})
  list(APPEND PELLORAN_FORMAT_OUTPUTS ${output})
endwhile()
# "|" between the files: a list would become several arguments.
string(REPLACE ";" "|" templates "${PELLORAN_FORMAT_TEMPLATES}")
list(APPEND PELLORAN_FORMAT_OUTPUTS ${CMAKE_BINARY_DIR}/packaging/formats.txt)
add_custom_command(OUTPUT ${PELLORAN_FORMAT_OUTPUTS}
  COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:pelloran-cli> -DOUTPUT_DIR=${CMAKE_BINARY_DIR}/packaging
          -DTEMPLATES=${templates} -DPROJECT_VERSION=${PROJECT_VERSION} -DPELLORAN_DATE=${PELLORAN_DATE}
          -P ${CMAKE_CURRENT_LIST_DIR}/FormatFiles.cmake
  DEPENDS pelloran-cli ${PELLORAN_FORMAT_INPUTS} ${CMAKE_CURRENT_LIST_DIR}/FormatFiles.cmake
  VERBATIM)

install(FILES ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelloran-cli COMPONENT cli)
install(FILES ${PELLORAN_COMPLETIONS_DIR}/_pelloran-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
        COMPONENT cli)
install(FILES ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d COMPONENT cli)

# Desktop entry, icons and the software-centre record.
install(FILES ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT gui)
foreach(size 32 48 256)
  install(FILES ${CMAKE_SOURCE_DIR}/res/images/pelloran-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${PELLORAN_APP_ID}.png
          COMPONENT gui)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/images/pelloran.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${PELLORAN_APP_ID}.svg COMPONENT gui)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT gui)

# The help pages (the window shows its own copy), the command line's documents, each package's licence and
# change log.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/help/ DESTINATION ${PELLORAN_DOCDIR}/help COMPONENT gui
        FILES_MATCHING PATTERN "*.html")
install(FILES ${CMAKE_SOURCE_DIR}/docs/cli-output.md ${CMAKE_SOURCE_DIR}/docs/scale-out.md
        DESTINATION ${PELLORAN_CLI_DOCDIR} COMPONENT cli)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${PELLORAN_DOCDIR} COMPONENT gui)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${PELLORAN_CLI_DOCDIR} COMPONENT cli)

# Man pages and the change log, compressed as Debian wants them. pelloran-cli's page is made from its --help,
# so that it lists every option the program has (a sanitizer build's leak report would fail it), with the
# formats' section made above.
find_program(GZIP_PROGRAM gzip REQUIRED)
find_program(HELP2MAN_PROGRAM help2man REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/pelloran-cli.1
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          ${HELP2MAN_PROGRAM} --no-info --no-discard-stderr --section=1
          "--name=convert audio files with the options of Pelloran"
          --include=${CMAKE_BINARY_DIR}/packaging/formats.h2m
          --output=${CMAKE_BINARY_DIR}/packaging/pelloran-cli.1 $<TARGET_FILE:pelloran-cli>
  DEPENDS pelloran-cli ${CMAKE_BINARY_DIR}/packaging/formats.h2m
  VERBATIM)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(PELLORAN_COMPRESSED pelloran.1 pelloran-cli.1 changelog)
set(PELLORAN_COMPRESSED_OUTPUTS)
foreach(name ${PELLORAN_COMPRESSED})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/${name}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/${name} > ${CMAKE_BINARY_DIR}/packaging/${name}.gz
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/${name}
    VERBATIM)
  list(APPEND PELLORAN_COMPRESSED_OUTPUTS ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
endforeach()
add_custom_target(pelloran-docs ALL DEPENDS ${PELLORAN_COMPRESSED_OUTPUTS} ${PELLORAN_FORMAT_OUTPUTS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/pelloran.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui)
install(FILES ${CMAKE_BINARY_DIR}/packaging/pelloran-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${PELLORAN_DOCDIR} COMPONENT gui)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${PELLORAN_CLI_DOCDIR} COMPONENT cli)

# The Debian packages, one per component: dependencies from the binaries' libraries.
set(CPACK_PACKAGE_NAME pelloran)
set(CPACK_PACKAGE_VENDOR Brenthaven)
set(CPACK_PACKAGE_CONTACT "Pelloran support <support@pelloran.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET pelloran)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pelloran.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

# The descriptions name the output formats as the descriptors' table gives them: written when cpack runs,
# from the list the build made (FormatFiles.cmake).
set(CPACK_PELLORAN_FORMATS_FILE ${CMAKE_BINARY_DIR}/packaging/formats.txt)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackDescriptions.cmake)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME pelloran-cli)
set(CPACK_DEBIAN_CLI_FILE_NAME DEB-DEFAULT)
# FFmpeg is opened at run time, so the binary does not name it: the package does. FluidSynth is opened only
# when a MIDI file is converted.
set(PELLORAN_RUNTIME_DEPENDS "")
foreach(library libavcodec libavformat libavutil libswresample)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_${library}_VERSION}")
  set(package "${library}${major}")
  if(library STREQUAL "libavcodec")
    set(package "${package} | libavcodec-extra${major}")
  endif()
  if(PELLORAN_RUNTIME_DEPENDS)
    string(APPEND PELLORAN_RUNTIME_DEPENDS ", ")
  endif()
  string(APPEND PELLORAN_RUNTIME_DEPENDS "${package}")
endforeach()
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "${PELLORAN_RUNTIME_DEPENDS}")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libfluidsynth3, timgm6mb-soundfont | fluid-soundfont-gm")
set(CPACK_DEBIAN_CLI_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_GUI_PACKAGE_NAME pelloran)
set(CPACK_DEBIAN_GUI_FILE_NAME DEB-DEFAULT)
# The window opens folders and addresses with xdg-open.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "pelloran-cli (= ${PROJECT_VERSION}), xdg-utils")
set(CPACK_DEBIAN_GUI_PACKAGE_SHLIBDEPS ON)
include(CPack)
