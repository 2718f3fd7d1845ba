# What `cmake --install` puts on the system, and the Debian package made from it (cpack -G DEB,
# scripts/package). The version is the project's; the date is the release's.
include(GNUInstallDirs)

set(PELLORAN_APP_ID org.pelloran.Pelloran)
set(PELLORAN_DATE 2026-12-07)
# Debian's place for the package's documents, whatever the project is called.
set(PELLORAN_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/pelloran)

install(TARGETS pelloran-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET pelloran)
  install(TARGETS pelloran RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
add_custom_command(OUTPUT ${PELLORAN_FORMAT_OUTPUTS}
  COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:pelloran-cli> -DOUTPUT_DIR=${CMAKE_BINARY_DIR}/packaging
          -DTEMPLATES=${templates} -DPROJECT_VERSION=${PROJECT_VERSION} -DPELLORAN_DATE=${PELLORAN_DATE}
          -P ${CMAKE_CURRENT_LIST_DIR}/FormatFiles.cmake
  DEPENDS pelloran-cli ${PELLORAN_FORMAT_INPUTS} ${CMAKE_CURRENT_LIST_DIR}/FormatFiles.cmake
  VERBATIM)

install(FILES ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME pelloran-cli)
install(FILES ${PELLORAN_COMPLETIONS_DIR}/_pelloran-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${PELLORAN_COMPLETIONS_DIR}/pelloran-cli.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# Desktop entry, icons and the software-centre record.
install(FILES ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 32 48 256)
  install(FILES ${CMAKE_SOURCE_DIR}/res/images/pelloran-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${PELLORAN_APP_ID}.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/res/images/pelloran.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${PELLORAN_APP_ID}.svg)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${PELLORAN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The help pages (the window shows its own copy), the licence and the change log.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/help/ DESTINATION ${PELLORAN_DOCDIR}/help FILES_MATCHING PATTERN "*.html")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${PELLORAN_DOCDIR})

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
install(FILES ${CMAKE_BINARY_DIR}/packaging/pelloran.1.gz ${CMAKE_BINARY_DIR}/packaging/pelloran-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${PELLORAN_DOCDIR})

# The Debian package: dependencies from the binaries' libraries.
set(CPACK_PACKAGE_NAME pelloran)
set(CPACK_PACKAGE_VENDOR Brenthaven)
set(CPACK_PACKAGE_CONTACT "Pelloran support <support@pelloran.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio converter with a window and a command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelloran converts audio files, tracker modules, MIDI files, CD tracks and\n"
    "the audio of video files into WAV, MP3, Ogg Vorbis, AAC, M4A/MP4/M4B, AMR or\n"
    "WMA, with their tags. It has a Qt window, which converts several files at\n"
    "once, and pelloran-cli, a command-line companion on the same engine.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://pelloran.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# FluidSynth (MIDI only) and FFmpeg are opened at run time, so the binaries do not name them: the package does.
set(PELLORAN_RUNTIME_DEPENDS "libfluidsynth3")
foreach(library libavcodec libavformat libavutil libswresample)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_${library}_VERSION}")
  set(package "${library}${major}")
  if(library STREQUAL "libavcodec")
    set(package "${package} | libavcodec-extra${major}")
  endif()
  string(APPEND PELLORAN_RUNTIME_DEPENDS ", ${package}")
endforeach()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${PELLORAN_RUNTIME_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "timgm6mb-soundfont | fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
