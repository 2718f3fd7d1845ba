# The options sheet, its pages, the tag editor and the step spin control, added to the window library.
file(GLOB PELLORAN_OPTIONS_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/ui/options/*.cpp
  ${CMAKE_SOURCE_DIR}/ui/options/*.h)
if(TARGET pelloran_window)
  target_sources(pelloran_window PRIVATE ${PELLORAN_OPTIONS_SOURCES})
endif()
